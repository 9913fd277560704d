#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "settings/settings.h"

namespace {

struct memory_file {
  explicit memory_file(const std::string& text) : buffer(text) {
    file = fmemopen(buffer.data(), buffer.size(), "r");
  }
  ~memory_file() {
    if (file != nullptr) fclose(file);
  }
  memory_file(const memory_file&) = delete;
  memory_file& operator=(const memory_file&) = delete;
  std::string buffer;
  FILE* file;
};

uint32_t read_key(const std::string& text, const char* key) {
  memory_file settings(text);
  return settings_get_uint(settings.file, key);
}

}  // namespace

TEST(SettingsFormat, ValuesAsTheDaemonReadsThem) {
  struct row {
    const char* what;
    std::string text;
    uint32_t expected;
  };
  const char* key = "MOD_DORMIX_SLEEP_TIME0_HOUR";
  const row rows[] = {
      {"plain", "MOD_DORMIX_SLEEP_TIME0_HOUR=7\n", 7},
      {"key case is ignored", "mod_dormix_sleep_time0_hour=7\n", 7},
      {"quoted value", "MOD_DORMIX_SLEEP_TIME0_HOUR=\"30\"\n", 30},
      {"two quotes are an empty value", "MOD_DORMIX_SLEEP_TIME0_HOUR=\"\"\n", 0},
      {"windows line ends", "A=1\r\nMOD_DORMIX_SLEEP_TIME0_HOUR=8\r\n", 8},
      {"no final line feed", "MOD_DORMIX_SLEEP_TIME0_HOUR=9", 9},
      {"first line wins", "MOD_DORMIX_SLEEP_TIME0_HOUR=1\nMOD_DORMIX_SLEEP_TIME0_HOUR=2\n", 1},
      {"blank before = is part of the key", "MOD_DORMIX_SLEEP_TIME0_HOUR =5\n", 0},
      {"blanks around = never match", "MOD_DORMIX_SLEEP_TIME0_HOUR = 5\n", 0},
      {"blank after = is skipped by the conversion", "MOD_DORMIX_SLEEP_TIME0_HOUR= 5\n", 5},
      {"no comment syntax", "#MOD_DORMIX_SLEEP_TIME0_HOUR=5\n", 0},
      {"a #line does not hide the next",
       "#MOD_DORMIX_SLEEP_TIME0_HOUR=5\nMOD_DORMIX_SLEEP_TIME0_HOUR=6\n", 6},
      {"trailing text is ignored", "MOD_DORMIX_SLEEP_TIME0_HOUR=12abc\n", 12},
      {"minus wraps", "MOD_DORMIX_SLEEP_TIME0_HOUR=-1\n", 4294967295U},
      {"not a number", "MOD_DORMIX_SLEEP_TIME0_HOUR=abc\n", 0},
      {"open quote swallows the value", "MOD_DORMIX_SLEEP_TIME0_HOUR=\"30\n", 0},
      {"text after the last quote is dropped", "MOD_DORMIX_SLEEP_TIME0_HOUR=4\"5\n", 4},
      {"a quote in the key side cuts the line", "MOD_DORMIX_SLEEP_TIME0_HOUR\"=4\n", 0},
      {"longer key does not match", "MOD_DORMIX_SLEEP_TIME0_HOURS=4\n", 0},
      {"line without =", "MOD_DORMIX_SLEEP_TIME0_HOUR\n", 0},
      {"empty file", "", 0},
  };
  for (const row& r : rows) EXPECT_EQ(read_key(r.text, key), r.expected) << r.what;
}

// One result on every CPU: "%u" leaves numbers beyond 32 bits undefined, and
// a 64-bit long read "4294967297" as 1 where 32-bit routers read the top.
TEST(SettingsNumber, SameValueOnEveryCpu) {
  struct row {
    const char* text;
    uint32_t expected;
    int digits_end;  // -1: no number
  };
  const row rows[] = {
      {"0", 0, 1},
      {"7", 7, 1},
      {"4294967295", 4294967295U, 10},
      {"4294967296", 4294967295U, 10},
      {"4294967297", 4294967295U, 10},
      {"42949672950", 4294967295U, 11},
      {"18446744073709551617", 4294967295U, 20},
      {"99999999999999999999999999", 4294967295U, 26},
      {"-1", 4294967295U, 2},
      {"-0", 0, 2},
      {"-4294967295", 1, 11},
      {"-4294967296", 4294967295U, 11},
      {"-4294967297", 4294967295U, 11},
      {"-18446744073709551617", 4294967295U, 21},
      {"+5", 5, 2},
      {"+4294967296", 4294967295U, 11},
      {"000000000000000000042", 42, 21},
      {" \t\v\f\r\n12", 12, 8},
      {"12abc", 12, 2},
      {"12 34", 12, 2},
      {"4294967296abc", 4294967295U, 10},
      {"", 0, -1},
      {"abc", 0, -1},
      {"-", 0, -1},
      {"+", 0, -1},
      {"--1", 0, -1},
      {"+-1", 0, -1},
      {"- 1", 0, -1},
      {"0x10", 0, 1},
  };
  for (const row& r : rows) {
    EXPECT_EQ(settings_parse_uint(r.text), r.expected) << '"' << r.text << '"';
    uint32_t number = 12345;
    const char* end = settings_scan_uint(r.text, &number);
    if (r.digits_end < 0) {
      EXPECT_EQ(end, nullptr) << '"' << r.text << '"';
      EXPECT_EQ(number, 12345U) << '"' << r.text << '"';
    } else {
      EXPECT_EQ(end, r.text + r.digits_end) << '"' << r.text << '"';
      EXPECT_EQ(number, r.expected) << '"' << r.text << '"';
    }
  }
}

TEST(SettingsNumber, SettingsFileGivesTheSameValue) {
  EXPECT_EQ(
      read_key("MOD_DORMIX_SLEEP_DELAY0_SECOND=4294967297\n", "MOD_DORMIX_SLEEP_DELAY0_SECOND"),
      4294967295U);
  EXPECT_EQ(read_key("MOD_DORMIX_SLEEP_DELAY0_SECOND=\"-2\"\n", "MOD_DORMIX_SLEEP_DELAY0_SECOND"),
            4294967294U);
}

TEST(SettingsFormat, OverlongLineIsSeveralLines) {
  // The tail beyond the buffer is read as a line of its own.
  std::string text(SETTINGS_LINE_SIZE - 1, 'x');
  text += "MOD_DORMIX_SLEEP_DELAY0_SECOND=42\n";
  EXPECT_EQ(read_key(text, "MOD_DORMIX_SLEEP_DELAY0_SECOND"), 42U);
}

TEST(SettingsFormat, FindReadsOnFromThePosition) {
  memory_file settings("A=1\nB=2\nA=3\n");
  ASSERT_NE(settings_find(settings.file, "A"), nullptr);
  ASSERT_NE(settings_find(settings.file, "B"), nullptr);
  const char* again = settings_find(settings.file, "A");
  ASSERT_NE(again, nullptr);
  EXPECT_STREQ(again, "3");
  EXPECT_EQ(settings_find(settings.file, "A"), nullptr);
}

namespace {

int present_none(int) { return 0; }
int present_both(int) { return 1; }
int present_input1_only(int n) { return n == 1 ? 1 : 0; }

const char* const FULL_SETTINGS =
    "MOD_DORMIX_ENABLED=1\n"
    "MOD_DORMIX_WAKEUP_BIN_ENABLED=1\n"
    "MOD_DORMIX_WAKEUP_DELAY0_ENABLED=1\n"
    "MOD_DORMIX_WAKEUP_DELAY0_SECOND=3600\n"
    "MOD_DORMIX_WAKEUP_TIME0_ENABLED=1\n"
    "MOD_DORMIX_WAKEUP_TIME0_HOUR=6\n"
    "MOD_DORMIX_WAKEUP_TIME0_MINUTE=30\n"
    "MOD_DORMIX_SLEEP_BIN0_ENABLED=1\n"
    "MOD_DORMIX_SLEEP_BIN0_STATE=1\n"
    "MOD_DORMIX_SLEEP_BIN0_SECOND=10\n"
    "MOD_DORMIX_SLEEP_BIN1_ENABLED=1\n"
    "MOD_DORMIX_SLEEP_BIN1_STATE=0\n"
    "MOD_DORMIX_SLEEP_BIN1_SECOND=20\n"
    "MOD_DORMIX_SLEEP_DELAY0_ENABLED=1\n"
    "MOD_DORMIX_SLEEP_DELAY0_SECOND=600\n"
    "MOD_DORMIX_SLEEP_TIME0_ENABLED=1\n"
    "MOD_DORMIX_SLEEP_TIME0_HOUR=22\n"
    "MOD_DORMIX_SLEEP_TIME0_MINUTE=15\n";

}  // namespace

TEST(SleepConfigLoading, EveryKeyLandsInItsField) {
  memory_file settings(FULL_SETTINGS);
  sleep_config config{};
  load_sleep_config_from(settings.file, &config, present_both);
  const uint32_t expected[] = {1, 1, 1, 3600, 1, 6, 30, 1, 1, 1, 0, 10, 20, 1, 600, 1, 22, 15};
  static_assert(sizeof expected == sizeof(sleep_config));
  EXPECT_EQ(memcmp(&config, expected, sizeof expected), 0);
}

TEST(SleepConfigLoading, InputKeysOnlyForPresentInputs) {
  struct row {
    const char* what;
    input_presence present;
    uint32_t input0_second;
    uint32_t input1_second;
  };
  const row rows[] = {
      {"no inputs", present_none, 0, 0},
      {"both inputs", present_both, 10, 20},
      {"input 1 alone is not read", present_input1_only, 0, 0},
  };
  for (const row& r : rows) {
    memory_file settings(FULL_SETTINGS);
    sleep_config config{};
    config.sleep_bin_second[1] = 99;  // must survive when input 1 is not read
    load_sleep_config_from(settings.file, &config, r.present);
    EXPECT_EQ(config.sleep_bin_second[0], r.input0_second) << r.what;
    EXPECT_EQ(config.sleep_bin_second[1], r.input1_second == 0 ? 99U : r.input1_second) << r.what;
    EXPECT_EQ(config.sleep_time_minute, 15U) << r.what;
  }
}

TEST(SleepConfigLoading, NoFileReadsEveryKeyAsZero) {
  sleep_config config;
  memset(&config, 0xAB, sizeof config);
  load_sleep_config_from(nullptr, &config, present_both);
  sleep_config zero{};
  EXPECT_EQ(memcmp(&config, &zero, sizeof config), 0);
}

TEST(SleepConfigLoading, InputKeyNames) {
  char key[64];
  settings_input_key(key, sizeof key, 1, "SECOND");
  EXPECT_STREQ(key, "MOD_DORMIX_SLEEP_BIN1_SECOND");
}
