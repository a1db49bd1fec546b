#!/usr/bin/env bash
# Installs what the build needs from Debian's packages (only what is missing)
# and configures build/. Sourced by ./run, ./test and scripts/package.sh, which
# then build what they need with velmora_build or velmora_build_quietly; ./test
# sets VELMORA_WITH_TESTS=1 to have what only the tests need installed too.
set -euo pipefail

VELMORA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${VELMORA_BUILD_DIR:-$VELMORA_ROOT/build}"

# What building and running the programs needs (./run installs only this):
# fonts-wqy-microhei: without a CJK font every Chinese caption shows as empty boxes;
# qt6-translations-l10n: Qt's own Chinese catalogue, compiled into the window;
# ccache: a build dir made afresh (a new clone, CI) compiles again only what changed;
# qt6-tools-dev, qt6-l10n-tools: CMake's LinguistTools, lrelease and lupdate for the translations.
packages=(cmake g++ make ccache qt6-base-dev qt6-serialport-dev qt6-translations-l10n libgl-dev fonts-wqy-microhei
          qt6-tools-dev qt6-l10n-tools)

# What only the tests need (./test installs these as well):
# fonts-noto-cjk: the window's layout checks run with both CJK fonts Debian offers;
# desktop-file-utils, appstream: the install test validates the desktop entry and metadata;
# shared-mime-info, libglib2.0-bin: it looks up the table files' type as a file manager does;
# acl: the file-safety tests give files access lists;
# xvfb, openbox: a display the tests can take away, and a desktop with a window
# manager where the keyboard focus moves as it does for a user (xauth for
# xvfb-run, x11-utils for xprop, which sees the window manager up).
test_packages=(fonts-noto-cjk desktop-file-utils appstream shared-mime-info libglib2.0-bin acl
               xvfb xauth openbox x11-utils)
# libxcb1-dev: a test destroys the window from another X client.
test_packages+=(libxcb1-dev)

# velmora_install_missing PACKAGE...: installs those not installed yet.
velmora_install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ "${#missing[@]}" -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
if [ "${VELMORA_WITH_TESTS:-}" = 1 ]; then
  velmora_install_missing "${packages[@]}" "${test_packages[@]}"
else
  velmora_install_missing "${packages[@]}"
fi

# ccache sees the paths inside this checkout relative to it, so a clone or a
# worktree anywhere else finds what another one compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$VELMORA_ROOT}"

jobs="$(nproc 2>/dev/null || echo 2)"
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  # CI builds with warnings as errors; ccache is used when the machine has it.
  config=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ -n "${CI:-}" ] && config+=(-DVELMORA_WERROR=ON)
  command -v ccache >/dev/null 2>&1 && config+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$VELMORA_ROOT" -B "$BUILD_DIR" "${config[@]}" >/dev/null
fi

# velmora_build [TARGET...]: builds those targets (everything when none), with
# the build tool's full output.
velmora_build() {
  local targets=()
  [ "$#" -gt 0 ] && targets=(--target "$@")
  cmake --build "$BUILD_DIR" -j "$jobs" "${targets[@]}"
}

# velmora_build_quietly TARGET...: builds those targets showing one line of
# progress; the full output (kept in build/build.log) only when it fails.
velmora_build_quietly() {
  local log="$BUILD_DIR/build.log" status=0 percent line
  cmake --build "$BUILD_DIR" -j "$jobs" --target "$@" >"$log" 2>&1 &
  local pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    if [ -t 1 ]; then
      percent="$(grep -o '^\[ *[0-9]*%\]' "$log" 2>/dev/null | tail -n 1 | tr -dc '0-9' || true)"
      line="Building $*: ${percent:-0}%"
      printf '\r%s' "$line"
    fi
    sleep 0.3
  done
  wait "$pid" || status=$?
  [ -t 1 ] && printf '\r\033[K'
  if [ "$status" -ne 0 ]; then
    cat "$log" >&2
    echo "Build failed (the output above is also in $log)" >&2
    return "$status"
  fi
  echo "Built $* ($(grep -c 'Building CXX' "$log" || true) files compiled)"
}
