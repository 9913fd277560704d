#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "daemon/time_zone.h"
#include "daemon/wakeup.h"

namespace {

constexpr int at(int hour, int minute, int second = 0) {
  return hour * 3600 + minute * 60 + second;
}

std::string command_line(int32_t wake_bin, uint32_t interval) {
  char number[LPM_NUMBER_SIZE];
  const char* arguments[4];
  if (lpm_arguments(wake_bin, interval, number, arguments) == 0) return "(not run)";
  std::string line = LPM_PATH;
  for (const char** argument = arguments; *argument != nullptr; ++argument) {
    line += ' ';
    line += *argument;
  }
  return line;
}

}  // namespace

TEST(WakeInterval, DelayAndWakeTime) {
  struct row {
    const char* what;
    wake_params params;
    int now;
    uint32_t expected;
  };
  const row rows[] = {
      {"nothing configured", {0, 0, 600, 0, 10, 30}, at(10, 0), NO_WAKE_INTERVAL},
      {"delay only", {0, 1, 600, 0, 10, 30}, at(10, 0), 600},
      {"delay of zero", {0, 1, 0, 0, 0, 0}, at(10, 0), 0},
      {"delay of all ones is none", {0, 1, 0xFFFFFFFFU, 0, 0, 0}, at(10, 0), NO_WAKE_INTERVAL},
      {"delay sooner than the wake time", {0, 1, 600, 1, 10, 30}, at(10, 0), 600},
      {"wake time sooner than the delay", {0, 1, 600, 1, 10, 5}, at(10, 0), 300},
      {"wake time counted from the second", {0, 1, 600, 1, 10, 5}, at(10, 0, 20), 280},
      {"equal delay and wake time", {0, 1, 300, 1, 10, 5}, at(10, 0), 300},
      {"wake time now means tomorrow", {0, 0, 0, 1, 10, 0}, at(10, 0), 86400},
      {"wake time passed means tomorrow", {0, 0, 0, 1, 9, 0}, at(10, 0), 23 * 3600},
      {"delay ignored when not enabled", {0, 0, 5, 1, 10, 5}, at(10, 0), 300},
      {"wake time at midnight", {0, 0, 0, 1, 0, 0}, at(23, 59, 59), 1},
      {"hour above 23 lies beyond today", {0, 0, 0, 1, 25, 0}, at(10, 0), at(15, 0)},
      {"negative minute wraps unsigned", {0, 0, 0, 1, 0, -1}, at(0, 0, 30), 0xFFFFFFC4U - 30U},
  };
  for (const row& r : rows) EXPECT_EQ(wake_interval(r.params, r.now), r.expected) << r.what;
}

TEST(WakeInterval, EveryCommandLine) {
  EXPECT_EQ(command_line(0, NO_WAKE_INTERVAL), "(not run)");
  EXPECT_EQ(command_line(1, NO_WAKE_INTERVAL), "/usr/sbin/lpm -b");
  EXPECT_EQ(command_line(0, 3600), "/usr/sbin/lpm -i 3600");
  EXPECT_EQ(command_line(1, 3600), "/usr/sbin/lpm -b -i 3600");
  EXPECT_EQ(command_line(7, 0), "/usr/sbin/lpm -b -i 0");
  EXPECT_EQ(command_line(0, 4294967294U), "/usr/sbin/lpm -i 4294967294");
}

// The zone in which every local time above is read.
TEST(TimeZone, ChoiceAndSource) {
  using zone = time_zone_source;
  const std::string too_long(ETC_TZ_SIZE, 'x');
  struct row {
    const char* what;
    const char* tz_variable;
    const char* etc_tz;  // null: no /etc/TZ
    time_zone_source source;
    const char* etc_tz_line;  // the zone taken from /etc/TZ
  };
  const row rows[] = {
      {"TZ wins", "UTC", "CET-1CEST\n", zone::environment, ""},
      {"empty TZ counts as unset", "", "CET-1CEST\n", zone::etc_tz, "CET-1CEST"},
      {"/etc/TZ without TZ", nullptr, "CET-1CEST,M3.5.0,M10.5.0/3\n", zone::etc_tz,
       "CET-1CEST,M3.5.0,M10.5.0/3"},
      {"CR LF and blanks stripped", nullptr, "EST5EDT \t\r\nx\n", zone::etc_tz, "EST5EDT"},
      {"no line end", nullptr, "JST-9", zone::etc_tz, "JST-9"},
      {"blank /etc/TZ", nullptr, " \r\n", zone::library_default, ""},
      {"empty /etc/TZ", nullptr, "", zone::library_default, ""},
      {"line longer than read", nullptr, too_long.c_str(), zone::library_default, ""},
      {"empty TZ, no /etc/TZ", "", nullptr, zone::library_default, ""},
      {"neither", nullptr, nullptr, zone::library_default, ""},
  };
  for (const row& r : rows) {
    const int length = r.etc_tz == nullptr ? -1 : static_cast<int>(strlen(r.etc_tz));
    const time_zone_choice choice = choose_time_zone(r.tz_variable, r.etc_tz, length);
    EXPECT_EQ(choice.source, r.source) << r.what;
    EXPECT_EQ(std::string(r.etc_tz == nullptr ? "" : r.etc_tz, choice.etc_tz_length), r.etc_tz_line)
        << r.what;
  }
}

// An empty TZ would mean UTC: the rebuilt environment goes without it, and
// keeps every other variable.
TEST(TimeZone, EmptyTzLeavesTheEnvironment) {
  if (access(ETC_TZ_PATH, F_OK) == 0) GTEST_SKIP() << "this machine has " << ETC_TZ_PATH;
  char** const saved = environ;
  setenv("TZ", "", 1);
  setenv("DORMIX_KEPT", "1", 1);
  static char* environment[4096];
  EXPECT_EQ(use_system_time_zone(environment, 2).source, time_zone_source::library_default);
  EXPECT_STREQ(getenv("TZ"), "") << "with no room, nothing changes";
  EXPECT_EQ(use_system_time_zone(environment, 4096).source, time_zone_source::library_default);
  EXPECT_EQ(getenv("TZ"), nullptr);
  EXPECT_STREQ(getenv("DORMIX_KEPT"), "1");
  environ = saved;
  unsetenv("TZ");
  unsetenv("DORMIX_KEPT");
}
