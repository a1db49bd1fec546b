#!/usr/bin/env bash
# Takes the README's screenshots: the window on virtual screens (Xvfb, with
# the Openbox window manager) of 1024x768, 1366x768 and 1920x1080 (there
# maximised), in Chinese and English, and on 1366x768 in a dark colour scheme
# (qt6ct's "darker"), each with the module simulator attached and its demo
# codes read into the table; the "compare" shots then edit three cells and
# compare the module with the table (F7).
# The program runs as a copy in a scratch folder, so the shots leave
# build/data.dat and the user's settings alone; each PNG is cut down to a
# small palette.
#
#   scripts/screenshots.sh [OUTPUT_FOLDER [NAME...]]     (docs/screenshots and every shot by default)
set -euo pipefail

if [ "${1:-}" = "--inside" ]; then
  # One shot, on the virtual display xvfb-run made: --inside BUILD OUT.png LANGUAGE COLOURS MAXIMISE [compare]
  build=$2 out=$3 language=$4 colours=$5 maximise=$6 action=${7:-read}
  tmp=$(mktemp -d /tmp/velmora.XXXXXX)
  # A copy of the program (its translations are built in): its table file is kept beside it.
  mkdir -p "$tmp/velmora"
  cp "$build/velmora" "$tmp/velmora/"
  trap 'kill "${app:-}" "${sim:-}" "${wm:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$tmp"' EXIT
  HOME="$tmp" openbox >/dev/null 2>&1 &
  wm=$!
  "$build/velmora-sim" --demo --memory "$tmp/memory.txt" --link "$tmp/module" >"$tmp/sim.log" 2>&1 &
  sim=$!
  for _ in $(seq 50); do [ -s "$tmp/sim.log" ] && break; sleep 0.1; done
  [ -e "$tmp/module" ] || { echo "the module simulator did not start: $(cat "$tmp/sim.log")" >&2; exit 1; }
  # A fresh user whose remembered port is the simulator's.
  mkdir -p "$tmp/config/velmora" "$tmp/config/qt6ct"
  printf '[port]\ndevice=%s\n' "$tmp/module" >"$tmp/config/velmora/velmora.conf"
  theme=()
  if [ "$colours" != "-" ]; then
    printf '[Appearance]\nstyle=Fusion\ncustom_palette=true\ncolor_scheme_path=/usr/share/qt6ct/colors/%s.conf\n' \
      "$colours" >"$tmp/config/qt6ct/qt6ct.conf"
    theme=(QT_QPA_PLATFORMTHEME=qt6ct)
  fi
  env "${theme[@]}" HOME="$tmp" XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" \
    VELMORA_EXTRA_PORTS="$tmp/module" QT_QPA_PLATFORM=xcb "$tmp/velmora/velmora" --language "$language" >"$tmp/velmora.log" 2>&1 &
  app=$!
  win=$(timeout 30 xdotool search --sync --onlyvisible --name Velmora | head -n 1)
  [ -n "$win" ] || { echo "$out: the window did not show: $(cat "$tmp/velmora.log")" >&2; exit 1; }
  sleep 1
  if [ "$maximise" = yes ]; then
    wmctrl -i -r "$win" -b add,maximized_vert,maximized_horz
    sleep 1
  fi
  # From the keyboard, as the window opens in the port box: two tabs to the
  # port button, Enter opens the port; F5 reads the module, after the
  # confirmation that Enter accepts.
  xdotool windowactivate --sync "$win" key Tab Tab Return
  sleep 1
  xdotool key F5
  timeout 20 xdotool search --sync --onlyvisible --name '^(Read module|读取模块)$' >/dev/null ||
    { echo "$out: no confirmation came up; the program said: $(cat "$tmp/velmora.log")" >&2; exit 1; }
  sleep 0.5
  xdotool key Return
  for _ in $(seq 100); do grep -q dump-end "$tmp/sim.log" && break; sleep 0.1; done
  grep -q dump-end "$tmp/sim.log" || { echo "$out: the module was not read" >&2; exit 1; }
  sleep 1.5
  if [ "$action" = compare ]; then
    # Into the table's first cell, then: another code for 开关02控制 开, none
    # for 开关02反馈 开, a code for 开关03控制 开 that the module does not hold.
    xdotool mousemove --window "$win" 200 185 click 1
    sleep 0.3
    xdotool key Down Down type "A10299"
    xdotool key Return Down Delete Down
    xdotool type "5566"
    xdotool key Return Down F7
    for _ in $(seq 200); do [ "$(grep -c dump-end "$tmp/sim.log")" -ge 3 ] && break; sleep 0.1; done
    xdotool mousemove 0 0
    sleep 1.5
  fi
  # 32 colours keep the text crisp at a fifth of the size.
  xwd -root -silent | xwdtopnm 2>/dev/null | pnmdepth 255 | pnmquant 32 2>/dev/null | pnmtopng -compression 9 >"$out"
  exit 0
fi

cd "$(dirname "$0")/.."
source scripts/setup.sh
velmora_install_missing xvfb openbox wmctrl xdotool x11-apps x11-utils netpbm qt6ct
velmora_build_quietly velmora velmora-sim
out_dir="$(realpath -m "${1:-docs/screenshots}")"
mkdir -p "$out_dir"
only=("${@:2}")

# name, screen, language, colour scheme (- for the default), maximised
shots=(
  "zh-1024x768 1024x768 zh - no"
  "en-1024x768 1024x768 en - no"
  "zh-1366x768 1366x768 zh - no"
  "en-1366x768 1366x768 en - no"
  "zh-1920x1080 1920x1080 zh - yes"
  "en-1920x1080 1920x1080 en - yes"
  "zh-1366x768-dark 1366x768 zh darker no"
  "en-1366x768-dark 1366x768 en darker no"
  "zh-compare 1366x768 zh - no compare"
  "en-compare 1366x768 en - no compare"
)
for shot in "${shots[@]}"; do
  read -r name screen language colours maximise action <<<"$shot"
  if [ "${#only[@]}" -gt 0 ] && [[ ! " ${only[*]} " == *" $name "* ]]; then continue; fi
  timeout 120 xvfb-run -a -s "-screen 0 ${screen}x24" "$0" --inside "$BUILD_DIR" "$out_dir/$name.png" "$language" "$colours" "$maximise" "${action:-read}"
  echo "$out_dir/$name.png"
done
