#include "board/gpio_sysfs.h"

bool parse_gpio_inputs(const char* text, bool present[GPIO_INPUT_COUNT]) {
  for (int n = 0; n < GPIO_INPUT_COUNT; ++n) present[n] = false;
  const char* c = text;
  while (*c != '\0' && *c != '\n') {
    if (*c == ' ') {
      ++c;
      continue;
    }
    const int n = *c - '0';
    if (n < 0 || n >= GPIO_INPUT_COUNT || present[n]) return false;
    present[n] = true;
    ++c;
    if (*c != ' ' && *c != '\n' && *c != '\0') return false;
  }
  return *c == '\n' && c[1] == '\0';
}

int parse_woken_by(const char* text) {
  if (text[0] == '0' && text[1] == '\n' && text[2] == '\0') return 0;
  if (text[0] == '1' && text[1] == '\n' && text[2] == '\0') return 1;
  const char* none = "none\n";
  for (int i = 0; none[i] != '\0' || text[i] != '\0'; ++i) {
    if (none[i] != text[i]) return WOKEN_BY_UNREADABLE;
  }
  return WOKEN_BY_NONE;
}
