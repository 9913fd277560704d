#include "web/secret.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/durable_file.h"
#include "web/files.h"

namespace {

bool random_bytes(unsigned char* out, size_t size) {
  if (getrandom(out, size, 0) == static_cast<ssize_t>(size)) return true;
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool complete = read(fd, out, size) == static_cast<ssize_t>(size);
  close(fd);
  return complete;
}

// Opens and checks an existing secret: loaded, missing, or why not.
secret_state read_secret(const char* path, unsigned char secret[SECRET_SIZE], bool* short_secret,
                         char* why, size_t why_size) {
  *short_secret = false;
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0 && errno == ENOENT) return secret_state::missing;
  if (fd < 0) {
    snprintf(why, why_size, "cannot open the form secret %s: %s", path, strerror(errno));
    return secret_state::unusable;
  }
  struct stat status {};
  const bool private_file = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                            status.st_uid == 0 && (status.st_mode & 077) == 0;
  const bool complete = private_file && read(fd, secret, SECRET_SIZE) == SECRET_SIZE;
  close(fd);
  if (!private_file) {
    snprintf(why, why_size,
             "the form secret %s must be a regular file, root's and private (mode 0600)", path);
    return secret_state::unusable;
  }
  if (!complete) {
    *short_secret = true;
    snprintf(why, why_size, "the form secret %s is shorter than %d bytes", path, SECRET_SIZE);
    return secret_state::unusable;
  }
  return secret_state::loaded;
}

// Writes a fresh secret whole to a temporary file beside path and puts it
// in place: linked where none exists (a concurrent first use keeps the one
// that came first), renamed over a short one.
bool make_secret(const char* path, bool replace, char* why, size_t why_size) {
  unsigned char fresh[SECRET_SIZE];
  durable_outcome outcome{};
  const bool made =
      random_bytes(fresh, sizeof fresh) &&
      durable_put(durable_file{path, WEB_TEMPORARY_SUFFIX, reinterpret_cast<const char*>(fresh),
                               sizeof fresh, false, 0, 0, 0600, !replace},
                  &outcome);
  if (!made) {
    const int error = outcome.failed != durable_step::none ? outcome.error : errno;
    snprintf(why, why_size, "cannot make the form secret %s: %s", path, strerror(error));
    return false;
  }
  return true;
}

}  // namespace

secret_state load_secret_at(const char* path, bool may_create, unsigned char secret[SECRET_SIZE],
                            char* why, size_t why_size) {
  why[0] = '\0';
  bool short_secret = false;
  secret_state state = read_secret(path, secret, &short_secret, why, why_size);
  // A short one is what a first use killed while writing (before the
  // secret was linked into place) left: the next save makes it anew.
  const bool make = state == secret_state::missing || short_secret;
  if (!make || !may_create) {
    if (make) {
      snprintf(why, why_size, "the form secret %s is made at the next save", path);
      return secret_state::missing;
    }
    return state;
  }
  if (!make_secret(path, short_secret, why, why_size)) return secret_state::unusable;
  state = read_secret(path, secret, &short_secret, why, why_size);
  if (state == secret_state::loaded) return secret_state::made;
  return state == secret_state::missing ? secret_state::unusable : state;
}
