#!/usr/bin/env bash
# Builds the Debian package of the Linux build into build/packages/ and tests it: lintian finds no error, and
# installed with dpkg into a throw-away root it holds exactly the expected files and removes cleanly.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
PACKAGES+=(lintian)

install_missing_packages
configure_and_build "$BUILD_DIR"
rm -rf "$BUILD_DIR/packages"
(cd "$BUILD_DIR" && cpack -B packages >/dev/null 2>&1)
deb=$(ls "$BUILD_DIR"/packages/*.deb)
name=$(dpkg-deb -f "$deb" Package)
echo "Built $deb ($(stat -c %s "$deb") bytes)"

failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

report=$(lintian "$deb" 2>&1 | grep -v "running with root privileges" || true)
[ -n "$report" ] && echo "$report"
if grep -q "^E: " <<<"$report"; then fail "lintian reports errors"; fi
# A build with placeholder firmware says so in the package's name, file name and description.
if grep -q "placeholder" "$BUILD_DIR/CPackConfig.cmake"; then
  [[ "$name" == *placeholder* && "$(basename "$deb")" == *placeholder* ]] || fail "the name does not say placeholder"
  description=$(dpkg-deb -f "$deb" Description)
  [[ "$description" == *"PLACEHOLDER FIRMWARE"* ]] || fail "the description does not say placeholder"
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The throw-away root has none of the libraries the package depends on; the files are what is checked.
dpkg --root="$root" --force-depends --force-not-root -i "$deb" >/dev/null 2>&1 || fail "dpkg -i failed"
expected="/usr/bin/LCLX_Software_Updater
/usr/share/applications/lclx-software-updater.desktop
/usr/share/doc/$name/changelog.gz
/usr/share/doc/$name/copyright
/usr/share/icons/hicolor/16x16/apps/lclx-software-updater.png
/usr/share/icons/hicolor/32x32/apps/lclx-software-updater.png
/usr/share/icons/hicolor/48x48/apps/lclx-software-updater.png"
installed=$(dpkg --root="$root" -L "$name" | while read -r f; do [ -f "$root$f" ] && echo "$f"; done | sort)
[ "$installed" = "$expected" ] || fail "installed files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$installed"))"
[ -x "$root/usr/bin/LCLX_Software_Updater" ] || fail "the program is not executable"
dpkg --root="$root" --force-depends -r "$name" >/dev/null 2>&1 || fail "dpkg -r failed"
left=$( (find "$root/usr" -type f 2>/dev/null || true) | wc -l)
[ "$left" -eq 0 ] || fail "$left files left after removal"

[ "$failed" -eq 0 ] && echo "PASS: the Debian package installs exactly its files and removes cleanly"
exit "$failed"
