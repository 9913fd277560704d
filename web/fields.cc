#include "web/fields.h"

#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "web/editor.h"

namespace {

constexpr setting_help HELP[] = {
    {"MOD_DORMIX_ENABLED", "Module switch: the init scripts start the daemon only when it is on.",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_WAKEUP_BIN_ENABLED", "A binary input may wake the router.",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_WAKEUP_DELAY0_ENABLED", "Wake up after a fixed delay.", "switch: 0 off, other on"},
    {"MOD_DORMIX_WAKEUP_DELAY0_SECOND", "That delay; 4294967295 means no timed wake-up.",
     "seconds, 0 to 4294967294"},
    {"MOD_DORMIX_WAKEUP_TIME0_ENABLED",
     "Wake up at a clock time; with the delay on too, whichever comes first wakes the router.",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_WAKEUP_TIME0_HOUR", "Wake-up hour, local time.", "hour, 0 to 23"},
    {"MOD_DORMIX_WAKEUP_TIME0_MINUTE", "Wake-up minute.", "minute, 0 to 59"},
    {"MOD_DORMIX_SLEEP_BIN0_ENABLED", "Binary input 0 puts the router to sleep.",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_SLEEP_BIN0_STATE", "The level of input 0 that puts the router to sleep.",
     "level as the GPIO driver reports it"},
    {"MOD_DORMIX_SLEEP_BIN0_SECOND", "How long input 0's level must hold; 0 counts as 1.",
     "seconds, 0 to 2147483647"},
    {"MOD_DORMIX_SLEEP_BIN1_ENABLED",
     "Binary input 1 puts the router to sleep (read only when both inputs exist).",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_SLEEP_BIN1_STATE", "The level of input 1 that puts the router to sleep.",
     "level as the GPIO driver reports it"},
    {"MOD_DORMIX_SLEEP_BIN1_SECOND", "How long input 1's level must hold; 0 counts as 1.",
     "seconds, 0 to 2147483647"},
    {"MOD_DORMIX_SLEEP_DELAY0_ENABLED",
     "Sleep a fixed delay after the daemon starts, then on every cycle the router is up.",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_SLEEP_DELAY0_SECOND", "That delay.", "seconds, 0 to 2147483647"},
    {"MOD_DORMIX_SLEEP_TIME0_ENABLED", "Sleep at a clock time every day.",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_SLEEP_TIME0_HOUR", "Sleep hour, local time.", "hour, 0 to 23"},
    {"MOD_DORMIX_SLEEP_TIME0_MINUTE", "Sleep minute.", "minute, 0 to 59"},
};

constexpr uint32_t HOLD_MAX = 2147483647;  // larger holds and delays count as negative
constexpr uint32_t WAKE_DELAY_MAX = 4294967295;

constexpr setting_control CONTROLS[] = {
    {"enabled", control_kind::toggle, "MOD_DORMIX_ENABLED", "", 0,
     "Start the daemon (module switch)", ""},
    {"sleep_time_on", control_kind::toggle, "MOD_DORMIX_SLEEP_TIME0_ENABLED", "", 0,
     "Sleep every day", ""},
    {"sleep_time", control_kind::clock_time, "MOD_DORMIX_SLEEP_TIME0_HOUR",
     "MOD_DORMIX_SLEEP_TIME0_MINUTE", 0, "at", "local time"},
    {"sleep_delay_on", control_kind::toggle, "MOD_DORMIX_SLEEP_DELAY0_ENABLED", "", 0,
     "Sleep once the daemon has run", ""},
    {"sleep_delay", control_kind::seconds, "MOD_DORMIX_SLEEP_DELAY0_SECOND", "", HOLD_MAX, "for",
     "s"},
    {"sleep_bin0_on", control_kind::toggle, "MOD_DORMIX_SLEEP_BIN0_ENABLED", "", 0,
     "Sleep when input 0 is held", ""},
    {"sleep_bin0_level", control_kind::level, "MOD_DORMIX_SLEEP_BIN0_STATE", "", 0, "at level", ""},
    {"sleep_bin0_hold", control_kind::seconds, "MOD_DORMIX_SLEEP_BIN0_SECOND", "", HOLD_MAX, "for",
     "s"},
    {"sleep_bin1_on", control_kind::toggle, "MOD_DORMIX_SLEEP_BIN1_ENABLED", "", 0,
     "Sleep when input 1 is held", ""},
    {"sleep_bin1_level", control_kind::level, "MOD_DORMIX_SLEEP_BIN1_STATE", "", 0, "at level", ""},
    {"sleep_bin1_hold", control_kind::seconds, "MOD_DORMIX_SLEEP_BIN1_SECOND", "", HOLD_MAX, "for",
     "s"},
    {"wake_delay_on", control_kind::toggle, "MOD_DORMIX_WAKEUP_DELAY0_ENABLED", "", 0,
     "Wake after a fixed time", ""},
    {"wake_delay", control_kind::seconds, "MOD_DORMIX_WAKEUP_DELAY0_SECOND", "", WAKE_DELAY_MAX,
     "of", "s"},
    {"wake_time_on", control_kind::toggle, "MOD_DORMIX_WAKEUP_TIME0_ENABLED", "", 0,
     "Wake by the clock", ""},
    {"wake_time", control_kind::clock_time, "MOD_DORMIX_WAKEUP_TIME0_HOUR",
     "MOD_DORMIX_WAKEUP_TIME0_MINUTE", 0, "at", "local time"},
    {"wake_bin_on", control_kind::toggle, "MOD_DORMIX_WAKEUP_BIN_ENABLED", "", 0,
     "Wake when an input changes", ""},
};
static_assert(sizeof CONTROLS / sizeof CONTROLS[0] == SETTING_CONTROL_COUNT);

constexpr setting_rule RULES[] = {
    {"The module", setting_group::general, 0, 1, -1},
    {"At a clock time", setting_group::sleep, 1, 2, -1},
    {"After a delay", setting_group::sleep, 3, 2, -1},
    {"Input 0", setting_group::sleep, 5, 3, 0},
    {"Input 1", setting_group::sleep, 8, 3, 1},
    {"After a delay", setting_group::wake, 11, 2, -1},
    {"At a clock time", setting_group::wake, 13, 2, -1},
    {"By an input", setting_group::wake, 15, 1, -1},
};
static_assert(sizeof RULES / sizeof RULES[0] == SETTING_RULE_COUNT);
static_assert(SETTINGS_FORM_HASH == FIELD_HASH && SETTINGS_FORM_TOKEN == FIELD_TOKEN,
              "the editor finds the hash and the token where this form puts them");
static_assert(SETTINGS_FORM_FIELDS <= FORM_MAX_FIELDS);

uint32_t number_of(const known_key keys[KNOWN_KEY_COUNT], const key_values& values,
                   const char* key) {
  const int index = known_key_index(keys, key);
  return index < 0 ? 0 : settings_parse_uint(values[index]);
}

bool only_digits(const char* text) {
  const size_t length = strlen(text);
  if (length == 0 || length > FORM_NUMBER_DIGITS) return false;
  return strspn(text, "0123456789") == length;
}

// "HH:MM" as a time input sends it, hours 00 to 23 and minutes 00 to 59.
bool parse_clock(const char* text, uint32_t* hour, uint32_t* minute) {
  if (strlen(text) != 5 || text[2] != ':') return false;
  const int digit_places[] = {0, 1, 3, 4};
  for (const int at : digit_places) {
    if (text[at] < '0' || text[at] > '9') return false;
  }
  *hour = static_cast<uint32_t>((text[0] - '0') * 10 + text[1] - '0');
  *minute = static_cast<uint32_t>((text[3] - '0') * 10 + text[4] - '0');
  return *hour <= 23 && *minute <= 59;
}

// A key that already reads as the value keeps its text, so that a time
// changed to 00:10 leaves an hour the file does not set (read as 0) unset.
void set_key(const known_key keys[KNOWN_KEY_COUNT], const char* key, uint32_t value,
             parsed_form* form) {
  const int index = known_key_index(keys, key);
  if (index < 0 || settings_parse_uint(form->values[index]) == value) return;
  snprintf(form->values[index], FORM_VALUE_SIZE, "%" PRIu32, value);
}

// The keys a changed control writes; not_a_number for a value it cannot take.
form_error apply_control(const setting_control& control, const known_key keys[KNOWN_KEY_COUNT],
                         const char* shown, const char* posted, bool sent, parsed_form* form) {
  if (control.kind == control_kind::toggle) {
    if (sent && strcmp(posted, "1") != 0) return form_error::not_a_number;
    if (sent == (shown[0] != '\0')) return form_error::none;
    set_key(keys, control.key, sent ? 1 : 0, form);
    return form_error::none;
  }
  // An empty field keeps what the file holds, most often a value the
  // control could not show.
  if (!sent || posted[0] == '\0') return form_error::none;
  if (control.kind == control_kind::clock_time) {
    uint32_t hour = 0;
    uint32_t minute = 0;
    if (!parse_clock(posted, &hour, &minute)) return form_error::not_a_number;
    if (strcmp(posted, shown) == 0) return form_error::none;
    set_key(keys, control.key, hour, form);
    set_key(keys, control.minute_key, minute, form);
    return form_error::none;
  }
  if (!only_digits(posted)) return form_error::not_a_number;
  const char* digits = posted + strspn(posted, "0");
  if (digits[0] == '\0') --digits;  // all zeros: keep one
  if (strcmp(digits, shown) == 0) return form_error::none;
  const int index = known_key_index(keys, control.key);
  if (index >= 0) snprintf(form->values[index], FORM_VALUE_SIZE, "%s", digits);
  return form_error::none;
}

}  // namespace

const setting_help* help_for_key(const char* key) {
  for (const setting_help& help : HELP) {
    if (strcasecmp(help.key, key) == 0) return &help;
  }
  return nullptr;
}

int help_count() { return static_cast<int>(sizeof HELP / sizeof HELP[0]); }

const setting_help& help_at(int index) { return HELP[index]; }

const setting_control& control_at(int index) { return CONTROLS[index]; }

const setting_rule& rule_at(int index) { return RULES[index]; }

const char* group_heading(setting_group group) {
  switch (group) {
    case setting_group::general:
      return "General";
    case setting_group::wake:
      return "Wake-up rules";
    case setting_group::sleep:
      return "Sleep rules";
  }
  return "";
}

void control_value(const setting_control& control, const known_key keys[KNOWN_KEY_COUNT],
                   const key_values& values, char out[FORM_VALUE_SIZE]) {
  out[0] = '\0';
  const uint32_t value = number_of(keys, values, control.key);
  switch (control.kind) {
    case control_kind::toggle:
      if (value != 0) snprintf(out, FORM_VALUE_SIZE, "1");
      return;
    case control_kind::clock_time: {
      const uint32_t minute = number_of(keys, values, control.minute_key);
      if (value <= 23 && minute <= 59) {
        snprintf(out, FORM_VALUE_SIZE, "%02" PRIu32 ":%02" PRIu32, value, minute);
      }
      return;
    }
    case control_kind::seconds:
      if (value <= control.max) snprintf(out, FORM_VALUE_SIZE, "%" PRIu32, value);
      return;
    case control_kind::level:
      snprintf(out, FORM_VALUE_SIZE, "%" PRIu32, value);
      return;
  }
}

form_error parse_settings_form(const char* body, size_t size, const known_key keys[KNOWN_KEY_COUNT],
                               parsed_form* form) {
  const char* names[SETTINGS_FORM_FIELDS];
  bool numeric[SETTINGS_FORM_FIELDS] = {};
  bool optional[SETTINGS_FORM_FIELDS] = {};
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    names[i] = keys[i].name;
    numeric[i] = true;
  }
  names[SETTINGS_FORM_HASH] = "hash";
  names[SETTINGS_FORM_TOKEN] = "token";
  const int first_control = SETTINGS_FORM_TOKEN + 1;
  for (int c = 0; c < SETTING_CONTROL_COUNT; ++c) {
    names[first_control + c] = CONTROLS[c].name;
    optional[first_control + c] = true;
  }
  const form_error error =
      parse_form(body, size, form_layout{names, numeric, SETTINGS_FORM_FIELDS, optional}, form);
  if (error != form_error::none) return error;
  // What each control showed comes from the values the form was made with,
  // not from those the controls before it have already changed.
  key_values made_with;
  memcpy(made_with, form->values, sizeof made_with);
  for (int c = 0; c < SETTING_CONTROL_COUNT; ++c) {
    char shown[FORM_VALUE_SIZE];
    control_value(CONTROLS[c], keys, made_with, shown);
    const int field = first_control + c;
    const form_error wrong =
        apply_control(CONTROLS[c], keys, shown, form->values[field], form->seen[field], form);
    if (wrong != form_error::none) {
      snprintf(form->culprit, sizeof form->culprit, "%s", CONTROLS[c].name);
      return wrong;
    }
  }
  return form_error::none;
}
