// dormix-check --now and --watch: the settings as loaded on this router,
// the binary inputs as the daemon sees them, and who can change the files
// the daemon trusts.
#pragma once

#include <stdio.h>

#include "analysis/field_view.h"
#include "analysis/report.h"

/// Prints what the daemon sees now; with watch, looks again every 250 ms
/// and prints what changed until SIGINT or SIGTERM. report is built without
/// --inputs, so that presence comes from the status tool. Returns the exit
/// status: 0 clean (or a watch ended by a signal), 1 warnings.
int run_field_check(const check_report& report, bool watch, FILE* out);
