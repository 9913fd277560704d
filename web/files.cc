#include "web/files.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/monotonic.h"

long read_whole_file(const char* path, char* out, size_t size) {
  // Non-blocking: a FIFO put in a file's place must not hang the page.
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  size_t used = 0;
  for (;;) {
    if (used == size) {
      char extra;
      const bool more = read(fd, &extra, 1) > 0;
      close(fd);
      if (!more) return static_cast<long>(used);
      errno = EFBIG;
      return -1;
    }
    const ssize_t got = read(fd, out + used, size - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      close(fd);
      errno = error;
      return -1;
    }
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  close(fd);
  return static_cast<long>(used);
}

namespace {

constexpr int POLL_SLICE_MS = 100;

int clock_monotonic_seconds(void* /*context*/) { return monotonic_seconds(); }

}  // namespace

deadline_clock monotonic_clock() { return deadline_clock{nullptr, clock_monotonic_seconds}; }

bool read_exactly_until(int fd, char* out, size_t length, const deadline_clock& clock,
                        int timeout_seconds) {
  const int deadline = clock.seconds(clock.context) + timeout_seconds;
  size_t used = 0;
  while (used < length) {
    if (clock.seconds(clock.context) >= deadline) return false;
    pollfd ready{fd, POLLIN, 0};
    const int polled = poll(&ready, 1, POLL_SLICE_MS);
    if (polled < 0 && errno != EINTR) return false;
    if (polled <= 0) continue;
    const ssize_t got = read(fd, out + used, length - used);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return false;
    used += static_cast<size_t>(got);
  }
  return true;
}
