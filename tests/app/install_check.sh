#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop needs to list and start Ordana.
# usage: install_check.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "install_check: $*" >&2; exit 1; }

[ -x "$prefix/bin/ordana" ] || fail "no executable bin/ordana"
desktop="$prefix/share/applications/ordana.desktop"
metainfo="$prefix/share/metainfo/ordana.metainfo.xml"
icon="$prefix/share/icons/hicolor/48x48/apps/ordana.png"
for f in "$desktop" "$metainfo" "$icon"; do [ -f "$f" ] || fail "missing ${f#"$prefix"/}"; done

expect_line() { grep -qxF -- "$2" "$1" || fail "$(basename "$1") lacks: $2"; }
expect_line "$desktop" "Name=Ordana"
expect_line "$desktop" "Comment=Ordana - evaluarea biodiversitatii"
expect_line "$desktop" "Exec=ordana"
expect_line "$desktop" "Icon=ordana"
expect_line "$desktop" "X-AppVersion=$version"
grep -qF "<name>Ordana</name>" "$metainfo" || fail "metainfo lacks the product name"
grep -qF "<summary>Ordana - evaluarea biodiversitatii</summary>" "$metainfo" || fail "metainfo lacks the comment"
grep -qF "<release version=\"$version\"" "$metainfo" || fail "metainfo lacks release $version"

# The icon is a 48 x 48 PNG: the size sits in the IHDR chunk, bytes 16 to 23.
[ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "icon is no PNG"
[ "$(od -An -tu1 -j16 -N8 "$icon" | tr -s ' ')" = " 0 0 0 48 0 0 0 48" ] || fail "icon is not 48 x 48"

# AppStream's own checker, where installed; warnings (a plain id rather than reverse DNS) are accepted.
if command -v appstreamcli >/dev/null; then
    out=$(appstreamcli validate --no-net "$metainfo" 2>&1 || true)
    if grep -q '^E:' <<<"$out"; then fail "appstreamcli: $out"; fi
fi
echo "install_check: 1 passed, 0 failed"
