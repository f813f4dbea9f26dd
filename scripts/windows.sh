#!/usr/bin/env bash
# Cross-builds the Windows executable and its unit tests with MinGW-w64 into build-win/, after the Linux build
# (whose image packer makes the firmware images), then tests them under Wine in a virtual X server with a
# fresh prefix: the unit tests, and the program's window, log file and clean end (scripts/wine-window.sh).
# zlib, libpng and libjpeg come from Debian's own source packages, built for Windows once and cached in
# build-win/deps/.
#   scripts/windows.sh [--build-only]
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
PACKAGES+=(g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64 dpkg-dev wine64 xvfb xauth
  x11-utils xdotool imagemagick)
WIN_DIR="${WIN_DIR:-$ROOT/build-win}"
DEPS="$WIN_DIR/deps"
TOOLCHAIN="$ROOT/cmake/mingw-w64-x86_64.cmake"

# Debian's source packages come from the same archive as its binaries; a deb-src entry is added if missing.
add_source_entry() {
  grep -rqs "^Types: deb-src\|^deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo tee /etc/apt/sources.list.d/lclx-deb-src.sources >/dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  $sudo apt-get update -qq
}

# $1: source package, $2: the folder its sources unpack to (a glob), further: cmake options.
build_dependency() {
  local package="$1" pattern="$2"
  shift 2
  [ -f "$DEPS/done-$package" ] && return 0
  mkdir -p "$DEPS/src"
  local dir
  dir=$(ls -d "$DEPS"/src/$pattern 2>/dev/null | head -n 1 || true)
  if [ -z "$dir" ]; then
    (cd "$DEPS/src" && apt-get source -qq --download-only "$package" && dpkg-source -x ./${package}_*.dsc >/dev/null)
    dir=$(ls -d "$DEPS"/src/$pattern | head -n 1)
  fi
  cmake -S "$dir" -B "$DEPS/build-$package" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_INSTALL_PREFIX="$DEPS/prefix" \
    -DCMAKE_PREFIX_PATH="$DEPS/prefix" -DCMAKE_FIND_ROOT_PATH="$DEPS/prefix" "$@" >/dev/null
  if [ "$package" = zlib ]; then
    # Debian's zlib sources lack the Windows resource script of the shared library: the static one alone.
    cmake --build "$DEPS/build-$package" --parallel "$(nproc)" --target zlibstatic >/dev/null
    mkdir -p "$DEPS/prefix/lib" "$DEPS/prefix/include"
    cp "$DEPS/build-$package/libzlibstatic.a" "$DEPS/prefix/lib/libz.a"
    cp "$dir/zlib.h" "$DEPS/build-$package/zconf.h" "$DEPS/prefix/include/"
  else
    cmake --build "$DEPS/build-$package" --parallel "$(nproc)" >/dev/null
    cmake --install "$DEPS/build-$package" >/dev/null
  fi
  # The framework's JPEG reader wants the library's internal header too, as Debian's libjpeg-dev has it.
  # Its C++ side reads the library's headers inside a namespace of its own after <windows.h>, whose boolean is
  # then outside that namespace: in C++ the configuration header declares the same type where it is read.
  if [ "$package" = libjpeg-turbo ]; then
    cp "$dir/jpegint.h" "$DEPS/prefix/include/"
    sed -i 's|^#ifndef __RPCNDR_H__ .*|#if !defined(__RPCNDR_H__) \|\| defined(__cplusplus)|' "$DEPS/prefix/include/jconfig.h"
  fi
  touch "$DEPS/done-$package"
}

install_missing_packages
add_source_entry
build_dependency zlib "zlib-*/"
build_dependency libpng1.6 "libpng1.6-*/" -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
build_dependency libjpeg-turbo "libjpeg-turbo-*/" -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF

if [ ! -f "$WIN_DIR/build.ninja" ]; then
  cmake -S "$ROOT" -B "$WIN_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_FIND_ROOT_PATH="$DEPS/prefix" -DCMAKE_PREFIX_PATH="$DEPS/prefix" \
    -DJUCE_DIR=/usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5 -DUPDATER_HOST_PACKER="$BUILD_DIR/tools/lclx_image_packer"
fi
cmake --build "$WIN_DIR" --parallel "$(nproc)" --target lclx_software_updater lclx_update lclx_wine_road_updater updater_tests \
  lclx_image_packer
[ "${1:-}" = --build-only ] && exit 0

export WINEPREFIX="$WIN_DIR/wine-prefix" WINEDEBUG=-all
# One screen size for every start in a prefix: Wine keeps the first one it saw.
WINE_SCREEN="-screen 0 1024x768x24"
rm -rf "$WINEPREFIX"
start=$SECONDS
# Bounded, so that a hang under Wine fails the run instead of stalling it.
unit_log="$WIN_DIR/unit-tests-under-wine.txt"
timeout --kill-after=10 1500 xvfb-run -a -s "$WINE_SCREEN" /usr/lib/wine/wine64 "$WIN_DIR/tests/updater_tests.exe" \
  --gtest_brief=1 2>&1 | tee "$unit_log"
echo "== unit tests under Wine: $((SECONDS - start)) s"
# A skipped test is no passed one: the count is said, and a run that skipped everything fails.
ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran.*/\1/p' "$unit_log" | tail -n 1)
skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?.*/\1/p' "$unit_log" | tail -n 1)
echo "== under Wine: ${ran:-0} tests ran, ${skipped:-0} of them skipped"
if [ "${ran:-0}" -eq 0 ] || [ "${skipped:-0}" -ge "${ran:-0}" ]; then
  echo "FAIL: no unit test ran under Wine"
  exit 1
fi
# The command line is a console program: with no amplifier, `list` says so and ends with its own code.
failed=0 code=0
# Wine needs an X display for the hidden window that carries the message loop, as the unit tests do.
timeout --kill-after=10 120 xvfb-run -a -s "$WINE_SCREEN" /usr/lib/wine/wine64 "$WIN_DIR/src/lclx-update.exe" list || code=$?
if [ "$code" -eq 3 ]; then
  echo "PASS: lclx-update.exe under Wine finds no amplifier and ends with 3"
else
  echo "FAIL: lclx-update.exe list under Wine ended with $code, not 3 (no amplifier)"
  failed=1
fi
timeout --kill-after=10 600 xvfb-run -a -s "$WINE_SCREEN" "$ROOT/scripts/wine-window.sh" \
  "$WIN_DIR/src/LCLX_Software_Updater.exe" "$WIN_DIR/wine-window.png"
exit "$failed"
