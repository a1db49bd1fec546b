#!/usr/bin/env bash
# Fails when a file includes a room its own room may not reach. The rooms
# stand in one order, and includes run down it only:
#   core <- serial, config <- protocol <- session; ui (config, core); app <- session, ui
# tools/velmora-sim knows the frames only (protocol's codec) and the table's
# layout (core); tools/velmora-cli uses session and what it stands on, never the window.
# It fails, too, when core declares a class that another room defines.
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

# core holds values only: it declares no class of another room either (a
# "class ConfigTable;" in core is an include running up, by another name).
# Declarations allowed to stay in core, one "file class" a line (none).
core_declarations_allowed=()
# Every class and struct that a room other than core defines (its head: the
# name with a base, a brace, "final" or nothing after it, never a ";").
other_rooms_classes=" $(grep -rhoE '^[[:space:]]*(class|struct|union)[[:space:]]+[A-Za-z_][A-Za-z0-9_]*[[:space:]]*(final[[:space:]]*)?([{:]|$)' \
    --include='*.h' --include='*.cpp' src tools | grep -v '::' \
    | sed -E 's/^[[:space:]]*(class|struct|union)[[:space:]]+([A-Za-z0-9_]+).*/\2/' | sort -u | tr '\n' ' ') "
core_classes=" $(grep -rhoE '^[[:space:]]*(class|struct|union)[[:space:]]+[A-Za-z_][A-Za-z0-9_]*[[:space:]]*(final[[:space:]]*)?([{:]|$)' \
    --include='*.h' --include='*.cpp' src/core | grep -v '::' \
    | sed -E 's/^[[:space:]]*(class|struct|union)[[:space:]]+([A-Za-z0-9_]+).*/\2/' | sort -u | tr '\n' ' ') "
while IFS= read -r hit; do
  file="${hit%%:*}"; rest="${hit#*:}"; line="${rest%%:*}"; name="${rest#*:}"
  [[ "$other_rooms_classes" == *" $name "* && "$core_classes" != *" $name "* ]] || continue
  [[ " ${core_declarations_allowed[*]/%/ |} " == *" $file $name |"* ]] && continue
  echo "$file:$line: core declares $name, a class of another room"
  bad=1
done < <(grep -rnoE '(^|[^A-Za-z0-9_])(class|struct|union)[[:space:]]+[A-Za-z_][A-Za-z0-9_]*[[:space:]]*;' \
    --include='*.h' --include='*.cpp' src/core \
  | sed -E 's/^([^:]+):([0-9]+):.*(class|struct|union)[[:space:]]+([A-Za-z0-9_]+)[[:space:]]*;$/\1:\2:\4/')

if [ "$bad" -ne 0 ]; then
  echo "core holds values only: it may not declare another room's classes." >&2
  exit 1
fi
echo "rooms: every include runs down; core declares no other room's class"
