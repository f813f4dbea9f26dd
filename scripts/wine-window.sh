#!/usr/bin/env bash
# Starts a Windows build of the updater under Wine in a virtual X server and checks its window: titled
# "LC/LX Software Updater 3", 602 pixels wide around its 600 x 400 content, its log file in the prefix's
# roaming application data with the start banner and "State: Unknown State"; that it repaints (a click on
# "BOOT info >" changes the text area and the button's caption on screen); that a second start, from another
# folder, ends and leaves one window; and a clean end (exit code 0) when its close button is clicked. Run
# inside xvfb-run, with WINEPREFIX set.
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

# The window repaints: "BOOT info >" (content 440,360, 60 x 20) opens its page over the instructions.
content_x=$((x + 1))
content_y=$((y + height - 401))
# One screenshot, cut into the text area and the button's caption: $1 the files' prefix
areas() {
  import -window root "$work/screen.png" 2>/dev/null &&
    convert "$work/screen.png" -crop "$text" +repage "$1-text.png" &&
    convert "$work/screen.png" -crop "$caption" +repage "$1-caption.png"
}
differs() { # $1 $2: two images; more than 200 pixels apart
  local count
  count=$(compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1)
  [ "${count%.*}" -gt 200 ] 2>/dev/null
}
work=$(mktemp -d)
text="560x276+$((content_x + 20))+$((content_y + 20))"
caption="54x14+$((content_x + 443))+$((content_y + 363))"
areas "$work/before"
xdotool mousemove $((content_x + 470)) $((content_y + 370)) click 1
repainted=0
for _ in $(seq 1 100); do
  areas "$work/after"
  if differs "$work/before-text.png" "$work/after-text.png" && differs "$work/before-caption.png" "$work/after-caption.png"; then
    repainted=1
    break
  fi
  sleep 0.2
done
[ "$repainted" -eq 1 ] || fail "the window did not repaint within 20 s of a click on \"BOOT info >\""
[ -n "$shot" ] && import -window root -crop "${width}x${height}+${x}+${y}" "${shot%.png}-boot-info.png"
rm -rf "$work"

# A second start, from another folder, ends at once and leaves the first window the only one.
(cd / && timeout 60 "$WINE" "$exe")
second=$?
[ "$second" -eq 0 ] || fail "a second start from another folder ended with $second (124: still running after 60 s)"
windows=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | wc -l)
[ "$windows" -eq 1 ] || fail "$windows windows after a second start"

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
[ "$failed" -eq 0 ] && echo "PASS: $(basename "$exe") under Wine: window, log file, repainting, one instance and a clean end"
exit "$failed"
