#include "analysis/known_keys.h"

#include <ctype.h>
#include <string.h>
#include <strings.h>

namespace {

constexpr int LEADING_FIELD_COUNT =
    static_cast<int>(sizeof SETTINGS_LEADING_FIELDS / sizeof SETTINGS_LEADING_FIELDS[0]);

// The per-input fields, in the order of SETTINGS_INPUT_FIELDS.
constexpr uint32_t (sleep_config::*INPUT_FIELDS[3])[BINARY_INPUT_COUNT] = {
    &sleep_config::sleep_bin_enabled, &sleep_config::sleep_bin_state,
    &sleep_config::sleep_bin_second};

}  // namespace

void known_keys_fill(known_key keys[KNOWN_KEY_COUNT]) {
  int count = 0;
  int general = 0;
  for (const settings_field& field : SETTINGS_LEADING_FIELDS) {
    keys[count] = known_key{{}, -1, general++};
    snprintf(keys[count++].name, KNOWN_KEY_SIZE, "%s", field.key);
  }
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    for (int f = 0; f < 3; ++f) {
      keys[count] = known_key{{}, n, f};
      settings_input_key(keys[count++].name, KNOWN_KEY_SIZE, n, SETTINGS_INPUT_FIELDS[f]);
    }
  }
  for (const settings_field& field : SETTINGS_TRAILING_FIELDS) {
    keys[count] = known_key{{}, -1, general++};
    snprintf(keys[count++].name, KNOWN_KEY_SIZE, "%s", field.key);
  }
}

int known_key_index(const known_key keys[KNOWN_KEY_COUNT], const char* name) {
  // Lengths first: most keys differ in length, which is cheaper to see than
  // a case-blind walk over the "MOD_DORMIX_" they all start with, and the
  // page looks keys up some two thousand times a load.
  const size_t length = strlen(name);
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    if (strlen(keys[i].name) == length && strcasecmp(keys[i].name, name) == 0) return i;
  }
  return -1;
}

int key_distance(const char* a, const char* b) {
  const size_t a_length = strlen(a);
  const size_t b_length = strlen(b);
  if (a_length >= KNOWN_KEY_SIZE || b_length >= KNOWN_KEY_SIZE) return KNOWN_KEY_SIZE * 2;
  int row[KNOWN_KEY_SIZE + 1];
  for (size_t j = 0; j <= b_length; ++j) row[j] = static_cast<int>(j);
  for (size_t i = 1; i <= a_length; ++i) {
    int diagonal = row[0];
    row[0] = static_cast<int>(i);
    for (size_t j = 1; j <= b_length; ++j) {
      const int above = row[j];
      const bool same = toupper(static_cast<unsigned char>(a[i - 1])) ==
                        toupper(static_cast<unsigned char>(b[j - 1]));
      int best = diagonal + (same ? 0 : 1);
      if (above + 1 < best) best = above + 1;
      if (row[j - 1] + 1 < best) best = row[j - 1] + 1;
      diagonal = above;
      row[j] = best;
    }
  }
  return row[b_length];
}

int known_key_nearest(const known_key keys[KNOWN_KEY_COUNT], const char* name, int* distance) {
  int nearest = 0;
  int best = key_distance(keys[0].name, name);
  for (int i = 1; i < KNOWN_KEY_COUNT; ++i) {
    const int d = key_distance(keys[i].name, name);
    if (d < best) {
      best = d;
      nearest = i;
    }
  }
  *distance = best;
  return nearest;
}

uint32_t known_key_value(const known_key& key, const sleep_config& config) {
  if (key.input >= 0) return (config.*INPUT_FIELDS[key.field])[key.input];
  if (key.field < LEADING_FIELD_COUNT) return config.*SETTINGS_LEADING_FIELDS[key.field].field;
  return config.*SETTINGS_TRAILING_FIELDS[key.field - LEADING_FIELD_COUNT].field;
}
