#include "web/status_tool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "device/monotonic.h"
#include "device/tool_run.h"

bool run_status_tool(const char* tool, const char* section, int timeout_seconds, char* out,
                     size_t size) {
  out[0] = '\0';
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
  char* const arguments[] = {const_cast<char*>(tool), const_cast<char*>("-v"),
                             const_cast<char*>(section), nullptr};
  // Every page load runs the tool: vfork spares copying the page's memory
  // map, which costs fork about half a millisecond of CPU here.
  const pid_t child = spawn_detached(arguments, pipe_fds[1], true, true);
  close(pipe_fds[1]);
  if (child < 0) {
    close(pipe_fds[0]);
    return false;
  }
  // Read while it runs, so that a long answer cannot fill the pipe.
  const int deadline = monotonic_seconds() + timeout_seconds;
  int status = 0;
  bool exited = false;
  const long used = collect_output(pipe_fds[0], child, out, static_cast<long>(size) - 1, deadline,
                                   &status, &exited);
  close(pipe_fds[0]);
  out[used > 0 ? used : 0] = '\0';
  if (!exited) {
    const int left = deadline - monotonic_seconds();
    exited = wait_or_kill_group(child, left > 0 ? left : 0, &status);
  }
  return exited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
