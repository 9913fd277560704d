// The report for people and for programs.
#pragma once

#include <stdio.h>

#include "tools/check/report.h"

/// The full report; with quiet, only the warnings.
void print_text(const check_report& report, bool quiet, FILE* out);

/// The report as one JSON object.
void print_json(const check_report& report, FILE* out);
