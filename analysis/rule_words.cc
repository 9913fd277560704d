#include "analysis/rule_words.h"

#include <inttypes.h>
#include <stdio.h>

#include "analysis/clock_rule.h"
#include "daemon/controller.h"

namespace {

void describe_time_rule(const check_report& report, rule_words* words) {
  const sleep_config& config = report.config;
  *words = rule_words{"time of day", false, true, config.sleep_time_enabled != 0, {}};
  char* out = words->detail;
  const int used = snprintf(out, RULE_WORDS_SIZE, "sleep time %02" PRIu32 ":%02" PRIu32,
                            config.sleep_time_hour, config.sleep_time_minute);
  char* rest = out + used;
  const size_t room = RULE_WORDS_SIZE - static_cast<size_t>(used);
  if (config.sleep_time_enabled == 0) return;
  if (!report.time_rule_fires_soon) {
    snprintf(rest, room, "; does not fire in the next two days");
    return;
  }
  char when[48];
  format_local_moment(report.time_rule_next, when);
  if (report.time_rule_call.runs) {
    snprintf(rest, room, "; next firing %s, running %s", when, report.time_rule_call.command);
  } else {
    snprintf(rest, room, "; next firing %s, which only logs the no-wake-rule message", when);
  }
}

void describe_delay_rule(const check_report& report, rule_words* words) {
  const sleep_config& config = report.config;
  *words = rule_words{"delay", false, true, config.sleep_delay_enabled != 0, {}};
  char* out = words->detail;
  if (config.sleep_delay_enabled == 0) {
    snprintf(out, RULE_WORDS_SIZE, "%" PRIu32 " s", config.sleep_delay_second);
  } else if (static_cast<int32_t>(config.sleep_delay_second) < 0) {
    snprintf(out, RULE_WORDS_SIZE,
             "%" PRIu32 " s; fires on the first cycle after start, then on every cycle",
             config.sleep_delay_second);
  } else {
    snprintf(out, RULE_WORDS_SIZE,
             "%" PRIu32 " s; fires once more than %" PRIu32
             " s have passed since start, then on every cycle while the router is up",
             config.sleep_delay_second, config.sleep_delay_second);
  }
}

void describe_input_rule(const check_report& report, int n, rule_words* words) {
  static const char* const labels[BINARY_INPUT_COUNT] = {"input 0", "input 1"};
  const sleep_config& config = report.config;
  *words = rule_words{labels[n], false, false, false, {}};
  char* out = words->detail;
  if (!report.present[n]) {
    snprintf(out, RULE_WORDS_SIZE, "absent: its keys are not read");
    return;
  }
  if (!report.inputs_read[n]) {
    snprintf(out, RULE_WORDS_SIZE,
             "present, but input 0 is absent, so the daemon never looks at it");
    return;
  }
  words->switched = true;
  words->on = config.sleep_bin_enabled[n] != 0;
  const int32_t hold = input_hold(config.sleep_bin_second[n]);
  const int used = snprintf(out, RULE_WORDS_SIZE, "level %" PRIu32 " held %" PRId32 " s",
                            config.sleep_bin_state[n], hold);
  char* rest = out + used;
  const size_t room = RULE_WORDS_SIZE - static_cast<size_t>(used);
  if (config.sleep_bin_enabled[n] == 0) return;
  if (hold < 0) {
    snprintf(rest, room,
             "; fires as soon as the level is seen, then on every cycle while it holds");
  } else {
    snprintf(rest, room,
             "; fires %" PRId32 " to %" PRId32
             " s after the level is first seen, then on every cycle while it holds",
             hold - 1, hold);
  }
}

void describe_wake_rules(const sleep_config& config, rule_words words[3]) {
  words[0] = rule_words{"binary input", true, true, config.wakeup_bin_enabled != 0, {}};
  words[1] = rule_words{"delay", true, true, config.wakeup_delay_enabled != 0, {}};
  snprintf(words[1].detail, RULE_WORDS_SIZE, "%" PRIu32 " s", config.wakeup_delay_second);
  words[2] = rule_words{"clock time", true, true, config.wakeup_time_enabled != 0, {}};
  snprintf(words[2].detail, RULE_WORDS_SIZE, "%02" PRIu32 ":%02" PRIu32, config.wakeup_time_hour,
           config.wakeup_time_minute);
}

}  // namespace

int describe_rules(const check_report& report, rule_words out[RULE_WORDS_MAX]) {
  int count = 0;
  describe_time_rule(report, &out[count++]);
  describe_delay_rule(report, &out[count++]);
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) describe_input_rule(report, n, &out[count++]);
  describe_wake_rules(report.config, &out[count]);
  return count + 3;
}

bool module_switch_ignored(const check_report& report) {
  const sleep_config& config = report.config;
  bool rule_on = config.sleep_time_enabled != 0 || config.sleep_delay_enabled != 0;
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    rule_on = rule_on || (report.inputs_read[n] && config.sleep_bin_enabled[n] != 0);
  }
  return config.enabled == 0 && rule_on;
}
