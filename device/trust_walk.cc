#include "device/trust_walk.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

void walk_to_root(const char* path, walk_start start, walk_visitor visit, void* context) {
  // A missing file leaves its directories, where someone could create it.
  char current[PATH_MAX];
  if (start != walk_start::resolved || realpath(path, current) == nullptr) {
    snprintf(current, sizeof current, "%s", path);
  }
  char first[PATH_MAX];
  memcpy(first, current, sizeof first);
  bool is_start = true;
  for (;;) {
    struct stat status {};
    const bool own_link = is_start && start == walk_start::link_itself;
    if ((own_link ? lstat(current, &status) : stat(current, &status)) == 0) {
      visit(walk_step{current, first, is_start, S_ISLNK(status.st_mode), status.st_uid,
                      status.st_mode},
            context);
    }
    char* slash = strrchr(current, '/');
    if (slash == nullptr || strcmp(current, "/") == 0) return;
    if (slash == current) {
      current[1] = '\0';
    } else {
      *slash = '\0';
    }
    is_start = false;
  }
}
