#include "daemon/wakeup.h"

#include <syslog.h>
#include <cstdio>

#include "daemon/time_of_day.h"
#include "device/command.h"

namespace {
constexpr uint32_t SECONDS_PER_DAY = 86400U;
}

uint32_t wake_interval(const wake_params& params, int now_tod) {
  if (params.wake_time_enabled != 0) {
    const auto now = static_cast<uint32_t>(now_tod);
    uint32_t target = static_cast<uint32_t>(params.wake_hour) * 3600U +
                      static_cast<uint32_t>(params.wake_minute) * 60U;
    if (now >= target) target += SECONDS_PER_DAY;
    const uint32_t until = target - now;
    if (params.wake_delay_enabled != 0 && params.wake_delay_second < until) {
      return params.wake_delay_second;
    }
    return until;
  }
  if (params.wake_delay_enabled != 0) return params.wake_delay_second;
  return NO_WAKE_INTERVAL;
}

int lpm_arguments(int32_t wake_bin, uint32_t interval, char* number, const char* arguments[4]) {
  int count = 0;
  if (wake_bin != 0) arguments[count++] = "-b";
  if (interval != NO_WAKE_INTERVAL) {
    snprintf(number, LPM_NUMBER_SIZE, "%lu", static_cast<unsigned long>(interval));
    arguments[count++] = "-i";
    arguments[count++] = number;
  }
  arguments[count] = nullptr;
  return count;
}

int enter_sleep(int32_t wake_bin, int32_t wake_delay_enabled, uint32_t wake_delay_second,
                int32_t wake_time_enabled, int32_t wake_hour, int32_t wake_minute) {
  const wake_params params{wake_bin,          wake_delay_enabled, wake_delay_second,
                           wake_time_enabled, wake_hour,          wake_minute};
  // The wall clock matters only for a wake time.
  const int now_tod = wake_time_enabled != 0 ? seconds_of_day() : 0;
  const uint32_t interval = wake_interval(params, now_tod);
  char number[LPM_NUMBER_SIZE];
  const char* arguments[4] = {};
  if (lpm_arguments(wake_bin, interval, number, arguments) == 0) {
    syslog(LOG_NOTICE, "%s", NO_WAKE_RULE_MESSAGE);
    return 0;
  }
  // The list ends at its first null, so unused slots end it early.
  return run_command(LPM_PATH, arguments[0], arguments[1], arguments[2], nullptr);
}
