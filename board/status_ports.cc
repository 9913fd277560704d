#include "board/status_ports.h"

#include <stdio.h>
#include <string.h>

size_t format_ports(const bool present[GPIO_INPUT_COUNT], const int level[GPIO_INPUT_COUNT],
                    char* out, size_t size) {
  size_t length = 0;
  out[0] = '\0';
  for (int n = 0; n < GPIO_INPUT_COUNT; ++n) {
    if (!present[n] || length >= size) continue;
    int written = 0;
    if (level[n] >= 0) {
      written = snprintf(out + length, size - length, "Binary Input %d: %d\n", n, level[n]);
    } else {
      written = snprintf(out + length, size - length, "Binary Input %d: %s\n", n,
                         STATUS_LEVEL_UNREADABLE);
    }
    if (written > 0) length += static_cast<size_t>(written);
  }
  return length < size ? length : size - 1;
}

const char* status_section(int argc, const char* const* argv) {
  if (argc != 3 || strcmp(argv[1], "-v") != 0 || argv[2][0] == '\0') return nullptr;
  return argv[2];
}
