// The low-power tool's command line for a firing, as the daemon builds it.
#pragma once

#include <stdint.h>

#include "settings/settings.h"

inline constexpr int LPM_COMMAND_SIZE = 96;

/// The low-power tool's command line for a firing, or none.
struct lpm_call {
  bool runs;
  uint32_t interval;  // NO_WAKE_INTERVAL for none
  char command[LPM_COMMAND_SIZE];
};

/// The call the daemon makes when a rule fires at the local second of day.
lpm_call lpm_call_at(const sleep_config& config, int now_tod);

/// How long a firing at now_tod keeps the daemon's cycle waiting: the seconds
/// the router sleeps. context is the sleep_config. A router woken only by an
/// input may sleep any length of time; the replay lets the cycle go on at
/// once then, as it does when the tool does not run.
int64_t lpm_sleep_length(const void* context, int now_tod);
