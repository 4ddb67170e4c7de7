#!/usr/bin/python3
"""ordana-cli's estimators against R's vegan (Rscript, Debian's r-cran-vegan) on generated survey sheets, on
vegan's mite as a survey (estimateR site by site) and on ten BCI plots as sampling units (specpool).

Data sets of several shapes (log-normal, geometric, with and without singletons or doubletons, with shared and
renamed species) go into one workbook; ordana-cli --estimates --json reads it, vegan computes from the same
counts estimateR (bias-corrected Chao1 without (n-1)/n, ACE), fisher.alpha, rarefy with its standard error,
diversity (Shannon, inverse Simpson) and vegdist (Jaccard and Sorensen on presence, Bray-Curtis, Morisita-Horn),
and R's pt gives the p of each Hutcheson t. Every number must agree to 1e-6 relative.

    cli_vegan_compare.py ORDANA_CLI
"""

import json
import math
import random
import subprocess
import sys
import tempfile
from pathlib import Path

import openpyxl

failures = []
numbers = [0]


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def data_sets():
    rng = random.Random(20141201)
    sets = {}
    for k in range(10):
        species = rng.randint(8, 120)
        if k % 3 == 0:
            counts = [max(1, int(math.exp(rng.gauss(1.2, 1.4)))) for _ in range(species)]
        elif k % 3 == 1:
            counts = [max(1, int(rng.expovariate(1 / 6.0))) for _ in range(species)]
        else:
            counts = [rng.choice([1, 1, 2, 3, 5, 8, 13, 40]) for _ in range(species)]
        # Names drawn from one pool, some written differently, so the sheets share species.
        names = rng.sample(range(200), species)
        sets["Proba%d" % (k + 1)] = [(("  Sp%d" if n % 4 == 0 else "sp%d ") % n, c) for n, c in zip(names, counts)]
    sets["FaraDubletoni"] = [("sp%d" % i, c) for i, c in enumerate([9, 5, 4, 3, 1, 1, 1])]
    sets["FaraSingletoni"] = [("sp%d" % i, c) for i, c in enumerate([12, 7, 4, 2, 2, 3])]
    return sets


R_SCRIPT = r"""
suppressMessages(library(vegan))
args <- commandArgs(TRUE)
d <- read.table(args[1], header = TRUE, sep = "\t", quote = "", stringsAsFactors = FALSE)
m <- as.integer(args[2])
out <- function(...) cat(paste(..., sep = "\t"), "\n", sep = "")
tab <- xtabs(count ~ sheet + key, data = d)
for (s in unique(d$sheet)) {
  x <- d$count[d$sheet == s]
  x <- x[x > 0]
  e <- estimateR(x)
  out(s, "chao1", sprintf("%.17g", e["S.chao1"]))
  out(s, "ace", sprintf("%.17g", e["S.ACE"]))
  if (length(x) < sum(x)) out(s, "fisher", sprintf("%.17g", fisher.alpha(x)))
  if (sum(x) > m) {
    r <- rarefy(x, m, se = TRUE)
    out(s, "rarefy", sprintf("%.17g", r[1]))
    out(s, "rarefySe", sprintf("%.17g", r[2]))
  }
  out(s, "shannon", sprintf("%.17g", diversity(x, "shannon")))
  out(s, "invsimpson", sprintf("%.17g", diversity(x, "invsimpson")))
}
mat <- unclass(tab)
for (what in c("jaccard", "sorensen", "bray", "horn")) {
  dd <- if (what == "jaccard") vegdist(mat, "jaccard", binary = TRUE) else
        if (what == "sorensen") vegdist(mat, "bray", binary = TRUE) else vegdist(mat, what)
  dm <- as.matrix(dd)
  for (i in rownames(dm)) for (j in colnames(dm)) out(paste(i, j, sep = "|"), what, sprintf("%.17g", dm[i, j]))
}
p <- read.table(args[3], header = TRUE, sep = "\t", quote = "", stringsAsFactors = FALSE)
for (k in seq_len(nrow(p))) out(paste(p$a[k], p$b[k], sep = "|"), "hutchesonP",
                                sprintf("%.17g", 2 * pt(-abs(p$t[k]), p$df[k])))
"""


SURVEY_R = r"""
suppressMessages(library(vegan))
data(mite); data(BCI)
args <- commandArgs(TRUE)
out <- function(...) cat(paste(..., sep = "\t"), "\n", sep = "")
# The surveys as the workbook holds them: a species a row, a sample a column.
write.table(t(mite), args[1], sep = "\t", quote = FALSE, col.names = NA)
bci <- BCI[1:10, ]
rownames(bci) <- paste0("P", 1:10)
write.table(t(bci), args[2], sep = "\t", quote = FALSE, col.names = NA)
e <- estimateR(mite)
for (site in colnames(e)) {
  out(site, "chao1", sprintf("%.17g", e["S.chao1", site]))
  out(site, "ace", sprintf("%.17g", e["S.ACE", site]))
}
p <- specpool(bci)
out("BCI", "chao2", sprintf("%.17g", p$chao))
out("BCI", "jack1", sprintf("%.17g", p$jack1))
out("BCI", "jack2", sprintf("%.17g", p$jack2))
"""


def check_surveys(cli, folder):
    """vegan's mite as a survey of 70 sites, and ten BCI plots as sampling units."""
    script = folder / "survey.R"
    script.write_text(SURVEY_R)
    mite, bci = folder / "mite.tsv", folder / "bci.tsv"
    v = subprocess.run(["Rscript", str(script), str(mite), str(bci)], capture_output=True, text=True, timeout=600)
    check(v.returncode == 0, f"Rscript failed: {v.stderr}")
    vegan = {}
    for line in v.stdout.splitlines():
        who, what, value = line.split("\t")
        vegan[(who, what)] = float(value)
    wb = openpyxl.Workbook()
    wb.remove(wb.active)
    for name, path in (("mite", mite), ("BCI", bci)):
        rows = [line.rstrip("\n").split("\t") for line in open(path)]
        ws = wb.create_sheet(name)
        ws.append(["SPECIA"] + rows[0][1:])
        for r in rows[1:]:
            ws.append([r[0]] + [int(c) for c in r[1:]])
    book = folder / "surveys.xlsx"
    wb.save(book)
    r = subprocess.run([cli, "--json", "--estimates", "--incidence", "--replicates", "10", str(book)],
                       capture_output=True, text=True, timeout=600)
    check(r.returncode == 0, f"ordana-cli on the surveys failed: {r.stderr}")
    lines = [json.loads(l) for l in r.stdout.splitlines()]
    sites = {j["sample"]: {e["key"]: e for e in j["estimates"]} for j in lines if j.get("sheet") == "mite"
             and "sample" in j}
    check(len(sites) == 70, f"mite: {len(sites)} sites estimated, not 70")

    def same(a, b, what, tol=1e-6):
        numbers[0] += 1
        check(a is not None and abs(a - b) <= tol * max(1e-12, abs(b)) + 1e-12, f"{what}: ours {a}, vegan {b}")

    for site, o in sites.items():
        same(o["chao1BiasCorrectedNoFactor"]["value"], vegan[(site, "chao1")], f"mite {site} estimateR S.chao1")
        same(o["ace"]["value"], vegan[(site, "ace")], f"mite {site} estimateR S.ACE")
    units = next(({e["key"]: e for e in j["estimates"]} for j in lines if j.get("sheet") == "BCI" and "incidence" in j),
                 None)
    check(units is not None, "BCI: no incidence line")
    if units:
        same(units["chao2"]["value"], vegan[("BCI", "chao2")], "BCI specpool chao")
        same(units["jackknife1"]["value"], vegan[("BCI", "jack1")], "BCI specpool jack1")
        same(units["jackknife2"]["value"], vegan[("BCI", "jack2")], "BCI specpool jack2")
    # The survey's summary beside the matrix holds the same Chao1 (the classic form, with its interval).
    ws = openpyxl.load_workbook(book)["mite"]
    header = [c.value for c in ws[1]]
    check("Proba" in header, f"no summary beside mite: {header[-25:]}")
    if "Proba" in header:
        col = header.index("Proba")
        chao1 = header.index("Chao1")
        shown = {ws.cell(r, col + 1).value: ws.cell(r, chao1 + 1).value for r in range(2, 72)}
        for site, o in sites.items():
            same(shown.get(site), o["chao1"]["value"], f"mite {site} summary's Chao1", 1e-12)
    return len(sites)


def main():
    cli = sys.argv[1]
    sets = data_sets()
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        wb = openpyxl.Workbook()
        wb.remove(wb.active)
        for name, rows in sets.items():
            ws = wb.create_sheet(name)
            ws.append(["SPECIA", "ABUNDENTA"])
            for r in rows:
                ws.append(list(r))
        book = folder / "probe.xlsx"
        wb.save(book)
        r = subprocess.run([cli, "--dry-run", "--json", "--estimates", "--replicates", "10", str(book)],
                           capture_output=True, text=True, timeout=600)
        check(r.returncode == 0, f"ordana-cli failed: {r.stderr}")
        lines = [json.loads(l) for l in r.stdout.splitlines()]
        ours = {j["sheet"]: {e["key"]: e for e in j["estimates"]} for j in lines if "sheet" in j}
        classic = {j["sheet"]: j for j in lines if "sheet" in j}
        pairs = next(j["comparison"]["pairs"] for j in lines if "comparison" in j)
        smallest = min(sum(c for _, c in rows) for rows in sets.values())

        counts = folder / "counts.tsv"
        with open(counts, "w") as f:
            f.write("sheet\tkey\tcount\n")
            for name, rows in sets.items():
                for n, c in rows:
                    f.write(f"{name}\t{n.strip().upper()}\t{c}\n")
        hut = folder / "hutcheson.tsv"
        with open(hut, "w") as f:
            f.write("a\tb\tt\tdf\n")
            for p in pairs:
                f.write(f"{p['a']}\t{p['b']}\t{p['hutcheson']['t']!r}\t{p['hutcheson']['df']!r}\n")
        script = folder / "vegan.R"
        script.write_text(R_SCRIPT)
        v = subprocess.run(["Rscript", str(script), str(counts), str(smallest), str(hut)], capture_output=True,
                           text=True, timeout=600)
        check(v.returncode == 0, f"Rscript failed: {v.stderr}")
        vegan = {}
        for line in v.stdout.splitlines():
            who, what, value = line.split("\t")
            vegan[(who, what)] = float(value)

        def same(a, b, what, tol=1e-6):
            numbers[0] += 1
            check(a is not None and abs(a - b) <= tol * max(1e-12, abs(b)) + 1e-12, f"{what}: ours {a}, vegan {b}")

        compared = 0
        for name in sets:
            o = ours[name]
            same(o["chao1BiasCorrectedNoFactor"]["value"], vegan[(name, "chao1")], f"{name} estimateR S.chao1")
            same(o["ace"]["value"], vegan[(name, "ace")], f"{name} estimateR S.ACE")
            if (name, "fisher") in vegan:
                same(o["fisherAlpha"]["value"], vegan[(name, "fisher")], f"{name} fisher.alpha", 1e-5)
            if (name, "rarefy") in vegan:
                same(o["rarefiedRichness"]["value"], vegan[(name, "rarefy")], f"{name} rarefy")
                same(o["rarefiedRichness"]["se"], vegan[(name, "rarefySe")], f"{name} rarefy se")
            same(math.log(o["hill1Observed"]["value"]), vegan[(name, "shannon")], f"{name} diversity shannon")
            same(classic[name]["shannonH"], vegan[(name, "shannon")], f"{name} indices' Shannon")
            same(o["hill2Observed"]["value"], vegan[(name, "invsimpson")], f"{name} diversity invsimpson")
            compared += 1
        for p in pairs:
            key = f"{p['a']}|{p['b']}"
            for ours_key, vegan_key in (("jaccard", "jaccard"), ("sorensen", "sorensen"), ("brayCurtis", "bray"),
                                        ("morisitaHorn", "horn")):
                same(p[ours_key], vegan[(key, vegan_key)], f"{key} vegdist {vegan_key}")
            same(p["hutcheson"]["p"], vegan[(key, "hutchesonP")], f"{key} Hutcheson p (R's pt)", 1e-8)
        check(compared == len(sets) and len(pairs) == len(sets) * (len(sets) - 1) // 2, "not every sheet compared")
        surveyed = check_surveys(cli, folder)
    if failures:
        print(len(failures), "failures")
        sys.exit(1)
    print(f"ok: {numbers[0]} numbers of {len(sets)} sheets, {len(pairs)} pairs and {surveyed} survey sites "
          "agree with vegan")


if __name__ == "__main__":
    main()
