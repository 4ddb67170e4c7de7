#!/usr/bin/python3
"""Judges a saved .xlsx with programs we did not write: openpyxl for the table and its formatting, zipfile for
the byte identity of every entry the table does not need.
Usage: check_xlsx_table.py ORIGINAL SAVED SHEET COLUMN   (COLUMN: the marker column's letter)
Prints one line per fault; exits 1 when there is any."""
import struct, sys, zipfile
import openpyxl
from openpyxl.utils import column_index_from_string, get_column_letter

original, saved, sheet, column = sys.argv[1:5]
faults = []
LABELS = ["bogatia de specii", "indicele Simpson (D)", "indicele Simpson (1-D)", "indicele Simpson (1/D)",
          "indicele Shannon", "echitatea ptr. Shannon", "indicele Brillouin", "indicele Berger-Parker",
          "indicele McIntosh", "indicele Margalef", "indicele Menhinick", "indicele Gleason"]

keep_vba = saved.endswith(".xlsm")
before = openpyxl.load_workbook(original, keep_vba=keep_vba)
after = openpyxl.load_workbook(saved, keep_vba=keep_vba)
m = column_index_from_string(column)
ws = after[sheet]
names, values = get_column_letter(m + 1), get_column_letter(m + 2)

if [ws.cell(1, m + k).value for k in range(3)] != [".", "Indici", "Valoare"]:
    faults.append("header row: %r" % [ws.cell(1, m + k).value for k in range(3)])
if [ws.cell(r, m + 1).value for r in range(2, 14)] != LABELS:
    faults.append("labels differ")
if not all(isinstance(ws.cell(r, m + 2).value, (int, float)) for r in range(2, 14)):
    faults.append("values are not all numbers")
for letter, width in ((column, 6), (names, 22), (values, 10)):
    got = ws.column_dimensions[letter].width
    # Excel's stored width for a 7-pixel digit: whole characters plus 5 pixels of padding, in 1/256ths.
    want = int((width * 7 + 5) / 7 * 256) / 256
    if abs(got - want) > 1e-9:
        faults.append("column %s width %r, expected %r" % (letter, got, want))
if ws.cell(1, m).alignment.horizontal != "center" or ws.cell(1, m + 1).alignment.horizontal != "left":
    faults.append("alignment %r %r" % (ws.cell(1, m).alignment.horizontal, ws.cell(1, m + 1).alignment.horizontal))
if ws.cell(1, m + 2).alignment.horizontal not in (None, "general"):
    faults.append("value column aligned %r" % ws.cell(1, m + 2).alignment.horizontal)
if ws.cell(1, m).number_format != "0" or any(ws.cell(r, m + 2).number_format != "0.000" for r in range(2, 14)):
    faults.append("number formats %r %r" % (ws.cell(1, m).number_format, ws.cell(2, m + 2).number_format))
if not (ws.cell(1, m + 1).font.b and ws.cell(1, m + 2).font.b) or ws.cell(2, m + 1).font.b:
    faults.append("bold headers")
for r in range(1, 14):
    for c in (m + 1, m + 2):
        b = ws.cell(r, c).border
        want = {"left": c == m + 1, "right": c == m + 2, "top": r == 1, "bottom": r == 13}
        for side, on in want.items():
            edge = getattr(b, side)
            style = edge.style if edge is not None else None
            if on and style != "thin":
                faults.append("%s%d %s border %r" % (get_column_letter(c), r, side, style))
if after.active.title != sheet:
    faults.append("active sheet %r" % after.active.title)
selected = [s.title for s in after.worksheets if s.sheet_view.tabSelected]
if selected != [sheet]:
    faults.append("selected sheets %r" % selected)

# Every original value is still there, outside the table's three columns of the data sheet.
for s in before.worksheets:
    t = after[s.title]
    for row in s.iter_rows():
        for cell in row:
            if s.title == sheet and m <= cell.column <= m + 2 and cell.row <= 13:
                continue
            if t.cell(cell.row, cell.column).value != cell.value:
                faults.append("%s!%s changed from %r to %r" % (s.title, cell.coordinate, cell.value,
                                                              t.cell(cell.row, cell.column).value))

# Byte identity of the other entries: local header, data and central record.
def records(path):
    data = open(path, "rb").read()
    z = zipfile.ZipFile(path)
    out = {}
    for i in z.infolist():
        o = i.header_offset
        n, e = struct.unpack("<HH", data[o + 26:o + 30])
        out[i.filename] = (data[o:o + 30 + n + e + i.compress_size], i.CRC, i.external_attr, i.extra, i.comment)
    return out, z

allowed = {"xl/styles.xml", "xl/workbook.xml", "xl/sharedStrings.xml", "[Content_Types].xml",
           "xl/_rels/workbook.xml.rels", "xl/calcChain.xml"}
a, za = records(original)
b, zb = records(saved)
with zipfile.ZipFile(original) as z:
    wbrels = z.read("xl/_rels/workbook.xml.rels").decode("utf-8", "replace")
for name in a:
    if name.startswith("xl/worksheets/") and name.endswith(".xml"):
        continue  # sheets whose selection changes are edited too; their other bytes are checked by values
    if name in allowed:
        continue
    if name not in b:
        faults.append("entry %s dropped" % name)
    elif a[name] != b[name]:
        faults.append("entry %s not byte-identical" % name)
for name in b:
    if name not in a and name != "xl/sharedStrings.xml":
        faults.append("entry %s added" % name)
if zb.testzip() is not None:
    faults.append("bad CRC in %s" % zb.testzip())

for f in faults:
    print(f)
sys.exit(1 if faults else 0)
