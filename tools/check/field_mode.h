// dormix-check --now and --watch: the settings as loaded on this router,
// the binary inputs as the daemon sees them, and who can change the files
// the daemon trusts.
#pragma once

#include <stdio.h>

#include "tools/check/field_view.h"
#include "tools/check/report.h"

inline constexpr int FIELD_LINE_SIZE = 512;
inline constexpr int FIELD_VIEW_LINES = 2 + BINARY_INPUT_COUNT;

/// The router itself, through the daemon's own device code.
field_platform router_field_platform();

/// The view in words: the status tool's answer, the GPIO device, then one
/// line per input with what the daemon's input rule makes of it.
void describe_field_view(const field_view& view, const sleep_config& config,
                         char lines[FIELD_VIEW_LINES][FIELD_LINE_SIZE]);

/// Adds a warning for each of the settings file, the low-power tool and the
/// status tool (and each directory above them) that someone other than root
/// can change. Returns the number added.
int check_trusted_files(const char* settings_path, check_findings* findings);

/// Prints what the daemon sees now; with watch, looks again every 250 ms
/// and prints what changed until SIGINT or SIGTERM. report is built without
/// --inputs, so that presence comes from the status tool. Returns the exit
/// status: 0 clean (or a watch ended by a signal), 1 warnings.
int run_field_check(const check_report& report, bool watch, FILE* out);
