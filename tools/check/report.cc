#include "tools/check/report.h"

#include <unistd.h>
#include <cinttypes>
#include <cstring>

#include "daemon/controller.h"
#include "daemon/time_of_day.h"
#include "daemon/wakeup.h"
#include "device/binary_input.h"
#include "device/status.h"
#include "tools/check/clock_rule.h"
#include "tools/check/lint.h"

namespace {

constexpr time_t DAY = 86400;
constexpr uint32_t SECONDS_PER_DAY = 86400U;
constexpr int MAX_FIRINGS = 8;
constexpr int MAX_CLOCK_CHANGES = 8;

bool known_inputs[BINARY_INPUT_COUNT];
int present_from_known(int n) { return n >= 0 && n < BINARY_INPUT_COUNT && known_inputs[n]; }

int key_index(const check_report& report, const char* name) {
  return known_key_index(report.keys, name);
}

int key_line(const check_report& report, const char* name) {
  const int index = key_index(report, name);
  return index < 0 ? 0 : report.findings.key_line[index];
}

// The line to blame for a value: the first of the keys that the file sets.
int first_line_of(const check_report& report, const char* first, const char* second) {
  const int line = key_line(report, first);
  return line != 0 ? line : key_line(report, second);
}

// A router woken only by an input may sleep any length of time; the replay
// lets the cycle go on at once then, as it does when the tool does not run.
int64_t seconds_asleep(const void* context, int now_tod) {
  const lpm_call call = lpm_call_at(*static_cast<const sleep_config*>(context), now_tod);
  return call.runs && call.interval != NO_WAKE_INTERVAL ? call.interval : 0;
}

void load_config(FILE* file, const check_request& request, check_report* report) {
  if (request.inputs_given) {
    report->presence = presence_source::option;
    for (int n = 0; n < BINARY_INPUT_COUNT; ++n) known_inputs[n] = request.inputs[n];
  } else {
    report->presence = access(STATUS_TOOL_PATH, X_OK) == 0 ? presence_source::status_tool
                                                           : presence_source::status_missing;
    // Asked once per input, so that the report and the loaded values agree
    // even if the tool's answer changes meanwhile.
    for (int n = 0; n < BINARY_INPUT_COUNT; ++n) known_inputs[n] = binary_input_present(n) != 0;
  }
  load_sleep_config_from(file, &report->config, present_from_known);
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) report->present[n] = known_inputs[n];
  // The daemon reads input 1's keys only when input 0 is present too.
  report->inputs_read[0] = report->present[0];
  report->inputs_read[1] = report->present[0] && report->present[1];
}

void check_sleep_time(check_report* report) {
  const sleep_config& config = report->config;
  if (config.sleep_time_hour <= 23 && config.sleep_time_minute <= 59) return;
  const int line = config.sleep_time_hour > 23 ? key_line(*report, "MOD_DORMIX_SLEEP_TIME0_HOUR")
                                               : key_line(*report, "MOD_DORMIX_SLEEP_TIME0_MINUTE");
  const int32_t tod = report->sleep_tod;
  const char* off = config.sleep_time_enabled != 0 ? "" : " (the rule is off)";
  if (tod >= DAY) {
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
                       ? key_line(*report, "MOD_DORMIX_WAKEUP_TIME0_HOUR")
                       : key_line(*report, "MOD_DORMIX_WAKEUP_TIME0_MINUTE");
  const uint32_t target = config.wakeup_time_hour * 3600U + config.wakeup_time_minute * 60U;
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
    add_warning(&report->findings, key_line(*report, "MOD_DORMIX_SLEEP_DELAY0_SECOND"), WARN_SIGNED,
                "sleep delay %" PRIu32
                " s counts as negative in the daemon's signed arithmetic: the delay rule fires on "
                "the first cycle and on every cycle after it%s",
                config.sleep_delay_second,
                config.sleep_delay_enabled != 0 ? "" : " (the rule is off)");
  }
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    if (!report->inputs_read[n] || config.sleep_bin_second[n] < negative) continue;
    char key[KNOWN_KEY_SIZE];
    settings_input_key(key, sizeof key, n, "SECOND");
    add_warning(&report->findings, key_line(*report, key), WARN_SIGNED,
                "hold of input %d, %" PRIu32
                " s, counts as negative: the input rule fires as soon as the level is seen, and "
                "on every cycle while it holds",
                n, config.sleep_bin_second[n]);
  }
  if (config.wakeup_delay_enabled != 0 && config.wakeup_time_enabled == 0 &&
      config.wakeup_delay_second == NO_WAKE_INTERVAL) {
    add_warning(&report->findings, key_line(*report, "MOD_DORMIX_WAKEUP_DELAY0_SECOND"),
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
    line = key_line(*report, "MOD_DORMIX_SLEEP_TIME0_ENABLED");
  } else if (config.sleep_delay_enabled != 0) {
    rule = "delay";
    line = key_line(*report, "MOD_DORMIX_SLEEP_DELAY0_ENABLED");
  } else {
    for (int n = BINARY_INPUT_COUNT - 1; n >= 0; --n) {
      if (!report->inputs_read[n] || config.sleep_bin_enabled[n] == 0) continue;
      char key[KNOWN_KEY_SIZE];
      settings_input_key(key, sizeof key, n, "ENABLED");
      rule = n == 0 ? "input 0" : "input 1";
      line = key_line(*report, key);
    }
  }
  if (rule == nullptr) return;
  add_warning(&report->findings, line, WARN_NO_WAKE,
              "the %s sleep rule is on, but no wake-up rule is: each firing only logs \"%s\" "
              "and the router stays up",
              rule, NO_WAKE_RULE_MESSAGE);
}

void describe_firings(const time_t* firings, int count, char* out, size_t size) {
  out[0] = '\0';
  for (int i = 0; i < count && i < MAX_FIRINGS; ++i) {
    char clock[32];
    format_local_clock(firings[i], clock);
    const size_t used = strlen(out);
    snprintf(out + used, size - used, "%s%s", i == 0 ? "" : (i + 1 == count ? " and " : ", "),
             clock);
  }
}

// One clock change: the firings on the local days it touches, against the
// single firing at the sleep time that a normal day has.
void check_clock_change(check_report* report, const clock_change& change, int line) {
  time_t firings[MAX_FIRINGS];
  const int total =
      replay_time_rule(report->sleep_tod, change.at - 30 * 3600, change.at + 30 * 3600,
                       seconds_asleep, &report->config, firings, MAX_FIRINGS);
  char day_before[16];
  char day_after[16];
  format_local_date(change.at - 1, day_before);
  format_local_date(change.at, day_after);
  const int expected_tod = report->sleep_tod < 0 ? 0 : report->sleep_tod;
  time_t on_day[MAX_FIRINGS];
  int count = 0;
  bool usual = true;
  for (int i = 0; i < total && i < MAX_FIRINGS; ++i) {
    char day[16];
    format_local_date(firings[i], day);
    if (strcmp(day, day_before) != 0 && strcmp(day, day_after) != 0) continue;
    on_day[count++] = firings[i];
    usual = usual && seconds_of_day_at(firings[i]) == expected_tod;
  }
  if (count == 1 && usual) return;

  const int from_tod = seconds_of_day_at(change.at - 1) + 1;
  const int to_tod = seconds_of_day_at(change.at);
  const bool forward = change.offset_after > change.offset_before;
  char change_text[96];
  snprintf(change_text, sizeof change_text, "on %s the local clock %s from %02d:%02d to %02d:%02d",
           day_after, forward ? "jumps forward" : "goes back", from_tod / 3600 % 24,
           from_tod % 3600 / 60, to_tod / 3600, to_tod % 3600 / 60);
  char sleep_text[16];
  snprintf(sleep_text, sizeof sleep_text, "%02d:%02d", expected_tod / 3600,
           expected_tod % 3600 / 60);
  char when[256];
  describe_firings(on_day, count, when, sizeof when);
  if (count == 0) {
    add_warning(&report->findings, line, WARN_DST,
                "%s: the time-of-day rule (sleep time %s) does not fire that day", change_text,
                sleep_text);
  } else if (count == 1) {
    add_warning(&report->findings, line, WARN_DST,
                "%s, so %s does not occur that day: the time-of-day rule fires at %s instead",
                change_text, sleep_text, when);
  } else {
    add_warning(&report->findings, line, WARN_DST,
                "%s: the time of day goes backwards, which re-arms the time-of-day rule (sleep "
                "time %s), so it fires %s that day while the router is up, at %s",
                change_text, sleep_text, count == 2 ? "twice" : "more than twice", when);
  }
}

void check_daylight_saving(check_report* report) {
  if (report->config.sleep_time_enabled == 0 || report->sleep_tod >= DAY) return;
  const int line =
      first_line_of(*report, "MOD_DORMIX_SLEEP_TIME0_HOUR", "MOD_DORMIX_SLEEP_TIME0_ENABLED");
  clock_change changes[MAX_CLOCK_CHANGES];
  const int count = find_clock_changes(report->at - report->at_tod, report->at + 366 * DAY, changes,
                                       MAX_CLOCK_CHANGES);
  for (int i = 0; i < count; ++i) check_clock_change(report, changes[i], line);
}

void find_next_time_firing(check_report* report) {
  if (report->config.sleep_time_enabled == 0) return;
  time_t firing = 0;
  report->time_rule_fires_soon =
      replay_time_rule(report->sleep_tod, report->at, report->at + 2 * DAY + 3600, seconds_asleep,
                       &report->config, &firing, 1) > 0;
  if (!report->time_rule_fires_soon) return;
  report->time_rule_next = firing;
  report->time_rule_call = lpm_call_at(report->config, seconds_of_day_at(firing));
}

}  // namespace

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

bool build_report(FILE* file, const check_request& request, check_report* report) {
  *report = check_report{};
  report->path = request.path;
  report->at = request.at;
  report->at_tod = seconds_of_day_at(request.at);
  known_keys_fill(report->keys);
  if (!lint_settings(file, report->keys, &report->findings)) return false;
  load_config(file, request, report);
  if (ferror(file) != 0) return false;

  const sleep_config& config = report->config;
  report->sleep_tod = sleep_time_of_day(config.sleep_time_hour, config.sleep_time_minute);
  report->call_now = lpm_call_at(config, report->at_tod);
  find_next_time_firing(report);

  check_sleep_time(report);
  check_wake_time(report);
  check_signed_values(report);
  check_wake_rule(report);
  check_daylight_saving(report);
  sort_warnings(&report->findings);
  return true;
}
