// Fuzz target: the settings page's form parser over an arbitrary body, with
// the page's own fields.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analysis/known_keys.h"
#include "web/form.h"

namespace {

void expect(bool holds, const char* what) {
  if (holds) return;
  fprintf(stderr, "web_form_fuzz: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > FORM_MAX_BODY) return 0;
  static known_key keys[KNOWN_KEY_COUNT];
  static const char* names[KNOWN_KEY_COUNT + 2];
  static bool numeric[KNOWN_KEY_COUNT + 2];
  known_keys_fill(keys);
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    names[i] = keys[i].name;
    numeric[i] = true;
  }
  names[KNOWN_KEY_COUNT] = "hash";
  names[KNOWN_KEY_COUNT + 1] = "token";
  static parsed_form form;
  const form_layout layout{names, numeric, KNOWN_KEY_COUNT + 2};
  const form_error error = parse_form(reinterpret_cast<const char*>(data), size, layout, &form);
  if (error != form_error::none) return 0;
  for (int i = 0; i < layout.count; ++i) {
    expect(form.seen[i], "a field accepted without being sent");
    const size_t length = strnlen(form.values[i], FORM_VALUE_SIZE);
    expect(length < FORM_VALUE_SIZE, "a value without its end");
    if (!numeric[i]) continue;
    expect(length <= FORM_NUMBER_DIGITS, "a number longer than allowed");
    for (size_t c = 0; c < length; ++c) {
      expect(form.values[i][c] >= '0' && form.values[i][c] <= '9', "a number with a non-digit");
    }
  }
  return 0;
}
