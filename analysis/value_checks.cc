#include "analysis/value_checks.h"

#include <inttypes.h>

#include "analysis/key_lines.h"
#include "analysis/lint.h"
#include "daemon/controller.h"
#include "daemon/time_units.h"
#include "daemon/wakeup.h"
#include "device/binary_input.h"

namespace {

void check_sleep_time(check_report* report) {
  const sleep_config& config = report->config;
  if (config.sleep_time_hour <= 23 && config.sleep_time_minute <= 59) return;
  const int line = config.sleep_time_hour > 23
                       ? report_key_line(*report, "MOD_DORMIX_SLEEP_TIME0_HOUR")
                       : report_key_line(*report, "MOD_DORMIX_SLEEP_TIME0_MINUTE");
  const int32_t tod = report->sleep_tod;
  const char* off = config.sleep_time_enabled != 0 ? "" : " (the rule is off)";
  if (tod >= SECONDS_PER_DAY) {
    add_warning(&report->findings, line, WARN_TIME_RANGE,
                "sleep time %" PRIu32 ":%02" PRIu32 " is %" PRId32
                " s after midnight, past the end of the day: the time-of-day rule never fires%s",
                config.sleep_time_hour, config.sleep_time_minute, tod, off);
  } else if (tod >= 0) {
    add_warning(&report->findings, line, WARN_TIME_RANGE,
                "sleep time %" PRIu32 ":%02" PRIu32
                " is out of range and works out as %02d:%02d: the time-of-day rule fires then%s",
                config.sleep_time_hour, config.sleep_time_minute, tod / 3600, tod % 3600 / 60, off);
  } else {
    add_warning(&report->findings, line, WARN_TIME_RANGE,
                "sleep time %" PRIu32 ":%02" PRIu32 " wraps around to %" PRId32
                " s, before midnight: the time-of-day rule fires on the first cycle after every "
                "midnight and after every time the clock is set back%s",
                config.sleep_time_hour, config.sleep_time_minute, tod, off);
  }
}

void check_wake_time(check_report* report) {
  const sleep_config& config = report->config;
  if (config.wakeup_time_hour <= 23 && config.wakeup_time_minute <= 59) return;
  const int line = config.wakeup_time_hour > 23
                       ? report_key_line(*report, "MOD_DORMIX_WAKEUP_TIME0_HOUR")
                       : report_key_line(*report, "MOD_DORMIX_WAKEUP_TIME0_MINUTE");
  const uint32_t target = wake_time_of_day(config.wakeup_time_hour, config.wakeup_time_minute);
  const uint32_t clock = target % SECONDS_PER_DAY;
  const char* off = config.wakeup_time_enabled != 0 ? "" : " (the rule is off)";
  if (target < SECONDS_PER_DAY) {
    add_warning(&report->findings, line, WARN_TIME_RANGE,
                "wake-up time %" PRIu32 ":%02" PRIu32 " is out of range and works out as %02" PRIu32
                ":%02" PRIu32 "%s",
                config.wakeup_time_hour, config.wakeup_time_minute, clock / 3600, clock % 3600 / 60,
                off);
  } else {
    add_warning(&report->findings, line, WARN_TIME_RANGE,
                "wake-up time %" PRIu32 ":%02" PRIu32 " is %" PRIu32
                " s after midnight: the router is asked to wake %" PRIu32
                " day(s) after the day it goes to sleep, at %02" PRIu32 ":%02" PRIu32 "%s",
                config.wakeup_time_hour, config.wakeup_time_minute, target,
                target / SECONDS_PER_DAY, clock / 3600, clock % 3600 / 60, off);
  }
}

void check_signed_values(check_report* report) {
  const sleep_config& config = report->config;
  constexpr uint32_t negative = 0x80000000U;
  if (config.sleep_delay_second >= negative) {
    add_warning(
        &report->findings, report_key_line(*report, "MOD_DORMIX_SLEEP_DELAY0_SECOND"), WARN_SIGNED,
        "sleep delay %" PRIu32
        " s counts as negative in the daemon's signed arithmetic: the delay rule fires on "
        "the first cycle and on every cycle after it%s",
        config.sleep_delay_second, config.sleep_delay_enabled != 0 ? "" : " (the rule is off)");
  }
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    if (!report->inputs_read[n] || config.sleep_bin_second[n] < negative) continue;
    char key[KNOWN_KEY_SIZE];
    settings_input_key(key, sizeof key, n, "SECOND");
    add_warning(&report->findings, report_key_line(*report, key), WARN_SIGNED,
                "hold of input %d, %" PRIu32
                " s, counts as negative: the input rule fires as soon as the level is seen, and "
                "on every cycle while it holds",
                n, config.sleep_bin_second[n]);
  }
  if (config.wakeup_delay_enabled != 0 && config.wakeup_time_enabled == 0 &&
      config.wakeup_delay_second == NO_WAKE_INTERVAL) {
    add_warning(&report->findings, report_key_line(*report, "MOD_DORMIX_WAKEUP_DELAY0_SECOND"),
                WARN_TOO_LARGE,
                "wake-up delay 4294967295 s is the daemon's mark for no timed wake-up: the "
                "router is not woken after a delay");
  }
}

void check_wake_rule(check_report* report) {
  const sleep_config& config = report->config;
  if (lpm_call_at(config, report->at_tod).runs) return;
  const char* rule = nullptr;
  int line = 0;
  if (config.sleep_time_enabled != 0) {
    rule = "time-of-day";
    line = report_key_line(*report, "MOD_DORMIX_SLEEP_TIME0_ENABLED");
  } else if (config.sleep_delay_enabled != 0) {
    rule = "delay";
    line = report_key_line(*report, "MOD_DORMIX_SLEEP_DELAY0_ENABLED");
  } else {
    for (int n = BINARY_INPUT_COUNT - 1; n >= 0; --n) {
      if (!report->inputs_read[n] || config.sleep_bin_enabled[n] == 0) continue;
      char key[KNOWN_KEY_SIZE];
      settings_input_key(key, sizeof key, n, "ENABLED");
      rule = n == 0 ? "input 0" : "input 1";
      line = report_key_line(*report, key);
    }
  }
  if (rule == nullptr) return;
  add_warning(&report->findings, line, WARN_NO_WAKE,
              "the %s sleep rule is on, but no wake-up rule is: each firing only logs \"%s\" "
              "and the router stays up",
              rule, NO_WAKE_RULE_MESSAGE);
}

// The GPIO driver missing, or failing a request, reads as level 0: a rule
// for level 0 cannot tell that apart from the input at level 0.
void check_level_zero(check_report* report) {
  const sleep_config& config = report->config;
  int inputs[BINARY_INPUT_COUNT];
  int count = 0;
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    if (report->inputs_read[n] && config.sleep_bin_enabled[n] != 0 &&
        config.sleep_bin_state[n] == 0) {
      inputs[count++] = n;
    }
  }
  if (count == 0) return;
  char state_key[KNOWN_KEY_SIZE];
  char enabled_key[KNOWN_KEY_SIZE];
  settings_input_key(state_key, sizeof state_key, inputs[0], "STATE");
  settings_input_key(enabled_key, sizeof enabled_key, inputs[0], "ENABLED");
  const int line = report_first_line(*report, state_key, enabled_key);
  char which[32];
  if (count == 1) {
    snprintf(which, sizeof which, "input %d puts", inputs[0]);
  } else {
    snprintf(which, sizeof which, "inputs %d and %d put", inputs[0], inputs[1]);
  }
  add_warning(&report->findings, line, WARN_LEVEL_ZERO,
              "%s the router to sleep at level 0, but the daemon reads level 0 also when %s is "
              "missing or a level request fails: without a working GPIO driver the rule fires "
              "as well, on every cycle once the hold has passed",
              which, GPIO_DEVICE_PATH);
}

}  // namespace

void check_values(check_report* report) {
  check_sleep_time(report);
  check_wake_time(report);
  check_signed_values(report);
  check_wake_rule(report);
  check_level_zero(report);
}
