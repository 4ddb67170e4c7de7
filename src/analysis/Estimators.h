#pragma once

// Richness estimators, Hill numbers and their rarefaction and extrapolation curves, with bootstrap intervals
// that reproduce bit for bit from a seed. Everything works on the frequency counts of one sample; each
// concept has its own header, gathered here for the callers.

#include "Analysis.h"
#include "Bootstrap.h"
#include "Curves.h"
#include "Frequencies.h"
#include "Hill.h"
#include "Notes.h"
#include "Richness.h"
