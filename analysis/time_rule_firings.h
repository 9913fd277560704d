// When the time-of-day rule fires: its next firing, and the days on which a
// change of the local clock makes it fire other than once at the sleep time.
#pragma once

#include "analysis/check_report.h"

inline constexpr const char* WARN_DST = "daylight-saving";

/// The time-of-day rule's firings in [from, to) as the daemon, started at
/// from with the report's settings, would fire it: up to max stored, the
/// total returned. None when the rule is off.
int time_rule_firings(const check_report& report, time_t from, time_t to, time_t* firings, int max);

/// Fills the next firing within two days of report->at, and its call.
void find_next_time_firing(check_report* report);

/// Adds a warning for each clock change in the coming year that makes the
/// time-of-day rule skip its day or fire more than once.
void check_daylight_saving(check_report* report);
