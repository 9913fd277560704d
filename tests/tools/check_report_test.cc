// What the checker works out with the daemon's own code: firings, the
// low-power command line, and the warnings that need the whole file.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "daemon/time_of_day.h"
#include "datetime/date_time.h"
#include "tools/check/clock_rule.h"
#include "tools/check/lpm_method_check.h"
#include "tools/check/report.h"
#include "tools/check/time_rule_firings.h"
#include "tools/check/value_checks.h"

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
  check_request request{"settings", local_moment(at), true, {true, true}, {}};
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
    check_lpm_method(report, r.lpm_config);
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

}  // namespace
