#!/usr/bin/env bash
# Starts a Windows build of the updater under Wine in a virtual X server and checks its window: titled
# "LC/LX Software Updater 3", 602 pixels wide around its 600 x 400 content, its log file in the prefix's
# roaming application data with the start banner and "State: Unknown State", and a clean end (exit code 0)
# when its close button is clicked. Run inside xvfb-run, with WINEPREFIX set.
#   wine-window.sh PROGRAM.exe [SCREENSHOT.png]
set -u
exe="$1"
shot="${2:-}"
WINE="${WINE:-/usr/lib/wine/wine64}"
log="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/LCLX_Software_Updater.txt"
title="LC/LX Software Updater 3"
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

rm -f "$log"
"$WINE" "$exe" &
app=$!
window=""
for _ in $(seq 1 300); do
  window=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1)
  [ -n "$window" ] && break
  sleep 0.2
done
if [ -z "$window" ]; then
  fail "no window titled '$title' within 60 s"
  kill "$app" 2>/dev/null
  exit 1
fi
sleep 3 # its first picture
info=$(xwininfo -id "$window")
x=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
width=$(awk '/Width:/ {print $2}' <<<"$info")
height=$(awk '/Height:/ {print $2}' <<<"$info")
echo "window: ${width} x ${height} at ${x},${y}"
[ "$width" -eq 602 ] || fail "the window is $width pixels wide, not 602 (600 of content and its frame)"
[ "$height" -gt 400 ] || fail "the window is $height pixels high: no room for 400 of content and a title bar"
[ -n "$shot" ] && import -window root -crop "${width}x${height}+${x}+${y}" "$shot"

for _ in $(seq 1 50); do
  grep -q "State: Unknown State" "$log" 2>/dev/null && break
  sleep 0.2
done
grep -q "^LC LX Software Updater.\?$" "$log" 2>/dev/null || fail "no start banner in $log"
grep -q "^State: Unknown State" "$log" 2>/dev/null || fail "no 'State: Unknown State' in $log"

# The close button sits 18 pixels from the right and 13 from the top of the window.
xdotool mousemove $((x + width - 18)) $((y + 13)) click 1
for _ in $(seq 1 75); do
  kill -0 "$app" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$app" 2>/dev/null; then
  fail "still running 15 s after its close button was clicked"
  kill "$app"
fi
wait "$app"
code=$?
[ "$code" -eq 0 ] || fail "it ended with exit code $code"
[ "$failed" -eq 0 ] && echo "PASS: $(basename "$exe") under Wine: window, log file and a clean end"
exit "$failed"
