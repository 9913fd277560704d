#include "analysis/root_only.h"

#include <stdio.h>
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

namespace {

struct root_only_check {
  const char* role;
  const char* consequence;
  check_findings* findings;
  int count;
};

void judge_step(const walk_step& step, void* context) {
  auto* check = static_cast<root_only_check*>(context);
  char risk[WRITE_RISK_SIZE];
  if (!write_risk(step.owner, step.mode, risk)) return;
  const unsigned mode = step.mode & 07777U;
  if (step.is_start) {
    add_warning(check->findings, 0, WARN_WRITABLE,
                "%s (%s) is %s (mode %04o): the daemon runs as root and relies on it, so "
                "whoever can change it can %s",
                step.path, check->role, risk, mode, check->consequence);
  } else {
    add_warning(check->findings, 0, WARN_WRITABLE,
                "%s, a directory above %s (%s), is %s (mode %04o): whoever can change it can "
                "replace %s and so %s",
                step.path, step.start, check->role, risk, mode, check->role, check->consequence);
  }
  ++check->count;
}

}  // namespace

int check_root_only(const char* path, const char* role, const char* consequence, trust_walk walk,
                    check_findings* findings) {
  // A link is followed to what the daemon opens.
  root_only_check check{role, consequence, findings, 0};
  walk(path, walk_start::resolved, judge_step, &check);
  return check.count;
}

int check_trusted_files(const char* settings_path, trust_walk walk, check_findings* findings) {
  return check_root_only(settings_path, "the settings file",
                         "decide when the router sleeps and when it wakes", walk, findings) +
         check_root_only(LPM_PATH, "the low-power tool", "have root run their commands", walk,
                         findings) +
         check_root_only(STATUS_TOOL_PATH, "the status tool", "have root run their commands", walk,
                         findings);
}
