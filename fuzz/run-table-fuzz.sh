#!/usr/bin/env bash
# Builds the table-file loader's fuzz target with clang (libFuzzer + AddressSanitizer)
# against the system Qt and runs it for a bounded time.
#   fuzz/run-table-fuzz.sh [seconds]      (default 60)
# Environment: VELMORA_FUZZ_BUILD (default <repo>/build-fuzz), extra libFuzzer flags in FUZZ_FLAGS.
# Prints the number of inputs tried and of crashes found; exits 1 when there was a crash.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
out="${VELMORA_FUZZ_BUILD:-$root/build-fuzz}"
mkdir -p "$out/table-corpus" "$out/table-artifacts"

clang++ -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address \
  -I "$root/src" $(pkg-config --cflags Qt6Core) \
  "$root/fuzz/table_loader_fuzz.cpp" "$root/src/config/TableFile.cpp" \
  $(pkg-config --libs Qt6Core) -o "$out/table_loader_fuzz"

log="$out/table-fuzz.log"
set +e
# The corpus under build grows from the seeds; the seeds in the checkout stay as they are.
# malloc_limit_mb makes any single allocation of more than 256 MB a reported failure.
"$out/table_loader_fuzz" "$out/table-corpus" "$root/fuzz/corpus/table" \
  -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256 \
  -artifact_prefix="$out/table-artifacts/" -print_final_stats=1 ${FUZZ_FLAGS:-} >"$log" 2>&1
status=$?
set -e

runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)"
crashes="$(find "$out/table-artifacts" -type f \( -name 'crash-*' -o -name 'timeout-*' -o -name 'oom-*' -o -name 'leak-*' \) | wc -l)"
echo "table loader fuzz: ${seconds}s, ${runs:-?} inputs, ${crashes} crashes/timeouts/ooms (exit ${status}); log: $log"
[ "$status" -eq 0 ] && [ "$crashes" -eq 0 ]
