#!/usr/bin/python3
"""ordana-cli --estimates, --csv and --report on survey workbooks, checked with openpyxl and xlrd and in Chromium.

Without --estimates nothing changes; with it each sheet gets a second table beside the indices table holding
the numbers its JSON prints, then where they came from; the same seed gives the same numbers in every run; the
CSV holds the JSON's numbers; a count that is not a whole number fails that sheet alone, naming its cell; the
report is one page that loads nothing and that headless Chromium renders without an error (the screenshot is
left for a person to look at).

    cli_estimates_end_to_end.py ORDANA_CLI OUTPUT_DIR
"""

import csv
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import openpyxl
import xlrd
import xlwt

SHEETS = {
    "Girdled": [("sp%d" % i, c) for i, c in enumerate([46, 22, 17, 15, 15, 9, 8, 6, 6, 4, 2, 2, 2, 2] + [1] * 12)],
    "Padure": [(" SP%d " % (i + 5), c) for i, c in enumerate([30, 12, 9, 7, 5, 4, 3, 3, 2, 1, 1, 1, 1])],
    "Singleton": [("x%d" % i, 1) for i in range(5)],
}
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(cli, *args, env=None):
    e = dict(os.environ, SOURCE_DATE_EPOCH="1765000000")
    e.update(env or {})
    return subprocess.run([cli, *args], capture_output=True, text=True, timeout=300, env=e)


def make_books(folder):
    wb = openpyxl.Workbook()
    wb.remove(wb.active)
    for name, rows in SHEETS.items():
        ws = wb.create_sheet(name)
        ws.append(["SPECIA", "ABUNDENTA"])
        for r in rows:
            ws.append(list(r))
    bad = wb.create_sheet("Zecimale")
    for r in (["SPECIA", "ABUNDENTA"], ["a", 3], ["b", 2.5]):
        bad.append(r)
    wb.save(folder / "survey.xlsx")
    book = xlwt.Workbook()
    for name, rows in SHEETS.items():
        ws = book.add_sheet(name)
        for i, r in enumerate([("SPECIA", "ABUNDENTA")] + rows):
            ws.write(i, 0, r[0])
            ws.write(i, 1, r[1])
    book.save(str(folder / "survey.xls"))


def table(cells, heading):
    """Row 1's block that starts with heading: {label: [values...]} and the provenance under it."""
    row1 = cells[0]
    if heading not in row1:
        return None, None
    col = row1.index(heading)
    rows, provenance, r = {}, {}, 1
    while r < len(cells) and cells[r][col] not in (None, ""):
        rows[cells[r][col]] = [cells[r][col + k] for k in range(1, 6)]
        r += 1
    r += 1
    while r < len(cells) and cells[r][col] not in (None, ""):
        provenance[cells[r][col]] = cells[r][col + 1]
        r += 1
    return rows, provenance


def sheet_cells(path, sheet):
    if path.suffix == ".xls":
        ws = xlrd.open_workbook(str(path)).sheet_by_name(sheet)
        return [[None if c.ctype == 0 else c.value for c in ws.row(r)] + [None] * 20 for r in range(ws.nrows)] + \
            [[None] * 40]
    ws = openpyxl.load_workbook(path)[sheet]
    return [[c.value for c in row] + [None] * 20 for row in ws.iter_rows()] + [[None] * 40]


def pv_n(j):
    return j["provenance"]["individuals"]


def close(a, b):
    if a is None or b is None or isinstance(a, str) or isinstance(b, str):
        return a == b or (a in ("infinit", None) and b is None)
    return abs(a - b) <= 1e-12 * max(1.0, abs(b))


def main():
    cli, out_dir = sys.argv[1], Path(sys.argv[2])
    out_dir.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        make_books(folder)
        for book in ("survey.xlsx", "survey.xls"):
            plain, est = folder / ("plain-" + book), folder / ("est-" + book)
            shutil.copy(folder / book, plain)
            shutil.copy(folder / book, est)
            p = run(cli, "--json", str(plain))
            e = run(cli, "--json", "--estimates", str(est))
            # The indices round 2.5; the estimators count individuals and fail that sheet's estimates alone.
            check(p.returncode == 0, f"{book}: plain run exit {p.returncode}")
            check(e.returncode == (1 if book.endswith("xlsx") else 0), f"{book}: --estimates exit {e.returncode}")
            if book.endswith("xlsx"):
                check("Zecimale" in e.stderr and "B3" in e.stderr and "intreg" in e.stderr,
                      f"{book}: the non-whole count is named with its cell: {e.stderr!r}")
            plain_lines = [json.loads(l) for l in p.stdout.splitlines()]
            est_lines = [json.loads(l) for l in e.stdout.splitlines()]
            plain_lines = [j for j in plain_lines if "error" not in j]
            # The sheet whose count is not whole keeps its indices; only its estimates fail.
            computed = [j for j in est_lines if "sheet" in j and "error" not in j]
            sheets = [j for j in computed if "estimates" in j]
            check(len(sheets) == 3, f"{book}: three sheets estimated, got {len(sheets)}")
            check(len(computed) == len(plain_lines), f"{book}: every sheet keeps its indices")
            comparison = [j for j in est_lines if "comparison" in j]
            check(len(comparison) == 1 and len(comparison[0]["comparison"]["pairs"]) == 3,
                  f"{book}: one comparison line with three pairs")
            for pj, ej in zip(plain_lines, computed):
                classic = {k: v for k, v in ej.items() if k not in ("estimates", "provenance", "curve", "workbook")}
                check(classic == {k: v for k, v in pj.items() if k != "workbook"}, f"{book} {pj['sheet']}: --estimates changes the indices line")
                check(set(pj) & {"estimates", "provenance"} == set(), f"{book}: plain line has estimates")
            for name in SHEETS:
                cells = sheet_cells(plain, name)
                check(table(cells, "Estimator")[0] is None, f"{book} {name}: a table without --estimates")
                cells = sheet_cells(est, name)
                row1 = cells[0]
                check("Indici" in row1 and "Estimator" in row1 and
                      row1.index("Estimator") == row1.index("Indici") + 3,
                      f"{book} {name}: estimates table not in the next free columns: {row1}")
                rows, provenance = table(cells, "Estimator")
                j = next(s for s in sheets if s["sheet"] == name)
                for est_row in j["estimates"]:
                    shown = rows.get(est_row["label"])
                    check(shown is not None, f"{book} {name}: no row {est_row['label']}")
                    if shown is None:
                        continue
                    for got, want in zip(shown[:4], [est_row[k] for k in ("value", "se", "lower", "upper")]):
                        check(close(got, want), f"{book} {name} {est_row['key']}: table {got}, JSON {want}")
                    check(est_row["variant"] in shown[4], f"{book} {name}: Metoda lacks the variant")
                at_n = [p for p in j["curve"] if p["m"] == pv_n(j)]
                check(len(j["curve"]) >= 2 and len(at_n) == 1 and at_n[0]["q0"][0] == j["estimates"][0]["value"],
                      f"{book} {name}: the curve does not pass through the observed sample")
                pv = j["provenance"]
                check(provenance.get("Samanta (seed)") == "20141201" and provenance.get("Replici bootstrap") == "200",
                      f"{book} {name}: provenance {provenance}")
                check(provenance.get("Domeniul citit") == "A2:B%d" % (len(SHEETS[name]) + 1) == pv["range"],
                      f"{book} {name}: range {provenance.get('Domeniul citit')}")
                check(provenance.get("Indivizi") == str(sum(c for _, c in SHEETS[name])),
                      f"{book} {name}: individuals {provenance.get('Indivizi')}")

        book = str(folder / "survey.xlsx")
        again = [run(cli, "--dry-run", "--json", "--estimates", book).stdout for _ in range(2)]
        check(again[0] == again[1], "the same seed gives different numbers")
        other = run(cli, "--dry-run", "--json", "--estimates", "--seed", "5", "--replicates", "50", book).stdout
        check(other != again[0] and '"seed":5' in other and '"replicates":50' in other, "--seed/--replicates ignored")
        data = run(cli, "--dry-run", "--csv", "--estimates", book)
        rows = list(csv.DictReader(io.StringIO(data.stdout)))
        by_json = {(j["sheet"], e["key"]): e for j in map(json.loads, again[0].splitlines()) if "estimates" in j
                   for e in j["estimates"]}
        matched = 0
        for r in rows:
            e = by_json.get((r["foaie"], r["cheie"]))
            if e is None:
                continue
            matched += 1
            want = e["value"]
            check((r["valoare"] == "" and want is None) or abs(float(r["valoare"]) - want) <= 1e-12 * max(1, abs(want)),
                  f"CSV {r['foaie']} {r['cheie']}: {r['valoare']} vs {want}")
        check(matched == len(by_json), f"CSV holds {matched} of {len(by_json)} estimates")

        report = folder / "r.html"
        r = run(cli, "--dry-run", "--report", str(report), book)
        check(report.exists(), f"no report: {r.stderr}")
        html = report.read_text(encoding="utf-8")
        check("<script" not in html and "src=" not in html and "href=" not in html and "@import" not in html,
              "the report loads something")
        check(html.count("<svg") == 8, f"the report has {html.count('<svg')} pictures, not 8")
        chrome = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--enable-logging=stderr", "--v=0",
                  "--user-data-dir=" + str(folder / "chromium")]
        shot = out_dir / "report.png"
        c = subprocess.run(chrome + ["--window-size=1200,5400", "--screenshot=" + str(shot), report.as_uri()],
                           capture_output=True, text=True, timeout=120)
        check(c.returncode == 0 and shot.exists() and shot.stat().st_size > 50000,
              f"Chromium did not render the report: {c.returncode} {c.stderr[-400:]}")
        check("CONSOLE" not in c.stderr and "Uncaught" not in c.stderr, f"the page logged errors: {c.stderr[-400:]}")
        dom = subprocess.run(chrome + ["--dump-dom", report.as_uri()], capture_output=True, text=True, timeout=120)
        check(dom.stdout.count("<polyline") >= 20 and "Comparatii intre foi" in dom.stdout,
              "the rendered page lacks its curves or comparisons")
        shutil.copy(report, out_dir / "report.html")
    if failures:
        print(len(failures), "failures")
        sys.exit(1)
    print("ok; screenshot", out_dir / "report.png")


if __name__ == "__main__":
    main()
