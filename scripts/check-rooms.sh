#!/usr/bin/env bash
# Fails when a file includes a room its own room may not reach. The rooms
# stand in one order, and includes run down it only:
#   core <- serial, config <- protocol <- session; ui (config, core); app <- session, ui
# tools/velmora-sim knows the frames only (protocol's codec) and the table's
# layout (core); tools/velmora-cli uses session and what it stands on, never the window.
#   scripts/check-rooms.sh [repository root]
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

allowed() {
  case "$1" in
    core)         echo "core" ;;
    serial)       echo "core serial" ;;
    config)       echo "core config" ;;
    protocol)     echo "core serial config protocol" ;;
    ui)           echo "core config ui" ;;
    session)      echo "core serial config protocol session" ;;
    app)          echo "core serial config protocol session ui app" ;;
    velmora-sim)  echo "core protocol" ;;
    velmora-cli)  echo "core serial config protocol session" ;;
    *)            echo "" ;;
  esac
}

rooms=" core serial config protocol session ui app "
bad=0
while IFS= read -r file; do
  case "$file" in
    src/*)   room="${file#src/}"; room="${room%%/*}" ;;
    tools/*) room="${file#tools/}"; room="${room%%/*}" ;;
  esac
  may=" $(allowed "$room") "
  while IFS= read -r hit; do
    line="${hit%%:*}"
    target="${hit#*\"}"; target="${target%%/*}"
    [[ "$rooms" == *" $target "* ]] || continue
    if [[ "$may" != *" $target "* ]]; then
      echo "$file:$line: the $room room includes \"$target/…\", which it may not reach"
      bad=1
    fi
  done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z]+/' "$file" | sed -E 's/^([0-9]+):.*include[[:space:]]*"/\1:"/')
done < <(find src tools -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

if [ "$bad" -ne 0 ]; then
  echo "Includes must run down the rooms: core <- serial, config <- protocol <- session <- app; ui <- app." >&2
  exit 1
fi
echo "rooms: every include runs down"
