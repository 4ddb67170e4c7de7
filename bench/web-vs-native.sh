#!/usr/bin/env bash
# The whole job in ordana.html (chromium, firefox or WebKitGTK) against the native ordana-cli, in the same run:
#   bench/web-vs-native.sh [ORDANA_HTML] [NATIVE_ORDANA_CLI] [RUNS] [chromium|firefox|webkit]
# A 1 MB .xls (12,000 species, four more columns) and the large .xls of bench/whole-job.sh (seven sheets,
# 245,000 rows; made there when missing) go through the page as a user's job: the file chosen (its data sheets
# listed, the first read), "Prelucrarea datelor" (the table written, the workbook saved and handed back as a
# download). The page's time is taken inside it, from the file input's change to the status of the reading and
# from the click to the status of the hand-back, so that the driver's own latency is not counted; the native
# time is the wall time of `ordana-cli --sheet Date` on a fresh copy. Medians of the first job in a freshly opened
# page and of the same job again in it (once the browser has compiled the module's code fully), their ratios to
# the native, and the module's memory after the jobs (it only grows, so it is the peak) beside the file's size.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
page=${1:-$here/build-web/ordana.html}
cli=${2:-$here/build/src/cli/ordana-cli}
runs=${3:-5}
browser=${4:-chromium}
work=${ORDANA_BENCH_DIR:-/tmp/ordana-whole-job}
mkdir -p "$work"
exec /usr/bin/python3 - "$page" "$cli" "$runs" "$work" "$here/tests/web" "$browser" <<'PY'
import os, shutil, statistics, subprocess, sys, tempfile, time
from pathlib import Path

page, cli, runs, work = Path(sys.argv[1]).resolve(), sys.argv[2], int(sys.argv[3]), Path(sys.argv[4])
sys.path.insert(0, sys.argv[5])
from browser import Browser



def generate_xls(path, species, other_sheets, other_rows, extra_columns):
    """The workbooks of bench/whole-job.sh, made the same way."""
    import xlwt
    book = xlwt.Workbook()
    data = book.add_sheet("Date")
    data.write(0, 0, "SPECIA")
    data.write(0, 1, "ABUNDENTA")
    for c in range(extra_columns):
        data.write(0, 2 + c, "masura %d" % (c + 1))
    for r in range(1, species + 1):
        data.write(r, 0, "Specia %05d" % r)
        data.write(r, 1, 1 + r % 3 if species <= 10000 else 1)
        for c in range(extra_columns):
            data.write(r, 2 + c, (r * 7 + c) % 1000 / 10)
    for s in range(other_sheets):
        sheet = book.add_sheet("Masuratori %d" % (s + 1))
        for r in range(other_rows):
            sheet.write(r, 0, "punct %d" % r)
            sheet.write(r, 1, r % 30000)
            for c in range(2, 6):
                sheet.write(r, c, (r * 31 + c * 7 + s) % 10007 / 7)
    book.save(str(path))


one_mb, large = work / "one-mb.xls", work / "large.xls"
if not one_mb.exists():
    generate_xls(one_mb, 12000, 0, 0, 4)
if not large.exists():
    generate_xls(large, 5000, 6, 40000, 0)

WATCH = """(() => {
  window.times = {};
  const status = document.getElementById('stare');
  document.addEventListener('change', (e) => { if (e.target.id === 'fisier') times.chosen = performance.now(); },
                            true);
  document.addEventListener('click', (e) => { if (e.target.id === 'prelucrare') times.clicked = performance.now(); },
                            true);
  new MutationObserver(() => {
    const t = status.textContent;
    if (t.startsWith(' Selectati datele') && !times.read) times.read = performance.now();
    if (t.includes('; descarcat') && !times.done) times.done = performance.now();
  }).observe(status, {childList: true, characterData: true, subtree: true});
})()"""


def native_once(path):
    fresh = path.with_name("fresh-" + path.name)
    shutil.copy(path, fresh)
    time.sleep(0.05)
    start = time.perf_counter()
    subprocess.run([cli, "--sheet", "Date", str(fresh)], check=True, capture_output=True)
    wall = time.perf_counter() - start
    fresh.unlink()
    return wall


def job_in_page(b, path):
    """The job once in the open page: its time as the page measures it."""
    b.evaluate("(window.times = {}, 1)")
    b.set_files("#fisier", [str(path)])
    b.until("window.times.read", 600)
    b.click("#prelucrare")
    b.until("window.times.done", 600)
    t = b.evaluate("times")
    b.wait_download(600)
    return ((t["read"] - t["chosen"]) + (t["done"] - t["clicked"])) / 1000


def page_once(b, path):
    """The first job in a freshly opened page, as a user's, then the same job again in that page: the second
    runs on code the browser has had time to compile fully."""
    b.open(page.as_uri())
    b.until("document.getElementById('stare').textContent !== ''")
    b.evaluate(WATCH)
    first = job_in_page(b, path)
    again = job_in_page(b, path)
    return first, again, b.evaluate("Module.HEAPU8.length")


downloads = tempfile.mkdtemp(prefix="ordana-bench-downloads-")
print("in", sys.argv[6])
print("%-10s %9s %9s %9s %9s %7s %7s %14s" % ("workbook", "file MiB", "page ms", "again ms", "native ms", "ratio",
                                           "again", "page wasm MiB"))
b = Browser(downloads, sys.argv[6])
try:
    for label, path in (("1 MB", one_mb), ("large", large)):
        native = statistics.median(native_once(path) for _ in range(runs))
        firsts, agains, memory = [], [], 0
        for _ in range(runs):
            first, again, m = page_once(b, path)
            firsts.append(first)
            agains.append(again)
            memory = max(memory, m)
            for f in os.listdir(downloads):
                os.unlink(os.path.join(downloads, f))
        p, q = statistics.median(firsts), statistics.median(agains)
        print("%-10s %9.1f %9.1f %9.1f %9.1f %7.2f %7.2f %14.1f" % (
            label, path.stat().st_size / 2**20, p * 1000, q * 1000, native * 1000, p / native, q / native,
            memory / 2**20), flush=True)
finally:
    b.close()
    shutil.rmtree(downloads, ignore_errors=True)
PY
