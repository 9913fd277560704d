#include "analysis/root_only.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "daemon/wakeup.h"
#include "device/status.h"

namespace {

void append(char* out, const char* text) {
  const size_t used = strlen(out);
  snprintf(out + used, WRITE_RISK_SIZE - used, "%s%s", used == 0 ? "" : ", ", text);
}

}  // namespace

bool write_risk(uid_t owner, mode_t mode, char out[WRITE_RISK_SIZE]) {
  out[0] = '\0';
  if (owner != 0) snprintf(out, WRITE_RISK_SIZE, "owned by user %u", static_cast<unsigned>(owner));
  const bool group = (mode & S_IWGRP) != 0;
  const bool others = (mode & S_IWOTH) != 0;
  if (group && others) {
    append(out, "writable by its group and by everyone");
  } else if (group) {
    append(out, "writable by its group");
  } else if (others) {
    append(out, "writable by everyone");
  }
  return out[0] != '\0';
}

int check_root_only(const char* path, const char* role, const char* consequence,
                    check_findings* findings) {
  // A link is followed to what the daemon opens; a missing file leaves its
  // directories, where someone could create it.
  char current[PATH_MAX];
  if (realpath(path, current) == nullptr) snprintf(current, sizeof current, "%s", path);
  char file[PATH_MAX];
  memcpy(file, current, sizeof file);
  int count = 0;
  bool is_file = true;
  for (;;) {
    struct stat status {};
    char risk[WRITE_RISK_SIZE];
    if (stat(current, &status) == 0 && write_risk(status.st_uid, status.st_mode, risk)) {
      const unsigned mode = status.st_mode & 07777U;
      if (is_file) {
        add_warning(findings, 0, WARN_WRITABLE,
                    "%s (%s) is %s (mode %04o): the daemon runs as root and relies on it, so "
                    "whoever can change it can %s",
                    current, role, risk, mode, consequence);
      } else {
        add_warning(findings, 0, WARN_WRITABLE,
                    "%s, a directory above %s (%s), is %s (mode %04o): whoever can change it can "
                    "replace %s and so %s",
                    current, file, role, risk, mode, role, consequence);
      }
      ++count;
    }
    char* slash = strrchr(current, '/');
    if (slash == nullptr || strcmp(current, "/") == 0) break;
    if (slash == current) {
      current[1] = '\0';
    } else {
      *slash = '\0';
    }
    is_file = false;
  }
  return count;
}

int check_trusted_files(const char* settings_path, check_findings* findings) {
  return check_root_only(settings_path, "the settings file",
                         "decide when the router sleeps and when it wakes", findings) +
         check_root_only(LPM_PATH, "the low-power tool", "have root run their commands", findings) +
         check_root_only(STATUS_TOOL_PATH, "the status tool", "have root run their commands",
                         findings);
}
