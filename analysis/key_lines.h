// The line of the settings file that a warning about a value points at.
#pragma once

#include "analysis/check_report.h"

/// The line the daemon reads the key from, or 0 when the file does not set it.
int report_key_line(const check_report& report, const char* name);

/// The line to blame for a value: the first of the two keys that the file sets.
int report_first_line(const check_report& report, const char* first, const char* second);
