// HTML output: every text from the settings file or the request goes
// through put_text.
#pragma once

#include <stdio.h>

/// Writes text with &, <, >, " and ' as character references, so that it
/// is inert in element content and in quoted attribute values.
void put_text(FILE* out, const char* text);

/// put_text of a printf-style text (at most 1 KiB).
void put_textf(FILE* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
