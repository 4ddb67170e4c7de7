#!/usr/bin/env bash
# A survey at field scale, as one run of ordana-cli meets it:
#   bench/survey-scale.sh [ORDANA_CLI] [SAMPLES] [SPECIES] [REPLICATES]
# Generates (once, into $ORDANA_BENCH_DIR, default /tmp/ordana-survey) an .xlsx holding a survey of SAMPLES
# columns (default 1,000) and SPECIES rows (default 500) of log-normal counts, about a third of them empty, and
# prints the wall time, the CPU time and the peak resident memory of `ordana-cli --dry-run --json --estimates
# --incidence` on it (every sample's estimates and curves, and the units', with REPLICATES bootstrap replicates,
# default 200), and the same without the bootstrap (--replicates 0) for reference.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$here/build/src/cli/ordana-cli}
samples=${2:-1000}
species=${3:-500}
replicates=${4:-200}
work=${ORDANA_BENCH_DIR:-/tmp/ordana-survey}
mkdir -p "$work"
exec /usr/bin/python3 - "$cli" "$samples" "$species" "$replicates" "$work" <<'PY'
import math, random, resource, subprocess, sys, time
from pathlib import Path

cli, samples, species, replicates, work = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], Path(sys.argv[5])
book = work / f"survey-{samples}x{species}.xlsx"
if not book.exists():
    import openpyxl
    rng = random.Random(20141201)
    wb = openpyxl.Workbook(write_only=True)
    ws = wb.create_sheet("Sezon")
    ws.append(["SPECIA"] + [f"P{k + 1}" for k in range(samples)])
    for i in range(species):
        mean = math.exp(rng.gauss(0.5, 1.5))
        ws.append([f"Specia {i + 1}"] + [(int(rng.expovariate(1 / mean)) or None) for _ in range(samples)])
    wb.save(book)


def measure(args):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    r = subprocess.run([cli, *args, str(book)], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if r.returncode != 0:
        sys.exit(f"ordana-cli failed: {r.stderr[-500:]}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, after.ru_maxrss / 1024


print(f"{book.name}: {book.stat().st_size / 1e6:.1f} MB, {samples} samples x {species} species")
for label, args in (("estimates and incidence, no bootstrap",
                     ["--dry-run", "--json", "--estimates", "--incidence", "--replicates", "0"]),
                    (f"estimates and incidence, {replicates} replicates",
                     ["--dry-run", "--json", "--estimates", "--incidence", "--replicates", replicates])):
    wall, cpu, rss = measure(args)
    print(f"  {label}: {wall:.1f} s wall, {cpu:.1f} s CPU, peak {rss:.0f} MiB")
PY
