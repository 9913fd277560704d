#include "daemon/controller.h"

int32_t elapsed_seconds(int32_t now, int32_t since) {
  return static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(since));
}

int32_t input_hold(uint32_t sleep_bin_second) {
  return sleep_bin_second == 0 ? 1 : static_cast<int32_t>(sleep_bin_second);
}

bool sleep_time_armed_at_start(int32_t sleep_tod, int now_tod) { return now_tod < sleep_tod; }

bool time_rule_fires(controller_state* state, uint32_t enabled, int now_tod) {
  if (now_tod < state->prev_tod) state->sleep_time_armed = true;
  state->prev_tod = now_tod;
  if (enabled == 0 || now_tod < state->sleep_tod || !state->sleep_time_armed) return false;
  state->sleep_time_armed = false;
  return true;
}

bool delay_rule_fires(const controller_state& state, int now_mono) {
  return elapsed_seconds(now_mono, state.start_mono) > state.sleep_delay;
}

namespace {

int enter_sleep_with(const sleep_config& config, const controller_platform& platform) {
  return platform.enter_sleep(platform.context, wake_params_from(config));
}

// True when input n holds its sleep level long enough on this cycle.
bool input_rule_fires(input_trigger* trigger, const sleep_config& config, int n,
                      const controller_platform& platform) {
  const bool at_level = trigger->configured && config.sleep_bin_enabled[n] != 0 &&
                        static_cast<uint32_t>(platform.binary_input_read(platform.context, n)) ==
                            config.sleep_bin_state[n];
  if (!at_level) {
    trigger->active = false;
    return false;
  }
  if (!trigger->active) {
    trigger->active = true;
    trigger->since = platform.monotonic_seconds(platform.context);
  }
  return elapsed_seconds(platform.monotonic_seconds(platform.context), trigger->since) >=
         trigger->hold;
}

// Asks whether input n is present, once, and keeps the answer in present
// for the inputs after it.
bool ask_input_in_use(const controller_platform& platform, bool present[BINARY_INPUT_COUNT],
                      int n) {
  present[n] = platform.binary_input_present(platform.context, n) != 0;
  return input_in_use(present, n);
}

}  // namespace

void controller_start(controller_state* state, const sleep_config& config,
                      const controller_platform& platform) {
  bool present[BINARY_INPUT_COUNT] = {};
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    if (!ask_input_in_use(platform, present, n)) break;
    state->triggers[n] = input_trigger{true, false, 0, input_hold(config.sleep_bin_second[n])};
  }
  state->start_mono = platform.monotonic_seconds(platform.context);
  state->sleep_tod = sleep_time_of_day(config.sleep_time_hour, config.sleep_time_minute);
  state->sleep_delay = static_cast<int32_t>(config.sleep_delay_second);
  state->sleep_time_armed =
      sleep_time_armed_at_start(state->sleep_tod, platform.seconds_of_day(platform.context));
}

void input_rules_cycle(controller_state* state, const sleep_config& config,
                       const controller_platform& platform) {
  bool present[BINARY_INPUT_COUNT] = {};
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    if (!ask_input_in_use(platform, present, n)) break;
    if (input_rule_fires(&state->triggers[n], config, n, platform)) {
      enter_sleep_with(config, platform);
    }
  }
}

void controller_cycle(controller_state* state, const sleep_config& config,
                      const controller_platform& platform) {
  if (time_rule_fires(state, config.sleep_time_enabled,
                      platform.seconds_of_day(platform.context))) {
    enter_sleep_with(config, platform);
  }
  if (config.sleep_delay_enabled != 0 &&
      delay_rule_fires(*state, platform.monotonic_seconds(platform.context))) {
    enter_sleep_with(config, platform);
  }
  input_rules_cycle(state, config, platform);
}
