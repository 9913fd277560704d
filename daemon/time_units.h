// The units of the clock rules, written once for daemon, checker and page.
#pragma once

inline constexpr int SECONDS_PER_MINUTE = 60;
inline constexpr int SECONDS_PER_HOUR = 60 * SECONDS_PER_MINUTE;
inline constexpr int SECONDS_PER_DAY = 24 * SECONDS_PER_HOUR;
