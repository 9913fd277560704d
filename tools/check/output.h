// The report for people and for programs.
#pragma once

#include <stdio.h>

#include "tools/check/report.h"

/// The full report; with quiet, only the warnings.
void print_text(const check_report& report, bool quiet, FILE* out);

/// The zone as people read it, once it is in use: TZ's value for the TZ and
/// /etc/TZ sources, else "/etc/localtime" when it exists, or "UTC".
const char* time_zone_text(const time_zone_choice& choice);

/// Where the zone came from: "TZ", "/etc/TZ" or "default" (the C library's).
const char* time_zone_source_name(time_zone_source source);

/// The line saying which time zone the report is in and where it came from.
void print_time_zone(const time_zone_choice& zone, FILE* out);

/// The report as one JSON object.
void print_json(const check_report& report, FILE* out);
