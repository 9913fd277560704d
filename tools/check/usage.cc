#include <stdio.h>

#include "settings/settings.h"
#include "tools/check/exit_status.h"

int usage_error(const command_name& name, const char* usage, const char* format,
                const char* detail) {
  fprintf(stderr, "%s: ", name.program);
  fprintf(stderr, format, detail);
  fprintf(stderr, "\nusage: %s %s", name.program, name.mode);
  fprintf(stderr, usage, SETTINGS_PATH);
  return EXIT_UNUSABLE;
}
