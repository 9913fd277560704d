#include "web/rewrite.h"

#include <stdio.h>
#include <string.h>

namespace {

struct output {
  char* data;
  size_t size;
  size_t used;
  bool full;
};

void put(output* out, const char* bytes, size_t length) {
  if (out->full || out->size - out->used < length) {
    out->full = true;
    return;
  }
  memcpy(out->data + out->used, bytes, length);
  out->used += length;
}

void put_setting(output* out, const value_change& change) {
  put(out, change.key, strlen(change.key));
  put(out, "=", 1);
  put(out, change.value, strlen(change.value));
}

const value_change* change_for_line(const value_change* changes, int count, int line) {
  for (int i = 0; i < count; ++i) {
    if (changes[i].line == line) return &changes[i];
  }
  return nullptr;
}

// The line end of the line starting at text: "\r\n", "\n" or none.
const char* line_end_of(const char* line, const char* end) {
  const char* feed = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(end - line)));
  if (feed == nullptr) return "";
  return feed > line && feed[-1] == '\r' ? "\r\n" : "\n";
}

}  // namespace

size_t rewrite_settings(const char* text, size_t size, const value_change* changes, int count,
                        char* out_data, size_t out_size) {
  output out{out_data, out_size, 0, false};
  const char* end = text + size;
  const char* file_line_end = size == 0 ? "\n" : line_end_of(text, end);
  if (file_line_end[0] == '\0') file_line_end = "\n";
  int line = 1;
  for (const char* start = text; start < end; ++line) {
    const char* feed =
        static_cast<const char*>(memchr(start, '\n', static_cast<size_t>(end - start)));
    const char* next = feed == nullptr ? end : feed + 1;
    const value_change* change = change_for_line(changes, count, line);
    if (change == nullptr) {
      put(&out, start, static_cast<size_t>(next - start));
    } else {
      put_setting(&out, *change);
      const char* ending = line_end_of(start, end);
      put(&out, ending, strlen(ending));
    }
    start = next;
  }
  bool open_line = size > 0 && text[size - 1] != '\n';
  for (int i = 0; i < count; ++i) {
    if (changes[i].line != 0) continue;
    if (open_line) put(&out, file_line_end, strlen(file_line_end));
    put_setting(&out, changes[i]);
    put(&out, file_line_end, strlen(file_line_end));
    open_line = false;
  }
  return out.full ? 0 : out.used;
}
