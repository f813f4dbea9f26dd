#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. With --sanitizers it also builds and runs the tests
# with AddressSanitizer and UndefinedBehaviorSanitizer, and with ThreadSanitizer (in build-asan, build-tsan).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_missing_packages
configure_and_build "$BUILD_DIR"
ctest --test-dir "$BUILD_DIR" --output-on-failure

if [ "${1:-}" = "--sanitizers" ]; then
  for kind in address thread; do
    dir="$ROOT/build-asan"
    [ "$kind" = thread ] && dir="$ROOT/build-tsan"
    configure_and_build "$dir" -DUPDATER_SANITIZE=$kind
    # The window test and the benchmark say nothing more under a sanitizer; the unit tests do.
    # umockdev's preload library comes before the sanitizer runtime, which ASan must be told is fine.
    TSAN_OPTIONS="halt_on_error=1" ASAN_OPTIONS="detect_leaks=1:verify_asan_link_order=0" \
      ctest --test-dir "$dir" --output-on-failure -E "app_window|stream_benchmark"
  done
fi
