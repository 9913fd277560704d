#include "daemon/enter_sleep.h"

#include <syslog.h>

#include "daemon/time_of_day.h"
#include "device/command.h"

int enter_sleep(const wake_params& params) {
  // The wall clock matters only for a wake time.
  const int now_tod = params.wake_time_enabled != 0 ? seconds_of_day() : 0;
  const uint32_t interval = wake_interval(params, now_tod);
  char number[LPM_NUMBER_SIZE];
  const char* arguments[4] = {};
  if (lpm_arguments(params.wake_bin, interval, number, arguments) == 0) {
    syslog(LOG_NOTICE, "%s", NO_WAKE_RULE_MESSAGE);
    return 0;
  }
  // The list ends at its first null, so unused slots end it early.
  return run_command(LPM_PATH, arguments[0], arguments[1], arguments[2], nullptr);
}
