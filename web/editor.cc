#include "web/editor.h"

#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "analysis/lint.h"
#include "analysis/value_checks.h"
#include "settings/settings.h"

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
  if (report.findings.key_line[key] <= 0 || size == 0) return;
  // Read by the daemon's own code: a line longer than it reads at once is
  // several lines to it, and the key may sit in any of them.
  FILE* file = fmemopen(const_cast<char*>(text), size, "r");
  if (file == nullptr) return;
  const char* value = settings_find(file, report.keys[key].name);
  if (value != nullptr) snprintf(out, FORM_VALUE_SIZE, "%" PRIu32, settings_parse_uint(value));
  fclose(file);
}

int unsafe_change_line(const char* text, size_t size, const value_change* changes, int count,
                       char* why, size_t why_size) {
  why[0] = '\0';
  const char* end = text + size;
  int line = 1;
  for (const char* start = text; start < end; ++line) {
    const char* feed =
        static_cast<const char*>(memchr(start, '\n', static_cast<size_t>(end - start)));
    const char* line_end = feed == nullptr ? end : feed;
    const char* next = feed == nullptr ? end : feed + 1;
    bool changed = false;
    for (int c = 0; c < count; ++c) changed = changed || changes[c].line == line;
    const size_t length = static_cast<size_t>(line_end - start);
    const char* return_at = static_cast<const char*>(memchr(start, '\r', length));
    if (changed && length > SETTINGS_LINE_SIZE - 1) {
      snprintf(why, why_size,
               "line %d is longer than the %d characters the daemon reads at once, so it may "
               "hold more than one setting; rewriting it would lose the others: edit it by hand",
               line, SETTINGS_LINE_SIZE - 1);
      return line;
    }
    if (changed && return_at != nullptr && return_at + 1 != line_end) {
      snprintf(why, why_size,
               "line %d holds a carriage return before its end, so other programs may read "
               "more than one setting from it; rewriting it would lose them: edit it by hand",
               line);
      return line;
    }
    start = next;
  }
  return 0;
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
