#!/usr/bin/env bash
# The updater against a real Linux kernel's USB-MIDI stack: each road boots Debian's own kernel in QEMU
# (software emulation) with this machine's root filesystem shared read-only, where the virtual amplifier sits
# on a USB gadget (dummy_hcd) that the same kernel enumerates as a USB-MIDI device, and the real updater runs
# in a virtual X server, clicked as a user would. Needs a build first, and for the wine-* roads scripts/windows.sh.
#   scripts/kernel_roads.sh [road ...]    default: every road; evidence in build/vm/<road>/
# A road spends most of its time waiting out the image's pauses, so two guests run side by side
# (LCLX_PARALLEL_ROADS, default 2); the judge only ever finds gaps too short, which a busy host cannot cause.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
PACKAGES+=(qemu-system-x86 busybox-static kmod cpio alsa-utils xvfb x11-utils xdotool imagemagick)
# The longest first, so that the two lanes end close together.
ROADS=(wine-model-boot generic-boot wine-generic-boot model-boot bad-firmware lc20d-repair bench cable-pulled)
PARALLEL=${LCLX_PARALLEL_ROADS:-2}
[ $# -gt 0 ] && ROADS=("$@")
VM_DIR="$BUILD_DIR/vm"
ROAD_TIMEOUT=480 # seconds; a road takes about three minutes

# Debian's own kernel: the package linux-image-amd64 depends on, unpacked into the build tree once.
fetch_kernel() {
  local package
  package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  KERNEL_VERSION="${package#linux-image-}"
  KERNEL_DIR="$VM_DIR/kernel-$KERNEL_VERSION"
  [ -f "$KERNEL_DIR/done" ] && return 0
  rm -rf "$KERNEL_DIR" && mkdir -p "$KERNEL_DIR"
  (cd "$VM_DIR" && apt-get download -qq "$package" 2>/dev/null)
  dpkg-deb -x "$VM_DIR/${package}_"*.deb "$KERNEL_DIR"
  rm -f "$VM_DIR/${package}_"*.deb
  depmod -b "$KERNEL_DIR" "$KERNEL_VERSION"
  touch "$KERNEL_DIR/done"
}

# A small first file system: busybox, the modules that reach the shared root (9p over virtio, overlay), and
# the init script.
make_initramfs() {
  local dir="$VM_DIR/initramfs" modules="$KERNEL_DIR/lib/modules/$KERNEL_VERSION"
  rm -rf "$dir" && mkdir -p "$dir"/{bin,modules,proc,sys,dev}
  cp /bin/busybox "$dir/bin/busybox"
  cp "$ROOT/scripts/vm/init" "$dir/init"
  chmod +x "$dir/init"
  : >"$dir/modules.order"
  for module in 9p overlay 9pnet_virtio virtio_pci; do
    modprobe -d "$KERNEL_DIR" -S "$KERNEL_VERSION" --show-depends "$module" | awk '$1 == "insmod" {print $2}'
  done | awk '!seen[$0]++' | while read -r path; do
    cp "$path" "$dir/modules/"
    basename "$path" >>"$dir/modules.order"
  done
  (cd "$dir" && find . | cpio -o -H newc --quiet | gzip -1) >"$VM_DIR/initramfs.cpio.gz"
}

run_road() {
  local road="$1" out="$VM_DIR/$1" start=$SECONDS
  rm -rf "$out" && mkdir -p "$out"
  if [[ "$road" == wine-* ]] && [ ! -f "$ROOT/build-win/tools/lclx_wine_road_updater.exe" ]; then
    echo "FAIL $road"$'\n'"  no build-win/tools/lclx_wine_road_updater.exe: run scripts/windows.sh first" |
      tee "$out/result"
    return 1
  fi
  timeout --kill-after=10 "$ROAD_TIMEOUT" qemu-system-x86_64 -accel tcg -m 3072 -smp 2 -nographic \
    -no-reboot -kernel "$KERNEL_DIR/boot/vmlinuz-$KERNEL_VERSION" -initrd "$VM_DIR/initramfs.cpio.gz" \
    -append "console=ttyS0 panic=-1 quiet lclx.root=$ROOT lclx.out=$out lclx.road=$road lclx.kernel=$KERNEL_DIR" \
    -fsdev local,id=root,path=/,security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=root,mount_tag=root \
    -fsdev local,id=out,path="$out",security_model=none,multidevs=remap \
    -device virtio-9p-pci,fsdev=out,mount_tag=out >"$out/console.txt" 2>&1 </dev/null
  if [ -f "$out/result" ]; then
    cat "$out/result"
  else
    echo "FAIL $road"
    echo "  the guest left no verdict (see $out/console.txt)"
  fi
  echo "  road time: $((SECONDS - start)) s"
  grep -q "^PASS" "$out/result" 2>/dev/null
}

install_missing_packages
mkdir -p "$VM_DIR"
fetch_kernel
make_initramfs
started=$SECONDS
for road in "${ROADS[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$PARALLEL" ]; do wait -n; done
  mkdir -p "$VM_DIR/$road"
  run_road "$road" >"$VM_DIR/$road.verdict" 2>&1 &
done
wait
failed=0
for road in "${ROADS[@]}"; do
  cat "$VM_DIR/$road.verdict"
  grep -q "^PASS" "$VM_DIR/$road/result" 2>/dev/null || failed=1
done
echo "all roads: $((SECONDS - started)) s, $PARALLEL at a time"
exit $failed
