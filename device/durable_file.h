// A file put in place whole and durably: written beside its place, synced,
// renamed (or linked) over, and its directory synced, so that a crash at
// any moment leaves the old file or the new one.
#pragma once

#include <limits.h>
#include <stddef.h>
#include <sys/types.h>

/// The new file's text and where it goes.
struct durable_file {
  const char* path;
  const char* temporary_suffix;  // the temporary is path, this, and six characters
  const char* data;
  size_t size;
  bool set_owner;  // give the new file owner and group (a replace keeps the old one's)
  uid_t owner;
  gid_t group;
  mode_t mode;
  bool keep_existing;  // linked into place where nothing is yet, else renamed over
};

/// The step of durable_put that failed.
enum class durable_step {
  none,
  create,          // the temporary file beside path
  own,             // its owner and group
  set_mode,        // its mode
  write,           // the data
  sync,            // the data to the disk
  close,           // the temporary file
  put,             // the rename or link into place
  sync_directory,  // the directory, after the file is in place
};

struct durable_outcome {
  durable_step failed;
  int error;  // the errno of the step that failed
  char temporary[PATH_MAX];
  char directory[PATH_MAX];
};

/// The directory that path lies in: "." for a bare name, "/" for "/name".
void directory_of(const char* path, char out[PATH_MAX]);

/// Writes all of data to fd, again after a signal; false when a write fails.
bool write_all(int fd, const char* data, size_t size);

/// Puts file in place. Returns true when it is there and synced; else says
/// in outcome which step failed. Before the put the old file is unchanged
/// and the temporary is removed; a failed directory sync leaves the new
/// file in place.
bool durable_put(const durable_file& file, durable_outcome* outcome);
