#!/usr/bin/env bash
# Shows that a change left the engines' output alone: two ordana-cli builds each run the whole job on their
# own copy of every workbook given (folders are searched), and every saved file, exit code and printed line
# must be the same.
#   scripts/compare-saves.sh OLD_CLI NEW_CLI [WORKBOOK_OR_FOLDER...]   (default: tests/fixtures)
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 OLD_CLI NEW_CLI [WORKBOOK_OR_FOLDER...]" >&2; exit 2; }
old=$(realpath "$1")
new=$(realpath "$2")
shift 2
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || set -- tests/fixtures

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mapfile -d '' books < <(find "$@" -type f \( -iname '*.xls' -o -iname '*.xlsx' -o -iname '*.xlsm' \
                                             -o -iname '*.ods' \) -print0 | sort -z)
same=0
differ=0
for book in "${books[@]}"; do
    name=$(basename "$book")
    for side in old new; do
        mkdir -p "$scratch/$side"
        cp "$book" "$scratch/$side/$name"
        cli=$old
        [ $side = new ] && cli=$new
        # Run from the copy's folder, so both sides print the same names.
        code=0
        (cd "$scratch/$side" && timeout 60 "$cli" --json "$name") >"$scratch/$side.out" 2>&1 || code=$?
        echo "exit $code" >>"$scratch/$side.out"
    done
    if cmp -s "$scratch/old/$name" "$scratch/new/$name" && cmp -s "$scratch/old.out" "$scratch/new.out"; then
        same=$((same + 1))
    else
        differ=$((differ + 1))
        echo "differs: $book"
        diff "$scratch/old.out" "$scratch/new.out" | head -5 || true
    fi
    rm -f "$scratch/old/$name" "$scratch/new/$name"
done
echo "compare-saves: ${#books[@]} workbooks, $same the same, $differ different"
[ "$differ" -eq 0 ]
