// The settings keys the daemon reads, in its reading order.
#pragma once

#include <stdint.h>

#include "settings/settings.h"

inline constexpr int KNOWN_KEY_COUNT = 18;
inline constexpr int KNOWN_KEY_SIZE = 64;

// Indices rather than pointers to members: a null pointer to a member is not
// all zero bits, so a record holding one could not be zero-initialised, and
// every static report would be an initialised copy in the program file.
struct known_key {
  char name[KNOWN_KEY_SIZE];
  int input;  // the binary input whose keys these are, or -1 for a general key
  int field;  // general keys: index in SETTINGS_LEADING_FIELDS, then on in
              // SETTINGS_TRAILING_FIELDS; per-input keys: in SETTINGS_INPUT_FIELDS
};

/// Every key, general and per input, in the order the daemon reads them.
void known_keys_fill(known_key keys[KNOWN_KEY_COUNT]);

/// Index of the key that matches name as the daemon compares keys (ignoring
/// case), or -1.
int known_key_index(const known_key keys[KNOWN_KEY_COUNT], const char* name);

/// Index of the key closest to name by edit distance, ignoring case; the
/// distance goes to *distance.
int known_key_nearest(const known_key keys[KNOWN_KEY_COUNT], const char* name, int* distance);

/// Edit distance between two texts, ignoring case; texts longer than
/// KNOWN_KEY_SIZE count as far from everything.
int key_distance(const char* a, const char* b);

/// The value the key's field holds in config.
uint32_t known_key_value(const known_key& key, const sleep_config& config);
