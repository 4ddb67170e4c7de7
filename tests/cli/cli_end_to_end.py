#!/usr/bin/python3
"""ordana-cli on a folder of real workbooks, checked with xlrd (a reader we did not write).

--list and --dry-run leave every file byte-identical; a full run writes, in each good workbook, tables holding
exactly the values its JSON lines print, leaves a non-workbook and a failing sheet untouched, and says so.

    cli_end_to_end.py ORDANA_CLI FIXTURES_DIR
"""

import hashlib
import json
import math
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import xlrd

LABELS = ["bogatia de specii", "indicele Simpson (D)", "indicele Simpson (1-D)", "indicele Simpson (1/D)",
          "indicele Shannon", "echitatea ptr. Shannon", "indicele Brillouin", "indicele Berger-Parker",
          "indicele McIntosh", "indicele Margalef", "indicele Menhinick", "indicele Gleason"]
FIELDS = ["speciesRichness", "simpsonD", "simpsonOneMinusD", "simpsonInverse", "shannonH", "shannonEvenness",
          "brillouin", "bergerParker", "mcIntosh", "margalef", "menhinick", "gleason"]
GOOD = ["basic-libreoffice.xls", "basic-gnumeric.xls", "basic-xlwt.xls", "cases-xlwt.xls"]
BAD = "not-text.xls"
# Sheets of cases-xlwt.xls whose reading or computation fails: a text that is no number, a 16-bit overflow.
FAILING = {"TextRau", "Depasire"}

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def digests(folder):
    return {p.name: hashlib.sha256(p.read_bytes()).hexdigest() for p in sorted(folder.iterdir())}


def run(cli, *args):
    return subprocess.run([cli, *args], capture_output=True, text=True, timeout=120)


def main():
    cli, fixtures = sys.argv[1], Path(sys.argv[2])
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        for name in GOOD + [BAD]:
            shutil.copy(fixtures / name, folder / name)
        files = [str(folder / n) for n in GOOD + [BAD]]
        before = digests(folder)

        version = run(cli, "--version")
        check(version.returncode == 0 and version.stdout == "Ordana v1.50 1.5.2\n", f"--version: {version.stdout!r}")

        listed = run(cli, "--list", *files)
        check(listed.returncode == 1, f"--list with a non-workbook exits 1, got {listed.returncode}")
        check(f"{BAD}" in listed.stderr, "--list names the non-workbook on standard error")
        pairs = [line.split("\t")[:2] for line in listed.stdout.splitlines()]
        check([s for w, s in pairs if w.endswith("basic-libreoffice.xls")] == ["Date", "Lista", "Ascunsa", "Plin"],
              f"--list gives the data sheets in workbook order: {listed.stdout!r}")
        check(digests(folder) == before, "--list leaves every file byte-identical")

        dry = run(cli, "--dry-run", "--json", *files)
        check(dry.returncode == 1, f"--dry-run with failures exits 1, got {dry.returncode}")
        dry_lines = [json.loads(line) for line in dry.stdout.splitlines()]
        # Failures come as lines too, with their error number, so a script sees them.
        failed = [o for o in dry_lines if "error" in o]
        dry_lines = [o for o in dry_lines if "error" not in o]
        check({o.get("sheet") for o in failed} >= set(FAILING), f"each failing sheet has its JSON line: {failed!r}")
        check(len(dry_lines) > 0, "--dry-run --json prints the sheets")
        check(digests(folder) == before, "--dry-run leaves every file byte-identical")

        done = run(cli, "--json", *files)
        check(done.returncode == 1, f"a run with failures exits 1, got {done.returncode}")
        lines = [o for o in map(json.loads, done.stdout.splitlines()) if "error" not in o]
        check(lines == dry_lines, "the run prints what the dry run printed")
        for sheet in FAILING:
            check(f'"{sheet}"' in done.stderr, f"the failing sheet {sheet} is reported: {done.stderr!r}")
            check(all(o["sheet"] != sheet for o in lines), f"the failing sheet {sheet} prints no values")
        check(BAD in done.stderr, "the non-workbook is reported")
        after = digests(folder)
        check(after[BAD] == before[BAD], "the non-workbook is unchanged")
        for name in GOOD:
            check(after[name] != before[name], f"{name} was saved")
        check(not [p for p in folder.iterdir() if p.name.startswith(".~")], "no temporary file is left behind")

        # Each table, as an independent reader sees it, holds exactly the printed values.
        for o in lines:
            book = xlrd.open_workbook(o["workbook"])
            sheet = book.sheet_by_name(o["sheet"])
            heads = [c for c in range(sheet.ncols) if sheet.cell_value(0, c) == "Indici"]
            check(len(heads) == 1, f"{o['sheet']}: one table header")
            if len(heads) != 1:
                continue
            names = heads[0]
            check(sheet.cell_value(0, names - 1) == "." and sheet.cell_value(0, names + 1) == "Valoare",
                  f"{o['sheet']}: the header row")
            for i, (label, field) in enumerate(zip(LABELS, FIELDS), start=1):
                check(sheet.cell_value(i, names) == label, f"{o['sheet']}: label {label}")
                check(sheet.cell_value(i, names + 1) == o[field],
                      f"{o['sheet']}: {field} {sheet.cell_value(i, names + 1)!r} != {o[field]!r}")

        # As in the window, writing a table activates its sheet: the last one written is the selected tab.
        book = xlrd.open_workbook(str(folder / "basic-libreoffice.xls"))
        selected = [book.sheet_by_index(i).name for i in range(book.nsheets) if book.sheet_by_index(i).sheet_selected]
        check(selected == ["Plin"], f"only the last sheet written is selected: {selected}")

        # The JSON against values worked out here: 10, 20, 30, 40 individuals.
        date = next(o for o in lines if o["sheet"] == "Date" and o["workbook"].endswith("basic-libreoffice.xls"))
        p = [n / 100 for n in (10, 20, 30, 40)]
        check(date["speciesCount"] == 4 and date["totalIndividuals"] == 100, "Date: 4 species, 100 individuals")
        check(math.isclose(date["shannonH"], -sum(x * math.log(x) for x in p), rel_tol=1e-14), "Date: Shannon H")
        check(date["bergerParker"] == 0.4 and date["menhinick"] == 0.4, "Date: Berger-Parker and Menhinick")

        # Runs at once on one workbook take turns, each adding its table; listings beside them never fail.
        shared = folder / "comun.xls"
        shutil.copy(fixtures / "basic-xlwt.xls", shared)
        writers = [subprocess.Popen([cli, "--sheet", "Date", str(shared)], stdout=subprocess.DEVNULL,
                                    stderr=subprocess.PIPE, text=True) for _ in range(6)]
        readers = [subprocess.Popen([cli, "--list", str(shared)], stdout=subprocess.DEVNULL,
                                    stderr=subprocess.PIPE, text=True) for _ in range(4)]
        for proc in writers + readers:
            _, stderr = proc.communicate(timeout=120)
            check(proc.returncode == 0, f"a concurrent run exits 0, got {proc.returncode}: {stderr!r}")
        row = xlrd.open_workbook(str(shared)).sheet_by_name("Date").row_values(0)
        check(row.count("Indici") == 6, f"six concurrent runs leave six tables, found {row.count('Indici')}")

        # A descriptor's name is not the workbook's: refused, and the file behind it is left alone.
        before_shared = shared.read_bytes()
        with open(shared, "rb") as stdin:
            piped = subprocess.run([cli, "/dev/stdin"], stdin=stdin, capture_output=True, text=True, timeout=120)
        check(piped.returncode == 1 and "descriptor deschis" in piped.stderr, f"/dev/stdin: {piped.stderr!r}")
        check(shared.read_bytes() == before_shared, "/dev/stdin leaves the file behind it unchanged")

        # A workbook without a data sheet is a failure, reported with the headers looked for.
        import xlwt
        plain = xlwt.Workbook()
        plain.add_sheet("Note").write(0, 0, "observatii")
        plain.save(str(folder / "fara-date.xls"))
        none = run(cli, str(folder / "fara-date.xls"))
        check(none.returncode == 1 and "nicio foaie de date" in none.stderr and "SPECIA" in none.stderr,
              f"no data sheet: {none.returncode} {none.stderr!r}")

    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("ordana-cli end to end: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
