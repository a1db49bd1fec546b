#!/usr/bin/env bash
# Builds the receive-tick fuzz target with clang's libFuzzer and runs it for a
# bounded time (default 60 s), printing libFuzzer's figures. Not part of ./test.
#   fuzz/receive_fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build="${VELMORA_FUZZ_BUILD_DIR:-build-fuzz-receive}"
mkdir -p "$build/receive"

# The rest of the program comes from an ordinary build; only the judging and
# the codec are compiled with the fuzzer's instrumentation.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target velmora_protocol -j 2 >/dev/null

qt_flags="$(pkg-config --cflags Qt6Core) -fPIC"
qt_libs="$(pkg-config --libs Qt6Core Qt6SerialPort)"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I. -Isrc $qt_flags \
  fuzz/receive_chunk_fuzz.cpp src/protocol/ReceiveTick.cpp src/protocol/HexCodec.cpp \
  "$build/src/protocol/libvelmora_protocol.a" "$build/src/protocol/libvelmora_codec.a" \
  "$build/src/config/libvelmora_config.a" "$build/src/serial/libvelmora_serial.a" \
  $qt_libs -o "$build/receive/receive_chunk_fuzz"

corpus="$build/receive/corpus"
mkdir -p "$corpus"
cp -n fuzz/receive_corpus/* "$corpus/" 2>/dev/null || true
"$build/receive/receive_chunk_fuzz" "$corpus" -max_total_time="$seconds" -max_len=512 \
  -print_final_stats=1 -artifact_prefix="$build/receive/"
