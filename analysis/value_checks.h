// Warnings about what the values of a settings file amount to in the
// daemon's arithmetic, as opposed to how single lines read.
#pragma once

#include "analysis/check_report.h"

inline constexpr const char* WARN_TIME_RANGE = "time-range";
inline constexpr const char* WARN_SIGNED = "signed-wrap";
inline constexpr const char* WARN_NO_WAKE = "no-wake-rule";
inline constexpr const char* WARN_LEVEL_ZERO = "level-zero";

/// Adds the warnings about out-of-range times, values that wrap to negative,
/// sleep rules without a wake-up rule and input rules at level 0.
void check_values(check_report* report);
