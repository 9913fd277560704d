// Fuzz target: the settings checker's line checks over an arbitrary file,
// held against the daemon's own reader.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analysis/lint.h"
#include "settings/settings.h"

namespace {

void expect(bool holds, const char* what) {
  if (holds) return;
  fprintf(stderr, "check_lint_fuzz: %s\n", what);
  abort();
}

// Lines as a reader of the file counts them: one per line feed, and one
// more for text after the last.
int lines_in(const uint8_t* data, size_t size) {
  int count = 0;
  for (size_t i = 0; i < size; ++i) count += data[i] == '\n' ? 1 : 0;
  return data[size - 1] == '\n' ? count : count + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // fmemopen refuses an empty buffer.
  if (size == 0) return 0;
  FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
  expect(file != nullptr, "fmemopen failed");
  known_key keys[KNOWN_KEY_COUNT];
  known_keys_fill(keys);
  static check_findings findings;
  findings = check_findings{};
  expect(lint_settings(file, keys, &findings), "a readable file reads as unreadable");

  const int lines = lines_in(data, size);
  expect(findings.line_count == lines, "the line count differs from the file's line feeds");
  // The checker says a key is set exactly when the daemon finds it.
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    rewind(file);
    const bool found = settings_find(file, keys[i].name) != nullptr;
    expect(found == (findings.key_line[i] != 0), "the checker and the daemon disagree on a key");
    expect(findings.key_line[i] >= 0 && findings.key_line[i] <= lines, "a key's line is outside");
  }
  expect(findings.warning_count >= 0 && findings.warning_count <= CHECK_MAX_WARNINGS,
         "more warnings stored than there is room for");
  for (int i = 0; i < findings.warning_count; ++i) {
    const check_warning& warning = findings.warnings[i];
    expect(warning.line >= 1 && warning.line <= lines, "a warning points outside the file");
    expect(warning.code != nullptr && warning.code[0] != '\0', "a warning without a code");
    expect(memchr(warning.text, '\0', sizeof warning.text) != nullptr && warning.text[0] != '\0',
           "a warning text that is empty or not ended");
  }
  fclose(file);
  return 0;
}
