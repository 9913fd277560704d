#include "settings/settings.h"

#include <string.h>
#include <strings.h>

namespace {

char settings_line[SETTINGS_LINE_SIZE];

void truncate_at_first(char* text, char c) {
  char* found = strchr(text, c);
  if (found != nullptr) *found = '\0';
}

// The blanks "%u" skips in the C locale, which the daemon never changes.
bool is_conversion_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_decimal_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

char* settings_split_line(char* line) {
  truncate_at_first(line, '\r');
  truncate_at_first(line, '\n');
  char* last_quote = strrchr(line, '"');
  if (last_quote != nullptr) *last_quote = '\0';
  char* equals = strchr(line, '=');
  if (equals == nullptr) return nullptr;
  *equals = '\0';
  char* value = equals + 1;
  if (*value == '"') ++value;
  return value;
}

const char* settings_scan_uint(const char* text, uint32_t* number) {
  const char* at = text;
  while (is_conversion_blank(*at)) ++at;
  const bool negative = *at == '-';
  if (*at == '-' || *at == '+') ++at;
  if (!is_decimal_digit(*at)) return nullptr;
  // Saturate instead of overflowing: deployed 32-bit routers read any
  // magnitude above the range as its top, with or without a minus.
  uint32_t magnitude = 0;
  bool saturated = false;
  for (; is_decimal_digit(*at); ++at) {
    const auto digit = static_cast<uint32_t>(*at - '0');
    if (magnitude > (UINT32_MAX - digit) / 10) saturated = true;
    if (!saturated) magnitude = magnitude * 10 + digit;
  }
  if (saturated) {
    *number = UINT32_MAX;
  } else {
    // A minus negates modulo 2^32, as "%u" does: -1 is 4294967295.
    *number = negative ? 0U - magnitude : magnitude;
  }
  return at;
}

uint32_t settings_parse_uint(const char* value) {
  uint32_t number = 0;
  return settings_scan_uint(value, &number) == nullptr ? 0 : number;
}

char* settings_find(FILE* file, const char* key) {
  // The split only cuts a line short, so a line's key is a prefix of it:
  // a line that does not start with the key cannot hold it, and most lines
  // (comments, other keys) are passed over without being split.
  const size_t key_length = strlen(key);
  while (fgets(settings_line, sizeof settings_line, file) != nullptr) {
    if (strncasecmp(settings_line, key, key_length) != 0) continue;
    char* value = settings_split_line(settings_line);
    if (value != nullptr && strcasecmp(settings_line, key) == 0) return value;
  }
  return nullptr;
}

uint32_t settings_get_uint(FILE* file, const char* key) {
  if (file == nullptr) return 0;
  rewind(file);
  const char* value = settings_find(file, key);
  return value == nullptr ? 0 : settings_parse_uint(value);
}

void settings_input_key(char* key, int key_size, int input, const char* field) {
  snprintf(key, static_cast<size_t>(key_size), "%sSLEEP_BIN%d_%s", SETTINGS_KEY_PREFIX, input,
           field);
}

const settings_field SETTINGS_LEADING_FIELDS[7] = {
    {"MOD_DORMIX_ENABLED", &sleep_config::enabled},
    {"MOD_DORMIX_WAKEUP_BIN_ENABLED", &sleep_config::wakeup_bin_enabled},
    {"MOD_DORMIX_WAKEUP_DELAY0_ENABLED", &sleep_config::wakeup_delay_enabled},
    {"MOD_DORMIX_WAKEUP_DELAY0_SECOND", &sleep_config::wakeup_delay_second},
    {"MOD_DORMIX_WAKEUP_TIME0_ENABLED", &sleep_config::wakeup_time_enabled},
    {"MOD_DORMIX_WAKEUP_TIME0_HOUR", &sleep_config::wakeup_time_hour},
    {"MOD_DORMIX_WAKEUP_TIME0_MINUTE", &sleep_config::wakeup_time_minute},
};

const settings_field SETTINGS_TRAILING_FIELDS[5] = {
    {"MOD_DORMIX_SLEEP_DELAY0_ENABLED", &sleep_config::sleep_delay_enabled},
    {"MOD_DORMIX_SLEEP_DELAY0_SECOND", &sleep_config::sleep_delay_second},
    {"MOD_DORMIX_SLEEP_TIME0_ENABLED", &sleep_config::sleep_time_enabled},
    {"MOD_DORMIX_SLEEP_TIME0_HOUR", &sleep_config::sleep_time_hour},
    {"MOD_DORMIX_SLEEP_TIME0_MINUTE", &sleep_config::sleep_time_minute},
};

const char* const SETTINGS_INPUT_FIELDS[3] = {"ENABLED", "STATE", "SECOND"};

void load_sleep_config_in(FILE* file, sleep_config* config, input_presence_in input_present,
                          const void* context) {
  for (const settings_field& field : SETTINGS_LEADING_FIELDS) {
    config->*field.field = settings_get_uint(file, field.key);
  }
  bool present[BINARY_INPUT_COUNT] = {};
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    present[n] = input_present != nullptr && input_present(context, n) != 0;
    if (!input_in_use(present, n)) break;
    uint32_t* targets[3] = {&config->sleep_bin_enabled[n], &config->sleep_bin_state[n],
                            &config->sleep_bin_second[n]};
    for (int f = 0; f < 3; ++f) {
      char key[64];
      settings_input_key(key, sizeof key, n, SETTINGS_INPUT_FIELDS[f]);
      *targets[f] = settings_get_uint(file, key);
    }
  }
  for (const settings_field& field : SETTINGS_TRAILING_FIELDS) {
    config->*field.field = settings_get_uint(file, field.key);
  }
}

namespace {

int ask_plain_presence(const void* context, int n) {
  return (*static_cast<const input_presence*>(context))(n);
}

}  // namespace

void load_sleep_config_from(FILE* file, sleep_config* config, input_presence input_present) {
  if (input_present == nullptr) {
    load_sleep_config_in(file, config, nullptr, nullptr);
  } else {
    load_sleep_config_in(file, config, ask_plain_presence, &input_present);
  }
}

void load_sleep_config(sleep_config* config, input_presence input_present) {
  FILE* file = fopen(SETTINGS_PATH, "r");
  load_sleep_config_from(file, config, input_present);
  if (file != nullptr) fclose(file);
}
