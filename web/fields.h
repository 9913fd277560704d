// The page's settings as a person thinks of them: one group per rule, with
// a control for each thing the rule takes (a switch, a clock time, seconds,
// an input level), and what each key of the file means.
//
// The form carries the values it was made with, one hidden field per key,
// and the controls on top. A control whose posted value is what it showed
// for those values changes nothing, so a save writes only what the person
// changed, and keeps values that no control can show (a switch of 7, an
// hour of 25).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "analysis/known_keys.h"
#include "web/form.h"

enum class setting_group { general, wake, sleep };

struct setting_help {
  const char* key;
  const char* meaning;
  const char* unit;
};

/// The help for a known key, or null.
const setting_help* help_for_key(const char* key);

/// Every help entry, for the tests that hold them against the known keys.
int help_count();
const setting_help& help_at(int index);

enum class control_kind {
  toggle,      // a checkbox: a switch, off at 0 and on at any other number
  clock_time,  // <input type=time>: an hour key and a minute key
  seconds,     // a number of seconds up to max, the largest the daemon takes as meant
  level        // an input level: 0, 1, or another number the file holds
};

// Texts held in the records rather than pointed to: a static program
// relocates every pointer at start, and carries a relocation for each.
struct setting_control {
  char name[20];  // the form field
  control_kind kind;
  char key[36];         // the key it sets (a clock time's hour)
  char minute_key[32];  // a clock time's minute; else empty
  uint32_t max;         // seconds: above it, the daemon reads another meaning
  char label[34];       // the words before the control
  char unit[12];        // the words after it; may be empty
};

struct setting_rule {
  char title[16];
  setting_group group;
  int first_control;
  int control_count;
  int input;  // the binary input whose keys the rule holds, or -1
};

inline constexpr int SETTING_CONTROL_COUNT = 16;
inline constexpr int SETTING_RULE_COUNT = 8;
inline constexpr int SETTINGS_FORM_FIELDS = KNOWN_KEY_COUNT + 2 + SETTING_CONTROL_COUNT;
/// Where the form's hash and token land in a parsed settings form.
inline constexpr int SETTINGS_FORM_HASH = KNOWN_KEY_COUNT;
inline constexpr int SETTINGS_FORM_TOKEN = KNOWN_KEY_COUNT + 1;

const setting_control& control_at(int index);
const setting_rule& rule_at(int index);

/// The group's heading.
const char* group_heading(setting_group group);

/// The form's key values, one per known key in the known keys' order:
/// decimal digits, or empty for a key the file does not set.
using key_values = char[KNOWN_KEY_COUNT][FORM_VALUE_SIZE];

/// What the control shows for the values: "1" or "" for a toggle, "HH:MM",
/// the seconds or the level in digits. Empty when the control cannot show
/// them (an hour of 25, seconds above max).
void control_value(const setting_control& control, const known_key keys[KNOWN_KEY_COUNT],
                   const key_values& values, char out[FORM_VALUE_SIZE]);

/// Parses the page's posted form: the hidden values of every key, the hash
/// and the token, and the controls. Each control whose posted value differs
/// from what it showed writes its keys into form->values; an empty time or
/// number keeps them. The hash and token land at SETTINGS_FORM_HASH and
/// SETTINGS_FORM_TOKEN. A value a control cannot take is not_a_number.
form_error parse_settings_form(const char* body, size_t size, const known_key keys[KNOWN_KEY_COUNT],
                               parsed_form* form);
