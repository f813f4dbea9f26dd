# Shared by run.sh and test.sh: installs what is missing from Debian's archive, then configures and builds.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"

PACKAGES=(
  build-essential cmake ninja-build pkg-config patch
  juce-modules-source libpng-dev libjpeg-dev zlib1g-dev libfreetype-dev libfontconfig1-dev
  libasound2-dev libudev-dev umockdev libumockdev-dev libsystemd-dev dbus-daemon python3-dbusmock
  googletest libgtest-dev
  xvfb xauth x11-utils xdotool imagemagick fonts-dejavu-core openbox
)
# What only the full suite needs: clang with libFuzzer for the fuzz targets.
SLOW_TEST_PACKAGES=(clang libclang-rt-14-dev libfuzzer-14-dev)

install_missing_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# $1: build folder, further arguments go to cmake's configuration. BUILD_TARGETS, when set, names the only
# targets to build (a build whose tests need no more).
configure_and_build() {
  local dir="$1"
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  fi
  # shellcheck disable=SC2086 # the targets are words
  cmake --build "$dir" --parallel "$(nproc)" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
}
