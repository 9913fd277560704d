// The local wall-clock time of day, as the time-of-day rules see it.
#pragma once

#include <time.h>

/// Local seconds since midnight at `when`, 0..86399 (86400 on a leap second);
/// 0 when the time cannot be broken down.
int seconds_of_day_at(time_t when);

/// seconds_of_day_at the present second.
int seconds_of_day();
