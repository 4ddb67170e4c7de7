#!/usr/bin/env bash
# Makes the test workbooks under tests/fixtures with real producers: the content once as .xlsx (openpyxl), converted
# by LibreOffice and by Gnumeric, and the same content written directly by xlwt; plus an Excel 95 file, a
# password-protected one and a few files that are not workbooks. The results are committed, so the tests never
# need these programs. Needs: python3-openpyxl python3-xlwt python3-xlrd python3-uno libreoffice-calc-nogui
# gnumeric gir1.2-gsf-1 python3-gi (python3-uno and the gsf bindings only here).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/fixtures"
py=/usr/bin/python3 # Debian's interpreter owns the python3-* modules; another python3 may come first on PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

soffice_convert() { # FILTER OUTDIR FILES...
    local filter=$1 dir=$2
    shift 2
    timeout 300 soffice --headless -env:UserInstallation=file:///tmp/lo-profile \
        --convert-to "$filter" --outdir "$dir" "$@" >/dev/null 2>&1
}

# One description of the content, used by both Python writers.
cat > "$work/content.py" <<'EOF'
# Cells as (row, col, kind, value) with 0-based rows and columns.
LONG = ("Observatii de teren, transect " + "abcdefghij" * 10 + ". ") * 80   # over 9000 characters
assert len(LONG) > 9000
DIACRITICS = "Pădure în Țara Bârsei, școală, înșiruire: ăâîșț ĂÂÎȘȚ"
OTHER = "Ωμέγα, 日本語, €, ß, naïve"

SHEETS = [
    ("Date", "visible", [
        (0, 0, "s", "SPECIA"), (0, 1, "s", "ABUNDENTA"),
        (1, 0, "s", "Quercus robur"), (1, 1, "n", 10),
        (2, 0, "s", "Fagus sylvatica"), (2, 1, "n", 20),
        (3, 0, "s", "Carpinus betulus"), (3, 1, "n", 30),
        (4, 0, "s", "Acer campestre"), (4, 1, "n", 40),
    ]),
    ("Note", "visible", [
        (0, 0, "s", "Text liber"), (0, 1, "n", 3.25), (0, 2, "n", -7),
        (1, 0, "s", "Formula numerica"), (1, 1, "f", ("SUM(B1:C1)", -3.75)),
        (2, 0, "s", "Formula text"), (2, 1, "f", ('CONCATENATE("ab","cd")', "abcd")),
        (3, 0, "s", "Logic"), (3, 1, "b", True),
        (4, 0, "s", "Eroare"), (4, 1, "f", ("1/0", "#DIV/0!")),
        (5, 0, "s", "Unite"),  # B6:D6 merged, holding the text below
        (5, 1, "s", "Celule unite"),
        (6, 0, "s", "Text lung"), (6, 1, "s", LONG),
        (7, 0, "s", DIACRITICS), (7, 1, "s", OTHER),
        (8, 0, "n", 1234567.890625), (8, 1, "n", 0.1),
    ]),
    ("Lista", "visible", [
        (0, 0, "s", "specia"), (0, 1, "s", "abundenta"),
        (1, 0, "s", "Pinus sylvestris"), (1, 1, "n", 2),
        (2, 0, "s", "Picea abies"), (2, 1, "n", 3),
        (3, 0, "s", "Abies alba"), (3, 1, "s", "5"),
    ]),
    ("Ascunsa", "hidden", [
        (0, 0, "s", "SPECIA"), (0, 1, "s", "ABUNDENTA"),
        (1, 0, "s", "Tilia cordata"), (1, 1, "n", 7),
        (2, 0, "s", "Ulmus minor"), (2, 1, "n", 9),
    ]),
    ("Grafic", "chart", []),
    ("Plin", "visible", [
        (0, 0, "s", "SPECIA"), (0, 1, "s", "ABUNDENTA"), (0, 2, "s", "Observatii"), (0, 3, "s", "Locatie"),
        (1, 0, "s", "Salix alba"), (1, 1, "n", 4), (1, 2, "s", "mal"), (1, 3, "s", "Olt"),
        (2, 0, "s", "Populus nigra"), (2, 1, "n", 6), (2, 2, "s", "lunca"), (2, 3, "s", "Mures"),
    ]),
]
MERGED = ("Note", 5, 6, 1, 4)  # row 5, columns 1..3 (end-exclusive): B6:D6
EOF

# The source, as .xlsx, with a chart sheet that charts the "Date" abundances.
"$py" - "$work" <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
from content import SHEETS, MERGED
from openpyxl import Workbook
from openpyxl.chart import BarChart, Reference
from openpyxl.utils import get_column_letter

wb = Workbook()
wb.remove(wb.active)
for name, state, cells in SHEETS:
    if state == "chart":
        cs = wb.create_chartsheet(name)
        chart = BarChart()
        chart.add_data(Reference(wb["Date"], min_col=2, min_row=1, max_row=5), titles_from_data=True)
        chart.set_categories(Reference(wb["Date"], min_col=1, min_row=2, max_row=5))
        cs.add_chart(chart)
        continue
    ws = wb.create_sheet(name)
    ws.sheet_state = state
    for r, c, kind, v in cells:
        cell = ws.cell(row=r + 1, column=c + 1)
        cell.value = "=" + v[0] if kind == "f" else v
    if name == MERGED[0]:
        ws.merge_cells(start_row=MERGED[1] + 1, end_row=MERGED[2], start_column=MERGED[3] + 1, end_column=MERGED[4])
wb.active = 0
wb.save(sys.argv[1] + "/basic.xlsx")
EOF
cp "$work/basic.xlsx" "$out/basic-source.xlsx"

# The same content straight from xlwt (no chart sheet: xlwt cannot make one).
"$py" - "$work" "$out/basic-xlwt.xls" <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
from content import SHEETS, MERGED
import xlwt

wb = xlwt.Workbook(encoding="utf-8")
for name, state, cells in SHEETS:
    if state == "chart":
        continue
    ws = wb.add_sheet(name)
    if state == "hidden":
        ws.visibility = 1
    for r, c, kind, v in cells:
        if name == MERGED[0] and (r, c) == (MERGED[1], MERGED[3]):
            ws.write_merge(MERGED[1], MERGED[2] - 1, MERGED[3], MERGED[4] - 1, v)
        elif kind == "f" and v[1] == "#DIV/0!":
            ws.row(r).set_cell_error(c, v[1])  # xlwt stores no formula results, so the error goes in as a value
        elif kind == "f":
            ws.write(r, c, xlwt.Formula(v[0]))  # no cached result: readers see an empty string
        elif kind == "b":
            ws.row(r).set_cell_boolean(c, v)
        else:
            ws.write(r, c, v)
wb.save(sys.argv[2])
EOF

# Formatting as the results table uses it, for checking the formatting readers against a known file.
"$py" - "$out/formatted-xlwt.xls" <<'EOF'
import sys
import xlwt

wb = xlwt.Workbook(encoding="utf-8")
ws = wb.add_sheet("Date")
ws.write(0, 0, "SPECIA")
ws.write(0, 1, "ABUNDENTA")
ws.write(1, 0, "Quercus robur")
ws.write(1, 1, 10)
t = wb.add_sheet("Tabel")
bold = xlwt.easyxf("font: bold on; align: horiz center")
t.write(0, 0, "Indici", bold)
t.write(0, 1, "Valoare", bold)
t.write(1, 0, "Numarul de specii", xlwt.easyxf("align: horiz left"))
t.write(1, 1, 4, xlwt.easyxf("align: horiz center", num_format_str="0"))
t.write(2, 0, "Indicele Shannon", xlwt.easyxf("align: horiz left; borders: left thin, bottom thin"))
t.write(2, 1, 1.2799, xlwt.easyxf("align: horiz center; borders: right thin, bottom thin", num_format_str="0.000"))
t.col(0).width = 5814
t.col(1).width = 2742
ws.set_selected(False)
t.set_selected(True)
t.sheet_visible = True  # WINDOW2 "shown": the tab on top when opened
wb.active_sheet = 1
wb.save(sys.argv[1])
EOF

# The data-sheet cases of the reading command, one worksheet each.
"$py" - "$out/cases-xlwt.xls" <<'EOF'
import sys
import xlwt

HEAD = ("SPECIA", "ABUNDENTA")
SHEETS = [
    # name, header, rows of (species, abundance); None leaves the cell empty
    ("Majuscule", ("specia", "AbUnDeNtA"), [("a", 3), ("b", 4)]),
    ("Spatiu", ("SPECIA ", "ABUNDENTA"), [("a", 3)]),
    ("FaraB2", HEAD, [("a", None), ("b", 4)]),
    ("GolA2", HEAD, [(None, 4), ("b", 5)]),
    ("Intrerupt", HEAD, [("a", 1), ("b", 2), ("c", 3), (None, 9), ("e", 9)]),
    ("Zero", HEAD, [("a", 4), ("b", 0), ("c", 6)]),
    ("Fractii", HEAD, [("a", 1.5), ("b", 1.5)]),
    ("Jumatati", HEAD, [("a", 0.5), ("b", 0.5)]),
    ("Text", HEAD, [("a", "12"), ("b", 3)]),
    ("TextRau", HEAD, [("a", 5), ("b", "cinci")]),
    ("Depasire", HEAD, [("a", 32000), ("b", 767), ("c", 1)]),
    ("TextGol", HEAD, [("a", 7), ("b", "")]),
]
wb = xlwt.Workbook(encoding="utf-8")
for name, head, rows in SHEETS:
    ws = wb.add_sheet(name)
    ws.write(0, 0, head[0])
    ws.write(0, 1, head[1])
    for r, (species, abundance) in enumerate(rows, start=1):
        if species is not None:
            ws.write(r, 0, species)
        if abundance is not None:
            ws.write(r, 1, abundance)
wb.save(sys.argv[1])
EOF

# LibreOffice: Excel 97-2003 from the source, and an encrypted copy.
soffice_convert xls "$work" "$work/basic.xlsx"
cp "$work/basic.xls" "$out/basic-libreoffice.xls"
timeout 300 "$py" "$here/scripts/fixtures/encrypt_xls.py" "$work/basic.xlsx" "$out/password-libreoffice.xls" parola

# Gnumeric, as Excel 97-2003 and as Excel 5/95 (a "Book" stream of BIFF5 records: LibreOffice 7.4 no longer
# writes that format, its "MS Excel 95" filter fails on export).
ssconvert "$work/basic.xlsx" "$out/basic-gnumeric.xls" >/dev/null 2>&1
ssconvert -T Gnumeric_Excel:excel_biff7 "$work/basic.xlsx" "$out/basic-excel95.xls" >/dev/null 2>&1

# A version 4 container (4096-byte sectors) around LibreOffice's streams, written by libgsf. LibreOffice 7.4
# itself does not open such files; Gnumeric does.
"$py" "$here/scripts/fixtures/repack_v4.py" "$out/basic-libreoffice.xls" "$out/basic-v4-libgsf.xls"

# The same content as .xlsx from LibreOffice and Gnumeric. (LibreOffice 7.4 does not encrypt an .xlsx through
# UNO's Password property; the tests lay out an encrypted package's compound file themselves.)
mkdir -p "$work/lo"
soffice_convert "xlsx:Calc MS Excel 2007 XML" "$work/lo" "$work/basic.xlsx"
cp "$work/lo/basic.xlsx" "$out/basic-libreoffice.xlsx"
ssconvert -T Gnumeric_Excel:xlsx2 "$work/basic.xlsx" "$out/basic-gnumeric.xlsx" >/dev/null 2>&1

# XlsxWriter: a data sheet beside a chart, an image, a comment and data validation; and a macro workbook
# carrying the VBA project of Excel's own excel-button07.xlsm (a copied fixture).
unzip -p "$out/excel-button07.xlsm" xl/vbaProject.bin > "$work/vbaProject.bin"
(cd "$work" && "$py" - "$out" "$work/vbaProject.bin") <<'EOF'
import struct, sys, zlib, xlsxwriter
out, vba = sys.argv[1], sys.argv[2]
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
raw = b"".join(b"\0" + b"\x30\x80\x30" * 8 for _ in range(8))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 8, 8, 8, 2, 0, 0, 0)) + \
    chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
open("image.png", "wb").write(png)
for name, macro in (("features-xlsxwriter.xlsx", False), ("macro-xlsxwriter.xlsm", True)):
    wb = xlsxwriter.Workbook(out + "/" + name)
    ws = wb.add_worksheet("Date")
    ws.write_row(0, 0, ["SPECIA", "ABUNDENTA"])
    for i, (sp, n) in enumerate([("Quercus robur", 10), ("Fagus sylvatica", 20), ("Carpinus betulus", 30),
                                 ("Acer campestre", 40)]):
        ws.write_row(i + 1, 0, [sp, n])
    ws.write_formula("D2", "=SUM(B2:B5)", None, 100)
    ws.write_comment("A2", "stejar")
    ws.data_validation("B2:B100", {"validate": "integer", "criteria": ">=", "value": 0})
    ws.insert_image("H8", "image.png")
    other = wb.add_worksheet("Grafic")
    chart = wb.add_chart({"type": "column"})
    chart.add_series({"values": "=Date!$B$2:$B$5", "categories": "=Date!$A$2:$A$5"})
    other.insert_chart("B2", chart)
    if macro:
        wb.add_vba_project(vba)
    wb.close()
EOF

# OpenDocument: the source converted by LibreOffice and by Gnumeric, an encrypted copy, a text document, and
# LibreOffice's file repacked with the mimetype entry last and without settings.xml (as some writers do).
soffice_convert ods "$work" "$work/basic.xlsx"
cp "$work/basic.ods" "$out/basic-libreoffice.ods"
ssconvert -T Gnumeric_OpenCalc:openoffice "$work/basic.xlsx" "$out/basic-gnumeric.ods" >/dev/null 2>&1
timeout 300 "$py" "$here/scripts/fixtures/encrypt_xls.py" "$work/basic.xlsx" "$out/password-libreoffice.ods" \
    parola calc8
# odfpy (python3-odf) writes the text document (the Calc-only LibreOffice has no Writer) and a spreadsheet.
"$py" - "$out/text-odfpy.odt" "$out/basic-odfpy.ods" <<'EOF'
import sys
from odf.opendocument import OpenDocumentSpreadsheet, OpenDocumentText
from odf.table import Table, TableCell, TableRow
from odf.text import P
doc = OpenDocumentText()
doc.text.addElement(P(text="SPECIA ABUNDENTA"))
doc.save(sys.argv[1])
book = OpenDocumentSpreadsheet()
sheet = Table(name="Date")
for species, abundance in [("SPECIA", "ABUNDENTA"), ("Quercus robur", 10), ("Fagus sylvatica", 20),
                           ("Carpinus betulus", 30), ("Acer campestre", 40)]:
    row = TableRow()
    cell = TableCell(valuetype="string")
    cell.addElement(P(text=species))
    row.addElement(cell)
    if isinstance(abundance, str):
        cell = TableCell(valuetype="string")
        cell.addElement(P(text=abundance))
    else:
        cell = TableCell(valuetype="float", value=abundance)
        cell.addElement(P(text=str(abundance)))
    row.addElement(cell)
    sheet.addElement(row)
book.spreadsheet.addElement(sheet)
book.save(sys.argv[2])
EOF
"$py" - "$out/basic-libreoffice.ods" "$out/mimetype-last.ods" "$out/no-settings.ods" <<'EOF'
import re, sys, zipfile
src = zipfile.ZipFile(sys.argv[1])
names = [i.filename for i in src.infolist()]
with zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_DEFLATED) as z:
    for n in names[1:] + names[:1]:
        z.writestr(n, src.read(n))
with zipfile.ZipFile(sys.argv[3], "w", zipfile.ZIP_DEFLATED) as z:
    for i in src.infolist():
        if i.filename == "settings.xml":
            continue
        data = src.read(i.filename)
        if i.filename == "META-INF/manifest.xml":
            data = re.sub(rb'\s*<manifest:file-entry[^>]*manifest:full-path="settings.xml"[^>]*/>', b"", data)
        z.writestr(i, data, zipfile.ZIP_STORED if i.filename == "mimetype" else zipfile.ZIP_DEFLATED)
EOF
# Real files of other producers (OpenOffice.org, Excel's OpenDocument export, LibreOffice with comments, an
# .xlsx named .ods), from ../shared/workbooks-elsewhere/ods.
for f in GNOME__samples_slicers_groups-ooo PHPOffice__tests_data_Reader_Ods_RepeatedDataCells \
         roo-rb__test_files_comments roo-rb__test_files_type_excelx frictionlessdata__data_table-with-booleans; do
    cp "$here/../../shared/workbooks-elsewhere/ods/$f.ods" "$out/elsewhere-$f.ods"
    chmod 644 "$out/elsewhere-$f.ods"
done

# Files that are not workbooks, whatever their name says.
: > "$out/not-empty.xls"
printf 'SPECIA;ABUNDENTA\nQuercus robur;10\n' > "$out/not-text.xls"
"$py" - "$out/not-png.xls" <<'EOF'
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
raw = b"".join(b"\0" + b"\x30\x80\x30" * 4 for _ in range(4))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 4, 4, 8, 2, 0, 0, 0)) + \
      chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(png)
EOF

# The seed corpus of the fuzzers: the real workbooks, small enough to mutate quickly.
mkdir -p "$here/fuzz/corpus"
cp "$out/basic-xlwt.xls" "$out/basic-libreoffice.xls" "$out/basic-gnumeric.xls" "$out/basic-excel95.xls" \
    "$out/basic-v4-libgsf.xls" \
    "$here/fuzz/corpus/"
mkdir -p "$here/fuzz/corpus-ods"
cp "$out/basic-libreoffice.ods" "$out/basic-gnumeric.ods" "$out/basic-odfpy.ods" "$out/mimetype-last.ods" \
    "$out/no-settings.ods" \
    "$out/elsewhere-PHPOffice__tests_data_Reader_Ods_RepeatedDataCells.ods" "$here/fuzz/corpus-ods/"
# content.xml of those packages alone, for the content fuzzer (steps-over-rows.xml there is written by hand).
mkdir -p "$here/fuzz/corpus-ods_content"
for f in basic-libreoffice basic-gnumeric basic-odfpy elsewhere-PHPOffice__tests_data_Reader_Ods_RepeatedDataCells; do
    unzip -p "$out/$f.ods" content.xml >"$here/fuzz/corpus-ods_content/$f.xml"
done

ls -l "$out"
