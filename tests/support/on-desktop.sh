#!/usr/bin/env bash
# on-desktop.sh PROGRAM [ARGUMENT...]: runs it on Xvfb with the Openbox window
# manager (./test installs both), where windows take the focus as for a user.
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
  openbox & wm=$!
  for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id" && break; sleep 0.1; done
  QT_QPA_PLATFORM=xcb "$@"; status=$?
  kill $wm; exit $status' bash "$@"
