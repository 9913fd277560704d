// Settings file reader and the sleep configuration record.
#pragma once

#include <stdint.h>
#include <stdio.h>

inline constexpr const char* SETTINGS_PATH = "/opt/dormix/etc/settings";
inline constexpr const char* SETTINGS_KEY_PREFIX = "MOD_DORMIX_";
inline constexpr int SETTINGS_LINE_SIZE = 16384;
inline constexpr int BINARY_INPUT_COUNT = 2;

struct sleep_config {
  uint32_t enabled;
  uint32_t wakeup_bin_enabled;
  uint32_t wakeup_delay_enabled;
  uint32_t wakeup_delay_second;
  uint32_t wakeup_time_enabled;
  uint32_t wakeup_time_hour;
  uint32_t wakeup_time_minute;
  uint32_t sleep_bin_enabled[BINARY_INPUT_COUNT];
  uint32_t sleep_bin_state[BINARY_INPUT_COUNT];
  uint32_t sleep_bin_second[BINARY_INPUT_COUNT];
  uint32_t sleep_delay_enabled;
  uint32_t sleep_delay_second;
  uint32_t sleep_time_enabled;
  uint32_t sleep_time_hour;
  uint32_t sleep_time_minute;
};

/// A general settings key and the field of sleep_config it fills.
struct settings_field {
  const char* key;
  uint32_t sleep_config::*field;
};

/// Read before the per-input keys, in this order.
extern const settings_field SETTINGS_LEADING_FIELDS[7];
/// Read after the per-input keys, in this order.
extern const settings_field SETTINGS_TRAILING_FIELDS[5];
/// The per-input key suffixes, in reading order.
extern const char* const SETTINGS_INPUT_FIELDS[3];

/// Tells whether binary input n exists; decides which per-input keys are read.
using input_presence = int (*)(int n);
/// The same question asked of a context, for callers that script the answers.
using input_presence_in = int (*)(const void* context, int n);

/// Whether the daemon looks at input n, given which of inputs 0..n are
/// present: it takes them in order and stops at the first absent one, so
/// input 1 counts only behind input 0.
inline bool input_in_use(const bool present[BINARY_INPUT_COUNT], int n) {
  for (int earlier = 0; earlier <= n; ++earlier) {
    if (!present[earlier]) return false;
  }
  return true;
}

/// Cuts one raw line (as fgets read it) down to "key=value" in place: at the
/// first CR, the first LF and the last double quote. Returns the value (after
/// "=" and one optional opening quote) and leaves the key NUL-terminated at
/// the start of the line, or returns null when the line has no "=".
char* settings_split_line(char* line);

/// Reads a decimal number the way "%u" does on 32-bit routers: blanks
/// skipped, an optional sign, then digits. A minus negates modulo 2^32; a
/// magnitude above 4294967295 reads as 4294967295, with or without a minus.
/// Returns the end of the digits, or null (number untouched) when there are
/// none.
const char* settings_scan_uint(const char* text, uint32_t* number);

/// settings_scan_uint's value, or 0 when the text holds no number.
uint32_t settings_parse_uint(const char* value);

/// Value text of the first line at or after the file's position whose key
/// matches (case-insensitively), or null. Valid until the next lookup.
char* settings_find(FILE* file, const char* key);

/// Rewinds and looks the key up; 0 for a null file, a missing key or a value
/// that is not a number.
uint32_t settings_get_uint(FILE* file, const char* key);

/// Formats the per-input key "MOD_DORMIX_SLEEP_BIN<n>_<field>" into key[64];
/// field is "ENABLED", "STATE" or "SECOND".
void settings_input_key(char* key, int key_size, int input, const char* field);

/// Fills config from an open settings file (null reads every key as 0), in
/// the daemon's key order. Per-input keys are read only for the inputs in use
/// (input_in_use) as input_present reports them.
void load_sleep_config_from(FILE* file, sleep_config* config, input_presence input_present);
/// load_sleep_config_from with presence answered by input_present(context, n).
void load_sleep_config_in(FILE* file, sleep_config* config, input_presence_in input_present,
                          const void* context);

/// Opens the settings file, fills config and closes the file.
void load_sleep_config(sleep_config* config, input_presence input_present);
