// What the checker works out with the daemon's own code: firings, the
// low-power command line, and the warnings that need the whole file.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "analysis/clock_rule.h"
#include "analysis/lpm_method_check.h"
#include "analysis/report.h"
#include "analysis/time_rule_firings.h"
#include "analysis/value_checks.h"
#include "board/lpm_config.h"
#include "daemon/controller.h"
#include "daemon/time_of_day.h"
#include "daemon/wakeup.h"
#include "datetime/date_time.h"

namespace {

// Runs the checks in one time zone; restores the previous one afterwards.
class time_zone {
 public:
  explicit time_zone(const char* zone) {
    char path[96];
    snprintf(path, sizeof path, "/usr/share/zoneinfo/%s", zone);
    available_ = access(path, R_OK) == 0;
    const char* old = getenv("TZ");
    had_zone_ = old != nullptr;
    if (had_zone_) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~time_zone() {
    if (had_zone_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  bool available() const { return available_; }
  time_zone(const time_zone&) = delete;
  time_zone& operator=(const time_zone&) = delete;

 private:
  bool available_ = false;
  bool had_zone_ = false;
  std::string saved_;
};

time_t local_moment(const char* text) {
  time_t moment = 0;
  EXPECT_TRUE(parse_local_moment(text, &moment)) << text;
  return moment;
}

// A report over text at a local moment, with both inputs present.
check_report* report_on(const std::string& text, const char* at) {
  static check_report report;
  std::string buffer = text;
  FILE* file = fmemopen(buffer.data(), buffer.size(), "r");
  EXPECT_NE(file, nullptr);
  check_request request{
      "settings", local_moment(at), {presence_source::option, {true, true}}, {}, nullptr};
  EXPECT_TRUE(build_report(file, request, &report));
  fclose(file);
  return &report;
}

std::string warnings_of(const check_report& report, const char* code) {
  std::string found;
  for (int i = 0; i < report.findings.warning_count; ++i) {
    const check_warning& warning = report.findings.warnings[i];
    if (strcmp(warning.code, code) != 0) continue;
    found += std::to_string(warning.line) + ": " + warning.text + "\n";
  }
  return found;
}

const char* const SLEEP_AT_0230 =
    "MOD_DORMIX_SLEEP_TIME0_ENABLED=1\n"
    "MOD_DORMIX_SLEEP_TIME0_HOUR=2\n"
    "MOD_DORMIX_SLEEP_TIME0_MINUTE=30\n";

TEST(CheckDaylightSaving, SleepTimeInTheBerlinHoursThatJumpAndRepeat) {
  time_zone berlin("Europe/Berlin");
  if (!berlin.available()) GTEST_SKIP() << "tzdata is not installed";
  const check_report* report = report_on(
      std::string(SLEEP_AT_0230) + "MOD_DORMIX_WAKEUP_BIN_ENABLED=1\n", "2026-06-01 12:00:00");
  EXPECT_EQ(warnings_of(*report, WARN_DST),
            "2: on 2026-10-25 the local clock goes back from 03:00 to 02:00: the time of day "
            "goes backwards, which re-arms the time-of-day rule (sleep time 02:30), so it fires "
            "twice that day while the router is up, at 02:30:00 CEST and 02:30:00 CET\n"
            "2: on 2027-03-28 the local clock jumps forward from 02:00 to 03:00, so 02:30 does "
            "not occur that day: the time-of-day rule fires at 03:00:00 CEST instead\n");
}

TEST(CheckDaylightSaving, ARouterAsleepAcrossTheRepeatedHourFiresOnce) {
  time_zone berlin("Europe/Berlin");
  if (!berlin.available()) GTEST_SKIP() << "tzdata is not installed";
  // Asleep from 02:30 CEST for an hour: it wakes at 02:30 CET, no earlier
  // in the day than it went to sleep, so nothing re-arms the rule.
  const check_report* report = report_on(std::string(SLEEP_AT_0230) +
                                             "MOD_DORMIX_WAKEUP_DELAY0_ENABLED=1\n"
                                             "MOD_DORMIX_WAKEUP_DELAY0_SECOND=3600\n",
                                         "2026-06-01 12:00:00");
  const std::string warnings = warnings_of(*report, WARN_DST);
  EXPECT_EQ(warnings.find("2026-10-25"), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("2027-03-28"), std::string::npos) << warnings;
}

TEST(CheckDaylightSaving, AnEarlierSleepTimeFiresAgainWhenTheClockGoesBack) {
  time_zone berlin("Europe/Berlin");
  if (!berlin.available()) GTEST_SKIP() << "tzdata is not installed";
  const check_report* report = report_on(
      "MOD_DORMIX_SLEEP_TIME0_ENABLED=1\nMOD_DORMIX_SLEEP_TIME0_HOUR=1\n"
      "MOD_DORMIX_WAKEUP_BIN_ENABLED=1\n",
      "2026-06-01 12:00:00");
  const std::string warnings = warnings_of(*report, WARN_DST);
  EXPECT_NE(warnings.find("at 01:00:00 CEST and 02:00:00 CET"), std::string::npos) << warnings;
  EXPECT_EQ(warnings.find("2027-03-28"), std::string::npos) << warnings;
}

TEST(CheckDaylightSaving, QuietWhereTheClockDoesNotChangeAroundTheSleepTime) {
  struct row {
    const char* zone;
    const char* settings;
  };
  const std::string wake = "MOD_DORMIX_WAKEUP_BIN_ENABLED=1\n";
  const row rows[] = {
      {"UTC", SLEEP_AT_0230},
      {"Europe/Berlin", "MOD_DORMIX_SLEEP_TIME0_ENABLED=1\nMOD_DORMIX_SLEEP_TIME0_HOUR=12\n"},
      {"Europe/Berlin", "MOD_DORMIX_SLEEP_TIME0_ENABLED=0\nMOD_DORMIX_SLEEP_TIME0_HOUR=2\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.zone + std::string(" ") + r.settings);
    time_zone zone(r.zone);
    if (!zone.available()) GTEST_SKIP() << "tzdata is not installed";
    const check_report* report = report_on(r.settings + wake, "2026-06-01 12:00:00");
    EXPECT_EQ(warnings_of(*report, WARN_DST), "");
  }
}

TEST(CheckReport, NextTimeOfDayFiringForADaemonStartedThen) {
  time_zone utc("UTC");
  struct row {
    const char* at;
    const char* settings;
    const char* next;  // "" for none within two days
  };
  const std::string wake = "MOD_DORMIX_WAKEUP_BIN_ENABLED=1\nMOD_DORMIX_SLEEP_TIME0_ENABLED=1\n";
  const row rows[] = {
      {"2026-06-01 08:00:00", "MOD_DORMIX_SLEEP_TIME0_HOUR=9\n", "2026-06-01 09:00:00 UTC"},
      {"2026-06-01 10:00:00", "MOD_DORMIX_SLEEP_TIME0_HOUR=9\n", "2026-06-02 09:00:00 UTC"},
      {"2026-06-01 09:00:00", "MOD_DORMIX_SLEEP_TIME0_HOUR=9\n", "2026-06-02 09:00:00 UTC"},
      {"2026-06-01 10:00:00", "", "2026-06-02 00:00:00 UTC"},  // 00:00 after the wrap
      {"2026-06-01 10:00:00", "MOD_DORMIX_SLEEP_TIME0_MINUTE=90\n", "2026-06-02 01:30:00 UTC"},
      {"2026-06-01 10:00:00", "MOD_DORMIX_SLEEP_TIME0_HOUR=25\n", ""},
      {"2026-06-01 10:00:00", "MOD_DORMIX_SLEEP_TIME0_HOUR=596524\n", "2026-06-02 00:00:00 UTC"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.at) + " " + r.settings);
    const check_report* report = report_on(wake + r.settings, r.at);
    char next[48] = "";
    if (report->time_rule_fires_soon) format_local_moment(report->time_rule_next, next);
    EXPECT_STREQ(next, r.next);
  }
}

TEST(CheckReport, LowPowerCommandLineOfAFiringNow) {
  time_zone utc("UTC");
  struct row {
    const char* at;
    const char* settings;
    const char* command;  // "" when the tool does not run
  };
  const char* delay = "MOD_DORMIX_WAKEUP_DELAY0_ENABLED=1\nMOD_DORMIX_WAKEUP_DELAY0_SECOND=600\n";
  const row rows[] = {
      {"2026-06-01 10:00:00", "", ""},
      {"2026-06-01 10:00:00", "MOD_DORMIX_WAKEUP_BIN_ENABLED=1\n", "/usr/sbin/lpm -b"},
      {"2026-06-01 10:00:00", delay, "/usr/sbin/lpm -i 600"},
      {"2026-06-01 10:00:00",
       "MOD_DORMIX_WAKEUP_BIN_ENABLED=1\nMOD_DORMIX_WAKEUP_TIME0_ENABLED=1\n"
       "MOD_DORMIX_WAKEUP_TIME0_HOUR=10\nMOD_DORMIX_WAKEUP_TIME0_MINUTE=5\n",
       "/usr/sbin/lpm -b -i 300"},
      {"2026-06-01 10:00:20",
       "MOD_DORMIX_WAKEUP_TIME0_ENABLED=1\nMOD_DORMIX_WAKEUP_TIME0_HOUR=10\n"
       "MOD_DORMIX_WAKEUP_TIME0_MINUTE=5\n",
       "/usr/sbin/lpm -i 280"},
      {"2026-06-01 10:00:00",
       "MOD_DORMIX_WAKEUP_TIME0_ENABLED=1\nMOD_DORMIX_WAKEUP_TIME0_HOUR=10\n",
       "/usr/sbin/lpm -i 86400"},
      {"2026-06-01 10:00:00",
       "MOD_DORMIX_WAKEUP_DELAY0_ENABLED=1\nMOD_DORMIX_WAKEUP_DELAY0_SECOND=4294967295\n", ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.at) + " " + r.settings);
    const check_report* report = report_on(r.settings, r.at);
    EXPECT_STREQ(report->call_now.runs ? report->call_now.command : "", r.command);
  }
}

TEST(CheckReport, WarningsAboutWhatTheValuesAmountTo) {
  time_zone utc("UTC");
  struct row {
    const char* settings;
    const char* code;
    const char* expected;  // "line: part of the message"
  };
  const row rows[] = {
      {"MOD_DORMIX_SLEEP_TIME0_HOUR=25\n", WARN_TIME_RANGE, "1: sleep time 25:00 is 90000 s"},
      {"MOD_DORMIX_SLEEP_TIME0_HOUR=25\n", WARN_TIME_RANGE, "never fires (the rule is off)"},
      {"A=1\nMOD_DORMIX_SLEEP_TIME0_MINUTE=90\n", WARN_TIME_RANGE, "2: sleep time 0:90"},
      {"MOD_DORMIX_SLEEP_TIME0_MINUTE=90\n", WARN_TIME_RANGE, "works out as 01:30"},
      {"MOD_DORMIX_SLEEP_TIME0_HOUR=596524\n", WARN_TIME_RANGE, "after every midnight"},
      {"MOD_DORMIX_SLEEP_TIME0_HOUR=1193047\n", WARN_TIME_RANGE, "works out as 00:31"},
      {"MOD_DORMIX_WAKEUP_TIME0_HOUR=7\nMOD_DORMIX_WAKEUP_TIME0_MINUTE=75\n", WARN_TIME_RANGE,
       "2: wake-up time 7:75 is out of range and works out as 08:15"},
      {"MOD_DORMIX_WAKEUP_TIME0_HOUR=25\n", WARN_TIME_RANGE, "wake 1 day(s) after the day it goes"},
      {"MOD_DORMIX_SLEEP_DELAY0_ENABLED=1\nMOD_DORMIX_SLEEP_DELAY0_SECOND=2147483648\n"
       "MOD_DORMIX_WAKEUP_BIN_ENABLED=1\n",
       WARN_SIGNED, "2: sleep delay 2147483648 s counts as negative"},
      {"MOD_DORMIX_SLEEP_BIN1_SECOND=4000000000\n", WARN_SIGNED, "1: hold of input 1"},
      {"MOD_DORMIX_WAKEUP_DELAY0_ENABLED=1\nMOD_DORMIX_WAKEUP_DELAY0_SECOND=4294967295\n",
       "too-large", "2: wake-up delay 4294967295 s"},
      {"X=1\nMOD_DORMIX_SLEEP_DELAY0_ENABLED=1\n", WARN_NO_WAKE, "2: the delay sleep rule"},
      {"MOD_DORMIX_SLEEP_BIN1_ENABLED=1\n", WARN_NO_WAKE, "1: the input 1 sleep rule"},
      {"MOD_DORMIX_SLEEP_TIME0_ENABLED=1\nMOD_DORMIX_SLEEP_TIME0_HOUR=3\n", WARN_NO_WAKE,
       "1: the time-of-day sleep rule is on, but no wake-up rule is"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.settings);
    const check_report* report = report_on(r.settings, "2026-06-01 10:00:00");
    const std::string found = warnings_of(*report, r.code);
    const std::string expected = r.expected;
    if (expected[0] >= '0' && expected[0] <= '9') {
      EXPECT_EQ(found.rfind(expected, 0), 0U) << found;
    } else {
      EXPECT_NE(found.find(expected), std::string::npos) << found;
    }
  }
}

// Which inputs exist is the caller's answer, taken as it is: the report
// reads the keys of the inputs the daemon would look at, and says who
// answered.
TEST(CheckReport, InputPresenceIsTheCallersAnswer) {
  struct row {
    input_presence_answer inputs;
    uint32_t input0_enabled;  // as loaded
    uint32_t input1_enabled;
  };
  const row rows[] = {
      {{presence_source::option, {true, true}}, 1, 1},
      {{presence_source::status_tool, {true, false}}, 1, 0},
      {{presence_source::status_tool, {false, true}}, 0, 0},
      {{presence_source::status_missing, {false, false}}, 0, 0},
  };
  std::string text = "MOD_DORMIX_SLEEP_BIN0_ENABLED=1\nMOD_DORMIX_SLEEP_BIN1_ENABLED=1\n";
  for (const row& r : rows) {
    SCOPED_TRACE(static_cast<int>(&r - rows));
    static check_report report;
    FILE* file = fmemopen(text.data(), text.size(), "r");
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(build_report(file, check_request{"settings", 0, r.inputs, {}, nullptr}, &report));
    fclose(file);
    EXPECT_EQ(report.presence, r.inputs.source);
    EXPECT_EQ(report.present[1], r.inputs.present[1]);
    EXPECT_EQ(report.config.sleep_bin_enabled[0], r.input0_enabled);
    EXPECT_EQ(report.config.sleep_bin_enabled[1], r.input1_enabled);
    EXPECT_EQ(report.inputs_read[1], r.input1_enabled != 0);
  }
}

// After a method that returns, the delay rule fires again at once: warned
// about with the board side's methods that return, on the rule's line.
TEST(CheckReport, DelayRuleWithALowPowerMethodThatReturns) {
  time_zone utc("UTC");
  const char* const delay_on =
      "MOD_DORMIX_WAKEUP_DELAY0_ENABLED=1\nMOD_DORMIX_WAKEUP_DELAY0_SECOND=600\n"
      "MOD_DORMIX_SLEEP_DELAY0_ENABLED=1\n";
  struct row {
    const char* settings;
    const char* lpm_config;  // null: no board-side configuration
    const char* expected;    // "" for no warning
  };
  const row rows[] = {
      {delay_on, "method=suspend\n",
       "3: the delay rule is on and /opt/dormix/etc/lpm is set to "
       "\"method=suspend\""},
      {delay_on, "method=soft\nhook=/x\n",
       "3: the delay rule is on and /opt/dormix/etc/lpm is "
       "set to \"method=soft\""},
      {delay_on, "# defaults\n",
       "3: the delay rule is on and /opt/dormix/etc/lpm is set to "
       "\"method=suspend\""},
      {delay_on, "method=poweroff\n", ""},
      {delay_on, nullptr, ""},
      {delay_on, "method=unknown\n", ""},
      {"MOD_DORMIX_SLEEP_DELAY0_ENABLED=0\nMOD_DORMIX_WAKEUP_BIN_ENABLED=1\n", "method=soft\n", ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.settings);
    check_report* report = report_on(r.settings, "2026-06-01 10:00:00");
    report->findings.warning_count = 0;
    lpm_method_answer lpm{false, nullptr, LPM_CONFIG_PATH};
    const bool read = lpm_config_method(r.lpm_config, &lpm.returns, &lpm.name);
    check_lpm_method(report, read ? &lpm : nullptr);
    const std::string found = warnings_of(*report, WARN_DELAY_RETURNS);
    EXPECT_EQ(found.rfind(r.expected, 0), 0U) << found;
    EXPECT_EQ(found.empty(), r.expected[0] == '\0') << found;
  }
}

TEST(CheckReport, NoWakeRuleIsQuietWithAWakeUpRuleOrNoSleepRule) {
  time_zone utc("UTC");
  const char* quiet[] = {
      "MOD_DORMIX_SLEEP_DELAY0_ENABLED=0\n",
      "MOD_DORMIX_SLEEP_DELAY0_ENABLED=1\nMOD_DORMIX_SLEEP_DELAY0_SECOND=60\n"
      "MOD_DORMIX_WAKEUP_BIN_ENABLED=1\n",
      "MOD_DORMIX_SLEEP_DELAY0_ENABLED=1\nMOD_DORMIX_SLEEP_DELAY0_SECOND=60\n"
      "MOD_DORMIX_WAKEUP_TIME0_ENABLED=1\n",
  };
  for (const char* settings : quiet) {
    SCOPED_TRACE(settings);
    EXPECT_EQ(warnings_of(*report_on(settings, "2026-06-01 10:00:00"), WARN_NO_WAKE), "");
  }
}

// A missing or failing GPIO driver reads as level 0: one warning, however
// many enabled inputs sleep at that level, on the line that sets it.
TEST(CheckReport, ALevelZeroRuleIsTheLevelOfAMissingDriver) {
  time_zone utc("UTC");
  struct row {
    const char* settings;
    const char* expected;  // every level-zero warning, "line: start of message"
  };
  const row rows[] = {
      {"MOD_DORMIX_SLEEP_BIN0_ENABLED=1\nMOD_DORMIX_SLEEP_BIN0_STATE=0\n",
       "2: input 0 puts the router to sleep at level 0, but the daemon reads level 0 also when "
       "/dev/gpio is missing or a level request fails"},
      {"X=1\nMOD_DORMIX_SLEEP_BIN1_ENABLED=1\n", "2: input 1 puts"},
      {"MOD_DORMIX_SLEEP_BIN1_ENABLED=1\nMOD_DORMIX_SLEEP_BIN0_STATE=0\n"
       "MOD_DORMIX_SLEEP_BIN0_ENABLED=1\n",
       "2: inputs 0 and 1 put"},
      {"MOD_DORMIX_SLEEP_BIN0_ENABLED=1\nMOD_DORMIX_SLEEP_BIN0_STATE=1\n", ""},
      {"MOD_DORMIX_SLEEP_BIN0_ENABLED=0\nMOD_DORMIX_SLEEP_BIN0_STATE=0\n", ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.settings);
    const std::string found =
        warnings_of(*report_on(r.settings, "2026-06-01 10:00:00"), WARN_LEVEL_ZERO);
    if (r.expected[0] == '\0') {
      EXPECT_EQ(found, "");
    } else {
      EXPECT_EQ(found.rfind(r.expected, 0), 0U) << found;
      EXPECT_EQ(found.find('\n'), found.size() - 1) << "more than one warning: " << found;
      EXPECT_NE(found.find("on every cycle once the hold has passed"), std::string::npos);
    }
  }
}

TEST(CheckClock, LocalMomentsAreParsedStrictly) {
  time_zone berlin("Europe/Berlin");
  if (!berlin.available()) GTEST_SKIP() << "tzdata is not installed";
  time_t moment = 0;
  EXPECT_TRUE(parse_local_moment("2026-10-25 02:30:00", &moment));  // repeated: either
  for (const char* refused :
       {"2027-03-28 02:30:00" /* skipped */, "2026-02-30 10:00:00", "2026-06-01 24:00:00",
        "2026-13-01 10:00:00", "2026-06-01 10:60:00", "1969-12-31 23:59:59", "2026-06-01 10:00",
        "2026-06-01 10:00:00x", "2026-6-01 10:00:00", "2026-06-01T10:00:00",
        " 2026-06-01 10:00:00"}) {
    EXPECT_FALSE(parse_local_moment(refused, &moment)) << refused;
  }
  EXPECT_EQ(seconds_of_day_at(local_moment("2026-06-01 10:00:00")), 36000);
}

TEST(CheckClock, FindsTheChangesOfTheLocalOffset) {
  time_zone berlin("Europe/Berlin");
  if (!berlin.available()) GTEST_SKIP() << "tzdata is not installed";
  clock_change changes[4];
  const int count = find_clock_changes(local_moment("2026-01-01 00:00:00"),
                                       local_moment("2027-01-01 00:00:00"), changes, 4);
  ASSERT_EQ(count, 2);
  char when[48];
  format_local_moment(changes[0].at, when);
  EXPECT_STREQ(when, "2026-03-29 03:00:00 CEST");
  EXPECT_EQ(changes[0].offset_after - changes[0].offset_before, 3600);
  format_local_moment(changes[1].at, when);
  EXPECT_STREQ(when, "2026-10-25 02:00:00 CET");
}

// POSIX TZ strings as firmware keeps them in /etc/TZ, and zone files:
// both hemispheres, half- and quarter-hour offsets, a half-hour change,
// changes at local midnight and on the hour before it.
const char* const ZONES[] = {
    "UTC0",
    "CET-1CEST,M3.5.0,M10.5.0/3",
    "EST5EDT,M3.2.0,M11.1.0",
    "AEST-10AEDT,M10.1.0,M4.1.0/3",
    "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0",
    "NZST-12NZDT,M9.5.0,M4.1.0/3",
    "<-02>2<-01>,M3.5.0/-1,M10.5.0/0",
    "CST5CDT,M3.2.0/0,M11.1.0/1",
    "UTC",
    "Europe/Berlin",
    "America/New_York",
    "America/St_Johns",
    "America/Havana",
    "America/Santiago",
    "Australia/Sydney",
    "Australia/Adelaide",
    "Australia/Lord_Howe",
    "Pacific/Chatham",
    "Asia/Kolkata",
    "Asia/Kathmandu",
};

// The daemon's cycle as it runs: the time-of-day rule tested every second,
// with a firing's sleep skipping the seconds it lasts. The replay must give
// the same firings however it gets there.
int replay_every_second(int32_t sleep_tod, time_t from, time_t to, const sleep_config& config,
                        time_t* firings, int max) {
  controller_state state{};
  state.sleep_tod = sleep_tod;
  state.sleep_time_armed = sleep_time_armed_at_start(sleep_tod, seconds_of_day_at(from));
  int count = 0;
  for (time_t t = from; t < to; ++t) {
    const int now_tod = seconds_of_day_at(t);
    if (!time_rule_fires(&state, 1, now_tod)) continue;
    if (count < max) firings[count] = t;
    ++count;
    const int64_t resume = static_cast<int64_t>(t) + lpm_sleep_length(&config, now_tod);
    if (resume >= static_cast<int64_t>(to)) break;
    t = static_cast<time_t>(resume);
  }
  return count;
}

std::string firings_text(const time_t* firings, int total, int max) {
  std::string text = std::to_string(total) + ":";
  for (int i = 0; i < total && i < max; ++i) {
    char when[48];
    format_local_moment(firings[i], when);
    text += std::string(" ") + when;
  }
  return text;
}

// Every change of the local offset, found by probing every hour.
std::string changes_every_hour(time_t from, time_t to) {
  std::string text;
  long before = 0;
  for (time_t t = from; t < to; t += 3600) {
    tm local{};
    localtime_r(&t, &local);
    if (t != from && local.tm_gmtoff != before) {
      time_t first = t - 3600;
      for (;; ++first) {
        tm earlier{};
        localtime_r(&first, &earlier);
        if (earlier.tm_gmtoff != before) break;
      }
      char when[48];
      format_local_moment(first, when);
      text += std::string(when) + "\n";
    }
    before = local.tm_gmtoff;
  }
  return text;
}

TEST(CheckClock, FindsTheSameChangesAsAnHourlyScan) {
  for (const char* zone_name : ZONES) {
    time_zone zone(zone_name);
    if (strchr(zone_name, '/') != nullptr && !zone.available()) continue;
    SCOPED_TRACE(zone_name);
    const time_t from = local_moment("2026-01-01 00:00:00");
    const time_t to = from + 366 * 86400;
    clock_change changes[8];
    const int count = find_clock_changes(from, to, changes, 8);
    std::string found;
    for (int i = 0; i < count; ++i) {
      char when[48];
      format_local_moment(changes[i].at, when);
      found += std::string(when) + "\n";
    }
    EXPECT_EQ(found, changes_every_hour(from, to));
  }
}

TEST(CheckClock, ReplayJumpsToTheSameFiringsAsTheCycleEverySecond) {
  // Wake-up rules that keep the router asleep for none, a little, about an
  // hour across the change, or more than a day.
  struct wake {
    uint32_t bin;
    uint32_t delay_on;
    uint32_t delay;
    uint32_t time_on;
    uint32_t hour;
    uint32_t minute;
  };
  const wake wakes[] = {
      {1, 0, 0, 0, 0, 0},     {0, 0, 0, 0, 0, 0},    {0, 1, 1, 0, 0, 0},     {1, 1, 600, 0, 0, 0},
      {0, 1, 3600, 0, 0, 0},  {0, 1, 5400, 0, 0, 0}, {0, 1, 90000, 0, 0, 0}, {0, 0, 0, 1, 3, 0},
      {1, 1, 7200, 1, 2, 30}, {0, 0, 0, 1, 0, 0},
  };
  std::mt19937 random(20261025);
  const auto pick = [&random](int count) {
    return std::uniform_int_distribution<int>(0, count - 1)(random);
  };
  int compared = 0;
  for (const char* zone_name : ZONES) {
    time_zone zone(zone_name);
    if (strchr(zone_name, '/') != nullptr && !zone.available()) continue;
    const time_t year_start = local_moment("2026-01-01 00:00:00");
    clock_change changes[4];
    const int change_count = find_clock_changes(year_start, year_start + 366 * 86400, changes, 4);
    // Around each change; in a zone without changes, on a day in June.
    std::vector<time_t> moments;
    for (int c = 0; c < change_count; ++c) moments.push_back(changes[c].at);
    if (moments.empty()) moments.push_back(local_moment("2026-06-10 13:14:15"));
    for (const time_t moment : moments) {
      const time_t day_start = moment - seconds_of_day_at(moment - 1) - 1;
      // The sleep times the change touches (its first second on the old
      // clock, inside the skipped or repeated stretch, its first on the new
      // clock), the day's ends, and times out of range.
      const int before_tod = seconds_of_day_at(moment - 1) + 1;
      const int after_tod = seconds_of_day_at(moment);
      const int inside_tod = (before_tod + after_tod) / 2;
      const auto hour = [](int tod) { return static_cast<uint32_t>(tod / 3600); };
      const auto minute = [](int tod) { return static_cast<uint32_t>(tod / 60 % 60); };
      const uint32_t sleep_times[][2] = {
          {hour(before_tod), minute(before_tod)},
          {hour(inside_tod), minute(inside_tod)},
          {hour(after_tod), minute(after_tod)},
          {0, 0},
          {23, 59},
          {12, 0},
          {25, 0},
          {596524, 0},
          {0, 90},
          {static_cast<uint32_t>(pick(24)), static_cast<uint32_t>(pick(60))},
      };
      // Starts: the last second before the day's midnight, just before the
      // change, and anywhere in the day before it.
      const time_t starts[] = {day_start - 1, moment - 1 - pick(3) * 1800,
                               moment - pick(24 * 3600)};
      for (const time_t from : starts) {
        const uint32_t* sleep = sleep_times[pick(std::size(sleep_times))];
        const wake& w = wakes[pick(std::size(wakes))];
        sleep_config config{};
        config.wakeup_bin_enabled = w.bin;
        config.wakeup_delay_enabled = w.delay_on;
        config.wakeup_delay_second = w.delay;
        config.wakeup_time_enabled = w.time_on;
        config.wakeup_time_hour = w.hour;
        config.wakeup_time_minute = w.minute;
        const int32_t sleep_tod = sleep_time_of_day(sleep[0], sleep[1]);
        const time_t to = from + 2 * 3600 + pick(28) * 3600 + pick(3600);
        constexpr int MAX = 8;
        time_t expected[MAX];
        time_t replayed[MAX];
        const int expected_total = replay_every_second(sleep_tod, from, to, config, expected, MAX);
        const int replayed_total =
            replay_time_rule(sleep_tod, from, to, lpm_sleep_length, &config, replayed, MAX);
        char start[48];
        format_local_moment(from, start);
        SCOPED_TRACE(std::string(zone_name) + ", from " + start + " for " +
                     std::to_string(to - from) + " s, sleep " + std::to_string(sleep[0]) + ":" +
                     std::to_string(sleep[1]) + ", wake " + std::to_string(&w - wakes));
        EXPECT_EQ(firings_text(replayed, replayed_total, MAX),
                  firings_text(expected, expected_total, MAX));
        ++compared;
      }
    }
  }
  EXPECT_GE(compared, 70);
}

}  // namespace
