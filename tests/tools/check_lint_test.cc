// The checker's line warnings: each kind of mistake, and lines that must
// pass without one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "analysis/lint.h"

namespace {

struct lint_result {
  check_findings findings{};
  known_key keys[KNOWN_KEY_COUNT]{};
};

void lint_text(const std::string& text, lint_result* result) {
  known_keys_fill(result->keys);
  std::string buffer = text;
  FILE* file = fmemopen(buffer.data(), buffer.size(), "r");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(lint_settings(file, result->keys, &result->findings));
  fclose(file);
}

std::string codes_of(const check_findings& findings) {
  std::string codes;
  for (int i = 0; i < findings.warning_count; ++i) {
    if (!codes.empty()) codes += ' ';
    codes += findings.warnings[i].code;
    codes += '@' + std::to_string(findings.warnings[i].line);
  }
  return codes;
}

TEST(CheckLint, EachMistakeGetsItsWarningOnItsLine) {
  struct row {
    std::string text;
    const char* codes;   // code@line, in order
    const char* phrase;  // must appear in the first message
  };
  const row rows[] = {
      {"MOD_DORMIX_SLEEP_TIME0_HOUR =7\n", "blank-around-equals@1", "matches nothing"},
      {"A=1\nMOD_DORMIX_SLEEP_TIME0_HOUR = 7\n", "blank-around-equals@2", "with its blanks"},
      {" MOD_DORMIX_ENABLED=1\n", "blank-around-equals@1", "sets nothing"},
      {"MOD_DORMIX_ENABLED= 1\n", "blank-around-equals@1", "skips it before a number"},
      {"#MOD_DORMIX_ENABLED=1\n", "comment-line@1", "does not set MOD_DORMIX_ENABLED"},
      {"# sleep at 2=late\n", "comment-line@1", "matches nothing"},
      {"MOD_DORMIX_SLEEP_TIME_HOUR=3\n", "unknown-key@1", "MOD_DORMIX_SLEEP_TIME0_HOUR"},
      {"MOD_DORMIX_SLEEP_BIN2_ENABLED=1\n", "unknown-key@1", "nearest known key"},
      {"MOD_DORMX_ENABLED=1\n", "unknown-key@1", "close to MOD_DORMIX_ENABLED"},
      {"MOD_DORMIX_ENABLED=1\nmod_dormix_enabled=0\n", "duplicate-key@2", "on line 1, wins"},
      {"MOD_DORMIX_SLEEP_DELAY0_SECOND=10s\n", "trailing-text@1", "reads"},
      {"MOD_DORMIX_SLEEP_TIME0_MINUTE=30 # half past\n", "trailing-text@1", "as 30"},
      {"MOD_DORMIX_ENABLED=yes\n", "not-a-number@1", "reads 0"},
      {"MOD_DORMIX_ENABLED=\n", "not-a-number@1", "empty value"},
      {"MOD_DORMIX_SLEEP_DELAY0_SECOND=-1\n", "negative-value@1", "4294967295"},
      {"MOD_DORMIX_SLEEP_DELAY0_SECOND=4294967296\n", "too-large@1", "above 4294967295"},
      {"MOD_DORMIX_SLEEP_DELAY0_SECOND=4294967297\n", "too-large@1", "daemon reads 4294967295"},
      {"MOD_DORMIX_SLEEP_DELAY0_SECOND=-4294967297\n", "negative-value@1", "as 4294967295"},
      {"MOD_DORMIX_SLEEP_DELAY0_SECOND=99999999999s\n", "too-large@1 trailing-text@1",
       "daemon reads 4294967295"},
      {"MOD_DORMIX_SLEEP_TIME0_HOUR=\"7\n", "open-quote@1", "drops everything"},
      {"MOD_DORMIX_SLEEP_TIME0_HOUR\"=7\n", "open-quote@1", "skips this line"},
      {"MOD_DORMIX_SLEEP_TIME0_HOUR=\"7\" # seven\n", "text-after-quote@1", "# seven"},
      {"\"MOD_DORMIX_ENABLED\"=1\n", "text-after-quote@1", "=1"},
      {std::string("MOD_DORMIX_ENABLED=1\0junk\n", 26), "nul-byte@1", "NUL"},
      {"\xEF\xBB\xBFMOD_DORMIX_ENABLED=1\n", "byte-order-mark@1",
       "does not set MOD_DORMIX_ENABLED"},
      {"\xEF\xBB\xBFWIFI=1\nMOD_DORMIX_ENABLED=1\n", "byte-order-mark@1", "compares bytes"},
      {"MOD_DORMIX_ENABLED=1\rMOD_DORMIX_SLEEP_TIME0_HOUR=7\rMOD_DORMIX_SLEEP_TIME0_MINUTE=5\r",
       "carriage-return@1", "2 \"=\" signs"},
      {"A=1\nMOD_DORMIX_ENABLED=1\r\rMOD_DORMIX_SLEEP_TIME0_HOUR=7\r\n", "carriage-return@2",
       "ignores the rest (\"?MOD_DORMIX_SLEEP_TIME0_HOUR=7\", 1 \"=\" sign)"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.text.c_str());
    lint_result result;
    lint_text(r.text, &result);
    EXPECT_EQ(codes_of(result.findings), r.codes);
    if (result.findings.warning_count > 0) {
      EXPECT_NE(strstr(result.findings.warnings[0].text, r.phrase), nullptr)
          << result.findings.warnings[0].text;
    }
  }
}

TEST(CheckLint, LinesTheDaemonReadsAsTheyLookPassClean) {
  const char* clean[] = {
      "MOD_DORMIX_ENABLED=1\n",
      "mod_dormix_enabled=1\n",                       // keys ignore case
      "MOD_DORMIX_SLEEP_TIME0_HOUR=\"23\"\n",         // quoted value
      "MOD_DORMIX_SLEEP_TIME0_HOUR=7\r\n",            // DOS line end
      "MOD_DORMIX_SLEEP_TIME0_HOUR=7",                // no final line feed
      "# explanations without an equals sign\n",      // skipped by the daemon
      "#\n\n",                                        // empty lines
      "OTHER_MODULE_SETTING=on\nWIFI_SSID=home\n",    // other programs' keys
      "MOD_DORMIX_ENABLED=\"\"\n#MOD_DORMIX note\n",  // hash line without "="
      "\xEF\xBB\xBF# a mark before a comment\nMOD_DORMIX_ENABLED=1\n",
      "MOD_DORMIX_ENABLED=1\r",  // a last carriage return alone
  };
  for (const char* text : clean) {
    SCOPED_TRACE(text);
    lint_result result;
    lint_text(text, &result);
    EXPECT_EQ(codes_of(result.findings), "");
  }
}

TEST(CheckLint, RecordsTheLineEachKeyIsReadFrom) {
  lint_result result;
  lint_text(
      "A=1\r\nMOD_DORMIX_SLEEP_TIME0_HOUR=1\nMOD_DORMIX_SLEEP_TIME0_HOUR=2\n"
      "#MOD_DORMIX_ENABLED=1\nmod_dormix_enabled=1\n",
      &result);
  EXPECT_EQ(result.findings.key_line[known_key_index(result.keys, "MOD_DORMIX_SLEEP_TIME0_HOUR")],
            2);
  EXPECT_EQ(result.findings.key_line[known_key_index(result.keys, "MOD_DORMIX_ENABLED")], 5);
  EXPECT_EQ(
      result.findings.key_line[known_key_index(result.keys, "MOD_DORMIX_SLEEP_DELAY0_SECOND")], 0);
}

TEST(CheckLint, LongLinesAreReadInPiecesButCountAsOneLine) {
  std::string text =
      "MOD_DORMIX_ENABLED=1\n" + std::string(20000, 'x') + "\nMOD_DORMIX_ENABLED=2\n";
  lint_result result;
  lint_text(text, &result);
  EXPECT_EQ(codes_of(result.findings), "long-line@2 duplicate-key@3");
  EXPECT_EQ(result.findings.line_count, 3);
}

// The daemon's fgets takes at most 16383 characters; only what is left of
// a longer line becomes a line of its own.
TEST(CheckLint, OnlyLinesLongerThanTheDaemonsReadFallApart) {
  constexpr size_t capacity = SETTINGS_LINE_SIZE - 1;
  struct row {
    std::string text;
    const char* codes;
  };
  const row rows[] = {
      {std::string(capacity, 'x') + "\nMOD_DORMIX_ENABLED=1\n", ""},
      {std::string(capacity, 'x') + "\r\nMOD_DORMIX_ENABLED=1\r\n", ""},
      {std::string(capacity, 'x'), ""},
      {std::string(capacity - 1, 'x') + "\n", ""},
      {std::string(capacity + 1, 'x') + "\n", "long-line@1"},
      {"A=1\n" + std::string(capacity, 'x') + "MOD_DORMIX_ENABLED=1\n", "long-line@2"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.text.size());
    lint_result result;
    lint_text(r.text, &result);
    EXPECT_EQ(codes_of(result.findings), r.codes);
  }
  // The remainder is a line as the daemon reads it: here it sets a key.
  lint_result result;
  lint_text(std::string(capacity, 'x') + "MOD_DORMIX_ENABLED=1\n", &result);
  EXPECT_EQ(result.findings.key_line[known_key_index(result.keys, "MOD_DORMIX_ENABLED")], 1);
  ASSERT_EQ(result.findings.warning_count, 1);
  EXPECT_NE(strstr(result.findings.warnings[0].text,
                   "from character 16384 on, as the next line "
                   "(\"MOD_DORMIX_ENABLED=1\")"),
            nullptr)
      << result.findings.warnings[0].text;
}

TEST(CheckLint, WarningsBeyondTheCapacityAreCounted) {
  std::string text;
  for (int i = 0; i < CHECK_MAX_WARNINGS + 7; ++i) text += "MOD_DORMIX_NO_SUCH_KEY=1\n";
  lint_result result;
  lint_text(text, &result);
  EXPECT_EQ(result.findings.warning_count, CHECK_MAX_WARNINGS);
  EXPECT_EQ(result.findings.warnings_dropped, 7);
  EXPECT_EQ(warning_total(result.findings), CHECK_MAX_WARNINGS + 7);
}

TEST(CheckKeys, KnowsEveryKeyTheDaemonReadsInItsOrder) {
  known_key keys[KNOWN_KEY_COUNT];
  known_keys_fill(keys);
  EXPECT_STREQ(keys[0].name, "MOD_DORMIX_ENABLED");
  EXPECT_STREQ(keys[7].name, "MOD_DORMIX_SLEEP_BIN0_ENABLED");
  EXPECT_STREQ(keys[12].name, "MOD_DORMIX_SLEEP_BIN1_SECOND");
  EXPECT_EQ(keys[12].input, 1);
  EXPECT_STREQ(keys[17].name, "MOD_DORMIX_SLEEP_TIME0_MINUTE");
  int distance = 0;
  EXPECT_EQ(known_key_nearest(keys, "MOD_DORMIX_WAKEUP_TIME_HOUR", &distance),
            known_key_index(keys, "MOD_DORMIX_WAKEUP_TIME0_HOUR"));
  EXPECT_EQ(distance, 1);
}

TEST(CheckKeys, EachKeyShowsTheFieldTheDaemonFillsFromIt) {
  known_key keys[KNOWN_KEY_COUNT];
  known_keys_fill(keys);
  std::string text;
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    text += std::string(keys[i].name) + "=" + std::to_string(100 + i) + "\n";
  }
  FILE* file = fmemopen(text.data(), text.size(), "r");
  ASSERT_NE(file, nullptr);
  sleep_config config{};
  const bool present[BINARY_INPUT_COUNT] = {true, true};
  load_sleep_config_in(
      file, &config,
      [](const void* context, int n) { return static_cast<const bool*>(context)[n] ? 1 : 0; },
      present);
  fclose(file);
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    EXPECT_EQ(known_key_value(keys[i], config), static_cast<uint32_t>(100 + i)) << keys[i].name;
  }
}

}  // namespace
