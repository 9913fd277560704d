// A settings file with some values changed, and everything else kept: other
// lines byte for byte, their order and their line ends.
#pragma once

#include <stddef.h>

struct value_change {
  int line;           // 1-based line to rewrite; 0 appends the key at the end
  const char* key;    // as it is to be written
  const char* value;  // decimal digits
};

/// Writes text (size bytes) with each change applied into out[out_size]:
/// a rewritten line keeps its line end, an appended line takes the line end
/// of the file's first line. Returns the new size, or 0 when out is too
/// small (a settings file is never empty after a change).
size_t rewrite_settings(const char* text, size_t size, const value_change* changes, int count,
                        char* out, size_t out_size);
