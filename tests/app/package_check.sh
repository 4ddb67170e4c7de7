#!/usr/bin/env bash
# Makes the Debian package with CPack and checks it: its name, the dependencies dpkg-shlibdeps computed,
# every file a desktop needs at its place, nothing else, and lintian without an error.
# usage: package_check.sh BUILD_DIR VERSION DESKTOP_ID
set -euo pipefail
build=$1
version=$2
id=$3
fail() { echo "package_check: $*" >&2; exit 1; }

cmake --build "$build" --target ordana ordana-cli ordana_packaging_docs >/dev/null
(cd "$build" && cpack -G DEB >/dev/null) || fail "cpack failed"
deb="$build/ordana_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
names=$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }')
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libc6 libstdc++6 fonts-liberation; do
    grep -qxF "$lib" <<<"$names" || fail "Depends lacks $lib: $depends"
done

# The files, without the folders, exactly.
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | sort)
expected=$( {
    echo usr/bin/ordana
    echo usr/bin/ordana-cli
    echo "usr/share/applications/$id.desktop"
    echo "usr/share/metainfo/$id.metainfo.xml"
    for size in 16 22 24 32 48 64 128 256; do echo "usr/share/icons/hicolor/${size}x${size}/apps/$id.png"; done
    echo "usr/share/icons/hicolor/scalable/apps/$id.svg"
    echo usr/share/man/man1/ordana.1.gz
    echo usr/share/man/man1/ordana-cli.1.gz
    echo usr/share/doc/ordana/copyright
    echo usr/share/doc/ordana/changelog.gz
} | sort)
[ "$actual" = "$expected" ] || fail "contents differ:
$(diff <(echo "$expected") <(echo "$actual"))"

# Files owned by root, programs executable, the rest not.
dpkg-deb -c "$deb" | awk '$2 != "root/root" { bad = 1; print } END { exit bad }' || fail "files not owned by root"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ && $6 ~ /\/bin\// && $1 != "-rwxr-xr-x" { bad = 1; print } $1 !~ /^d/ && $6 !~ /\/bin\// && $1 != "-rw-r--r--" { bad = 1; print } END { exit bad }' ||
    fail "wrong permissions"

if command -v lintian >/dev/null; then
    report=$(lintian --tag-display-limit 0 "$deb" 2>&1 || true)
    echo "$report"
    if grep -q '^E:' <<<"$report"; then fail "lintian reports errors"; fi
fi
echo "package_check: 1 passed, 0 failed"
