// What the init scripts ask before they start the daemon: whether the module
// switch is on (the wait for the clock is in clock_wait.h).
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "tools/check/exit_status.h"

inline constexpr const char* MODULE_SWITCH_KEY = "MOD_DORMIX_ENABLED";

/// The module switch as the daemon's settings code reads it: the first line
/// with the key (any case), by the daemon's number rule; a null file (missing
/// or unreadable) or a missing key reads as 0, off.
uint32_t module_switch_value(FILE* file);

/// dormix-enabled [FILE] (the arguments after the command): exit status 0
/// when the switch is on, 1 when off, 2 on wrong usage; one line on stdout
/// saying which and why.
int run_enabled_check(const command_name& name, int count, char** arguments);
