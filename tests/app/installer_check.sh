#!/usr/bin/env bash
# The Windows installer under Wine, in a fresh prefix: installs silently with ordana-cli on the user's PATH,
# keeps the workbooks' own default program, checks the programs shipped (stripped, a version record each, the
# licence beside them), runs ordana-cli by name from a new console, starts the installed ordana.exe and works
# its windows (ordana-driver.exe), uninstalls silently and finds the prefix as it was, %TEMP% and the PATH
# included.
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

temp=$("$wine" winepath -u "$("$wine" cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')" 2>/dev/null)
[ -d "$temp" ] || fail "no %TEMP% folder ($temp)"
listing() { (cd "$1" && find . | LC_ALL=C sort); }
temp_before=$(listing "$temp")
path_before=$(reg query 'HKCU\Environment' /v Path || true)

"$wine" "$setup" /S /PATH=1
"$wineserver" -w
# Wine runs everything elevated: the installation is for all users.
scope=HKLM
dir=$("$wine" cmd /c 'echo %ProgramFiles%' 2>/dev/null | tr -d '\r')\\Ordana
for f in ordana.exe ordana-cli.exe uninstall.exe LICENTA.txt expat-COPYING.txt; do
    [ -f "$("$wine" winepath -u "$dir\\$f" 2>/dev/null)" ] || fail "$f not installed in $dir"
done
# Shipped stripped, each with its version record.
objdump=$(command -v x86_64-w64-mingw32-objdump || true)
for f in ordana.exe ordana-cli.exe; do
    unix=$("$wine" winepath -u "$dir\\$f" 2>/dev/null)
    if [ -n "$objdump" ] && "$objdump" -h "$unix" | grep -q '\.debug_'; then fail "$f ships debug sections"; fi
    record=$("$wine" "$driver" --version-of "$dir\\$f" 2>/dev/null | tr -d '\r')
    echo "$record" | grep -q "^OriginalFilename=" || fail "$f has no version record"
    echo "$record" | grep -q "^ProductName=Ordana$" || fail "$f: the version record names no product: $record"
done
"$wine" "$driver" --version-of "$dir\\ordana-cli.exe" 2>/dev/null | grep -q '^OriginalFilename=ordana-cli.exe' ||
    fail "ordana-cli.exe's version record names another program"
start=$("$wine" winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Ordana.lnk' 2>/dev/null)
[ -f "$start" ] || fail "no Start-menu entry"
uninstall='Software\Microsoft\Windows\CurrentVersion\Uninstall\Ordana'
reg query "$scope\\$uninstall" /v DisplayName | grep -q Ordana || fail "no entry in Apps and features"
reg query "$scope\\$uninstall" /v UninstallString | grep -q uninstall.exe || fail "no uninstaller registered"
reg query "$scope\\$uninstall" /v EstimatedSize | grep -q REG_DWORD || fail "no size in Apps and features"
for ext in .xls .xlsx .xlsm .ods; do
    reg query "$scope\\Software\\Classes\\$ext\\OpenWithProgids" | grep -q Ordana.Registru || fail "no Open with for $ext"
    reg query "$scope\\Software\\Classes\\Applications\\ordana.exe\\SupportedTypes" | grep -q -- "$ext" || fail "$ext not supported"
done
reg query 'HKCU\Software\Classes\.xls' /ve | grep -q Alt.Program || fail "the default program of .xls was taken over"

# ordana-cli by its name alone, from a new console: the user's PATH holds its folder.
reg query 'HKCU\Environment' /v Path | grep -qiF "$dir" || fail "the installation folder is not on the user's PATH"
version=$(sed -n 's/^project(Ordana VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
"$wine" cmd /c 'cd /d C:\ && ordana-cli --version' 2>/dev/null | tr -d '\r' | grep -qF "$version" ||
    fail "ordana-cli --version from a new console did not answer $version"
"$wineserver" -w

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
[ "$(reg query 'HKCU\Environment' /v Path || true)" = "$path_before" ] || fail "the user's PATH was not given back"
if reg query 'HKCU\Software\Ordana' >/dev/null 2>&1; then fail "the remembered choices left behind"; fi
temp_after=$(listing "$temp")
[ "$temp_after" = "$temp_before" ] ||
    fail "%TEMP% not as it was: $(diff <(echo "$temp_before") <(echo "$temp_after") | grep '^[<>]' | tr '\n' ' ')"
echo "installer_check: passed"
