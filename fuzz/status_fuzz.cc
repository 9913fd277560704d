// Fuzz target: the scan of the status tool's output.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/status.h"

namespace {

// The keys the daemon asks the "ports" section for.
constexpr const char* DAEMON_KEYS[] = {"Binary Input", "Binary Input 0", "Binary Input 1"};
constexpr size_t KEY_MAX = 63;

void expect(bool holds, const char* what) {
  if (holds) return;
  fprintf(stderr, "status_fuzz: %s\n", what);
  abort();
}

bool some_line_begins_with(const char* text, const char* key) {
  const size_t key_length = strlen(key);
  for (const char* line = text; line != nullptr;) {
    if (strncmp(line, key, key_length) == 0) return true;
    line = strchr(line, '\n');
    if (line != nullptr) ++line;
  }
  return false;
}

// A value found must be a whole rest of a line right after ": ".
bool is_line_tail_after_separator(const char* text, const char* value) {
  const size_t length = strlen(value);
  for (const char* at = strstr(text, ": "); at != nullptr; at = strstr(at + 1, ": ")) {
    const char* start = at + 2;
    if (strncmp(start, value, length) == 0 && (start[length] == '\n' || start[length] == '\0')) {
      return true;
    }
  }
  return false;
}

void scan_and_check(const char* text, const char* key) {
  // Exactly the documented room, on the heap, so that one byte more is caught.
  auto* value = static_cast<char*>(malloc(STATUS_VALUE_MAX + 1));
  if (status_scan(text, key, value)) {
    const size_t length = strnlen(value, STATUS_VALUE_MAX + 1);
    expect(length >= 1 && length <= STATUS_VALUE_MAX, "value length out of 1..127");
    expect(strchr(value, '\n') == nullptr, "value runs past its line");
    expect(some_line_begins_with(text, key), "value found for a key no line begins with");
    expect(is_line_tail_after_separator(text, value), "value is not the rest of a line");
  }
  free(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The daemon keeps at most the first STATUS_OUTPUT_MAX bytes of one read.
  const size_t kept = size < STATUS_OUTPUT_MAX ? size : STATUS_OUTPUT_MAX;
  auto* text = static_cast<char*>(malloc(kept + 1));
  memcpy(text, data, kept);
  text[kept] = '\0';

  for (const char* key : DAEMON_KEYS) scan_and_check(text, key);
  scan_and_check(text, "");

  // A key taken from the text itself reaches the matching paths far more often.
  const char* colon = strchr(text, ':');
  if (colon != nullptr && static_cast<size_t>(colon - text) <= KEY_MAX) {
    char key[KEY_MAX + 1];
    const auto key_length = static_cast<size_t>(colon - text);
    memcpy(key, text, key_length);
    key[key_length] = '\0';
    scan_and_check(text, key);
  }

  free(text);
  return 0;
}
