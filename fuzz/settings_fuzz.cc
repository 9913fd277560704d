// Fuzz target: the settings reader over an arbitrary settings file.
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/settings.h"

namespace {

constexpr uint32_t UNTOUCHED = 0xdeadbeefU;

int every_input_present(int) { return 1; }
int no_input_present(int) { return 0; }

void expect(bool holds, const char* what) {
  if (holds) return;
  fprintf(stderr, "settings_fuzz: %s\n", what);
  abort();
}

void fill_untouched(sleep_config* config) {
  auto* word = reinterpret_cast<uint32_t*>(config);
  for (size_t k = 0; k < sizeof *config / sizeof *word; ++k) word[k] = UNTOUCHED;
}

// Keys match case-insensitively, so the lower-case key must read the same.
void expect_case_insensitive(FILE* file, const char* key) {
  char lower[64];
  size_t k = 0;
  for (; key[k] != '\0' && k + 1 < sizeof lower; ++k) {
    lower[k] = key[k] >= 'A' && key[k] <= 'Z' ? static_cast<char>(key[k] - 'A' + 'a') : key[k];
  }
  lower[k] = '\0';
  expect(settings_get_uint(file, key) == settings_get_uint(file, lower),
         "a lower-case key reads differently");
}

// The plain reading, every line split and compared: settings_find passes
// over the lines that cannot hold the key, and must find what this finds.
void expect_same_as_splitting_every_line(FILE* file, const char* key) {
  rewind(file);
  const char* found = settings_find(file, key);
  char value[SETTINGS_LINE_SIZE];
  if (found != nullptr) snprintf(value, sizeof value, "%s", found);
  rewind(file);
  static char line[SETTINGS_LINE_SIZE];
  const char* plain = nullptr;
  while (plain == nullptr && fgets(line, sizeof line, file) != nullptr) {
    const char* split = settings_split_line(line);
    if (split != nullptr && strcasecmp(line, key) == 0) plain = split;
  }
  expect((found == nullptr) == (plain == nullptr), "a key found in one reading only");
  expect(found == nullptr || strcmp(value, plain) == 0, "a key read with another value");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // fmemopen refuses an empty buffer; an empty file reads like a missing one.
  FILE* file = size == 0 ? nullptr : fmemopen(const_cast<uint8_t*>(data), size, "r");

  sleep_config all{};
  fill_untouched(&all);
  load_sleep_config_from(file, &all, every_input_present);
  sleep_config none{};
  fill_untouched(&none);
  load_sleep_config_from(file, &none, no_input_present);

  // Every lookup rewinds, so a second load must give the same general
  // values, and absent inputs must leave their fields alone.
  for (const settings_field& field : SETTINGS_LEADING_FIELDS) {
    expect(all.*field.field == none.*field.field, "a general key changed between loads");
  }
  for (const settings_field& field : SETTINGS_TRAILING_FIELDS) {
    expect(all.*field.field == none.*field.field, "a general key changed between loads");
  }
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    expect(none.sleep_bin_enabled[n] == UNTOUCHED && none.sleep_bin_state[n] == UNTOUCHED &&
               none.sleep_bin_second[n] == UNTOUCHED,
           "an absent input's field was written");
  }
  if (file == nullptr) {
    const sleep_config zero{};
    expect(memcmp(&all, &zero, sizeof zero) == 0, "no file must read every key as 0");
  } else {
    expect_case_insensitive(file, SETTINGS_LEADING_FIELDS[0].key);
    expect_case_insensitive(file, SETTINGS_TRAILING_FIELDS[4].key);
    for (const settings_field& field : SETTINGS_LEADING_FIELDS) {
      expect_same_as_splitting_every_line(file, field.key);
    }
    expect_same_as_splitting_every_line(file, "MOD_DORMIX_SLEEP_BIN0_STATE");
    fclose(file);
  }
  return 0;
}
