// From a posted form to the settings file's new text: which values changed,
// and what the checker says about them. Functions over values only.
#pragma once

#include <stddef.h>

#include "analysis/report.h"
#include "web/form.h"
#include "web/rewrite.h"

/// The form's fields: every known key, then the file hash and the token.
inline constexpr int EDITOR_FIELD_COUNT = KNOWN_KEY_COUNT + 2;
inline constexpr int FIELD_HASH = KNOWN_KEY_COUNT;
inline constexpr int FIELD_TOKEN = KNOWN_KEY_COUNT + 1;

struct editor_fields {
  const char* names[EDITOR_FIELD_COUNT];
  bool numeric[EDITOR_FIELD_COUNT];
};

void editor_fields_fill(const known_key keys[KNOWN_KEY_COUNT], editor_fields* fields);

/// The value a field shows for a file: the number the daemon reads from the
/// key's line, or empty when the file does not set the key.
void field_value_of(const check_report& report, const char* text, size_t size, int key,
                    char out[FORM_VALUE_SIZE]);

/// The changes the posted values make to the file: a changed key set in the
/// file rewrites its line, one not set is appended. Returns their number.
int changes_from_form(const check_report& report, const char* text, size_t size,
                      const parsed_form& form, value_change changes[KNOWN_KEY_COUNT]);

/// The first line a change would rewrite that holds more than this page
/// reads of it: longer than the daemon reads at once, or cut by a carriage
/// return before its end. Rewriting such a line would drop the settings in
/// the rest of it. Returns 0 when there is none, else the line, with the
/// reason in why.
int unsafe_change_line(const char* text, size_t size, const value_change* changes, int count,
                       char* why, size_t why_size);

/// Whether a warning code blocks a save when it concerns a changed value:
/// the value would not read as the number it shows, or means another time.
bool blocks_save(const char* code);

/// The line the checker's report reads text from, for text held in memory.
bool report_on_text(const char* text, size_t size, const check_request& request,
                    check_report* report);
