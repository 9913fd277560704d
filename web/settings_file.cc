#include "web/settings_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/durable_file.h"

namespace {

constexpr useconds_t WAIT_SLICE_US = 100000;

// What a failed step of a replace could not do, in the page's words.
const char* replace_step_words(durable_step step) {
  switch (step) {
    case durable_step::own:
      return "give the new file the old owner";
    case durable_step::set_mode:
      return "give the new file the old mode";
    case durable_step::write:
      return "write the new file";
    case durable_step::sync:
      return "sync the new file";
    case durable_step::close:
      return "close the new file";
    default:
      return "rename the new file into place";
  }
}

}  // namespace

void settings_target(const char* path, char* out, size_t size) {
  char target[PATH_MAX];
  if (realpath(path, target) == nullptr) {
    snprintf(out, size, "%s", path);
  } else {
    snprintf(out, size, "%s", target);
  }
}

void write_obstacle(const char* path, char* why, size_t why_size) {
  why[0] = '\0';
  char directory[PATH_MAX];
  directory_of(path, directory);
  if (access(path, W_OK) != 0) {
    snprintf(why, why_size, "this program (user %u) cannot write %s: %s",
             static_cast<unsigned>(geteuid()), path, strerror(errno));
  } else if (access(directory, W_OK) != 0) {
    snprintf(why, why_size,
             "this program (user %u) cannot create files in %s, which a safe save needs: %s",
             static_cast<unsigned>(geteuid()), directory, strerror(errno));
  }
}

int lock_settings_directory(const char* path, const deadline_clock& clock, int timeout_seconds) {
  char directory[PATH_MAX];
  directory_of(path, directory);
  const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  const int deadline = clock.seconds(clock.context) + timeout_seconds;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (clock.seconds(clock.context) >= deadline) break;
    usleep(WAIT_SLICE_US);
  }
  close(fd);
  return -1;
}

void remove_stale_temporaries(const char* path) {
  char directory[PATH_MAX];
  directory_of(path, directory);
  const char* slash = strrchr(path, '/');
  char prefix[PATH_MAX];
  snprintf(prefix, sizeof prefix, "%s%s", slash == nullptr ? path : slash + 1,
           WEB_TEMPORARY_SUFFIX);
  const size_t prefix_length = strlen(prefix);
  DIR* listing = opendir(directory);
  if (listing == nullptr) return;
  while (const dirent* entry = readdir(listing)) {
    if (strncmp(entry->d_name, prefix, prefix_length) != 0) continue;
    if (strlen(entry->d_name) != prefix_length + 6) continue;  // mkostemp's six characters
    unlinkat(dirfd(listing), entry->d_name, 0);
  }
  closedir(listing);
}

bool replace_settings_file(const char* path, const char* data, size_t size, char* why,
                           size_t why_size) {
  struct stat old_status {};
  if (stat(path, &old_status) != 0) {
    snprintf(why, why_size, "cannot look at %s: %s", path, strerror(errno));
    return false;
  }
  durable_outcome outcome{};
  if (durable_put(durable_file{path, WEB_TEMPORARY_SUFFIX, data, size, true, old_status.st_uid,
                               old_status.st_gid, old_status.st_mode & 07777, false},
                  &outcome)) {
    return true;
  }
  const char* error = strerror(outcome.error);
  if (outcome.failed == durable_step::create) {
    snprintf(why, why_size, "cannot create a temporary file beside %s: %s", path, error);
  } else if (outcome.failed == durable_step::sync_directory) {
    snprintf(why, why_size, "saved, but syncing %s failed: %s", outcome.directory, error);
  } else {
    snprintf(why, why_size, "cannot %s (%s): %s; the old file is unchanged",
             replace_step_words(outcome.failed), outcome.temporary, error);
  }
  return false;
}
