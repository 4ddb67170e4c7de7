# The reference values of tests/analysis/IncidenceTest.cpp, printed as the C++ rows of its tables:
#   Rscript tests/tools/incidence_references.R > /tmp/references.inc
# Data: vegan's BCI (plots 1-10), dune, mite and mite's sites 54-60 (no species in exactly two units), as
# incidence (any count > 0 a detection), and BCI's plot 1 as abundances, so one table holds both kinds.
# Values come from vegan where it computes them (specpool, specaccum's exact accumulation, diversity,
# estimateR) and otherwise from the published formulas, written here afresh and evaluated another way than the
# C++ does (digamma and dhyper sums, leave-one-out recomputation, Richardson-extrapolated derivatives).
# The richness curve below T is specaccum's exact accumulation, the expectation that poolaccum's S column
# estimates by permutations; poolaccum's other columns (Chao2 and the jackknives recomputed on subsets) are no
# curve of Chao et al. (2014), so they are not compared.
#
# vegan's specpool prints jack1.se as sqrt((T-1)/T (sum r_j^2 - Q1/T)); the jackknife's variance is
# (T-1)/T (sum r_j^2 - Q1^2/T), which the leave-one-out recomputation below gives (BCI 1-10: 5.056, not 9.168).
# Its chao is the classic form with (T-1)/T, the bias-corrected one only when Q2 = 0.

suppressMessages(library(vegan))
data(BCI)
data(dune)
data(mite)

z <- qnorm(0.975)
num <- function(x) sprintf("%.17g", x)

# Species as rows of hex digits, a digit per four units, bit b of digit i for unit 4i + b.
encode <- function(x) {
  x <- t(as.matrix(x) > 0)
  units <- ncol(x)
  width <- ceiling(units / 4)
  tokens <- apply(x, 1, function(row) {
    row <- c(row, rep(FALSE, 4 * width - units))
    paste(sapply(seq_len(width), function(i) {
      bits <- row[(4 * i - 3):(4 * i)]
      sprintf("%x", sum(bits * c(1, 2, 4, 8)))
    }), collapse = "")
  })
  paste(tokens, collapse = " ")
}

literal <- function(text, indent = "     ") {
  pieces <- substring(text, seq(1, nchar(text), 96), pmin(nchar(text), seq(96, nchar(text) + 95, 96)))
  paste0(indent, "\"", pieces, "\"", collapse = "\n")
}

rows <- character()
emit <- function(set, key, at, field, expected, tolerance, source) {
  if (!is.finite(expected)) stop(paste(set, key, field, "is not finite"))
  rows <<- c(rows, sprintf("    {\"%s\", \"%s\", %s, %s, %s, %s, \"%s\"},", set, key, num(at), field,
                           num(expected), format(tolerance, scientific = TRUE), source))
}

lognormal <- function(s, est, var) {
  t0 <- est - s
  k <- exp(z * sqrt(log(1 + var / t0^2)))
  c(s + t0 / k, s + t0 * k)
}

# Where nothing is estimated unseen: from S to S/(1-P) + z sd/(1-P), with the exponential detection terms.
exponential <- function(y, units) {
  s <- length(y)
  p <- sum(exp(-y)) / s
  v <- max(0, sum(exp(-y) - exp(-2 * y)) - sum(y * exp(-y))^2 / units)
  c(s, max(s, s / (1 - p) + z * sqrt(v) / (1 - p)))
}

interval <- function(y, units, est, var) {
  if (est > length(y)) lognormal(length(y), est, var) else exponential(y, units)
}

iceOf <- function(q, units, frequent) {
  k <- seq_along(q)
  s <- sum(q)
  u <- sum(k * q)
  a <- if (q[1] > 0 && q[2] > 0) 2 * q[2] / ((units - 1) * q[1] + 2 * q[2]) else
       if (q[1] > 0) 2 / ((units - 1) * (q[1] - 1) + 2) else 1
  cover <- 1 - q[1] / u * (1 - a)
  gamma2 <- max(s / cover * units / (units - 1) * sum(k * (k - 1) * q) / (u * (u - 1)) - 1, 0)
  frequent + s / cover + q[1] / cover * gamma2
}

# The weight of the undetected, T Q0 / (T Q0 + Q1), written out per case.
weight <- function(y, units) {
  q1 <- sum(y == 1)
  q2 <- sum(y == 2)
  if (q1 == 0) 1 else if (q2 > 0) (units - 1) * q1 / ((units - 1) * q1 + 2 * q2) else
    (units - 1) * (q1 - 1) / ((units - 1) * (q1 - 1) + 2)
}

coverage <- function(y, units) 1 - sum(y == 1) / sum(y) * weight(y, units)

jack2 <- function(y, units)
  length(y) + sum(y == 1) * (2 * units - 3) / units - sum(y == 2) * (units - 2)^2 / (units * (units - 1))

# The asymptotic entropy with digamma and the finite form of the tail (iNEXT's way of writing it).
asymptoticEntropy <- function(y, units) {
  q1 <- sum(y == 1)
  q2 <- sum(y == 2)
  u <- sum(y)
  A <- if (q2 > 0) 2 * q2 / ((units - 1) * q1 + 2 * q2) else if (q1 > 0) 2 / ((units - 1) * (q1 - 1) + 2) else 1
  inner <- y[y < units]
  h <- sum(inner / units * (digamma(units) - digamma(inner)))
  if (q1 > 0 && A < 1)
    h <- h + q1 / units * (1 - A)^(1 - units) * (-log(A) - sum((1 - A)^(1:(units - 1)) / (1:(units - 1))))
  units / u * h + log(u / units)
}

simpsonAsymptotic <- function(y, units) (1 - 1 / units) * sum(y)^2 / sum(y * (y - 1))

# Chao et al. (2014): the detected species' probabilities lowered by what the undetected take, and
# ceiling(Q0) undetected species sharing that mass.
detectionModel <- function(y, units) {
  q1 <- sum(y == 1)
  q2 <- sum(y == 2)
  q0 <- (units - 1) / units * (if (q2 > 0) q1^2 / (2 * q2) else q1 * (q1 - 1) / 2)
  missing <- q1 / units * (if (q1 > 0) units * q0 / (units * q0 + q1) else 1)
  b <- sum(y / units * (1 - y / units)^units)
  lambda <- if (q0 > 0 && b > 0) missing / b else 0
  p <- y / units * (1 - lambda * (1 - y / units)^units)
  if (q0 > 0 && missing > 0) p <- c(p, rep(missing / ceiling(q0), ceiling(q0)))
  p
}

incidenceRows <- function(set, x) {
  x <- as.matrix(x) > 0
  units <- nrow(x)
  y <- colSums(x)
  seen <- y > 0
  y <- y[seen]
  s <- length(y)
  u <- sum(y)
  q1 <- sum(y == 1)
  q2 <- sum(y == 2)
  a <- (units - 1) / units
  pool <- specpool(x)

  emit(set, "sObs", 0, "Value", pool$Species, 0, "vegan specpool")
  emit(set, "units", 0, "Value", units, 0, "matrix")
  emit(set, "incidences", 0, "Value", u, 0, "matrix")
  emit(set, "q1", 0, "Value", q1, 0, "matrix")
  emit(set, "q2", 0, "Value", q2, 0, "matrix")

  # Chao2 classic: vegan's value and error; the log-normal interval of Chao (1987).
  emit(set, "chao2", 0, "Value", pool$chao, 1e-12, "vegan specpool")
  emit(set, "chao2", 0, "Se", pool$chao.se, 1e-10, "vegan specpool")
  ci <- interval(y, units, pool$chao, pool$chao.se^2)
  emit(set, "chao2", 0, "Lower", ci[1], 1e-10, "Chao 1987")
  emit(set, "chao2", 0, "Upper", ci[2], 1e-10, "Chao 1987")

  bc <- s + a * q1 * (q1 - 1) / (2 * (q2 + 1))
  bcVar <- a * q1 * (q1 - 1) / (2 * (q2 + 1)) + a^2 * q1 * (2 * q1 - 1)^2 / (4 * (q2 + 1)^2) +
    a^2 * q1^2 * q2 * (q1 - 1)^2 / (4 * (q2 + 1)^4)
  emit(set, "chao2BiasCorrected", 0, "Value", bc, 1e-12, "Chao 1987, bias-corrected")
  emit(set, "chao2BiasCorrected", 0, "Se", sqrt(bcVar), 1e-10, "delta method")
  ci <- interval(y, units, bc, bcVar)
  emit(set, "chao2BiasCorrected", 0, "Lower", ci[1], 1e-10, "Chao 1987")
  emit(set, "chao2BiasCorrected", 0, "Upper", ci[2], 1e-10, "Chao 1987")

  # ICE: its delta-method error over every Q_Y present, derivatives by Richardson extrapolation.
  q <- sapply(1:10, function(k) sum(y == k))
  frequent <- sum(y > 10)
  if (frequent < s) {
    est <- iceOf(q, units, frequent)
    present <- sort(unique(y))
    grad <- sapply(present, function(k) {
      if (k > 10) return(1)
      d <- function(h) {
        up <- q; down <- q
        up[k] <- up[k] + h; down[k] <- down[k] - h
        (iceOf(up, units, frequent) - iceOf(down, units, frequent)) / (2 * h)
      }
      h <- 1e-3 * max(1, q[k])
      (4 * d(h / 2) - d(h)) / 3
    })
    qs <- sapply(present, function(k) sum(y == k))
    # sum g^2 Q - (sum g Q)^2 / est, without the cancellation when every g is near 1
    mean <- sum(grad * qs) / s
    var <- sum(qs * (grad - mean)^2) + mean^2 * s * (est - s) / est
    emit(set, "ice", 0, "Value", est, 1e-12, "Lee & Chao 1994, Chao & Chiu 2016")
    emit(set, "ice", 0, "Se", sqrt(var), 1e-6, "delta method")
    ci <- interval(y, units, est, var)
    emit(set, "ice", 0, "Lower", ci[1], 1e-6, "Chao 1987")
    emit(set, "ice", 0, "Upper", ci[2], 1e-6, "Chao 1987")
  }

  emit(set, "jackknife1", 0, "Value", pool$jack1, 1e-12, "vegan specpool")
  leftOut <- sapply(1:units, function(j) sum(colSums(x[-j, , drop = FALSE]) > 0))
  emit(set, "jackknife1", 0, "Se", sqrt(a * sum((leftOut - mean(leftOut))^2)), 1e-10, "leave-one-out jackknife")
  emit(set, "jackknife2", 0, "Value", pool$jack2, 1e-12, "vegan specpool")
  emit(set, "coverage", 0, "Value", coverage(y, units), 1e-12, "Chao et al. 2014")
  w <- weight(y, units)

  emit(set, "hill0Observed", 0, "Value", specnumber(y), 0, "vegan specnumber")
  emit(set, "hill1Observed", 0, "Value", exp(diversity(y, "shannon")), 1e-12, "vegan diversity")
  emit(set, "hill2Observed", 0, "Value", diversity(y, "invsimpson"), 1e-12, "vegan diversity")

  entropy <- asymptoticEntropy(y, units)
  emit(set, "hill1Asymptotic", 0, "Value", exp(entropy), 1e-10, "Chao et al. 2014")
  if (sum(y * (y - 1)) > 0)
    emit(set, "hill2Asymptotic", 0, "Value", simpsonAsymptotic(y, units), 1e-12, "Chao et al. 2014")

  # The bootstrap's errors against draws of R's own rbinom from the same detection model. Monte Carlo
  # figures: agreement to the spread of two estimates of a standard deviation (20,000 replicates here, 5,000
  # in the test), which the coverage's long tail widens; none where nothing is seen once (mite), whose errors
  # come from the few replicates with a unique.
  if (q1 > 0) {
    set.seed(20141201)
    p <- detectionModel(y, units)
    reps <- replicate(20000, {
      yb <- rbinom(length(p), units, p)
      yb <- yb[yb > 0]
      c(jack2(yb, units), coverage(yb, units), exp(asymptoticEntropy(yb, units)), simpsonAsymptotic(yb, units))
    })
    sds <- apply(reps, 1, sd)
    keys <- c("jackknife2", "coverage", "hill1Asymptotic", "hill2Asymptotic")
    for (i in seq_along(keys)) emit(set, keys[i], 0, "Se", sds[i], 0.1, "bootstrap with rbinom")
  }

  # The curves: below T vegan's exact accumulation for richness, the hypergeometric expectations for the
  # others; above T the extrapolation formulas.
  exact <- suppressWarnings(specaccum(x, method = "exact"))$richness
  q0hat <- if (q2 > 0) a * q1^2 / (2 * q2) else a * q1 * (q1 - 1) / 2
  hObs <- diversity(y, "shannon")
  for (m in unique(c(1, units %/% 2, units - 1, units, round(1.5 * units), 2 * units))) {
    if (m < 1) next
    if (m < units) {
      q0 <- exact[m]
      um <- m * u / units
      e <- sum(sapply(y, function(yi) {
        k <- 1:min(yi, m)
        sum(dhyper(k, yi, units - yi, m) * k * log(k))
      }))
      q1m <- exp(log(um) - e / um)
      miss <- sum(ifelse(units - y >= m, y / u * exp(lchoose(units - y, m) - lchoose(units - 1, m)), 0))
      cover <- 1 - miss
      src0 <- "vegan specaccum exact"
    } else {
      q0 <- if (q1 > 0 && q0hat > 0) s + q0hat * (1 - (1 - q1 / (units * q0hat + q1))^(m - units)) else s
      q1m <- exp(units / m * hObs + (1 - units / m) * entropy)
      cover <- 1 - q1 / u * w^(m - units + 1)
      src0 <- "Chao et al. 2014"
    }
    q2m <- 1 / (units / (m * u) + (m - 1) / m * units * sum(y * (y - 1)) / ((units - 1) * u^2))
    emit(set, "curve.q0", m, "Value", q0, 1e-10, src0)
    emit(set, "curve.q1", m, "Value", q1m, 1e-10, "Chao et al. 2014")
    emit(set, "curve.q2", m, "Value", q2m, 1e-12, "Chao et al. 2014")
    emit(set, "curve.coverage", m, "Value", cover, 1e-10, "Chao et al. 2014")
  }
}

abundanceRows <- function(set, counts) {
  e <- estimateR(counts)
  emit(set, "sObs", 0, "Value", e[["S.obs"]], 0, "vegan estimateR")
  emit(set, "chao1BiasCorrectedNoFactor", 0, "Value", e[["S.chao1"]], 1e-12, "vegan estimateR")
  emit(set, "ace", 0, "Value", e[["S.ACE"]], 1e-10, "vegan estimateR")
  emit(set, "hill1Observed", 0, "Value", exp(diversity(counts, "shannon")), 1e-12, "vegan diversity")
  emit(set, "hill2Observed", 0, "Value", diversity(counts, "invsimpson"), 1e-12, "vegan diversity")
  emit(set, "curve.q0", 100, "Value", rarefy(counts, 100), 1e-10, "vegan rarefy")
}

sets <- list(
  list(name = "BCI 1-10", x = BCI[1:10, ]),
  list(name = "dune", x = dune),
  list(name = "mite", x = mite),
  list(name = "mite 54-60", x = mite[54:60, ]))
bci1 <- as.numeric(BCI[1, ])

cat("// Printed by tests/tools/incidence_references.R; the data sets:\n")
cat("const DataSet kDataSets[] = {\n")
for (d in sets) {
  cat(sprintf("    {\"%s\", Kind::Incidence, %d,\n%s},\n", d$name, nrow(d$x), literal(encode(d$x))))
  incidenceRows(d$name, d$x)
}
cat(sprintf("    {\"BCI 1\", Kind::Abundance, 0,\n%s},\n", literal(paste(bci1[bci1 > 0], collapse = " "))))
abundanceRows("BCI 1", bci1)
cat("};\n\n// {data set, key, at, field, expected, relative tolerance, source}\n")
cat("const Reference kReferences[] = {\n")
cat(rows, sep = "\n")
cat("\n};\n")
