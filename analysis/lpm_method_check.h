// The board side's low-power method against the sleep rules: after a
// method that returns, the daemon goes on cycling.
#pragma once

#include "analysis/check_report.h"

inline constexpr const char* WARN_DELAY_RETURNS = "delay-after-wake";

/// Warns when the delay rule is on and dormix-lpm is configured (lpm, as
/// its configuration file says) for a method after which it returns: the
/// delay has long passed, so the rule fires again on the first cycle after
/// each wake. lpm is null where there is no such file: the firmware's own
/// tool, whose ways are not known here.
void check_lpm_method(check_report* report, const lpm_method_answer* lpm);
