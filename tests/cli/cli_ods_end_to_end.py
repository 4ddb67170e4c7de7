#!/usr/bin/python3
"""ordana-cli on OpenDocument workbooks of real producers, checked with readers we did not write.

The .ods files give the same JSON lines as their .xls twins; python3-odf (odfpy) reads every table value back
and every original value still in place; LibreOffice converts each saved file to .xlsx, where openpyxl finds the
widths, alignment, number formats, bold, the frame and the active sheet; Gnumeric's ssconvert reads it too.

    cli_ods_end_to_end.py ORDANA_CLI FIXTURES_DIR
"""

import json
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

import openpyxl
from odf.opendocument import load
from odf.table import Table, TableRow
from odf.namespaces import OFFICENS, TABLENS

LABELS = ["bogatia de specii", "indicele Simpson (D)", "indicele Simpson (1-D)", "indicele Simpson (1/D)",
          "indicele Shannon", "echitatea ptr. Shannon", "indicele Brillouin", "indicele Berger-Parker",
          "indicele McIntosh", "indicele Margalef", "indicele Menhinick", "indicele Gleason"]
FIELDS = ["speciesRichness", "simpsonD", "simpsonOneMinusD", "simpsonInverse", "shannonH", "shannonEvenness",
          "brillouin", "bergerParker", "mcIntosh", "margalef", "menhinick", "gleason"]
# (file, its .xls twin or None); widths are checked where LibreOffice has the default font (Calibri falls back
# to a wider face on a machine without Carlito).
GOOD = [("basic-libreoffice.ods", "basic-libreoffice.xls", False), ("basic-gnumeric.ods", "basic-gnumeric.xls", True),
        ("basic-odfpy.ods", None, True), ("no-settings.ods", None, False)]

# LibreOffice's own .ods: converted from .xlsx whose default font is each of these, with columns of 6, 22 and 10
# characters; the table's columns must get what LibreOffice gave those. Calibri is checked where it is drawn in
# DejaVu Sans (no Carlito), as the engine takes it.
OWN_FONTS = [("Liberation Sans", 10), ("DejaVu Sans", 10), ("Arial", 11), ("Liberation Sans", 12), ("Calibri", 11)]

failures = []
checks = [0]


def check(ok, what):
    checks[0] += 1
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(*args, timeout=300):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=timeout)


def odf_values(path):
    """{sheet: {(row, col): value}} as odfpy reads the cells, repeats expanded (bounded)."""
    doc = load(str(path))
    out = {}
    for table in doc.getElementsByType(Table):
        cells, r = {}, 0
        for row in table.getElementsByType(TableRow):
            reps = int(row.getAttrNS(TABLENS, "number-rows-repeated") or 1)
            c = 0
            for cell in row.childNodes:
                if getattr(cell, "qname", (None, None))[1] not in ("table-cell", "covered-table-cell"):
                    continue
                n = int(cell.getAttrNS(TABLENS, "number-columns-repeated") or 1)
                kind = cell.getAttrNS(OFFICENS, "value-type")
                value = None
                if kind in ("float", "percentage", "currency"):
                    value = float(cell.getAttrNS(OFFICENS, "value"))
                elif kind == "string":
                    value = "\n".join(str(p) for p in cell.childNodes if getattr(p, "qname", (0, 0))[1] == "p")
                if value is not None and r < 64:
                    for k in range(min(n, 64)):
                        for rr in range(min(reps, 64)):
                            cells[(r + rr, c + k)] = value
                c += n
            r += reps
        out[str(table.getAttrNS(TABLENS, "name"))] = cells
    return out


def column_widths(path):
    """style:column-width of each column of the first sheet, repeats expanded (bounded)."""
    from odf.style import Style, TableColumnProperties
    from odf.table import TableColumn
    from odf.namespaces import STYLENS
    doc = load(str(path))
    widths = {}
    for st in doc.automaticstyles.getElementsByType(Style):
        for p in st.getElementsByType(TableColumnProperties):
            widths[str(st.getAttrNS(STYLENS, "name"))] = p.getAttrNS(STYLENS, "column-width")
    out = []
    for col in doc.getElementsByType(Table)[0].getElementsByType(TableColumn):
        n = min(int(col.getAttrNS(TABLENS, "number-columns-repeated") or 1), 64)
        out += [widths.get(col.getAttrNS(TABLENS, "style-name"))] * n
    return out


def own_widths(cli, folder):
    """The table written into LibreOffice's own conversions gets LibreOffice's widths for 6, 22, 10."""
    from openpyxl.styles import Font
    own = folder / "own"
    own.mkdir()
    drawn = run("fc-match", "Calibri").stdout
    fonts = [f for f in OWN_FONTS if f[0] != "Calibri" or "DejaVu" in drawn]
    for i, (font, size) in enumerate(fonts):
        wb = openpyxl.Workbook()
        wb._fonts[0] = Font(name=font, sz=size)  # the Normal style's font: the workbook's default
        ws = wb.active
        for row in (["SPECIA", "ABUNDENTA"], ["a", 3], ["b", 5]):
            ws.append(row)
        for letter, width in zip("ABC", (6, 22, 10)):
            ws.column_dimensions[letter].width = width
        wb.save(own / f"own{i}.xlsx")
    run("soffice", "-env:UserInstallation=" + (folder / ".lo-profile").as_uri(), "--headless",
        "--convert-to", "ods", "--outdir", str(own), *[str(own / f"own{i}.xlsx") for i in range(len(fonts))])
    paths = [own / f"own{i}.ods" for i in range(len(fonts))]
    given = {p: column_widths(p)[:3] if p.exists() else None for p in paths}
    done = run(cli, *[str(p) for p in paths if p.exists()])
    check(done.returncode == 0, f"the run on LibreOffice's own files succeeds: {done.stderr!r}")
    for (font, size), p in zip(fonts, paths):
        if given[p] is None:
            check(False, f"LibreOffice converts the .xlsx of {font} {size}")
            continue
        heads = [c for (r, c), v in odf_values(p)[ws.title].items() if r == 0 and v == "Indici"]
        widths = column_widths(p)
        got = [widths[c] if c < len(widths) else None for c in (heads[0] - 1, heads[0], heads[0] + 1)] if heads else []
        check(got == given[p], f"{font} {size}: the table's columns as LibreOffice's own 6, 22, 10: {got} {given[p]}")


def main():
    cli, fixtures = sys.argv[1], Path(sys.argv[2])
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        for name, twin, _ in GOOD:
            shutil.copy(fixtures / name, folder / name)
            if twin:
                shutil.copy(fixtures / twin, folder / twin)
        originals = {name: odf_values(folder / name) for name, _, _ in GOOD}

        listed = run(cli, "--list", str(folder / "basic-libreoffice.ods"))
        check(listed.returncode == 0, f"--list exits 0: {listed.stderr!r}")
        sheets = [line.split("\t")[1] for line in listed.stdout.splitlines()]
        check(sheets == ["Date", "Lista", "Ascunsa", "Plin"], f"--list gives the data sheets in order: {sheets}")

        refused = run(cli, "--list", str(fixtures / "password-libreoffice.ods"))
        check(refused.returncode == 1 and "parola" in refused.stderr, f"an encrypted .ods is refused: {refused.stderr!r}")

        done = run(cli, "--json", *[str(folder / n) for n, _, _ in GOOD] + [str(folder / t) for _, t, _ in GOOD if t])
        check(done.returncode == 0, f"the run succeeds: {done.stderr!r}")
        lines = [json.loads(line) for line in done.stdout.splitlines()]
        by = {(Path(o["workbook"]).name, o["sheet"]): o for o in lines}
        for name, twin, _ in GOOD:
            if not twin:
                continue
            for (w, s), o in by.items():
                if w == name:
                    t = by.get((twin, s))
                    strip = lambda d: {k: v for k, v in d.items() if k != "workbook"}
                    check(t is not None and strip(o) == strip(t), f"{name} {s}: the same results as {twin}")

        own_widths(cli, folder)

        convert = folder / "xlsx"
        run("soffice", "-env:UserInstallation=" + (folder / ".lo-profile").as_uri(), "--headless",
            "--convert-to", "xlsx", "--outdir", str(convert), *[str(folder / n) for n, _, _ in GOOD])
        for name, _, widths in GOOD:
            path = folder / name
            with zipfile.ZipFile(path) as z:
                first = z.infolist()[0]
                check(first.filename == "mimetype" and first.compress_type == 0 and not first.extra,
                      f"{name}: mimetype first, stored, no extra field")
            after = odf_values(path)
            written = [o for o in lines if Path(o["workbook"]).name == name]
            check(written, f"{name}: tables were written")
            for o in written:
                sheet = o["sheet"]
                cells = after[sheet]
                heads = [c for (r, c), v in cells.items() if r == 0 and v == "Indici"]
                check(len(heads) == 1, f"{name} {sheet}: one table (odfpy)")
                if len(heads) != 1:
                    continue
                m = heads[0] - 1
                for i, (label, field) in enumerate(zip(LABELS, FIELDS), start=1):
                    check(cells.get((i, m + 1)) == label, f"{name} {sheet}: label {label} (odfpy)")
                    check(cells.get((i, m + 2)) == o[field], f"{name} {sheet}: {field} (odfpy)")
                for key, v in originals[name][sheet].items():
                    if key[1] < m or key[0] > 13:
                        check(cells.get(key) == v, f"{name} {sheet}: original {key} kept")
            # LibreOffice's view of the last table written, through .xlsx.
            xlsx = convert / (path.stem + ".xlsx")
            check(xlsx.exists(), f"{name}: LibreOffice opens and converts the saved file")
            if not xlsx.exists():
                continue
            book = openpyxl.load_workbook(xlsx)
            o = written[-1]
            check(book.active.title == o["sheet"], f"{name}: the written sheet is active ({book.active.title})")
            ws = book[o["sheet"]]
            head = next(c for c in range(1, ws.max_column + 1) if ws.cell(1, c).value == "Indici")
            mk, nm, vl = head - 1, head, head + 1
            letter = openpyxl.utils.get_column_letter
            if widths:
                shown = [int(ws.column_dimensions[letter(c)].width) for c in (mk, nm, vl)]
                check(shown == [6, 22, 10], f"{name}: LibreOffice shows widths 6, 22, 10: {shown}")
            check(ws.cell(1, mk).alignment.horizontal == "center" and ws.cell(1, mk).number_format == "0",
                  f"{name}: marker column centred with format 0")
            check(ws.cell(2, nm).alignment.horizontal == "left", f"{name}: names left-aligned")
            check(ws.cell(5, vl).number_format == "0.000", f"{name}: values with three decimals")
            check(ws.cell(1, nm).font.b and ws.cell(1, vl).font.b and not ws.cell(2, nm).font.b,
                  f"{name}: the two headers bold")
            for r in range(1, 14):
                for c in (nm, vl):
                    b = ws.cell(r, c).border
                    want = (c == nm, c == vl, r == 1, r == 13)
                    got = tuple(x.style == "thin" for x in (b.left, b.right, b.top, b.bottom))
                    check(got == want, f"{name}: frame at row {r} column {c}: {got}")
            gnumeric = run("ssconvert", str(path), str(folder / (path.stem + ".csv")))
            check(gnumeric.returncode == 0, f"{name}: Gnumeric reads the saved file")

    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print(f"ordana-cli on .ods end to end: all {checks[0]} checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
