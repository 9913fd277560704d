// The coming days as the time-of-day rule shapes them: where each local day
// begins, and the stretches the router sleeps after the rule's firings.
#pragma once

#include <time.h>

#include "analysis/check_report.h"

/// The local midnight that begins the day of t, days after it.
time_t local_midnight(time_t t, int days);

/// A stretch in which the router sleeps after a firing of the time-of-day
/// rule; open_end when only an input wakes it.
struct asleep_stretch {
  time_t from;
  time_t to;
  bool open_end;
};

/// The stretch after each of the count firings (in order) that runs the
/// low-power tool, into out (room for count); one that only an input ends
/// lasts until the next firing, or end. Returns how many it wrote.
int asleep_stretches(const check_report& report, const time_t* firings, int count, time_t end,
                     asleep_stretch* out);
