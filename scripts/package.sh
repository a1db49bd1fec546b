#!/usr/bin/env bash
# Builds the Debian package build/velmora_<version>_<arch>.deb: a release build
# of the programs alone (no tests, no benchmarks) in build/deb-tree, installed
# under /usr and packed by CPack, whose dependencies dpkg-shlibdeps finds.
#
#   scripts/package.sh          (checked with lintian when that is installed)
#   sudo apt-get install ./build/velmora_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
# dpkg-shlibdeps comes with dpkg-dev.
velmora_install_missing dpkg-dev file

tree="$BUILD_DIR/deb-tree"
config=(-DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF)
command -v ccache >/dev/null 2>&1 && config+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$VELMORA_ROOT" -B "$tree" "${config[@]}" >/dev/null
# Without tests "all" is the programs and the man pages.
BUILD_DIR="$tree" velmora_build_quietly all
(cd "$tree" && cpack -G DEB)
deb="$(cd "$tree" && ls -t velmora_*.deb | head -n 1)"
mv -f "$tree/$deb" "$BUILD_DIR/$deb"
echo "$BUILD_DIR/$deb"
# Debian's own checker, when it is installed: any error or warning fails.
if command -v lintian >/dev/null 2>&1; then
  lintian --allow-root --fail-on error,warning "$BUILD_DIR/$deb"
fi
