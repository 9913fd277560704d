#include "analysis/week_plan.h"

#include "analysis/lpm_call.h"
#include "daemon/time_of_day.h"
#include "daemon/wakeup.h"

time_t local_midnight(time_t t, int days) {
  struct tm local {};
  localtime_r(&t, &local);
  local.tm_mday += days;
  local.tm_hour = 0;
  local.tm_min = 0;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  return mktime(&local);
}

int asleep_stretches(const check_report& report, const time_t* firings, int count, time_t end,
                     asleep_stretch* out) {
  int used = 0;
  for (int i = 0; i < count; ++i) {
    const lpm_call call = lpm_call_at(report.config, seconds_of_day_at(firings[i]));
    if (!call.runs) continue;
    const bool open_end = call.interval == NO_WAKE_INTERVAL;
    const time_t next = i + 1 < count ? firings[i + 1] : end;
    out[used++] =
        asleep_stretch{firings[i], open_end ? next : firings[i] + call.interval, open_end};
  }
  return used;
}
