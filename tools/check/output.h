// The report for people and for programs.
#pragma once

#include <stdio.h>

#include "analysis/report.h"

/// The full report; with quiet, only the warnings.
void print_text(const check_report& report, bool quiet, FILE* out);

/// The line saying which time zone the report is in and where it came from.
void print_time_zone(const time_zone_choice& zone, FILE* out);

/// The report as one JSON object.
void print_json(const check_report& report, FILE* out);
