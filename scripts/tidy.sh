#!/usr/bin/env bash
# clang-tidy (Debian's clang-tidy-14) with the checks of .clang-tidy over the project's own sources, from the
# compile database of a configured build folder (default build/). Fails on any finding.
#   scripts/tidy.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/compile_commands.json" ] || { echo "tidy: configure $build first" >&2; exit 1; }
run-clang-tidy-14 -quiet -j 2 -p "$build" "$PWD/(src|tests|fuzz|bench)/" >"$build/tidy.log" 2>&1 || {
    grep -E "(warning|error):" "$build/tidy.log" | sort -u >&2
    echo "tidy: findings above (full output in $build/tidy.log)" >&2
    exit 1
}
echo "tidy: clean"
