#!/bin/bash
# One road inside the guest: the virtual amplifier on a USB gadget that the same kernel enumerates as a
# USB-MIDI device, the real updater in a virtual X server with a fresh HOME, clicked as a user would. Leaves
# its evidence in $2 and the verdict in $2/result.
#   road.sh model-boot|generic-boot|bad-firmware|lc20d-repair|cable-pulled|bench|wine-model-boot|wine-generic-boot OUT
# model-boot also has another USB-MIDI device and a program's virtual port come and go during the update;
# bad-firmware has every MIDI port listed 3 s after its USB identity, and the erased LX40 off the bus for 10 s
# while another amplifier's generic loader is connected to the second port. bench runs the command line
# instead of the window: list, two updates started together on the one amplifier, list. wine-<road> runs the Windows program under Wine instead (the test program
# lclx_wine_road_updater: the USB list from sysfs, the ports under Windows' names), up to "Updated!".
set -u
ROAD="$1"
OUT="$2"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${LCLX_BUILD_DIR:-$ROOT/build}"
PATH=/usr/sbin:/usr/bin:/sbin:/bin
START=$SECONDS
BASE="${ROAD#wine-}"

# The root is already writable (its changes stay in guest memory); a tmpfs over /tmp would hide a build
# tree that lives there.
for dir in /run /dev/shm; do mkdir -p "$dir" && mount -t tmpfs tmpfs "$dir"; done
# Two UDCs: the amplifier's, and one for another USB-MIDI device that comes and goes.
modprobe dummy_hcd num=2 && modprobe libcomposite && modprobe usb_f_midi && modprobe snd_usb_audio &&
  modprobe snd_seq && modprobe snd_seq_midi || echo "a kernel module did not load" >>"$OUT/reasons"
mount -t configfs none /sys/kernel/config

export HOME DISPLAY=:7
HOME=$(mktemp -d /tmp/lclx-home.XXXXXX)
rm -f /tmp/.X7-lock /tmp/.X11-unix/X7 # this machine's own, seen through the shared root
LOG="$HOME/.config/LCLX_Software_Updater.txt"
if [ "$BASE" != "$ROAD" ]; then
  # The prefix of scripts/windows.sh, written to in guest memory only; Wine lists MIDI ports once, at start.
  export WINEPREFIX="$ROOT/build-win/wine-prefix" WINEDEBUG=-all
  LOG="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/LCLX_Software_Updater.txt"
  rm -f "$LOG"
fi
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
# The amplifier's record is read by the judge alone: whether it shows an event yet (judge.py --seen).
recorded() { /usr/bin/python3 "$ROOT/scripts/vm/judge.py" "${2:-$RECORD}" --seen "$1"; }
OTHER_RECORD="$OUT/other-amplifier.txt"
# The state lines of the log after the first line holding $1, one per line.
states_after() { sed -n "/$1/,\$p" "$LOG" | sed -n 's/^State: \([^\t]*\).*/\1/p' | sed 's/ *$//'; }
shot() {
  shots=$((shots + 1))
  import -window root "$OUT/$(printf %02d $shots)-$1.png" 2>/dev/null
}
# The content's top left corner: 1 pixel inside the window frame on the left, 401 above its bottom.
point() { # $1 $2: a point of the 600 x 400 content, where the mouse goes
  local info x y h
  info=$(xwininfo -id "$WINDOW")
  x=$(echo "$info" | awk '/Absolute upper-left X/ {print $4}')
  y=$(echo "$info" | awk '/Absolute upper-left Y/ {print $4}')
  h=$(echo "$info" | awk '/Height:/ {print $2}')
  xdotool mousemove $((x + 1 + $1)) $((y + h - 401 + $2))
}
click() { point "$@" && xdotool click 1; }
# Clicks Update until the updater logs the press: under emulation a click now and then never reaches the
# window, and a click on the button once it is hidden does nothing.
clickUpdate() {
  local tries
  for tries in 1 2 3 4 5; do
    click 540 328
    local until=$((SECONDS + 10))
    while [ $SECONDS -lt $until ]; do
      logged "Upd. btn prsd" && return 0
      sleep 0.2
    done
    say "the click on Update was not seen; clicking again"
  done
  fail "five clicks on Update were not seen"
  return 1
}
# The raw MIDI devices' counters and the sequencer's clients, as evidence.
alsa_state() {
  for file in /proc/asound/card*/midi* /proc/asound/seq/clients; do
    echo "== $file" && cat "$file"
  done 2>&1
}

# Another USB-MIDI device, of another maker, that calls itself "USB Audio Device": $1 on or off.
STRANGER=/sys/kernel/config/usb_gadget/stranger
stranger() {
  if [ "$1" = on ]; then
    mkdir -p "$STRANGER" && (
      cd "$STRANGER" || exit 1
      echo 0x1209 >idVendor && echo 0x0001 >idProduct
      mkdir -p strings/0x409 configs/c.1 functions/midi.usb0
      echo "USB Audio Device" >strings/0x409/product
      echo Stranger >functions/midi.usb0/id
      ln -sf "$STRANGER/functions/midi.usb0" configs/c.1/
      echo dummy_udc.1 >UDC
    ) || fail "the other USB-MIDI device could not be plugged in"
  else
    echo "" >"$STRANGER/UDC" 2>/dev/null
  fi
}
# The MIDI ports as the updater sees them, with the USB device of each, into $1.
list_ports() { "$BUILD/tools/lclx_midi_ports" >"$1" 2>&1; }
# $1: direction, $2: port name, $3: the start of its owner ("2a5a:0044 ", "none")
port_owned() { awk -F'\t' -v d="$1" -v n="$2" -v o="$3" '$1 == d && $2 == n && index($4, o) == 1 {f = 1} END {exit !f}' "$OUT/ports.txt"; }
# Every interface the kernel holds back stays unbound for 3 s: the MIDI ports are listed 3 s after the USB
# identity. Authorising an interface binds no driver by itself; the bus is then asked to probe each.
late_ports() {
  local waiting file
  while sleep 0.2; do
    waiting=$(grep -l '^0$' /sys/bus/usb/devices/*:*/authorized 2>/dev/null) || continue
    echo "[$((SECONDS - START)) s] held back: $(echo $waiting | tr '\n' ' ')" >>"$OUT/late-ports.txt"
    sleep 3
    waiting=$(grep -l '^0$' /sys/bus/usb/devices/*:*/authorized 2>/dev/null | sort)
    for file in $waiting; do echo 1 >"$file"; done
    for file in $waiting; do basename "$(dirname "$file")" >/sys/bus/usb/drivers_probe; done 2>/dev/null
  done
}
others=""
# The other device's output port and the virtual port are both listed, with their owners, in ports.txt.
others_listed() {
  list_ports "$OUT/ports.txt" && port_owned out "USB Audio Device" "1209:0001 " && port_owned out aseqdump none
}

amp_args=()
case "$BASE" in
model-boot) amp_args=(--key LX40 --mode boot --version 0) ;;
generic-boot) amp_args=(--key LX60 --mode generic --version 0) ;;
bad-firmware) amp_args=(--key LX40 --mode app --version 99 --restart-absence-ms 10000) ;;
lc20d-repair) amp_args=(--key LC20-D_MKII --mode app --version 99) ;;
cable-pulled) amp_args=(--key LX40 --mode boot --version 0 --unplug-after 40 --replug-after-ms 5000) ;;
bench) amp_args=(--key LX60 --mode boot --version 0) ;;
*)
  fail "no road named $ROAD"
  exit 1
  ;;
esac
# Under Wine the model is chosen with one arrow key (below): the first in the selector, LX40.
[ "$ROAD" = wine-generic-boot ] && amp_args=(--key LX40 --mode generic --version 0)

# Stops everything, judges the record and writes the verdict; called once, also after a step failed.
finish() {
  alsa_state >"$OUT/alsa.txt"
  kill ${others:-} ${late:-} 2>/dev/null
  stranger off
  kill "${app:-}" 2>/dev/null
  wait "${app:-}" 2>/dev/null
  kill "$amp" ${other_amp:-} 2>/dev/null
  wait "$amp" ${other_amp:-} 2>/dev/null
  if [ -n "${other_amp:-}" ] && recorded image:1 "$OTHER_RECORD"; then
    fail "the other amplifier's generic loader received image messages"
  fi
  kill "${xserver:-}" 2>/dev/null
  cp "$LOG" "$OUT/updater-log.txt" 2>/dev/null
  dmesg >"$OUT/kernel.log"

  local judge=(/usr/bin/python3 "$ROOT/scripts/vm/judge.py" "$RECORD" "$BUILD/firmware")
  case "$ROAD" in
  wine-model-boot) judge+=(--image LX40) ;;
  wine-generic-boot) judge+=(--image LX40) ;;
  model-boot) judge+=(--image LX40 --version 131) ;;
  generic-boot) judge+=(--image LX60 --version 131) ;;
  bad-firmware) judge+=(--erase LX40 --image LX40 --version 131) ;;
  lc20d-repair) judge+=(--erase LC20-D_MKII --image LC20-D_MKII --version 2282) ;;
  cable-pulled) judge+=(--image LX40 --broken-off) ;;
  bench) judge+=(--image LX60 --version 131) ;;
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

if [ "$ROAD" = bad-firmware ]; then
  for file in /sys/bus/usb/devices/usb*/interface_authorized_default; do echo 0 >"$file"; done
  late_ports &
  late=$!
fi
"$BUILD/tools/lclx_gadget_amp" "${amp_args[@]}" --udc dummy_udc.0 --record "$RECORD" >"$OUT/amplifier.out" 2>&1 &
amp=$!
if [ "$ROAD" = bench ]; then
  # A service bench: what is connected, one update without a window, and what is connected after it.
  wait_for 30 "the amplifier on the bus" recorded attach || finish
  bench_run() { # $1: name of the evidence; the rest: the command line's arguments
    local name="$1"
    shift
    echo "\$ lclx-update $*" >"$OUT/$name.txt"
    "$BUILD/src/lclx-update" "$@" >>"$OUT/$name.txt" 2>&1
    local code=$?
    echo "\$ echo \$?" >>"$OUT/$name.txt" && echo "$code" >>"$OUT/$name.txt"
    say "lclx-update $* exited with $code"
    return $code
  }
  bench_run list-before list || fail "list before the update did not exit with 0"
  grep -q "^LX60  update  " "$OUT/list-before.txt" || fail "list did not show the LX60 in update mode"
  # Two commands started together on the one amplifier (two terminals): one updates it, and the other,
  # finding it claimed, sends it nothing and ends with 7 after its wait.
  bench_run update-a update --wait 30 &
  first=$!
  bench_run update-b update --wait 30 &
  second=$!
  wait $first
  first_code=$?
  wait $second
  second_code=$?
  case "$first_code $second_code" in
  "0 7") winner=a loser=b ;;
  "7 0") winner=b loser=a ;;
  *) fail "of two updates started together, one must exit with 0 and the other with 7: $first_code $second_code" ;;
  esac
  if [ -n "${winner:-}" ]; then
    grep -q "update confirmed" "$OUT/update-$winner.txt" || fail "lclx-update did not confirm the update"
    grep -q "Another program is updating this amplifier." "$OUT/update-$loser.txt" ||
      fail "the second lclx-update did not say that another program was updating the amplifier"
  fi
  bench_run list-after list || fail "list after the update did not exit with 0"
  grep -q "^LX60  application  firmware 131  update available: no" "$OUT/list-after.txt" ||
    fail "list did not show the LX60 back in application mode with firmware 131"
  finish
fi
# Wine keeps the screen size the prefix first saw (scripts/windows.sh's) and centres windows on it.
SCREEN=800x600x24
[ "$BASE" != "$ROAD" ] && SCREEN=1024x768x24
Xvfb :7 -screen 0 "$SCREEN" -nolisten tcp >"$OUT/xvfb.out" 2>&1 &
xserver=$!
wait_for 30 "the X server" xdpyinfo >/dev/null 2>&1 || finish
wait_for 30 "the amplifier on the bus" recorded attach || finish
if [ "$BASE" != "$ROAD" ]; then
  wait_for 30 "the amplifier's MIDI port" grep -q '"KW ' /proc/asound/seq/clients || finish
  /usr/lib/wine/wine64 "$ROOT/build-win/tools/lclx_wine_road_updater.exe" >"$OUT/updater.out" 2>&1 &
else
  "$BUILD/src/LCLX_Software_Updater" >"$OUT/updater.out" 2>&1 &
fi
app=$!
wait_for 240 "the updater's window" xdotool search --onlyvisible --name "^LC/LX Software Updater 3$" >/dev/null || finish
# Wine also has hidden windows of the same title.
WINDOW=$(xdotool search --onlyvisible --name "^LC/LX Software Updater 3$" | head -n 1)

case "$BASE" in
model-boot | cable-pulled)
  wait_for 60 "the LX40 in update mode found" logged "State: Boot Valid" || finish
  # The Update button is offered on the tick after the state is named.
  wait_for 30 "the Update button offered" bash -c "sed -n '/State: Boot Valid/,\$p' '$LOG' | grep -q 'State: Idle State'" || finish
  shot ready
  clickUpdate
  ;;
generic-boot)
  wait_for 60 "the generic boot loader found" logged "State: Boot Generic" || finish
  shot generic
  # The selector lists the models in the catalogue's order: LX40, LX60, ...
  if [ "$BASE" = "$ROAD" ]; then
    click 260 328
    sleep 2
    xdotool key --delay 400 Down Down Return
  else
    # Wine's pop-up menus get no keyboard without a window manager; the selector, which has the focus once
    # it is shown, steps to its first item with an arrow key, and the Update button then takes the focus.
    point 260 328
    xdotool key Down
  fi
  sleep 2
  shot chosen
  clickUpdate
  ;;
bad-firmware | lc20d-repair)
  wait_for 60 "the bad firmware found and erased" logged "State: Erased 4 Rpr." || finish
  shot erased
  alsa_state >"$OUT/alsa-at-erase.txt"
  if [ "$ROAD" = bad-firmware ]; then
    # 2 s after the erase, while the LX40 is still off the bus, the next amplifier is connected to the
    # second port; its broken boot shows as the 0x0022 generic loader, under the same port name as the
    # LX40's 0x4001 one. The repair must wait for the LX40's own loader at the LX40's own port.
    sleep 2
    "$BUILD/tools/lclx_gadget_amp" --key LC20 --mode generic --version 0 --udc dummy_udc.1 \
      --record "$OTHER_RECORD" >"$OUT/other-amplifier.out" 2>&1 &
    other_amp=$!
    wait_for 30 "the other amplifier's loader on the bus" recorded attach "$OTHER_RECORD" || finish
  fi
  ;;
esac

wait_for 30 "the update started" logged "State: Updating" || finish
if [ "$ROAD" = bad-firmware ]; then
  # Both loaders are there now, each at its own USB port.
  list_ports "$OUT/ports.txt"
  port_owned out "KW Amp Boot" "2a5a:4001 " || fail "the LX40's loader is not tied to its USB device"
  port_owned out "KW Amp Boot" "2a5a:0022 " || fail "the other loader is not tied to its USB device"
fi
if [ "$ROAD" = model-boot ]; then
  # Part-way through the image another USB-MIDI device and a program's virtual port come and go.
  wait_for 60 "60 messages of the image" recorded image:60 || finish
  stranger on
  aseqdump >/dev/null 2>&1 &
  others=$!
  wait_for 60 "the other device's port and the virtual port listed" others_listed
  shot others
  sleep 5
  stranger off
  kill $others
  say "the other device and the virtual port came and went"
  # The kernel's own names, tied to their USB devices.
  port_owned out "KW LX40 Boot" "2a5a:0044 " || fail "the amplifier's port is not tied to its USB device"
  port_owned out "USB Audio Device" "1209:0001 " || fail "the other device's port is not tied to its USB device"
  port_owned out aseqdump none || fail "the virtual port is tied to a USB device"
fi
sleep 10
shot updating
if [ "$ROAD" = cable-pulled ]; then
  wait_for 60 "the cable pulled" recorded detach || finish
  wait_for 30 "the run broken off" logged "Upd. terminated @: " || finish
  shot broken-off
  wait_for 30 "the amplifier plugged in again" recorded plugged-in-again || finish
  wait_for 30 "the amplifier back on the bus" recorded attach-after-replug
  sleep 10 # anything more of the old run would arrive now
  shot replugged
  states_after "Upd. btn prsd" | grep -q "^Updated!" && fail "the updater reported a broken-off run as updated"
else
  wait_for 200 "the update finished" logged "State: Updated!" || finish
  logged "Upd. terminated" && fail "the run was broken off"
  if [ "$BASE" != "$ROAD" ]; then
    wait_for 60 "the amplifier back in application mode" recorded attach-after-image
    sleep 2
    shot done
    finish
  fi
  # After the image's messages (in either boot mode), the amplifier comes back on the bus.
  wait_for 60 "the amplifier back in application mode" recorded attach-after-image
  wait_for 30 "the updater seeing it in application mode" bash -c "sed -n '/State: Updated!/,\$p' '$LOG' | grep -q 'State: App / Amp'"
  # Its ports may be listed a while after its USB identity; the updater asks for the version once they are.
  wait_for 30 "the amplifier answering the updater after the image" recorded reply-after-image
  sleep 2
  shot done
fi
if [ "$ROAD" = bad-firmware ] && [ "$(wc -l <"$OUT/late-ports.txt" 2>/dev/null || echo 0)" -lt 2 ]; then
  fail "the ports were not held back both in application mode and in the boot loader"
fi

finish
