#!/usr/bin/env bash
# Memory and time of the whole job on hostile workbooks, each on a fresh copy, against a reference build in
# the same run:
#   bench/hostile-classes.sh [ORDANA_CLI] [REFERENCE_CLI] [SECONDS]
# Makes the workbooks of every class once into $ORDANA_BENCH_DIR/hostile-classes (default
# /tmp/ordana-hostile-classes; scripts/fixtures/make-hostile-classes.py: cells, text, styles, parts, nodes,
# sheets), takes the shared ones of ../shared/hostile and ../shared/hostile-next, and prints for each the
# outcome (done, refused or the exit), the peak resident memory and the wall time, marking a run past 200 MiB
# or 20 s. A run is stopped after SECONDS (default 120) and its memory capped at 10 GiB.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$here/build/src/cli/ordana-cli}
reference=${2:-}
seconds=${3:-120}
work=${ORDANA_BENCH_DIR:-/tmp/ordana-hostile-classes}/hostile-classes
if [ ! -e "$work/made" ]; then
    mkdir -p "$work"
    /usr/bin/python3 "$here/scripts/fixtures/make-hostile-classes.py" "$work"
    touch "$work/made"
fi
exec /usr/bin/python3 - "$cli" "$reference" "$seconds" "$work" "$here/../shared/hostile" \
    "$here/../shared/hostile-next" <<'PY'
import os, resource, shutil, signal, subprocess, sys, tempfile, time

cli, reference, seconds, folders = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
books = sorted(os.path.join(d, f) for d in folders if os.path.isdir(d) for f in os.listdir(d)
               if f.lower().endswith((".xls", ".xlsx", ".xlsm", ".ods")))


def measured(program, book):
    """(outcome, peak MiB, seconds) of one job on a fresh, writable copy; wait4 gives that child's own peak."""
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, os.path.basename(book))
        shutil.copyfile(book, copy)
        os.chmod(copy, 0o644)
        cap = lambda: resource.setrlimit(resource.RLIMIT_AS, (10 << 30, 10 << 30))  # noqa: E731
        start = time.perf_counter()
        child = subprocess.Popen([program, copy], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                 preexec_fn=cap, start_new_session=True)
        deadline = start + seconds
        while True:
            pid, status, usage = os.wait4(child.pid, os.WNOHANG)
            if pid:
                break
            if time.perf_counter() > deadline:
                os.killpg(child.pid, signal.SIGKILL)
                _, status, usage = os.wait4(child.pid, 0)
                return "stopped", usage.ru_maxrss / 1024, seconds
            time.sleep(0.01)
        wall = time.perf_counter() - start
        code = os.waitstatus_to_exitcode(status)
        outcome = "done" if code == 0 else "refused" if code == 1 else "exit %d" % code
        return outcome, usage.ru_maxrss / 1024, wall


def cell(result):
    outcome, mib, wall = result
    mark = " !" if mib > 200 or wall > 20 else ""
    return "%-8s %8.1f MiB %7.2f s%s" % (outcome, mib, wall, mark)


print("%-36s  %-32s  %s" % ("workbook", os.path.basename(cli), os.path.basename(reference) if reference else ""))
over = 0
for book in books:
    new = measured(cli, book)
    over += new[1] > 200 or new[2] > 20
    line = "%-36s  %-32s" % (os.path.basename(book), cell(new))
    if reference:
        line += "  " + cell(measured(reference, book))
    print(line, flush=True)
print("%d of %d past 200 MiB or 20 s" % (over, len(books)))
PY
