#include "web/editor.h"

#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "analysis/lint.h"
#include "analysis/value_checks.h"

void editor_fields_fill(const known_key keys[KNOWN_KEY_COUNT], editor_fields* fields) {
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    fields->names[i] = keys[i].name;
    fields->numeric[i] = true;
  }
  fields->names[FIELD_HASH] = "hash";
  fields->numeric[FIELD_HASH] = false;
  fields->names[FIELD_TOKEN] = "token";
  fields->numeric[FIELD_TOKEN] = false;
}

void field_value_of(const check_report& report, const char* text, size_t size, int key,
                    char out[FORM_VALUE_SIZE]) {
  out[0] = '\0';
  const int wanted = report.findings.key_line[key];
  if (wanted <= 0) return;
  const char* start = text;
  const char* end = text + size;
  for (int line = 1; line < wanted && start < end; ++line) {
    const char* feed =
        static_cast<const char*>(memchr(start, '\n', static_cast<size_t>(end - start)));
    start = feed == nullptr ? end : feed + 1;
  }
  const char* feed =
      static_cast<const char*>(memchr(start, '\n', static_cast<size_t>(end - start)));
  char line[SETTINGS_LINE_SIZE];
  const size_t length = static_cast<size_t>((feed == nullptr ? end : feed) - start);
  const size_t kept = length < sizeof line - 1 ? length : sizeof line - 1;
  memcpy(line, start, kept);
  line[kept] = '\0';
  const char* value = settings_split_line(line);
  if (value == nullptr) return;
  snprintf(out, FORM_VALUE_SIZE, "%" PRIu32, settings_parse_uint(value));
}

int changes_from_form(const check_report& report, const char* text, size_t size,
                      const parsed_form& form, value_change changes[KNOWN_KEY_COUNT]) {
  int count = 0;
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    char shown[FORM_VALUE_SIZE];
    field_value_of(report, text, size, i, shown);
    if (strcmp(shown, form.values[i]) == 0) continue;
    changes[count++] =
        value_change{report.findings.key_line[i], report.keys[i].name, form.values[i]};
  }
  return count;
}

bool blocks_save(const char* code) {
  const char* const blocking_codes[] = {WARN_NOT_NUMBER, WARN_NEGATIVE, WARN_TOO_LARGE,
                                        WARN_TIME_RANGE, WARN_SIGNED};
  for (const char* blocking : blocking_codes) {
    if (strcmp(code, blocking) == 0) return true;
  }
  return false;
}

bool report_on_text(const char* text, size_t size, const check_request& request,
                    check_report* report) {
  // An empty buffer is not a stream everywhere; an empty file is.
  FILE* file = size == 0 ? fopen("/dev/null", "r") : fmemopen(const_cast<char*>(text), size, "r");
  if (file == nullptr) return false;
  const bool read = build_report(file, request, report);
  fclose(file);
  return read;
}
