// What the init scripts ask before they start the daemon: whether the module
// switch is on, and whether the wall clock can be trusted yet.
#pragma once

#include <stdint.h>
#include <stdio.h>

inline constexpr const char* MODULE_SWITCH_KEY = "MOD_DORMIX_ENABLED";

/// The module switch as the daemon's settings code reads it: the first line
/// with the key (any case), by the daemon's number rule; a null file (missing
/// or unreadable) or a missing key reads as 0, off.
uint32_t module_switch_value(FILE* file);

/// The next step of a bounded wait for the clock, decided from values.
enum class clock_wait_step { synchronised, bound_reached, wait };
clock_wait_step clock_wait_next(bool synchronised, int64_t now_ms, int64_t deadline_ms);

/// dormix-check --enabled [FILE]: exit status 0 when the switch is on, 1 when
/// off, 2 on wrong usage; one line on stdout saying which and why.
int run_enabled_check(int argc, char** argv);

/// dormix-check --wait-for-clock SECONDS [PROGRAM [ARGUMENT...]]: waits until
/// the kernel reports the clock synchronised or SECONDS have passed, then
/// runs PROGRAM in its place, or exits 0 (synchronised) or 1 (not).
int run_clock_wait(int argc, char** argv);
