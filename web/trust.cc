#include "web/trust.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "analysis/root_only.h"
#include "device/trust_walk.h"

namespace {

struct chain_risks {
  char* why;
  size_t why_size;
};

void add_step_risk(const walk_step& step, void* context) {
  auto* risks = static_cast<chain_risks*>(context);
  char risk[WRITE_RISK_SIZE];
  // A link's own mode means nothing: its directory decides who changes it.
  if (step.is_link || !write_risk(step.owner, step.mode, risk)) return;
  const size_t used = strlen(risks->why);
  snprintf(risks->why + used, risks->why_size - used, "%s%s%s is %s (mode %04o)",
           used == 0 ? "" : "; ", step.is_start ? "" : "the directory ", step.path, risk,
           static_cast<unsigned>(step.mode & 07777U));
}

// Adds the write risk of path (not following a last link unless follow)
// and of every directory above it to why, each after "; ".
void add_chain_risks(const char* path, bool follow, char* why, size_t why_size) {
  chain_risks risks{why, why_size};
  walk_to_root(path, follow ? walk_start::followed : walk_start::link_itself, add_step_risk,
               &risks);
}

}  // namespace

void trust_problem(const char* path, char* why, size_t why_size) {
  why[0] = '\0';
  add_chain_risks(path, false, why, why_size);
  char target[PATH_MAX];
  if (realpath(path, target) == nullptr || strcmp(target, path) == 0) return;
  add_chain_risks(target, true, why, why_size);
}

int link_trust_findings(const char* path, const char* role, check_findings* findings) {
  struct stat status {};
  if (lstat(path, &status) != 0 || !S_ISLNK(status.st_mode)) return 0;
  char why[WEB_WHY_SIZE] = "";
  add_chain_risks(path, false, why, sizeof why);
  if (why[0] == '\0') return 0;
  add_warning(findings, 0, WARN_WRITABLE,
              "%s (%s) is a symbolic link, and %s: whoever can change it can point it elsewhere",
              path, role, why);
  return 1;
}

bool switch_file_trusted(const char* path) {
  struct stat status {};
  if (stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  char why[WEB_WHY_SIZE];
  trust_problem(path, why, sizeof why);
  return why[0] == '\0';
}
