#include "device/durable_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Owner, mode, data and sync of the open temporary: the first step that
// failed, with errno still its own.
durable_step fill_temporary(int fd, const durable_file& file) {
  if (file.set_owner && fchown(fd, file.owner, file.group) != 0) return durable_step::own;
  if (fchmod(fd, file.mode) != 0) return durable_step::set_mode;
  if (!write_all(fd, file.data, file.size)) return durable_step::write;
  if (fsync(fd) != 0) return durable_step::sync;
  return durable_step::none;
}

bool put_in_place(const durable_file& file, const char* temporary) {
  if (!file.keep_existing) return rename(temporary, file.path) == 0;
  // A concurrent first use keeps the file that came first.
  return link(temporary, file.path) == 0 || errno == EEXIST;
}

bool fail(durable_outcome* outcome, durable_step step, int error) {
  outcome->failed = step;
  outcome->error = error;
  return false;
}

}  // namespace

void directory_of(const char* path, char out[PATH_MAX]) {
  snprintf(out, PATH_MAX, "%s", path);
  char* slash = strrchr(out, '/');
  if (slash == nullptr) {
    snprintf(out, PATH_MAX, ".");
  } else if (slash == out) {
    out[1] = '\0';
  } else {
    *slash = '\0';
  }
}

bool write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool durable_put(const durable_file& file, durable_outcome* outcome) {
  outcome->failed = durable_step::none;
  outcome->error = 0;
  snprintf(outcome->temporary, sizeof outcome->temporary, "%s%sXXXXXX", file.path,
           file.temporary_suffix);
  directory_of(file.path, outcome->directory);
  const int fd = mkostemp(outcome->temporary, O_CLOEXEC);
  if (fd < 0) return fail(outcome, durable_step::create, errno);
  durable_step failed = fill_temporary(fd, file);
  int error = failed != durable_step::none ? errno : 0;
  if (close(fd) != 0 && failed == durable_step::none) {
    failed = durable_step::close;
    error = errno;
  }
  if (failed == durable_step::none && !put_in_place(file, outcome->temporary)) {
    failed = durable_step::put;
    error = errno;
  }
  // After a link the temporary is a second name; after a rename it is gone.
  if (failed != durable_step::none || file.keep_existing) unlink(outcome->temporary);
  if (failed != durable_step::none) return fail(outcome, failed, error);
  const int directory_fd = open(outcome->directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = directory_fd >= 0 && fsync(directory_fd) == 0;
  error = errno;
  if (directory_fd >= 0) close(directory_fd);
  if (!synced) return fail(outcome, durable_step::sync_directory, error);
  return true;
}
