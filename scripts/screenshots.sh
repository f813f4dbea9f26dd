#!/usr/bin/env bash
# Makes the screenshots in docs/: the first view of the updater; through a virtual amplifier an LX40 in
# update mode found, its update under way, and the recovery view after its cable was pulled; and the found
# LX40 again at 200 %. Needs a build (scripts/run.sh or scripts/test.sh) first.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# $1: output file, $2: desktop scale (1 or 2), $3: seconds to wait, $4: "click" to press Update first (or
# "-"), further arguments: the program to show.
shoot() {
  local out="$1" scale="$2" wait="$3" click="$4"
  shift 4
  xvfb-run -a -s "-screen 0 $((800 * scale))x$((600 * scale))x24" bash -c '
    out="$1" scale="$2" wait="$3" click="$4"; shift 4
    HOME="$(mktemp -d)" "$@" &
    app=$!
    sleep 4
    id=$(xwininfo -root -tree | grep "\"LC/LX Software Updater 3\"" | awk "{print \$1}" | head -n 1)
    if [ "$click" = click ]; then
      # The Update button sits at (540, 328) of the 600 x 400 content, which ends 1 pixel above the
      # window frame at the bottom left.
      info=$(xwininfo -id "$id")
      x=$(echo "$info" | awk "/Absolute upper-left X/ {print \$4}")
      y=$(echo "$info" | awk "/Absolute upper-left Y/ {print \$4}")
      h=$(echo "$info" | awk "/Height:/ {print \$2}")
      xdotool mousemove $((x + scale * 541)) $((y + h - scale * 401 + scale * 328)) click 1
    fi
    sleep "$wait"
    import -window "$id" "$out"
    kill $app
    wait $app 2>/dev/null || true
  ' _ "$out" "$scale" "$wait" "$click" "$@"
}

app="$BUILD_DIR/src/LCLX_Software_Updater"
virtual="$BUILD_DIR/tools/lclx_virtual_updater"
mkdir -p "$ROOT/docs"
shoot "$ROOT/docs/main-window.png" 1 0 - "$app"
shoot "$ROOT/docs/ready-for-update.png" 1 0 - "$virtual" LX40 boot
shoot "$ROOT/docs/update-in-progress.png" 1 12 click "$virtual" LX40 boot
shoot "$ROOT/docs/recovery.png" 1 8 click "$virtual" LX40 boot 0 20
# A virtual X server names no desktop scale, so the virtual updater is asked for 200 % itself.
shoot "$ROOT/docs/ready-for-update-200.png" 2 0 - "$virtual" LX40 boot 0 0 --scale=2
echo "Saved the screenshots in docs/"
