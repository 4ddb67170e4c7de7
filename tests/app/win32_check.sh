#!/usr/bin/env bash
# The native ordana.exe under Wine on a virtual screen (Xvfb, 1024 x 768, openbox for the frames), driven by
# its controls from ordana-driver.exe at 100 % and at 200 %; the pictures of each window stay in OUTDIR/100
# and OUTDIR/200 for a person to look at. With workbooks, the whole job runs on a copy of each (at 100 %)
# and the table is looked for in the file; the first is also run with Alt+E (the estimates table and the report
# beside it), and copied to a path of over 300 characters and chosen there through the dialog twice, typed
# whole and reached folder by folder.
# usage: win32_check.sh ORDANA_EXE DRIVER_EXE OUTDIR [WORKBOOK...]
set -euo pipefail
exe=$(realpath "$1")
driver=$(realpath "$2")
out=$(realpath -m "$3")
shift 3
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || { echo "win32_check: wine64 is not installed" >&2; exit 1; }
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

export WINEPREFIX=${WINEPREFIX:-$(mktemp -d)/wine} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's own name for a Unix path.
winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

if [ "${ORDANA_WIN32_INNER:-}" = 1 ]; then
    # On the virtual screen: DPI SHOTS [WORKBOOK [--navigate|--estimates]]
    dpi=$1 shots=$2
    openbox --sm-disable 2>/dev/null &
    sleep 1
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    # The report the window opens: .html is the browser's (Wine registers it only with Gecko), and the browser
    # is one that writes down what it was given, in SHOTS/opened.txt, not one of this machine's.
    mkdir -p "$shots"
    printf '#!/bin/sh\necho "$@" >> "%s/opened.txt"\n' "$shots" >"$shots/browser.sh"
    chmod +x "$shots/browser.sh"
    "$wine" reg add 'HKLM\Software\Classes\.html' /ve /d htmlfile /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ /d "$shots/browser.sh" /f >/dev/null 2>&1
    "$wineserver" -w
    args=("$(winpath "$exe")" "$(winpath "$shots")")
    [ $# -gt 2 ] && args+=("$(winpath "$3")")
    [ $# -gt 3 ] && args+=("$4")
    rc=0
    timeout 240 "$wine" "$driver" "${args[@]}" || rc=$?
    "$wineserver" -k || true
    exit $rc
fi

mkdir -p "$out"
on_screen() { ORDANA_WIN32_INNER=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$exe" "$driver" "$out" "$@"; }
failed=0
for dpi in 96 192; do
    echo "== at $((dpi * 100 / 96)) %"
    on_screen "$dpi" "$out/$((dpi * 100 / 96))" || failed=1
done
# The table is looked for in the file by an independent reader (xlrd, openpyxl, odfpy): "Indici" and
# "Valoare" in row 1 of a data sheet.
table_in() {
    /usr/bin/python3 - "$1" "${2:-Indici}" <<'PY'
import sys
path = sys.argv[1]
if path.endswith('.xls'):
    import xlrd
    book = xlrd.open_workbook(path)
    rows = [[book.sheet_by_index(i).cell_value(0, c) for c in range(book.sheet_by_index(i).ncols)]
            for i in range(book.nsheets) if book.sheet_by_index(i).nrows]
elif path.endswith(('.xlsx', '.xlsm')):
    import openpyxl
    book = openpyxl.load_workbook(path)
    rows = [[c.value for c in next(ws.iter_rows(max_row=1))] for ws in book.worksheets if ws.max_row]
else:
    from odf.opendocument import load
    from odf.table import Table, TableRow
    from odf import teletype
    doc = load(path)
    rows = [[teletype.extractText(c) for c in t.getElementsByType(TableRow)[0].childNodes]
            for t in doc.spreadsheet.getElementsByType(Table) if t.getElementsByType(TableRow)]
heading = sys.argv[2]
found = any(heading in r and 'Valoare' in r for r in rows)
print(('ok   ' if found else 'FAIL ') + 'the table "%s" in %s' % (heading, path))
sys.exit(0 if found else 1)
PY
}
# The whole job on a copy of each workbook.
for book in "$@"; do
    name=$(basename "$book")
    echo "== the whole job on $name"
    mkdir -p "$out/job-$name"
    cp "$book" "$out/job-$name/$name"
    chmod u+w "$out/job-$name/$name"
    on_screen 96 "$out/job-$name" "$out/job-$name/$name" || { failed=1; continue; }
    table_in "$out/job-$name/$name" || failed=1
done
# Alt+E on the first: the estimates table in the file and the report beside it.
if [ $# -gt 0 ]; then
    name=$(basename "$1")
    echo "== the estimates on $name"
    mkdir -p "$out/estimates-$name"
    cp "$1" "$out/estimates-$name/$name"
    chmod u+w "$out/estimates-$name/$name"
    if on_screen 96 "$out/estimates-$name" "$out/estimates-$name/$name" --estimates; then
        table_in "$out/estimates-$name/$name" Estimator || failed=1
        report="$out/estimates-$name/${name%.*} - estimari.html"
        [ -s "$report" ] || { echo "FAIL no report beside $name"; failed=1; }
        if grep -qF "${name%.*}%20-%20estimari.html" "$out/estimates-$name/opened.txt" 2>/dev/null; then
            echo "ok   the report handed to the browser"
        else
            echo "FAIL the report not handed to the browser"
            failed=1
        fi
    else
        failed=1
    fi
fi
# A path the old dialog could not reach: five folders of 60 characters, then the workbook.
if [ $# -gt 0 ]; then
    deep="$out/job-long"
    for i in 1 2 3 4 5; do deep+="/dosarul $i al inventarului din parcela de padure de la marginea"; done
    for how in typed navigate; do
        rm -rf "$out/job-long"
        mkdir -p "$deep"
        name="inventar $how.${1##*.}"
        cp "$1" "$deep/$name"
        chmod u+w "$deep/$name"
        path=$(winpath "$deep/$name")
        echo "== the whole job on a path of ${#path} characters, $how"
        extra=()
        [ $how = navigate ] && extra=(--navigate)
        on_screen 96 "$out/job-long-shots-$how" "$deep/$name" "${extra[@]}" || { failed=1; continue; }
        table_in "$deep/$name" || failed=1
    done
    rm -rf "$out/job-long"
fi
[ $failed -eq 0 ] && echo "win32_check: passed" || echo "win32_check: FAILED" >&2
exit $failed
