#include "tools/check/init_gate.h"

#include <errno.h>
#include <string.h>

#include "settings/settings.h"
#include "tools/check/exit_status.h"

namespace {

constexpr const char* ENABLED_USAGE =
    "[FILE]\n"
    "Exit status 0 when MOD_DORMIX_ENABLED in FILE (default %s) reads\n"
    "non-zero, 1 when it reads 0 or the file is missing, 2 on wrong usage.\n";

}  // namespace

uint32_t module_switch_value(FILE* file) { return settings_get_uint(file, MODULE_SWITCH_KEY); }

int run_enabled_check(const command_name& name, int count, char** arguments) {
  if (count > 1) return usage_error(name, ENABLED_USAGE, "%stakes at most one file", name.mode);
  const char* path = count == 1 ? arguments[0] : SETTINGS_PATH;
  FILE* file = fopen(path, "r");
  const int open_error = errno;
  const uint32_t value = module_switch_value(file);
  if (file != nullptr) fclose(file);
  if (file == nullptr) {
    printf("switched off: cannot open %s (%s), so %s reads 0\n", path, strerror(open_error),
           MODULE_SWITCH_KEY);
  } else {
    printf("switched %s: %s reads %u in %s\n", value != 0 ? "on" : "off", MODULE_SWITCH_KEY, value,
           path);
  }
  return value != 0 ? EXIT_YES : EXIT_NO;
}
