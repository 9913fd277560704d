#include <stdio.h>

#include "settings/settings.h"
#include "tools/check/exit_status.h"

int usage_error(const char* usage, const char* format, const char* detail) {
  fprintf(stderr, "dormix-check: ");
  fprintf(stderr, format, detail);
  fprintf(stderr, "\n");
  fprintf(stderr, usage, SETTINGS_PATH);
  return EXIT_UNUSABLE;
}
