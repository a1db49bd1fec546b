#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan) into
# build-fuzz/ and runs each for N inputs (default 1,000,000), printing how
# many ran and how many crashed, hung or ran out of memory. Not part of ./test.
#   fuzz/run.sh [N] [target ...]
# Targets: table_loader_fuzz table_csv_fuzz receive_chunk_fuzz (default: all).
# Environment: VELMORA_FUZZ_BUILD (default <repo>/build-fuzz); extra libFuzzer
# flags in FUZZ_FLAGS. Exits 1 when any target found a problem.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-1000000}"
shift || true
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(table_loader_fuzz table_csv_fuzz receive_chunk_fuzz)
build="${VELMORA_FUZZ_BUILD:-$root/build-fuzz}"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORA_FUZZ=ON -DVELMORA_SANITIZE="address;undefined" -DBUILD_TESTING=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]}" >"$build/fuzz-build.log" 2>&1 || { cat "$build/fuzz-build.log"; exit 1; }

# Seeds and the longest input worth trying, per target.
seeds() { case "$1" in table_loader_fuzz) echo table ;; table_csv_fuzz) echo csv ;; receive_chunk_fuzz) echo receive ;; esac; }
max_len() { case "$1" in table_loader_fuzz) echo 65536 ;; table_csv_fuzz) echo 8192 ;; *) echo 512 ;; esac; }

failed=0
for target in "${targets[@]}"; do
  work="$build/fuzz/$target.work"
  mkdir -p "$work/corpus" "$work/artifacts"
  log="$work/run.log"
  set +e
  # The corpus under build grows from the seeds; the seeds in the checkout stay as they are.
  # malloc_limit_mb makes any single allocation of more than 256 MB a reported failure.
  "$build/fuzz/$target" "$work/corpus" "$root/fuzz/corpus/$(seeds "$target")" -runs="$runs" \
    -max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 ${FUZZ_FLAGS:-} >"$log" 2>&1
  status=$?
  set -e
  executed="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1 || true)"
  seconds="$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | grep -o 'in [0-9]*' | grep -o '[0-9]*' | tail -1 || true)"
  problems="$(find "$work/artifacts" -type f \( -name 'crash-*' -o -name 'timeout-*' -o -name 'oom-*' -o -name 'leak-*' \) | wc -l)"
  echo "$target: ${executed:-?} inputs in ${seconds:-?} s, $problems crashes/hangs/ooms (exit $status); log: $log"
  [ "$status" -eq 0 ] && [ "$problems" -eq 0 ] || failed=1
done
exit "$failed"
