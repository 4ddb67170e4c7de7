#!/usr/bin/env python3
"""Every workbook of a corpus through the engine (corpus_probe), each on a scratch copy.

Fails on a crash, a hang, memory beyond the limit, an error that is not the engine's own, a refused file that was
changed, a refusal that names no cause, or a saved file that lost a cell or does not show the table when an
independent reader (openpyxl, odfpy, xlrd) reads it. Prints the counts for the README.

usage: corpus_gate.py PROBE CORPUS_DIR [CORPUS_DIR ...]
"""

import collections
import datetime
import math
import multiprocessing
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import warnings
import json

TIMEOUT_S = 10
MEMORY_LIMIT_KIB = 200 * 1024
MESSAGE_LIMIT = 1000

# The causes a refusal may give; a message that matches none names no cause the user can act on.
CAUSES = [
    ("encrypted", r"criptat|parola"),
    ("older than Excel 97", r"prea vechi"),
    ("no room for the table", r"in afara foii"),
    ("broken zip", r"arhiv|zip|trunchiat|suma de control|comprimat"),
    ("broken XML", r"XML"),
    ("not a workbook", r"nu este un (registru|pachet|document)|nu este unul OpenDocument|tipul|OLE2"),
    ("damaged records", r"deteriorat|inregistrare|nu exista|trunchiat|anunta mai multe"),
    ("not supported", r"nu poate fi (scris|scrisa|pastrat|modificat)|nu este (scrisa|codificata)|UTF-8|BIFF|versiune"),
    ("too large", r"prea mare|prea multe|depaseste|limita"),
]
LIBRARY_TEXTS = re.compile(r"basic_string|std::|bad_alloc|_M_|vector::|map::at|what\(\)")


def run_probe(probe, path):
    """(status dict or None, fault text or None, peak KiB)."""
    # A ceiling far above the limit, so that a runaway reader fails alone rather than taking the machine.
    ceiling = lambda: resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))  # noqa: E731
    proc = subprocess.Popen([probe, path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            start_new_session=True, preexec_fn=ceiling)
    deadline = time.monotonic() + TIMEOUT_S
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() > deadline:
            os.killpg(proc.pid, signal.SIGKILL)
            os.wait4(proc.pid, 0)
            return None, "hang (over %d s)" % TIMEOUT_S, 0
        time.sleep(0.01)
    out = proc.stdout.read().decode("utf-8", "replace")
    proc.stdout.close()
    proc.returncode = 0  # reaped above
    peak = 0
    if os.WIFSIGNALED(status):
        return None, "crash (signal %d)" % os.WTERMSIG(status), peak
    if os.WEXITSTATUS(status) != 0 or not out.strip():
        return None, "exit %d without an answer" % os.WEXITSTATUS(status), peak
    answer = json.loads(out.strip().splitlines()[-1])
    return answer, None, answer.get("peak_kib", 0)


# --- independent readers: every non-empty cell as {(sheet index, row, column): value} -------------------------

def cells_openpyxl(path):
    import openpyxl
    from openpyxl.utils.datetime import to_excel
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        # Not read-only: that mode pads every row to the declared dimension, which may be the whole sheet.
        wb = openpyxl.load_workbook(path, data_only=False, keep_links=False)
    cells = {}
    for ws in wb.worksheets:
        for (row, column), c in getattr(ws, "_cells", {}).items():
            v = c.value
            if isinstance(v, (datetime.datetime, datetime.date, datetime.time, datetime.timedelta)):
                # The table's whole-column number formats may turn a date into a number; the value stays.
                v = to_excel(v)
            if v is not None and v != "":
                cells[(ws.title, row, column)] = v
        # Cells under a merged range's first cell keep what is written there, but no reader shows it.
        for merged in ws.merged_cells.ranges:
            for row, column in merged.cells:
                if (row, column) != (merged.min_row, merged.min_col):
                    cells[(ws.title, row, column)] = MERGED
    return cells


MERGED = object()


def cells_odfpy(path):
    from odf.opendocument import load
    from odf.namespaces import TABLENS, OFFICENS
    doc = load(path)
    cells = {}
    tables = doc.spreadsheet.getElementsByType(__import__("odf.table", fromlist=["Table"]).Table)
    for table in tables:
        si = table.getAttribute("name")
        r = 0
        for row in table.getElementsByType(__import__("odf.table", fromlist=["TableRow"]).TableRow):
            reps = int(row.attributes.get((TABLENS, "number-rows-repeated"), "1"))
            values = []
            col = 0
            for cell in row.childNodes:
                if cell.qname[1] not in ("table-cell", "covered-table-cell"):
                    continue
                creps = int(cell.attributes.get((TABLENS, "number-columns-repeated"), "1"))
                vtype = cell.attributes.get((OFFICENS, "value-type"))
                value = None
                if vtype in ("float", "percentage", "currency"):
                    value = float(cell.attributes.get((OFFICENS, "value")))
                elif vtype is not None:
                    value = str(cell)
                if value is not None and value != "":
                    for k in range(min(creps, 1024)):
                        values.append((col + k + 1, value))
                col += creps
            for k in range(min(reps, 1024) if values else 0):
                for c, v in values:
                    cells[(si, r + k + 1, c)] = v
            r += reps
    return cells


def cells_xlrd(path):
    import xlrd
    with open(os.devnull, "w") as quiet:
        book = xlrd.open_workbook(path, logfile=quiet)
    cells = {}
    for si in range(book.nsheets):
        sh = book.sheet_by_index(si)
        name = sh.name
        for r in range(sh.nrows):
            for c in range(sh.ncols):
                v = sh.cell_value(r, c)
                if v != "":
                    cells[(name, r + 1, c + 1)] = v
    return cells


READERS = {".xlsx": cells_openpyxl, ".xlsm": cells_openpyxl, ".ods": cells_odfpy, ".xls": cells_xlrd}


def same(a, b):
    if isinstance(a, float) or isinstance(b, float):
        try:
            # A date read back as a number passes through a microsecond clock: equal to the last bits.
            return math.isclose(float(a), float(b), rel_tol=1e-12) or (math.isnan(float(a)) and math.isnan(float(b)))
        except (TypeError, ValueError):
            return False
    return a == b


def check_saved(reader, original, saved, column, sheet):
    """A fault text, or None when every original cell and the table are there."""
    table = {(sheet, 1, column)}
    table |= {(sheet, r, column + k) for r in range(1, 14) for k in (1, 2)}
    try:
        after = read_within(reader, saved)
    except Exception as e:  # noqa: BLE001 - any reader failure is the finding
        return "saved file unreadable: %s" % str(e)[:200]
    for key, value in original.items():
        if key in table or value is MERGED:
            continue
        if key not in after or not same(after[key], value):
            return "cell %s lost or changed: %r -> %r" % (key, value, after.get(key))
    def shows(key, test):
        return after.get(key) is MERGED or test(after.get(key))
    if not shows((sheet, 1, column + 1), lambda v: v == "Indici") or \
            not shows((sheet, 13, column + 2), lambda v: isinstance(v, (int, float))):
        return "table missing"
    return None


class ReaderTimeout(Exception):
    pass


def read_within(reader, path, seconds=60):
    """The reader's cells; ReaderTimeout when it takes longer than any file here should."""
    def expire(signum, frame):
        raise ReaderTimeout()
    previous = signal.signal(signal.SIGALRM, expire)
    signal.alarm(seconds)
    try:
        return reader(path)
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)


def one(args):
    probe, path, scratch = args
    name = os.path.basename(path)
    ext = os.path.splitext(name)[1].lower()
    work = os.path.join(scratch, name)
    shutil.copyfile(path, work)
    result = {"file": name, "ext": ext}
    status, fault, peak = run_probe(probe, work)
    result["peak_kib"] = peak
    if fault is None and peak > MEMORY_LIMIT_KIB:
        fault = "memory %d MiB" % (peak // 1024)
    if fault is None:
        kind = status["status"]
        result["status"] = kind
        if kind == "escaped":
            fault = "not the engine's own error: " + status["message"][:200]
        elif kind in ("refused", "no-worksheet"):
            with open(path, "rb") as a, open(work, "rb") as b:
                if a.read() != b.read():
                    fault = "refused file was changed"
        if fault is None and kind == "refused":
            msg = status["message"]
            result["number"] = status["number"]
            result["cause"] = next((c for c, rx in CAUSES if re.search(rx, msg)), "other")
            if not msg.strip() or len(msg) > MESSAGE_LIMIT or LIBRARY_TEXTS.search(msg):
                fault = "refusal without a cause: %r" % msg[:300]
            elif "destula memorie" in msg:
                fault = "refused for memory: " + msg[:300]
            result["message"] = msg[:300]
        if fault is None and kind in ("saved", "refused"):
            reader = READERS.get(ext)
            try:
                original = read_within(reader, path)
            except Exception:  # noqa: BLE001 - the reader's own limits; nothing to compare with
                original = None
            # A reader that sees no cell at all (Strict OOXML for openpyxl) has nothing to judge by.
            result["readable"] = bool(original)
            if original and kind == "saved":
                fault = check_saved(reader, original, work, status["column"], status["sheet"])
                result["intact"] = fault is None
    os.unlink(work)
    result["fault"] = fault
    return result


def main():
    probe, dirs = sys.argv[1], sys.argv[2:]
    files = sorted(os.path.join(d, f) for d in dirs for f in os.listdir(d)
                   if os.path.splitext(f)[1].lower() in READERS)
    scratch = tempfile.mkdtemp(prefix="ordana-corpus-")
    try:
        with multiprocessing.Pool(os.cpu_count() or 2) as pool:
            results = pool.map(one, [(probe, f, scratch) for f in files], chunksize=4)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    faults = [r for r in results if r["fault"]]
    by_ext = collections.defaultdict(collections.Counter)
    causes = collections.Counter()
    for r in results:
        c = by_ext[r["ext"]]
        c["files"] += 1
        c[r.get("status", "fault")] += 1
        if r.get("readable"):
            c["readable"] += 1
            c["intact"] += 1 if r.get("intact") else 0
        if r.get("status") == "refused":
            causes["%s (%s)" % (r["cause"], r["ext"])] += 1
    for ext, c in sorted(by_ext.items()):
        share = 100.0 * c["intact"] / c["readable"] if c["readable"] else 100.0
        print("%-5s %4d files: %4d saved (%d of %d readable intact, %.1f%%), %d refused, %d without a worksheet" %
              (ext, c["files"], c["saved"], c["intact"], c["readable"], share, c["refused"], c["no-worksheet"]))
    for cause, n in sorted(causes.items(), key=lambda kv: -kv[1]):
        print("  refused, %s: %d" % (cause, n))
    peak = max(results, key=lambda r: r["peak_kib"])
    print("largest memory: %.1f MiB (%s)" % (peak["peak_kib"] / 1024, peak["file"]))
    for r in faults:
        print("FAULT %s: %s" % (r["file"], r["fault"]))
    if os.environ.get("ORDANA_CORPUS_REFUSALS"):
        for r in results:
            if r.get("status") == "refused":
                print("refused %s: %s" % (r["file"], r["message"]))
    print("%d passed, %d failed" % (len(results) - len(faults), len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
