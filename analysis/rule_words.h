// The rules of a report in words: what each sleep and wake-up rule is set to
// and when it fires. The checker's text report and the settings page both
// print these lines, so that they say the same.
#pragma once

#include "analysis/check_report.h"

inline constexpr int RULE_WORDS_SIZE = 256;
inline constexpr int RULE_WORDS_MAX = 2 + BINARY_INPUT_COUNT + 3;

struct rule_words {
  const char* label;  // "time of day", "delay", "input 0", "binary input", ...
  bool wake;          // a wake-up rule rather than a sleep rule
  bool switched;      // the rule has a switch, shown as on or off
  bool on;
  char detail[RULE_WORDS_SIZE];  // after the switch; may be empty
};

/// The sleep rules, then the wake-up rules, into out; returns their number.
int describe_rules(const check_report& report, rule_words out[RULE_WORDS_MAX]);

/// Whether the module switch is 0 while a sleep rule is on: the daemon does
/// not consult the switch, which people expect it to.
bool module_switch_ignored(const check_report& report);
