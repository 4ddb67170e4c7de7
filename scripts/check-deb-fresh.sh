#!/usr/bin/env bash
# Installs the Debian package on a Debian 12 that never built Ordana (a debootstrap root, as root) and checks
# what a user would meet: apt pulls every library both programs need, ordana-cli runs a job on a workbook and
# has its manual page, the desktop entry, metainfo and icons sit where a desktop looks, the menu's command
# opens the main window on a virtual screen, and purging leaves none of the package's files behind.
#   scripts/check-deb-fresh.sh [DEB] [OUTDIR]
# DEB defaults to build/ordana_<version>_amd64.deb (from `scripts/ordana.sh package`); OUTDIR, default
# build/deb-fresh, receives the install log, the screenshot of the main window (main-window.png) and the
# report. Needs deb.debian.org. The bare system is made once by debootstrap into ORDANA_FRESH_BASE (default
# /tmp/deb-fresh) and copied for each run, so the base itself stays untouched.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(Ordana VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
arch=$(dpkg --print-architecture)
deb=$(realpath "${1:-$here/build/ordana_${version}_${arch}.deb}")
out=$(realpath -m "${2:-$here/build/deb-fresh}")
base=${ORDANA_FRESH_BASE:-/tmp/deb-fresh}
mirror=http://deb.debian.org/debian

[ "$(id -u)" -eq 0 ] || { echo "check-deb-fresh: needs root (debootstrap, chroot, mount)" >&2; exit 2; }
[ -f "$deb" ] || { echo "check-deb-fresh: no package $deb; make it with scripts/ordana.sh package" >&2; exit 2; }
for tool in debootstrap:debootstrap convert:imagemagick; do
    command -v "${tool%%:*}" >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${tool#*:}"
done
mkdir -p "$out"
rm -f "$out"/*.log "$out"/*.png "$out"/report.txt

if [ ! -x "$base/usr/bin/apt-get" ]; then
    rm -rf "$base"
    debootstrap --variant=minbase bookworm "$base" "$mirror" >"$out/debootstrap.log"
fi

root=$(mktemp -d /tmp/deb-fresh.XXXXXX)
mounted=()
cleanup() {
    local m
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}" || umount -l "${mounted[i]}" || true; done
    # Never delete through a mount that is still there (the host's /dev or /sys).
    if findmnt -rn -o TARGET | grep -q "^$root/"; then
        echo "check-deb-fresh: $root still has mounts; left in place" >&2
    else
        rm -rf "$root"
    fi
}
trap cleanup EXIT
cp -a "$base/." "$root/"
for m in proc sys dev dev/pts; do
    case $m in
    proc) mount -t proc proc "$root/proc" ;;
    sys) mount -t sysfs sys "$root/sys" ;;
    dev) mount --bind /dev "$root/dev" ;;
    dev/pts) mount -t devpts devpts "$root/dev/pts" ;;
    esac
    mounted+=("$root/$m")
done
cp /etc/resolv.conf "$root/etc/resolv.conf"
# A Debian 12 as the installer leaves it: the point releases and the security updates too.
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
cp "$deb" "$root/tmp/ordana.deb"
cp "$here/tests/fixtures/basic-libreoffice.xls" "$root/tmp/inventar.xls"

in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }
failures=0
report() { echo "$*" | tee -a "$out/report.txt"; }
fail() { report "FAIL: $*"; failures=$((failures + 1)); }

in_root apt-get update -q >"$out/apt-update.log"
in_root dpkg-query -W -f='${Package}\n' | sort >"$out/packages-before.txt"
in_root apt-get install -y -q /tmp/ordana.deb >"$out/apt-install.log" 2>&1 || {
    cat "$out/apt-install.log"
    fail "apt-get install of the package"
    exit 1
}
in_root dpkg-query -W -f='${Package}\n' | sort >"$out/packages-after.txt"
pulled=$(comm -13 "$out/packages-before.txt" "$out/packages-after.txt" | grep -vx ordana | wc -l)
report "apt pulled $pulled packages: $(grep -o 'Need to get .* of archives' "$out/apt-install.log" | head -1);" \
    "$(grep -o '[0-9.,]* [kMG]B of additional disk space' "$out/apt-install.log" | head -1)"
in_root dpkg-query -W -f='Installed-Size: ${Installed-Size} kB\n' ordana | tee -a "$out/report.txt"

for program in ordana ordana-cli; do
    missing=$(in_root ldd "/usr/bin/$program" | grep 'not found' || true)
    [ -z "$missing" ] || fail "$program lacks libraries: $missing"
done

# The path box asks for Arial; fontconfig gives its metric twin only if that is installed.
arial=$(in_root fc-match -f '%{family}' Arial 2>&1 || true)
grep -q 'Liberation Sans' <<<"$arial" || fail "Arial is drawn as $arial, not Liberation Sans"

# A user's own account, as on a desktop: nothing runs as root from here on.
in_root useradd -m -s /bin/bash ana
as_ana() { chroot --userspec=ana:ana "$root" env -i HOME=/home/ana USER=ana PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }

as_ana ordana-cli --help >"$out/cli-help.log" 2>&1 || fail "ordana-cli --help exits $?"
grep -q '^Utilizare: ordana-cli' "$out/cli-help.log" || fail "ordana-cli --help prints no usage"
as_ana ordana-cli --version | tee -a "$out/report.txt" || fail "ordana-cli --version"

# The job, end to end, on the user's copy of a workbook: the table lands in the file, the second run finds it.
in_root install -o ana -g ana -m 644 /tmp/inventar.xls /home/ana/inventar.xls
before=$(sha256sum <"$root/home/ana/inventar.xls")
as_ana ordana-cli /home/ana/inventar.xls >"$out/cli-job.log" 2>&1 || fail "ordana-cli on a workbook exits $?"
[ "$(sha256sum <"$root/home/ana/inventar.xls")" != "$before" ] || fail "ordana-cli left the workbook unchanged"
grep -aq 'Valoare' "$root/home/ana/inventar.xls" || fail "the saved workbook holds no results table"
as_ana ordana-cli --json --dry-run /home/ana/inventar.xls >"$out/cli-json.log" 2>&1 ||
    fail "ordana-cli cannot read back the workbook it saved"
grep -q '"speciesRichness":4' "$out/cli-json.log" || fail "the saved workbook reads back wrong: $(cat "$out/cli-json.log")"

# Where a desktop looks for the menu entry, the software centre's data and the icons.
id=$(dpkg-deb -c "$deb" | sed -n 's|.*/usr/share/applications/\(.*\)\.desktop$|\1|p')
[ -n "$id" ] || fail "the package holds no desktop entry"
for f in "usr/share/applications/$id.desktop" "usr/share/metainfo/$id.metainfo.xml" \
         "usr/share/icons/hicolor/48x48/apps/$id.png" "usr/share/icons/hicolor/scalable/apps/$id.svg" \
         usr/share/man/man1/ordana.1.gz usr/share/man/man1/ordana-cli.1.gz usr/share/doc/ordana/copyright; do
    [ -f "$root/$f" ] || fail "missing /$f"
done

# Tools of the check only, installed after the package so that they cannot stand in for its dependencies.
in_root apt-get install -y -q --no-install-recommends man-db xvfb xauth openbox >"$out/apt-tools.log" 2>&1 ||
    fail "installing the check's tools"
as_ana env MANPAGER=cat MANWIDTH=80 man ordana-cli >"$out/man-ordana-cli.log" 2>&1 || fail "man ordana-cli exits $?"
grep -q 'ordana-cli' "$out/man-ordana-cli.log" || fail "man ordana-cli shows no page"

# The menu's command, as the desktop would run it (field codes dropped), on a 1024x768 screen under openbox.
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/$id.desktop" | sed 's/ %[fFuUdDnNickvm]//g')
report "Exec=$exec_line"
mkdir -p "$root/tmp/fb"
chmod 1777 "$root/tmp/fb"
as_ana timeout 60 xvfb-run -a -s "-screen 0 1024x768x24 -fbdir /tmp/fb" sh -c '
    openbox --sm-disable >/dev/null 2>&1 &
    sleep 1
    '"$exec_line"' >/tmp/fb/app.log 2>&1 &
    app=$!
    sleep 6
    if kill -0 $app 2>/dev/null; then cp /tmp/fb/Xvfb_screen0 /tmp/fb/shot.xwd; kill $app; else echo exited >>/tmp/fb/app.log; fi
' || fail "xvfb-run exits $?"
cp "$root/tmp/fb/app.log" "$out/gui.log" 2>/dev/null || true
if [ -s "$root/tmp/fb/shot.xwd" ]; then
    convert "xwd:$root/tmp/fb/shot.xwd" "$out/main-window.png"
    colours=$(convert "$out/main-window.png" -format %k info:)
    [ "$colours" -gt 16 ] || fail "the screen holds $colours colours: no window drawn"
    report "screenshot: $out/main-window.png ($colours colours)"
else
    fail "the main window did not stay open: $(cat "$out/gui.log")"
fi
if grep -qi 'could not\|cannot\|failed\|missing' "$out/gui.log"; then fail "Qt complains: $(cat "$out/gui.log")"; fi

# Purging leaves none of the package's files, and nothing under its own folders.
in_root dpkg-query -L ordana | sort >"$out/package-files.txt"
in_root apt-get remove -y -q --purge ordana >"$out/apt-purge.log" 2>&1 || fail "apt-get remove --purge ordana"
state=$(in_root dpkg-query -W -f='${db:Status-Status}' ordana 2>/dev/null || true)
[ -z "$state" ] || [ "$state" = not-installed ] || fail "ordana is still $state"
while read -r f; do
    [ -f "$root$f" ] || [ -L "$root$f" ] && fail "purge left $f"
done <"$out/package-files.txt"
for d in usr/share/doc/ordana; do [ ! -e "$root/$d" ] || fail "purge left /$d"; done

report "check-deb-fresh: $failures failures"
[ "$failures" -eq 0 ]
