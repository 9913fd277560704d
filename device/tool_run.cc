#include "device/tool_run.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "device/command.h"
#include "device/monotonic.h"

namespace {

// Poll interval while the tool runs; only matters if a grandchild keeps the
// pipe open after the tool itself has exited.
constexpr int EXIT_CHECK_MS = 100;
// Once the tool has exited, what is still in the pipe is read, but no more
// than a pipe holds: a grandchild that keeps writing cannot hold us here.
constexpr long AFTER_EXIT_LIMIT = 65536;
constexpr useconds_t WAIT_SLICE_US = 100000;
// What a detached child may see of the environment: nothing of the
// caller's (a web request's cookies, headers, query) reaches the tools.
constexpr const char* CHILD_PATH = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

bool deadline_passed(int deadline) {
  return deadline != NO_DEADLINE && monotonic_seconds() >= deadline;
}

// The child side of a detached run: a session and process group of its
// own, so that the caller can end it with everything it started and a web
// server killing the caller's group does not reach it; SIGPIPE at its
// default would kill it on its next write to a reader that went away.
void become_detached_child(int output_fd, bool errors_to_null) {
  setsid();
  signal(SIGPIPE, SIG_IGN);
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd >= 0) dup2(null_fd, 0);
  dup2(output_fd, 1);
  dup2(output_fd, 2);
  // Nothing of the caller's reaches the tool, nor what it starts.
  close_descriptors_from_3();
  // Errors go nowhere: only the tool's stdout is its answer.
  if (errors_to_null) {
    const int errors_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (errors_fd >= 0) dup2(errors_fd, 2);
  }
}

}  // namespace

long collect_output(int fd, pid_t child, char* kept, long capacity, int deadline, int* status,
                    bool* exited) {
  long length = 0;
  long read_after_exit = 0;
  for (;;) {
    if (read_after_exit > AFTER_EXIT_LIMIT || deadline_passed(deadline)) return length;
    pollfd ready{fd, POLLIN, 0};
    int events = poll(&ready, 1, *exited ? 0 : EXIT_CHECK_MS);
    if (events < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (events == 0) {
      if (*exited) return length;
      pid_t waited = waitpid(child, status, WNOHANG);
      if (waited == child) {
        *exited = true;
      } else if (waited < 0 && errno != EINTR) {
        *status = -1;
        *exited = true;
      }
      continue;
    }
    char discard[1024];
    char* target = length < capacity ? kept + length : discard;
    const long room = length < capacity ? capacity - length : static_cast<long>(sizeof discard);
    ssize_t got = read(fd, target, static_cast<size_t>(room));
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) return length;
    if (*exited) read_after_exit += got;
    if (length < capacity) length += got;
  }
}

pid_t spawn_detached(char* const argv[], int output_fd, bool errors_to_null, bool by_vfork) {
  char* const environment[] = {const_cast<char*>(CHILD_PATH), nullptr};
  // The vfork child only makes system calls (setsid, sigaction, open, dup2,
  // close_range) until it execs or exits: they change none of the parent's
  // memory but errno, which the parent does not read before it is set again.
  // NOLINTBEGIN(clang-analyzer-security.insecureAPI.vfork,clang-analyzer-unix.Vfork)
  const pid_t child = by_vfork ? vfork() : fork();
  if (child == 0) {
    become_detached_child(output_fd, errors_to_null);
    execve(argv[0], argv, environment);
    _exit(127);
  }
  // NOLINTEND(clang-analyzer-security.insecureAPI.vfork,clang-analyzer-unix.Vfork)
  return child < 0 ? -1 : child;
}

bool wait_or_kill_group(pid_t child, int timeout_seconds, int* status) {
  const int deadline = monotonic_seconds() + timeout_seconds;
  // The tool has mostly ended when this is called: the first looks come
  // soon, so that a caller does not wait out a whole slice.
  useconds_t slice = 1000;
  for (;;) {
    const pid_t waited = waitpid(child, status, WNOHANG);
    if (waited == child) return true;
    if (waited < 0 && errno != EINTR) return false;
    if (monotonic_seconds() >= deadline) break;
    usleep(slice);
    slice = slice * 2 < WAIT_SLICE_US ? slice * 2 : WAIT_SLICE_US;
  }
  kill(-child, SIGKILL);
  kill(child, SIGKILL);
  while (waitpid(child, status, 0) < 0 && errno == EINTR) {
  }
  return false;
}
