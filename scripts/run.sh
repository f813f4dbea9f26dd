#!/usr/bin/env bash
# Installs what is missing, builds, and starts the updater. Without a display it starts the updater in a
# virtual X server, saves a screenshot of its window, says where, and exits.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_missing_packages
configure_and_build "$BUILD_DIR"
APP="$BUILD_DIR/src/LCLX_Software_Updater"

if [ -n "${DISPLAY:-}" ]; then
  exec "$APP"
fi

SHOT="$BUILD_DIR/screenshot.png"
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
  "$1" &
  app=$!
  sleep 3
  import -window root "$2"
  kill $app
  wait $app 2>/dev/null || true
' _ "$APP" "$SHOT"
echo "No display: the updater ran in a virtual X server. Screenshot of its window: $SHOT"
