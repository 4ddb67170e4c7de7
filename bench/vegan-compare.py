#!/usr/bin/python3
"""ordana-cli --estimates against R's vegan on the same survey, each side a whole process (start included),
without and with a bootstrap, all four measured in one run, interleaved, three times each.

    bench/vegan-compare.py ORDANA_CLI [SHEETS [REPLICATES]]     (default 50 sheets, 200 replicates)

The survey: SHEETS sheets of 50 to 500 species with log-normal abundances (seeded), written once as an .xlsx for
Ordana and as a TSV for R, which reads it far faster than Ordana reads a workbook. Without the bootstrap,
Ordana (--replicates 0) computes every estimate, the curves at 40 sizes up to 2n and the comparisons of every
pair; vegan computes estimateR, fisher.alpha, diversity (Shannon, inverse Simpson), rarefy at 40 sizes below n
and vegdist (Jaccard, Sorensen, Bray-Curtis, Morisita-Horn). With it, Ordana draws REPLICATES bootstrap samples
per sheet (Chao et al. 2014) for the errors of its estimates and curves; vegan has no bootstrap of these, so the
R side draws the same assemblage with rmultinom and applies the same vegan functions to each replicate, as a
user of vegan would. Prints a Markdown table (docs/ESTIMATES.md holds one).
"""

import math
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import openpyxl

R_SCRIPT = r"""
suppressMessages(library(vegan))
args <- commandArgs(TRUE)
d <- read.table(args[1], sep = "\t", col.names = c("sheet", "species", "count"))
replicates <- as.integer(args[2])
sizes <- function(n) unique(floor(1 + (n - 1) * (0:39) / 39))
stats <- function(x) {
  n <- sum(x)
  e <- estimateR(x)
  a <- if (length(x) < n) fisher.alpha(x) else NA
  r <- rarefy(x, sizes(n))
  c(e[c("S.chao1", "S.ACE")], a, diversity(x, "shannon"), diversity(x, "invsimpson"), r)
}
# The bootstrap assemblage of Chao et al. (2014): detected species with adjusted abundances and ceil(f0)
# undetected ones sharing the missing mass.
assemblage <- function(x) {
  n <- sum(x); f1 <- sum(x == 1); f2 <- sum(x == 2)
  f0 <- if (f2 > 0) (n - 1) / n * f1^2 / (2 * f2) else (n - 1) / n * f1 * (f1 - 1) / 2
  w <- if (f1 > 0) n * f0 / (n * f0 + f1) else 1
  a <- f1 / n * w
  b <- sum(x / n * (1 - x / n)^n)
  lambda <- if (f0 > 0 && b > 0) a / b else 0
  p <- pmax(0, x / n * (1 - lambda * (1 - x / n)^n))
  u <- ceiling(f0)
  if (u > 0 && a > 0) p <- c(p, rep(a / u, u))
  p
}
checksum <- 0
set.seed(20141201)
for (x in split(d$count, d$sheet)) {
  s <- stats(x)
  if (replicates > 1) {
    p <- assemblage(x)
    reps <- sapply(seq_len(replicates), function(r) {
      y <- rmultinom(1, sum(x), p)
      y <- y[y > 0]
      z <- stats(y)
      length(z) <- length(s)
      z
    })
    s <- c(s, apply(reps, 1, sd, na.rm = TRUE))
  }
  checksum <- checksum + sum(s, na.rm = TRUE)
}
m <- unclass(xtabs(count ~ sheet + species, data = d))
for (what in c("jaccard", "bray", "horn"))
  checksum <- checksum + sum(vegdist(m, what, binary = what == "jaccard"))
checksum <- checksum + sum(vegdist(m, "bray", binary = TRUE))
cat(sprintf("%.6f\n", checksum))
"""


def survey(sheets):
    rng = random.Random(7)
    out = []
    for _ in range(sheets):
        species = rng.randint(50, 500)
        out.append([max(1, round(math.exp(1.0 + 1.4 * rng.gauss(0, 1)))) for _ in range(species)])
    return out


def timed(argv):
    """Wall and CPU seconds and peak memory of one child process."""
    start = time.monotonic()
    child = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    err = child.stderr.read().decode(errors="replace")
    child.stderr.close()
    if os.waitstatus_to_exitcode(status) not in (0,):
        sys.exit(f"{argv[0]} failed: {err[-400:]}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def main():
    cli = sys.argv[1]
    sheets = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    replicates = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    data = survey(sheets)
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        wb = openpyxl.Workbook()
        wb.remove(wb.active)
        with open(folder / "survey.tsv", "w") as tsv:
            for k, counts in enumerate(data):
                ws = wb.create_sheet("Proba%d" % (k + 1))
                ws.append(["SPECIA", "ABUNDENTA"])
                for i, c in enumerate(counts):
                    ws.append(["sp%d" % i, c])
                    tsv.write(f"{k}\tsp{i}\t{c}\n")
        wb.save(folder / "survey.xlsx")
        (folder / "vegan.R").write_text(R_SCRIPT)
        runs = {
            ("vegan", 0): ["Rscript", str(folder / "vegan.R"), str(folder / "survey.tsv"), "0"],
            ("Ordana", 0): [cli, "--dry-run", "--json", "--estimates", "--replicates", "0", str(folder / "survey.xlsx")],
            ("vegan", replicates): ["Rscript", str(folder / "vegan.R"), str(folder / "survey.tsv"), str(replicates)],
            ("Ordana", replicates): [cli, "--dry-run", "--json", "--estimates", "--replicates", str(replicates),
                                     str(folder / "survey.xlsx")],
        }
        results = {key: [] for key in runs}
        for _ in range(3):
            for key, argv in runs.items():
                results[key].append(timed(argv))
    individuals = sum(map(sum, data))
    print(f"{sheets} sheets, {sum(map(len, data))} species rows, {individuals} individuals; "
          f"median of 3 runs, each a whole process\n")
    print("| bootstrap | tool | wall s | CPU s | peak MB | vegan / Ordana (wall) |")
    print("|---|---|---|---|---|---|")
    for reps in (0, replicates):
        med = {tool: [statistics.median(r[i] for r in results[(tool, reps)]) for i in range(3)]
               for tool in ("vegan", "Ordana")}
        for tool in ("vegan", "Ordana"):
            wall, cpu, peak = med[tool]
            ratio = f"{med['vegan'][0] / med['Ordana'][0]:.1f}x" if tool == "Ordana" else ""
            print(f"| {'none' if reps == 0 else f'{reps} replicates'} | {tool} | {wall:.2f} | {cpu:.2f} | "
                  f"{peak:.0f} | {ratio} |")


if __name__ == "__main__":
    main()
