// The end of a run: the verdicts on the expectations and invariants, and the
// one-line result.
#pragma once

#include "simulator/record.h"
#include "simulator/scenario.h"

/// Checks the record against the scenario, prints the verdicts (only the
/// failed ones when quiet) and the PASS or FAIL line, and writes the run's
/// figures to results_fd unless it is -1. Returns whether the run passed.
bool report_verdicts(const scenario& s, const run_record& record, bool failed_setup, bool quiet,
                     int results_fd);
