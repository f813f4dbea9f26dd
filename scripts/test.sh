#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tests.
#   scripts/test.sh               the quick suite: build, unit and window tests
#   scripts/test.sh --sanitizers  also the unit tests under ASan+UBSan (build-asan) and TSan (build-tsan)
#   scripts/test.sh --all         the full suite: the quick one, both sanitizer builds, the fuzz targets, the
#                                 Windows build under Wine, both installers, and the roads through a real
#                                 kernel's USB-MIDI stack in QEMU
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

mode="${1:-}"
case "$mode" in
"" | --sanitizers | --all) ;;
*)
  echo "usage: scripts/test.sh [--sanitizers | --all]" >&2
  exit 2
  ;;
esac
[ "$mode" = --all ] && PACKAGES+=("${SLOW_TEST_PACKAGES[@]}")

# Every stage runs to its end, whatever became of the ones before, and says how it went and how long it took;
# the report at the end lists them all, and any failure makes the run fail.
report=()
failed=0
stage() { # $1: what, then the command
  local what="$1" start=$SECONDS verdict=PASS
  shift
  "$@" || verdict=FAIL
  [ $verdict = FAIL ] && failed=1
  report+=("$verdict $what: $((SECONDS - start)) s")
  echo "== $verdict $what: $((SECONDS - start)) s"
}

# What the unit tests run: all that a sanitizer build needs to build.
UNIT_TEST_TARGETS="updater_tests usb_probe_linux_tests sleep_inhibitor_tests lclx_image_packer
  replay_collector replay_image_walk replay_packer replay_replies"

install_missing_packages
stage "build" configure_and_build "$BUILD_DIR"
# The window tests take turns on the shared screen (ctest's x_screen lock); the rest run side by side.
stage "quick tests" ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"

if [ "$mode" = --sanitizers ] || [ "$mode" = --all ]; then
  for kind in address thread; do
    dir="$ROOT/build-asan"
    [ "$kind" = thread ] && dir="$ROOT/build-tsan"
    BUILD_TARGETS=$UNIT_TEST_TARGETS stage "$kind sanitizer build" configure_and_build "$dir" -DUPDATER_SANITIZE=$kind
    # The window tests and the benchmark say nothing more under a sanitizer; the unit tests do.
    # umockdev's preload library comes before the sanitizer runtime, which ASan must be told is fine.
    TSAN_OPTIONS="halt_on_error=1" ASAN_OPTIONS="detect_leaks=1:verify_asan_link_order=0" \
      LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp" \
      stage "$kind sanitizer tests" ctest --test-dir "$dir" --output-on-failure -L unit -j "$(nproc)"
  done
fi

if [ "$mode" = --all ]; then
  stage "fuzz build" scripts/fuzz.sh build
  stage "fuzzing" scripts/fuzz.sh run
  stage "Windows build and its tests under Wine" scripts/windows.sh
  stage "Debian package and Windows installer" scripts/package.sh
  stage "roads through a real kernel" scripts/kernel_roads.sh
fi

echo "== stages:"
printf '   %s\n' "${report[@]}"
exit $failed
