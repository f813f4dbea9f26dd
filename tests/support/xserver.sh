#!/bin/sh
# The one virtual X server that the tests needing a display share.
#   xserver.sh start DIR   starts it; its display name goes to DIR/display once it takes clients
#   xserver.sh stop DIR    stops the server that start left in DIR
set -eu
dir="$2"
case "$1" in
start)
  mkdir -p "$dir"
  rm -f "$dir/display" "$dir/number"
  # The server writes its display number to descriptor 3 once it is ready; nothing of it holds the output
  # of the test that starts it, which would keep the test from ending.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/number" </dev/null >"$dir/xvfb.log" 2>&1 &
  echo $! >"$dir/pid"
  deadline=$(($(date +%s) + 120))
  while [ ! -s "$dir/number" ]; do
    if ! kill -0 "$(cat "$dir/pid")" 2>/dev/null || [ "$(date +%s)" -ge "$deadline" ]; then
      echo "the X server did not start:" >&2
      cat "$dir/xvfb.log" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo ":$(tr -d '\n' <"$dir/number")" >"$dir/display"
  echo "X server $(cat "$dir/display"), process $(cat "$dir/pid")"
  ;;
stop)
  if [ -f "$dir/pid" ]; then
    kill "$(cat "$dir/pid")" 2>/dev/null || true
    rm -f "$dir/pid" "$dir/display" "$dir/number"
  fi
  ;;
*)
  echo "usage: xserver.sh start|stop DIR" >&2
  exit 2
  ;;
esac
