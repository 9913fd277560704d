#include "analysis/clock_rule.h"

#include <stdio.h>

#include "daemon/controller.h"
#include "daemon/time_of_day.h"

namespace {

long local_offset(time_t t) {
  tm local{};
  if (localtime_r(&t, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

}  // namespace

int find_clock_changes(time_t from, time_t to, clock_change* changes, int max) {
  // Offsets in use change at most once in a few weeks; an hourly probe finds
  // each change, and bisection finds its second.
  constexpr time_t probe = 3600;
  int count = 0;
  long before = local_offset(from);
  for (time_t t = from; t < to && count < max; t += probe) {
    const time_t end = t + probe < to ? t + probe : to;
    const long after = local_offset(end);
    if (after == before) continue;
    time_t low = t;  // still has the old offset
    time_t high = end;
    while (high - low > 1) {
      const time_t middle = low + (high - low) / 2;
      if (local_offset(middle) == before) {
        low = middle;
      } else {
        high = middle;
      }
    }
    changes[count++] = clock_change{high, before, local_offset(high)};
    before = after;
  }
  return count;
}

int replay_time_rule(int32_t sleep_tod, time_t from, time_t to, sleep_length asleep,
                     const void* context, time_t* firings, int max) {
  controller_state state{};
  state.sleep_tod = sleep_tod;
  state.sleep_time_armed = sleep_time_armed_at_start(sleep_tod, seconds_of_day_at(from));
  int count = 0;
  for (time_t t = from; t < to; ++t) {
    const int now_tod = seconds_of_day_at(t);
    if (!time_rule_fires(&state, 1, now_tod)) continue;
    if (count < max) firings[count] = t;
    ++count;
    // Asleep past the end: on a 32-bit time_t the sum may not even fit.
    const int64_t resume = static_cast<int64_t>(t) + asleep(context, now_tod);
    if (resume >= static_cast<int64_t>(to)) break;
    t = static_cast<time_t>(resume);
  }
  return count;
}

void format_local_date(time_t t, char out[16]) {
  tm local{};
  localtime_r(&t, &local);
  strftime(out, 16, "%Y-%m-%d", &local);
}

void format_local_clock(time_t t, char out[32]) {
  tm local{};
  localtime_r(&t, &local);
  strftime(out, 32, "%H:%M:%S %Z", &local);
}

void format_local_moment(time_t t, char out[48]) {
  tm local{};
  localtime_r(&t, &local);
  strftime(out, 48, "%Y-%m-%d %H:%M:%S %Z", &local);
}
