#!/usr/bin/env bash
# Makes the screenshots in docs/: the first view of the updater, and the view of an LX40 in update mode
# found through a virtual amplifier. Needs a build (scripts/run.sh or scripts/test.sh) first.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

shoot() { # $1: output file, further arguments: the program to show
  local out="$1"
  shift
  xvfb-run -a -s "-screen 0 800x600x24" bash -c '
    out="$1"; shift
    "$@" &
    app=$!
    sleep 4
    id=$(xwininfo -root -tree | grep "\"LC/LX Software Updater 3\"" | awk "{print \$1}" | head -n 1)
    import -window "$id" "$out"
    kill $app
    wait $app 2>/dev/null || true
  ' _ "$out" "$@"
}

mkdir -p "$ROOT/docs"
shoot "$ROOT/docs/main-window.png" env HOME="$(mktemp -d)" "$BUILD_DIR/src/LCLX_Software_Updater"
shoot "$ROOT/docs/ready-for-update.png" "$BUILD_DIR/tools/lclx_virtual_updater" LX40 boot
echo "Saved docs/main-window.png and docs/ready-for-update.png"
