#!/usr/bin/env bash
# The long run of the read's property test (tests/session/test_readproperty.cpp):
# builds it in build/ and reads N seeded misbehaving modules (default 200,000)
# from seed S (default 0); a failing case prints its seed. Not part of ./test.
#   fuzz/read_property.sh [N] [S]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/setup.sh"
velmora_build_quietly test_readproperty
VELMORA_READ_CASES="${1:-200000}" VELMORA_READ_SEED="${2:-0}" "$BUILD_DIR/tests/session/test_readproperty"
