#include "analysis/clock_rule.h"

#include <stdio.h>
#include <string.h>

#include "daemon/controller.h"
#include "daemon/time_of_day.h"
#include "daemon/time_units.h"

namespace {

// Offsets in use change at most once in a few weeks; an hourly probe finds
// each change, and bisection finds its second.
constexpr time_t OFFSET_PROBE = SECONDS_PER_HOUR;

long local_offset(time_t t) {
  tm local{};
  if (localtime_r(&t, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

// The first second after from, before limit, whose local offset is not
// offset (from's own); limit when there is none.
time_t next_offset_change(time_t from, long offset, time_t limit) {
  for (time_t t = from; t < limit; t += OFFSET_PROBE) {
    const time_t end = limit - t > OFFSET_PROBE ? t + OFFSET_PROBE : limit - 1;
    if (end <= t || local_offset(end) == offset) continue;
    time_t low = t;  // still has the old offset
    time_t high = end;
    while (high - low > 1) {
      const time_t middle = low + (high - low) / 2;
      if (local_offset(middle) == offset) {
        low = middle;
      } else {
        high = middle;
      }
    }
    return high;
  }
  return limit;
}

}  // namespace

int find_clock_changes(time_t from, time_t to, clock_change* changes, int max) {
  // A year's scan probes once a day: the offsets a zone's rules switch
  // between stay for weeks at least, and 8,784 hourly probes were most of
  // the page's time. The replays around each change probe hourly.
  constexpr time_t probe = SECONDS_PER_DAY;
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
  // The daemon's cycle runs once a second. Within one local day at one
  // offset from UTC the time of day rises by one a cycle, so only a few of
  // those cycles can change the rule's state: the first after a start or a
  // wake-up, local midnight, a change of offset, and the sleep time. The
  // cycles between them only carry the time of day along.
  time_t t = from;
  while (t < to) {
    tm local{};
    const bool known = localtime_r(&t, &local) != nullptr;
    const int now_tod =
        known ? local.tm_hour * SECONDS_PER_HOUR + local.tm_min * SECONDS_PER_MINUTE + local.tm_sec
              : 0;
    if (time_rule_fires(&state, 1, now_tod)) {
      if (count < max) firings[count] = t;
      ++count;
      // Asleep past the end: on a 32-bit time_t the sum may not even fit.
      const int64_t resume = static_cast<int64_t>(t) + asleep(context, now_tod);
      if (resume >= static_cast<int64_t>(to)) break;
      t = static_cast<time_t>(resume) + 1;
      continue;
    }
    time_t next = to;  // the next cycle whose time of day does not follow on
    if (known) {
      const time_t midnight = t + (SECONDS_PER_DAY - now_tod);
      if (midnight < next) next = midnight;
      next = next_offset_change(t, local.tm_gmtoff, next);
    }
    if (next <= t) next = t + 1;  // a leap second, or a moment without a local time
    // The sleep time, when the rule is armed and it lies ahead in this stretch.
    if (state.sleep_time_armed && sleep_tod > now_tod && sleep_tod - now_tod < next - t) {
      next = t + (sleep_tod - now_tod);
    }
    state.prev_tod = static_cast<int32_t>(now_tod + (next - 1 - t));
    t = next;
  }
  return count;
}

// The three fixed formats are written with snprintf: strftime would bring
// its whole format engine into the static settings page.
namespace {

// "YYYY-MM-DD HH:MM:SS ZONE" of t, its date part at [0, date_end) and its
// clock part from clock_start.
struct local_moment_text {
  char text[48];
  int date_end;
  int clock_start;
};

local_moment_text local_moment_of(time_t t) {
  tm local{};
  localtime_r(&t, &local);
  local_moment_text moment{};
  snprintf(moment.text, sizeof moment.text, "%d-%02d-%02d %02d:%02d:%02d %s", local.tm_year + 1900,
           local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
           local.tm_zone != nullptr ? local.tm_zone : "");
  const char* blank = strchr(moment.text, ' ');
  moment.date_end = static_cast<int>(blank - moment.text);
  moment.clock_start = moment.date_end + 1;
  return moment;
}

}  // namespace

void format_local_date(time_t t, char out[16]) {
  const local_moment_text moment = local_moment_of(t);
  snprintf(out, 16, "%.*s", moment.date_end, moment.text);
}

void format_local_clock(time_t t, char out[32]) {
  const local_moment_text moment = local_moment_of(t);
  snprintf(out, 32, "%s", moment.text + moment.clock_start);
}

void format_local_moment(time_t t, char out[48]) {
  snprintf(out, 48, "%s", local_moment_of(t).text);
}
