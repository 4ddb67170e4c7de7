#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop needs to list and start Ordana, with the
# desktop's own checkers (desktop-file-validate, appstreamcli).
# usage: install_check.sh BUILD_DIR VERSION DESKTOP_ID
set -euo pipefail
build=$1
version=$2
id=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "install_check: $*" >&2; exit 1; }

for program in ordana ordana-cli; do [ -x "$prefix/bin/$program" ] || fail "no executable bin/$program"; done
desktop="$prefix/share/applications/$id.desktop"
metainfo="$prefix/share/metainfo/$id.metainfo.xml"
for f in "$desktop" "$metainfo" "$prefix/share/icons/hicolor/scalable/apps/$id.svg" \
         "$prefix/share/man/man1/ordana.1.gz" "$prefix/share/man/man1/ordana-cli.1.gz"; do
    [ -f "$f" ] || fail "missing ${f#"$prefix"/}"
done

expect_line() { grep -qxF -- "$2" "$1" || fail "$(basename "$1") lacks: $2"; }
expect_line "$desktop" "Name=Ordana"
expect_line "$desktop" "Comment=Ordana - evaluarea biodiversitatii"
expect_line "$desktop" "Exec=ordana %f"
grep -q "^MimeType=.*application/vnd.oasis.opendocument.spreadsheet;" "$desktop" || fail "no workbook types for Open with"
expect_line "$desktop" "Icon=$id"
expect_line "$desktop" "X-AppVersion=$version"
grep -qF "<name>Ordana</name>" "$metainfo" || fail "metainfo lacks the product name"
grep -qF "<summary>Ordana - evaluarea biodiversitatii</summary>" "$metainfo" || fail "metainfo lacks the comment"
grep -qF "<release version=\"$version\"" "$metainfo" || fail "metainfo lacks release $version"

# Each icon is a PNG of the size its folder names: the size sits in the IHDR chunk, bytes 16 to 23.
for size in 16 22 24 32 48 64 128 256; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
    [ -f "$icon" ] || fail "missing the $size icon"
    [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$size icon is no PNG"
    [ "$(od -An -tu4 --endian=big -j16 -N8 "$icon" | tr -s ' ')" = " $size $size" ] || fail "icon not $size x $size"
done

desktop-file-validate "$desktop" || fail "desktop-file-validate refuses the desktop entry"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli refuses the metainfo"
for page in ordana ordana-cli; do LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null | grep . && fail "the manual page of $page has faults"; done
echo "install_check: 1 passed, 0 failed"
