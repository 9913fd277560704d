// The router's tools run as children whose output is read while they run:
// the daemon's way (no deadline, descriptors from child_fds) and the
// detached way of the tools around it (a session of their own, a deadline,
// their whole process group killed when it passes).
#pragma once

#include <sys/types.h>

/// No deadline: the read and the wait last as long as the tool.
inline constexpr int NO_DEADLINE = -1;

/// Reads the tool's output from fd while child runs, so that output larger
/// than the pipe cannot block it, and keeps the first capacity bytes in
/// kept. Stops at end of file, once the tool has exited and the pipe is
/// empty, or at deadline (a monotonic second; NO_DEADLINE for none).
/// *exited tells whether child was reaped, with its wait status in
/// *status. Returns the bytes kept, or -1 when reading failed.
long collect_output(int fd, pid_t child, char* kept, long capacity, int deadline, int* status,
                    bool* exited);

/// Starts argv[0] (an absolute path) with argv and only PATH in its
/// environment, in a session and process group of its own, SIGPIPE
/// ignored, stdin on /dev/null, stdout on output_fd and stderr there too
/// unless errors_to_null. by_vfork spares copying a large memory map; the
/// child then only makes system calls until it execs. Returns the pid, or
/// -1 when no child could be made.
pid_t spawn_detached(char* const argv[], int output_fd, bool errors_to_null, bool by_vfork);

/// Waits for child up to timeout_seconds; then kills its process group
/// (the child leads one) and reaps it. True when it exited by itself.
bool wait_or_kill_group(pid_t child, int timeout_seconds, int* status);
