// What the daemon would do with a settings file, worked out with its own code.
#pragma once

#include <stdio.h>

#include "analysis/check_report.h"

/// Reads file (already open) as the daemon would at request.at and fills
/// report. Returns false when the file cannot be read.
bool build_report(FILE* file, const check_request& request, check_report* report);
