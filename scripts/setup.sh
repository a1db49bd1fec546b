#!/usr/bin/env bash
# Installs what the build needs from Debian's packages (only what is missing),
# then configures and builds into build/. Sourced by ./run and ./test.
set -euo pipefail

VELMORA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${VELMORA_BUILD_DIR:-$VELMORA_ROOT/build}"

# fonts-wqy-microhei: without a CJK font every Chinese caption shows as empty boxes.
packages=(cmake g++ make qt6-base-dev qt6-serialport-dev qt6-translations-l10n libgl-dev fonts-wqy-microhei)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

jobs="$(nproc 2>/dev/null || echo 2)"
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  # CI builds with warnings as errors; ccache is used when the machine has it.
  config=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ -n "${CI:-}" ] && config+=(-DVELMORA_WERROR=ON)
  command -v ccache >/dev/null 2>&1 && config+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$VELMORA_ROOT" -B "$BUILD_DIR" "${config[@]}" >/dev/null
fi
cmake --build "$BUILD_DIR" -j "$jobs"
