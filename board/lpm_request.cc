#include "board/lpm_request.h"

#include <stdio.h>
#include <string.h>

namespace {

// Plain digits only: no sign, blanks or base prefix, which strtoul would
// take, and nothing past 32 bits, which would wrap.
bool parse_seconds(const char* text, uint32_t* seconds) {
  if (*text == '\0') return false;
  uint64_t value = 0;
  for (const char* digit = text; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return false;
    value = value * 10 + static_cast<uint64_t>(*digit - '0');
    if (value > UINT32_MAX) return false;
  }
  *seconds = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

bool parse_lpm_arguments(int argc, const char* const* argv, lpm_request* request, char* error,
                         size_t error_size) {
  *request = lpm_request{};
  int next = 1;
  if (next < argc && strcmp(argv[next], "-b") == 0) {
    request->wake_by_input = true;
    ++next;
  }
  if (next < argc && strcmp(argv[next], "-i") == 0) {
    if (next + 1 >= argc) {
      snprintf(error, error_size, "\"-i\" needs a number of seconds");
      return false;
    }
    if (!parse_seconds(argv[next + 1], &request->seconds)) {
      snprintf(error, error_size,
               "\"-i %.40s\": seconds must be plain decimal digits, 0 to 4294967295",
               argv[next + 1]);
      return false;
    }
    request->timed = true;
    next += 2;
  }
  if (next < argc) {
    snprintf(error, error_size, "unexpected argument \"%.40s\"", argv[next]);
    return false;
  }
  if (!request->wake_by_input && !request->timed) {
    snprintf(error, error_size, "no wake-up condition: give \"-b\", \"-i\" SECONDS or both");
    return false;
  }
  return true;
}
