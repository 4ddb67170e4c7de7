#!/usr/bin/env bash
# The Windows installer under Wine, in a fresh prefix: installs silently, keeps the workbooks' own default
# program, starts the installed ordana.exe and works its windows (ordana-driver.exe), uninstalls silently
# and finds nothing of Ordana left.
# usage: installer_check.sh SETUP_EXE DRIVER_EXE OUTDIR
set -euo pipefail
setup=$(realpath "$1")
driver=$(realpath "$2")
out=$(realpath -m "$3")
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
[ -x "$wine" ] || { echo "installer_check: wine64 is not installed" >&2; exit 1; }
scratch=$(mktemp -d)
trap '"$wineserver" -k 2>/dev/null; rm -rf "$scratch"' EXIT
export WINEPREFIX=$scratch/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
fail() { echo "installer_check: $*" >&2; exit 1; }
reg() { "$wine" reg "$@" 2>/dev/null | tr -d '\r'; }
winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

"$wine" wineboot -i >/dev/null 2>&1
"$wineserver" -w
# Another program's association, which the installer must leave alone.
"$wine" reg add 'HKCU\Software\Classes\.xls' /ve /d Alt.Program /f >/dev/null 2>&1

"$wine" "$setup" /S
"$wineserver" -w
# Wine runs everything elevated: the installation is for all users.
scope=HKLM
dir=$("$wine" cmd /c 'echo %ProgramFiles%' 2>/dev/null | tr -d '\r')\\Ordana
for f in ordana.exe ordana-cli.exe uninstall.exe; do
    [ -f "$("$wine" winepath -u "$dir\\$f" 2>/dev/null)" ] || fail "$f not installed in $dir"
done
start=$("$wine" winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Ordana.lnk' 2>/dev/null)
[ -f "$start" ] || fail "no Start-menu entry"
uninstall='Software\Microsoft\Windows\CurrentVersion\Uninstall\Ordana'
reg query "$scope\\$uninstall" /v DisplayName | grep -q Ordana || fail "no entry in Apps and features"
reg query "$scope\\$uninstall" /v UninstallString | grep -q uninstall.exe || fail "no uninstaller registered"
for ext in .xls .xlsx .xlsm .ods; do
    reg query "$scope\\Software\\Classes\\$ext\\OpenWithProgids" | grep -q Ordana.Registru || fail "no Open with for $ext"
    reg query "$scope\\Software\\Classes\\Applications\\ordana.exe\\SupportedTypes" | grep -q -- "$ext" || fail "$ext not supported"
done
reg query 'HKCU\Software\Classes\.xls' /ve | grep -q Alt.Program || fail "the default program of .xls was taken over"

# The installed program, worked by its controls.
# As on a desktop, under a window manager: without one the first window of a fresh prefix never shows here.
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    openbox --sm-disable 2>/dev/null &
    sleep 1
    exec timeout 240 "$0" "$@"' "$wine" "$driver" "$dir\\ordana.exe" "$(winpath "$out")" ||
    fail "the installed ordana.exe did not work"
"$wineserver" -w

"$wine" "$dir\\uninstall.exe" /S
"$wineserver" -w
sleep 2
"$wineserver" -w
[ ! -e "$("$wine" winepath -u "$dir" 2>/dev/null)" ] || fail "$dir left behind"
[ ! -e "$start" ] || fail "the Start-menu entry left behind"
for key in "$uninstall" 'Software\Classes\Applications\ordana.exe' 'Software\Classes\Ordana.Registru' \
           'Software\Classes\.ods' 'Software\Classes\.xlsm'; do
    if reg query "$scope\\$key" >/dev/null 2>&1; then fail "$scope\\$key left behind"; fi
done
reg query 'HKCU\Software\Classes\.xls' /ve | grep -q Alt.Program || fail "the default program of .xls was lost"
echo "installer_check: passed"
