#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop needs:
# the programs, the desktop entry and metadata (validated by the desktop's own
# tools), the icons, the man pages and the bash completion.
#   check_install.sh BUILD_DIR VERSION
set -euo pipefail
build="$1"
version="$2"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || { cat "$prefix.log"; fail "cmake --install"; }
rm -f "$prefix.log"

id=org.velmora.Velmora
expected=(
  bin/velmora
  bin/velmora-sim
  bin/velmora-cli
  share/applications/$id.desktop
  share/metainfo/$id.metainfo.xml
  share/icons/hicolor/scalable/apps/$id.svg
  share/man/man1/velmora.1.gz
  share/man/man1/velmora-sim.1.gz
  share/man/man1/velmora-cli.1.gz
  share/bash-completion/completions/velmora-cli
  share/mime/packages/$id.xml
  share/doc/velmora/copyright
  share/doc/velmora/changelog.gz
)
for size in 16 24 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for f in "${expected[@]}"; do
  [ -s "$prefix/$f" ] || fail "missing $f"
done
[ -x "$prefix/bin/velmora" ] || fail "bin/velmora is not executable"
# Every man page of the source tree is installed, whole and with the version.
for page in "$(dirname "$0")"/../../man/*.1; do
  gz="$prefix/share/man/man1/$(basename "$page").gz"
  gzip -dc "$gz" 2>/dev/null | grep -q "^\.TH .*Velmora $version" || fail "man page $gz"
done
# Nothing but the programs: no test or benchmark found its way in.
for f in "$prefix"/bin/*; do
  case "$(basename "$f")" in velmora | velmora-sim | velmora-cli) ;; *) fail "unexpected bin/$(basename "$f")" ;; esac
done

# The completion loads in bash and offers the commands.
words="$(bash -c 'source "$1"; COMP_WORDS=(velmora-cli pro); COMP_CWORD=1; _velmora_cli velmora-cli; echo "${COMPREPLY[*]}"' _ \
  "$prefix/share/bash-completion/completions/velmora-cli")" || fail "bash completion does not load"
[ "$words" = "provision" ] || fail "bash completion offered '$words' for 'velmora-cli pro'"

desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
grep -q '^Categories=.*Utility;.*Electronics;' "$prefix/share/applications/$id.desktop" || fail "categories"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" || fail "metadata release is not $version"
gzip -dc "$prefix/share/doc/velmora/changelog.gz" | head -n 1 | grep -q "^velmora ($version) " || fail "changelog is not at $version"

# The installed program answers without a display.
out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/velmora" --version)" || fail "velmora --version"
[ "$out" = "velmora $version" ] || fail "velmora --version printed '$out'"
out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/velmora-cli" --version)" || fail "velmora-cli --version"
[ "$out" = "velmora-cli $version" ] || fail "velmora-cli --version printed '$out'"

# The installed program finds its English translation from bin/; its table
# and settings go to a home of their own.
home="$prefix/home"
in_home() { env PATH="$prefix/bin:$PATH" HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_DATA_DIRS="$prefix/share:/usr/share" "$@"; }
velmora() { in_home QT_QPA_PLATFORM=offscreen VELMORA_EXIT_AFTER_SHOW=1 "$prefix/bin/velmora" "$@" 2>&1 >/dev/null; }
err="$(velmora --language en)" || fail "velmora --language en"
case "$err" in *"no English translation"*) fail "velmora --language en: $err" ;; esac

# A table named on the command line is the window's file, saved to at exit.
data="$prefix/bin/data.dat"  # the program's folder is writable here
mv "$data" "$prefix/table" && touch -d 2000-01-01 "$prefix/table"
(cd "$prefix" && velmora table >/dev/null) || fail "velmora FILE"
[ "$(stat -c %Y "$prefix/table")" -gt 946684800 ] && [ ! -e "$data" ] || fail "velmora FILE did not keep the table in FILE"

# File managers know a table by its magic, whatever its name, and offer the
# program for it, once the databases are updated as a package install does.
update-mime-database "$prefix/share/mime" >/dev/null 2>&1 || fail "update-mime-database"
update-desktop-database "$prefix/share/applications" || fail "update-desktop-database"
type="$(in_home gio info -a standard::content-type "$prefix/table" | sed -n 's/^ *standard::content-type: //p')"
[ "$type" = application/x-velmora-table ] || fail "a table file is of type '$type'"
offered="$(in_home gio mime "$type" 2>&1)"
case "$offered" in *"$id.desktop"*) ;; *) fail "velmora is not offered for $type: $offered" ;; esac

[ "$failures" -eq 0 ] && echo "install tree complete and valid"
exit "$failures"
