#!/usr/bin/env bash
# Builds the Debian package of the Linux build into build/packages/ and tests it: lintian finds no error, and
# installed with dpkg into a throw-away root it holds exactly the expected files and removes cleanly.
# Where the Windows build is there (scripts/windows.sh), also its NSIS installer into build-win/packages/,
# tested under Wine with a fresh prefix: a silent install puts the program under Program Files with a
# Start-menu entry and an uninstaller, the installed program starts and shows its window, and the
# uninstaller removes all of it.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
PACKAGES+=(lintian)
WIN_DIR="${WIN_DIR:-$ROOT/build-win}"
WIN_EXE="$WIN_DIR/src/LCLX_Software_Updater.exe"
[ -f "$WIN_EXE" ] && PACKAGES+=(nsis wine64 xvfb xauth x11-utils xdotool imagemagick)

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
/usr/bin/lclx-update
/usr/share/applications/lclx-software-updater.desktop
/usr/share/doc/$name/changelog.gz
/usr/share/doc/$name/copyright
/usr/share/icons/hicolor/16x16/apps/lclx-software-updater.png
/usr/share/icons/hicolor/32x32/apps/lclx-software-updater.png
/usr/share/icons/hicolor/48x48/apps/lclx-software-updater.png"
installed=$(dpkg --root="$root" -L "$name" | while read -r f; do [ -f "$root$f" ] && echo "$f"; done | sort)
[ "$installed" = "$expected" ] || fail "installed files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$installed"))"
[ -x "$root/usr/bin/LCLX_Software_Updater" ] || fail "the program is not executable"
"$root/usr/bin/lclx-update" --help | grep -q "^Exit status:" || fail "the command line does not run"
dpkg --root="$root" --force-depends -r "$name" >/dev/null 2>&1 || fail "dpkg -r failed"
left=$( (find "$root/usr" -type f 2>/dev/null || true) | wc -l)
[ "$left" -eq 0 ] || fail "$left files left after removal"

[ "$failed" -eq 0 ] && echo "PASS: the Debian package installs exactly its files and removes cleanly"
[ -f "$WIN_EXE" ] || exit "$failed"

# The Windows installer.
settings="$WIN_DIR/packaging/installer-settings.nsh"
version=$(sed -n 's/^!define VERSION "\(.*\)"/\1/p' "$settings")
name=lclx-software-updater
grep -q "^!define PLACEHOLDER" "$settings" && name=lclx-software-updater-placeholder
setup="$WIN_DIR/packages/${name}_${version}_win64-setup.exe"
rm -rf "$WIN_DIR/packages" && mkdir -p "$WIN_DIR/packages"
makensis -V2 -DSETTINGS="$settings" -DOUTFILE="$setup" "$ROOT/resources/windows/installer.nsi" >/dev/null ||
  fail "makensis failed"
echo "Built $setup ($(stat -c %s "$setup") bytes)"

export WINEPREFIX="$WIN_DIR/wine-installer-prefix" WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
# One screen size for every start in a prefix: Wine keeps the first one it saw.
WINE_SCREEN="-screen 0 1024x768x24"
rm -rf "$WINEPREFIX"
folder="LCLX Software Updater"
dir="$WINEPREFIX/drive_c/Program Files/$folder"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$folder"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\LCLX_Software_Updater'
xvfb-run -a -s "$WINE_SCREEN" "$WINE" "$setup" /S || fail "the silent install failed"
[ -f "$dir/LCLX_Software_Updater.exe" ] || fail "no program under Program Files"
[ -f "$dir/Uninstall.exe" ] || fail "no uninstaller"
# The command line runs as a console program: with no amplifier it says so and ends with its own code.
code=0
timeout 120 xvfb-run -a -s "$WINE_SCREEN" "$WINE" "$dir/lclx-update.exe" update --wait 1 >/dev/null 2>&1 || code=$?
[ "$code" -eq 3 ] || fail "the installed command line ended with $code, not 3 (no amplifier)"
[ -f "$menu/$folder.lnk" ] || fail "no Start-menu entry"
"$WINE" reg query "$key" /v UninstallString 2>/dev/null | grep -q "Uninstall.exe" ||
  fail "not listed with the installed programs"
xvfb-run -a -s "$WINE_SCREEN" "$ROOT/scripts/wine-window.sh" "$dir/LCLX_Software_Updater.exe" ||
  fail "the installed program did not start and end cleanly"
# The uninstaller copies itself away and runs from there, so the folder's going is what tells it is done.
xvfb-run -a -s "$WINE_SCREEN" "$WINE" "$dir/Uninstall.exe" /S || fail "the silent uninstall failed"
for _ in $(seq 1 150); do
  [ -e "$dir" ] || break
  sleep 0.2
done
[ -e "$dir" ] && fail "left under Program Files: $(ls "$dir")"
[ -e "$menu" ] && fail "the Start-menu entry is left"
"$WINE" reg query "$key" >/dev/null 2>&1 && fail "still listed with the installed programs"
"$WINE" wineserver -k 2>/dev/null || true

[ "$failed" -eq 0 ] && echo "PASS: the Windows installer installs silently, the program starts, and it uninstalls cleanly"
exit "$failed"
