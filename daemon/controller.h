// The sleep rules and the poll cycle that evaluates them.
#pragma once

#include <stdint.h>

#include "daemon/wakeup.h"
#include "settings/settings.h"

/// How one binary input has been holding its sleep level.
struct input_trigger {
  bool configured;  // set up at start; an input that appears later stays off
  bool active;
  int32_t since;
  int32_t hold;
};

/// Everything the loop keeps between cycles.
struct controller_state {
  int32_t start_mono;
  int32_t sleep_tod;
  int32_t sleep_delay;
  int32_t prev_tod;
  bool sleep_time_armed;
  input_trigger triggers[BINARY_INPUT_COUNT];
};

/// The outside world as the controller sees it. Every call gets `context`,
/// so that tests and the checker's replays script the world without globals.
struct controller_platform {
  void* context;
  int (*seconds_of_day)(void* context);
  int (*monotonic_seconds)(void* context);
  int (*binary_input_present)(void* context, int n);
  int (*binary_input_read)(void* context, int n);
  int (*enter_sleep)(void* context, const wake_params& params);
};

/// Differences of clock readings wrap like the 32-bit counters they are.
int32_t elapsed_seconds(int32_t now, int32_t since);

/// Seconds an input must hold its level: the setting, or 1 for 0.
int32_t input_hold(uint32_t sleep_bin_second);

/// Whether the time-of-day rule is armed for a daemon that starts at the
/// local second of the day now_tod: only if the sleep time is still ahead.
bool sleep_time_armed_at_start(int32_t sleep_tod, int now_tod);

/// Time-of-day rule for one cycle: re-arms when the time of day went
/// backwards, and returns true when the rule fires (which disarms it).
bool time_rule_fires(controller_state* state, uint32_t enabled, int now_tod);

/// Delay rule, when enabled: fires on every cycle once more than the delay
/// has passed since start.
bool delay_rule_fires(const controller_state& state, int now_mono);

/// Sets up the triggers of present inputs and takes the start times.
void controller_start(controller_state* state, const sleep_config& config,
                      const controller_platform& platform);

/// The input rules of one cycle: for each input in use, from input 0 on,
/// enters sleep when it has held its sleep level long enough. The checker's
/// live view runs them too, on what it saw of the router.
void input_rules_cycle(controller_state* state, const sleep_config& config,
                       const controller_platform& platform);

/// One poll cycle without its pause: evaluates every rule and enters sleep
/// for each one that fires.
void controller_cycle(controller_state* state, const sleep_config& config,
                      const controller_platform& platform);
