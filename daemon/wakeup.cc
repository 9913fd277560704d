#include "daemon/wakeup.h"

#include <stdio.h>

#include "daemon/time_units.h"
uint32_t wake_time_of_day(uint32_t hour, uint32_t minute) {
  return hour * SECONDS_PER_HOUR + minute * SECONDS_PER_MINUTE;
}

int32_t sleep_time_of_day(uint32_t hour, uint32_t minute) {
  return static_cast<int32_t>(wake_time_of_day(hour, minute));
}

wake_params wake_params_from(const sleep_config& config) {
  return wake_params{static_cast<int32_t>(config.wakeup_bin_enabled),
                     static_cast<int32_t>(config.wakeup_delay_enabled),
                     config.wakeup_delay_second,
                     static_cast<int32_t>(config.wakeup_time_enabled),
                     static_cast<int32_t>(config.wakeup_time_hour),
                     static_cast<int32_t>(config.wakeup_time_minute)};
}

uint32_t wake_interval(const wake_params& params, int now_tod) {
  if (params.wake_time_enabled != 0) {
    const auto now = static_cast<uint32_t>(now_tod);
    uint32_t target = wake_time_of_day(static_cast<uint32_t>(params.wake_hour),
                                       static_cast<uint32_t>(params.wake_minute));
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
