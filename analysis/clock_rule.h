// The time-of-day rule replayed over local wall-clock time, as the daemon's
// once-a-second cycle runs it, and the changes of the local clock.
#pragma once

#include <stdint.h>
#include <time.h>

/// A moment at which the local clock's offset from UTC changes.
struct clock_change {
  time_t at;           // the first second with the new offset
  long offset_before;  // seconds east of UTC
  long offset_after;
};

/// The changes of the local offset in [from, to), at most max of them.
int find_clock_changes(time_t from, time_t to, clock_change* changes, int max);

/// How long a firing at the local second of the day now_tod keeps the cycle
/// waiting for the low-power tool: the seconds the router sleeps.
using sleep_length = int64_t (*)(const void* context, int now_tod);

/// Runs the daemon's time-of-day rule for a daemon started at from, with one
/// cycle per second until to; after a firing the cycle waits for
/// asleep(context, time of day) seconds. Stores up to max firing times and
/// returns the number of firings (which may exceed max). Only the cycles
/// that can change the rule's state are worked out, a few per local day, so
/// a week costs a few hundred local time conversions. Assumes that the
/// local offset does not change and change back within an hour.
int replay_time_rule(int32_t sleep_tod, time_t from, time_t to, sleep_length asleep,
                     const void* context, time_t* firings, int max);

/// "YYYY-MM-DD" of t in local time into out[16].
void format_local_date(time_t t, char out[16]);
/// "HH:MM:SS ZONE" of t in local time into out[32].
void format_local_clock(time_t t, char out[32]);
/// "YYYY-MM-DD HH:MM:SS ZONE" of t in local time into out[48].
void format_local_moment(time_t t, char out[48]);
