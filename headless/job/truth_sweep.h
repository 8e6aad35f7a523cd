// The settings sweep on a ground-truth case (ground_truth.h): each setting's true error beside
// its measures, the true best, the measures' choice and how well their ranking follows the
// truth's. What the ground-truth table of the bench and the guide shows.
#pragma once

#include <ostream>
#include <vector>

#include "headless/job/ground_truth.h"
#include "headless/job/settings_sweep.h"

namespace headless {

struct TruthSweep {
  std::vector<SweepScore> scores;
  std::vector<TrueError> errors;  // one per score
  size_t skinning = 0;            // rounds 0: the correction off
  size_t defaultSetting = 0;      // the bind tag's defaults: 2 rounds, weighting 1, pin 0
  size_t trueBest = 0;            // the least mean true error
  size_t chosen = 0;              // Recommend's
  Float rankCorrelation = 0.0;    // of MeasuresRanking against the true error's order
};

// Every setting of SweepSettings (pin settings only where the case has borders) on the case.
TruthSweep SweepTruthCase(const TruthCase& truth, Float threshold);

// Per setting: the true error (mean, 95th percentile, share of the detail's height), pose kept
// and detail kept; then the summary line of the case.
void PrintTruthSweep(const TruthCase& truth, const TruthSweep& sweep, std::ostream& out);

// The heading and one row of the ground-truth table: per case, the mean true error (share of
// the detail's height) of skinning, the default, the true best and the measures' choice.
void PrintTruthTableHeader(std::ostream& out);
void PrintTruthTableRow(const TruthCase& truth, const TruthSweep& sweep, std::ostream& out);

}  // namespace headless
