#!/bin/bash
# One road inside the guest: the virtual amplifier on a USB gadget that the same kernel enumerates as a
# USB-MIDI device, the real updater in a virtual X server with a fresh HOME, clicked as a user would. Leaves
# its evidence in $2 and the verdict in $2/result.
#   road.sh model-boot|generic-boot|bad-firmware|lc20d-repair|cable-pulled OUT
set -u
ROAD="$1"
OUT="$2"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${LCLX_BUILD_DIR:-$ROOT/build}"
PATH=/usr/sbin:/usr/bin:/sbin:/bin
START=$SECONDS

# The root is already writable (its changes stay in guest memory); a tmpfs over /tmp would hide a build
# tree that lives there.
for dir in /run /dev/shm; do mkdir -p "$dir" && mount -t tmpfs tmpfs "$dir"; done
modprobe dummy_hcd && modprobe libcomposite && modprobe usb_f_midi && modprobe snd_usb_audio &&
  modprobe snd_seq && modprobe snd_seq_midi || echo "a kernel module did not load" >>"$OUT/reasons"
mount -t configfs none /sys/kernel/config

export HOME DISPLAY=:7
HOME=$(mktemp -d /tmp/lclx-home.XXXXXX)
rm -f /tmp/.X7-lock /tmp/.X11-unix/X7 # this machine's own, seen through the shared root
LOG="$HOME/.config/LCLX_Software_Updater.txt"
RECORD="$OUT/amplifier.txt"
shots=0

say() { echo "[$((SECONDS - START)) s] $*"; }
fail() { echo "$*" >>"$OUT/reasons"; }
# $1: seconds, $2: what is awaited (for the reason), further: the test
wait_for() {
  local seconds="$1" what="$2" until=$((SECONDS + $1))
  shift 2
  while ! "$@"; do
    if [ $SECONDS -ge $until ]; then
      fail "waited ${seconds} s for $what"
      return 1
    fi
    sleep 0.2
  done
  say "$what"
}
logged() { grep -q -- "$1" "$LOG" 2>/dev/null; }
recorded() { grep -q -- "$1" "$RECORD" 2>/dev/null; }
# The state lines of the log after the first line holding $1, one per line.
states_after() { sed -n "/$1/,\$p" "$LOG" | sed -n 's/^State: \([^\t]*\).*/\1/p' | sed 's/ *$//'; }
shot() {
  shots=$((shots + 1))
  import -window root "$OUT/$(printf %02d $shots)-$1.png" 2>/dev/null
}
# The content's top left corner: 1 pixel inside the window frame on the left, 401 above its bottom.
click() { # $1 $2: a point of the 600 x 400 content
  local info x y h
  info=$(xwininfo -id "$WINDOW")
  x=$(echo "$info" | awk '/Absolute upper-left X/ {print $4}')
  y=$(echo "$info" | awk '/Absolute upper-left Y/ {print $4}')
  h=$(echo "$info" | awk '/Height:/ {print $2}')
  xdotool mousemove $((x + 1 + $1)) $((y + h - 401 + $2)) click 1
}
clickUpdate() { click 540 328; }
# The raw MIDI devices' counters and the sequencer's clients, as evidence.
alsa_state() {
  for file in /proc/asound/card*/midi* /proc/asound/seq/clients; do
    echo "== $file" && cat "$file"
  done 2>&1
}

amp_args=()
case "$ROAD" in
model-boot) amp_args=(--key LX40 --mode boot --version 0) ;;
generic-boot) amp_args=(--key LX60 --mode generic --version 0) ;;
bad-firmware) amp_args=(--key LX40 --mode app --version 99) ;;
lc20d-repair) amp_args=(--key LC20-D_MKII --mode app --version 99) ;;
cable-pulled) amp_args=(--key LX40 --mode boot --version 0 --unplug-after 40 --replug-after-ms 5000) ;;
*)
  fail "no road named $ROAD"
  exit 1
  ;;
esac

# Stops everything, judges the record and writes the verdict; called once, also after a step failed.
finish() {
  alsa_state >"$OUT/alsa.txt"
  kill "${app:-}" 2>/dev/null
  wait "${app:-}" 2>/dev/null
  kill "$amp" 2>/dev/null
  wait "$amp" 2>/dev/null
  kill "$xserver" 2>/dev/null
  cp "$LOG" "$OUT/updater-log.txt" 2>/dev/null
  dmesg >"$OUT/kernel.log"

  local judge=(/usr/bin/python3 "$ROOT/scripts/vm/judge.py" "$RECORD" "$BUILD/firmware")
  case "$ROAD" in
  model-boot) judge+=(--image LX40 --version 131) ;;
  generic-boot) judge+=(--image LX60 --version 131) ;;
  bad-firmware) judge+=(--erase LX40 --image LX40 --version 131) ;;
  lc20d-repair) judge+=(--erase LC20-D_MKII --image LC20-D_MKII --version 2282) ;;
  cable-pulled) judge+=(--image LX40 --broken-off) ;;
  esac
  "${judge[@]}" >>"$OUT/reasons" 2>"$OUT/figures"
  if [ -s "$OUT/reasons" ]; then
    { echo "FAIL $ROAD"; sed 's/^/  /' "$OUT/reasons"; } >"$OUT/result"
  else
    echo "PASS $ROAD" >"$OUT/result"
  fi
  sed 's/^/  /' "$OUT/figures" >>"$OUT/result"
  echo "  guest time: $((SECONDS - START)) s" >>"$OUT/result"
  cat "$OUT/result"
  exit 0
}

"$BUILD/tools/lclx_gadget_amp" "${amp_args[@]}" --record "$RECORD" >"$OUT/amplifier.out" 2>&1 &
amp=$!
Xvfb :7 -screen 0 800x600x24 -nolisten tcp >"$OUT/xvfb.out" 2>&1 &
xserver=$!
wait_for 30 "the X server" xdpyinfo >/dev/null 2>&1 || finish
wait_for 30 "the amplifier on the bus" recorded "# attach" || finish
"$BUILD/src/LCLX_Software_Updater" >"$OUT/updater.out" 2>&1 &
app=$!
wait_for 60 "the updater's window" xdotool search --name "LC/LX Software Updater 3" >/dev/null || finish
WINDOW=$(xdotool search --name "LC/LX Software Updater 3" | head -n 1)

case "$ROAD" in
model-boot | cable-pulled)
  wait_for 60 "the LX40 in update mode found" logged "State: Boot Valid" || finish
  shot ready
  clickUpdate
  ;;
generic-boot)
  wait_for 60 "the generic boot loader found" logged "State: Boot Generic" || finish
  shot generic
  # The selector lists the models in the catalogue's order: LX40, LX60, ...
  click 260 328
  sleep 2
  xdotool key --delay 400 Down Down Return
  sleep 2
  shot chosen
  clickUpdate
  ;;
bad-firmware | lc20d-repair)
  wait_for 60 "the bad firmware found and erased" logged "State: Erased 4 Rpr." || finish
  shot erased
  alsa_state >"$OUT/alsa-at-erase.txt"
  ;;
esac

wait_for 30 "the update started" logged "State: Updating" || finish
sleep 10
shot updating
if [ "$ROAD" = cable-pulled ]; then
  wait_for 60 "the cable pulled" recorded "# detach" || finish
  wait_for 30 "the run broken off" logged "Upd. terminated @: " || finish
  shot aborted
  wait_for 30 "the amplifier plugged in again" recorded "# plugged in again" || finish
  wait_for 30 "the amplifier back on the bus" bash -c "sed -n '/# plugged in again/,\$p' '$RECORD' | grep -q '# attach'"
  sleep 10 # anything more of the old run would arrive now
  shot replugged
  states_after "Upd. btn prsd" | grep -q "^Updated!" && fail "the updater reported a broken-off run as updated"
else
  wait_for 200 "the update finished" logged "State: Updated!" || finish
  # After the image's messages (in either boot mode), the amplifier comes back on the bus.
  wait_for 60 "the amplifier back in application mode" awk '/^[0-9.]+ (boot|generic) / {image = 1}
    image && /^# attach/ {back = 1} END {exit !back}' "$RECORD"
  wait_for 30 "the updater seeing it in application mode" bash -c "sed -n '/State: Updated!/,\$p' '$LOG' | grep -q 'State: App / Amp'"
  sleep 2
  shot done
fi

finish
