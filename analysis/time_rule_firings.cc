#include "analysis/time_rule_firings.h"

#include <string.h>

#include "analysis/clock_rule.h"
#include "analysis/key_lines.h"
#include "daemon/time_of_day.h"
#include "daemon/time_units.h"

namespace {

constexpr time_t HOUR = SECONDS_PER_HOUR;
constexpr time_t DAY = SECONDS_PER_DAY;
constexpr int MAX_FIRINGS = 8;
constexpr int MAX_CLOCK_CHANGES = 8;

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
      replay_time_rule(report->sleep_tod, change.at - 30 * HOUR, change.at + 30 * HOUR,
                       lpm_sleep_length, &report->config, firings, MAX_FIRINGS);
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

}  // namespace

void check_daylight_saving(check_report* report) {
  if (report->config.sleep_time_enabled == 0 || report->sleep_tod >= DAY) return;
  const int line =
      report_first_line(*report, "MOD_DORMIX_SLEEP_TIME0_HOUR", "MOD_DORMIX_SLEEP_TIME0_ENABLED");
  clock_change changes[MAX_CLOCK_CHANGES];
  const int count = find_clock_changes(report->at - report->at_tod, report->at + 366 * DAY, changes,
                                       MAX_CLOCK_CHANGES);
  for (int i = 0; i < count; ++i) check_clock_change(report, changes[i], line);
}

int time_rule_firings(const check_report& report, time_t from, time_t to, time_t* firings,
                      int max) {
  if (report.config.sleep_time_enabled == 0) return 0;
  return replay_time_rule(report.sleep_tod, from, to, lpm_sleep_length, &report.config, firings,
                          max);
}

void find_next_time_firing(check_report* report) {
  time_t firing = 0;
  report->time_rule_fires_soon =
      time_rule_firings(*report, report->at, report->at + 2 * DAY + HOUR, &firing, 1) > 0;
  if (!report->time_rule_fires_soon) return;
  report->time_rule_next = firing;
  report->time_rule_call = lpm_call_at(report->config, seconds_of_day_at(firing));
}
