#!/usr/bin/env bash
# Runs a program on a virtual desktop of its own: Xvfb with the Openbox window
# manager (the set-up installs both for ./test), so that windows are placed,
# activated and given the keyboard focus as on a user's desktop.
#
#   tests/support/on-desktop.sh PROGRAM [ARGUMENT...]
set -euo pipefail
for tool in Xvfb openbox xprop; do
  command -v "$tool" >/dev/null || { echo "on-desktop.sh: no $tool; run ./test, which installs it" >&2; exit 1; }
done
tmp=$(mktemp -d /tmp/velmora-desktop.XXXXXX)
trap 'kill "${wm:-}" "${xvfb:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$tmp"' EXIT
mkfifo "$tmp/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
read -r number <"$tmp/display" || { echo "on-desktop.sh: Xvfb did not start: $(cat "$tmp/xvfb.log")" >&2; exit 1; }
export DISPLAY=":$number" QT_QPA_PLATFORM=xcb
HOME="$tmp" openbox >"$tmp/openbox.log" 2>&1 &
wm=$!
# The window manager is there once it has named itself on the root window.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' ||
  { echo "on-desktop.sh: the window manager did not start: $(cat "$tmp/openbox.log")" >&2; exit 1; }
status=0
"$@" || status=$?
exit "$status"
