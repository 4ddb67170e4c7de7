#!/usr/bin/env bash
# The whole job as a user runs it, against cp of the same file in the same run:
#   bench/whole-job.sh [ORDANA_CLI] [RUNS]
# Generates its workbooks once into $ORDANA_BENCH_DIR (default /tmp/ordana-whole-job): a 27 MB .xls of seven
# sheets and 245,000 rows whose data sheet holds 5,000 species, and a 1.7 MB one whose data sheet holds 20,000
# species; the same two as .xlsx and .ods (converted with LibreOffice) when ordana-cli opens those formats. For
# each it prints the median wall time of `ordana-cli --sheet Date` on a fresh copy, of `cp` of the same file
# (pair by pair), their ratio, the same against `cp` followed by `sync` of the copy (a copy on the disk, as
# the job's save is), and the peak resident memory; then the same for `ordana-cli --list`.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$here/build/src/cli/ordana-cli}
runs=${2:-7}
work=${ORDANA_BENCH_DIR:-/tmp/ordana-whole-job}
mkdir -p "$work"
exec /usr/bin/python3 - "$cli" "$runs" "$work" <<'PY'
import os, shutil, statistics, subprocess, sys, tempfile, time
from pathlib import Path

cli, runs, work = sys.argv[1], int(sys.argv[2]), Path(sys.argv[3])


def generate_xls(path, species, other_sheets, other_rows, extra_columns):
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
            sheet.write(r, 1, r % 30000)  # an integer: an RK record
            for c in range(2, 6):
                sheet.write(r, c, (r * 31 + c * 7 + s) % 10007 / 7)
    book.save(str(path))


def convert(source, extension):
    target = source.with_suffix("." + extension)
    if target.exists():
        return target
    profile = work / "lo-profile"
    subprocess.run(["soffice", "-env:UserInstallation=file://%s" % profile, "--headless", "--convert-to",
                    extension, "--outdir", str(work), str(source)], check=True, capture_output=True, timeout=900)
    return target


def opens(path):
    return subprocess.run([cli, "--list", str(path)], capture_output=True).returncode == 0


def timed(command):
    """Wall time of one process, and its peak resident memory, from the kernel's account of that child
    (wait4): no wrapper process whose own start would add the same time to both sides of a ratio."""
    with tempfile.TemporaryFile() as errors:
        start = time.perf_counter()
        child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=errors)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            errors.seek(0)
            sys.exit("failed: %s\n%s" % (" ".join(command), errors.read().decode(errors="replace")))
    return wall, usage.ru_maxrss * 1024


def measure(original, args):
    job, copy, durable, peak = [], [], [], 0
    fresh = original.with_name("fresh-" + original.name)
    for _ in range(runs):
        if fresh.exists():
            fresh.unlink()
        # A copy that, like the job's save, is on the disk when it returns: cp, then sync of that file.
        durable.append(timed(["cp", str(original), str(fresh)])[0] + timed(["sync", str(fresh)])[0])
        fresh.unlink()
        copy.append(timed(["cp", str(original), str(fresh)])[0])
        # A user's workbook was not written in the last instant: past the kernel's clock tick, its time of
        # status change tells any later write, and the job reads it as it needs it (untimed pause).
        time.sleep(0.05)
        wall, rss = timed([cli, *args, str(fresh)])
        job.append(wall)
        peak = max(peak, rss)
    fresh.unlink()
    return statistics.median(job), statistics.median(copy), statistics.median(durable), peak


workbooks = {"245,000 rows": work / "large.xls", "20,000 rows": work / "rows.xls"}
if not workbooks["245,000 rows"].exists():
    print("generating", workbooks["245,000 rows"], file=sys.stderr)
    generate_xls(workbooks["245,000 rows"], 5000, 6, 40000, 0)
if not workbooks["20,000 rows"].exists():
    print("generating", workbooks["20,000 rows"], file=sys.stderr)
    generate_xls(workbooks["20,000 rows"], 20000, 0, 0, 4)

# The other formats, once ordana-cli opens them (a small probe first: converting the large one takes a while).
rows = [("xls", k, p) for k, p in workbooks.items()]
probe = work / "probe.xls"
if not probe.exists():
    generate_xls(probe, 20, 0, 0, 0)
if shutil.which("soffice"):
    for extension in ("xlsx", "ods"):
        if opens(convert(probe, extension)):
            rows += [(extension, k, convert(p, extension)) for k, p in workbooks.items()]
        else:
            print("(no %s rows: ordana-cli does not open .%s files yet)" % (extension, extension))

print("%-5s %-12s %-7s %9s %9s %7s %12s %7s %10s %10s" % ("fmt", "workbook", "command", "job ms", "cp ms", "ratio",
                                                           "cp+sync ms", "ratio", "peak MiB", "file MiB"))
for fmt, label, path in rows:
    size = path.stat().st_size
    for command, args in (("--sheet", ["--sheet", "Date"]), ("--list", ["--list"])):
        if command == "--list" and label != "245,000 rows":
            continue
        j, c, d, peak = measure(path, args)
        print("%-5s %-12s %-7s %9.1f %9.1f %7.2f %12.1f %7.2f %10.1f %10.1f" %
              (fmt, label, command, j * 1000, c * 1000, j / c, d * 1000, j / d, peak / 2**20, size / 2**20),
              flush=True)
PY
