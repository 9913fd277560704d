#include "analysis/lpm_call.h"

#include <stdio.h>
#include <string.h>

#include "daemon/wakeup.h"

lpm_call lpm_call_at(const sleep_config& config, int now_tod) {
  lpm_call call{};
  call.interval = wake_interval(wake_params_from(config), now_tod);
  char number[LPM_NUMBER_SIZE];
  const char* arguments[4];
  const int count = lpm_arguments(static_cast<int32_t>(config.wakeup_bin_enabled), call.interval,
                                  number, arguments);
  call.runs = count > 0;
  snprintf(call.command, sizeof call.command, "%s", LPM_PATH);
  for (int i = 0; i < count; ++i) {
    const size_t used = strlen(call.command);
    snprintf(call.command + used, sizeof call.command - used, " %s", arguments[i]);
  }
  return call;
}

int64_t lpm_sleep_length(const void* context, int now_tod) {
  const lpm_call call = lpm_call_at(*static_cast<const sleep_config*>(context), now_tod);
  return call.runs && call.interval != NO_WAKE_INTERVAL ? call.interval : 0;
}
