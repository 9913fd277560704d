// Runs the router's tools as child processes with explicit argument lists.
#pragma once

#include <stdarg.h>
#include <sys/types.h>

/// Most arguments passed to a tool after its path; further ones are dropped.
inline constexpr int COMMAND_MAX_ARGUMENTS = 62;

/// What the next child of this thread gets as descriptor 0, 1 and 2: the
/// entry's own number keeps the inherited one, another descriptor >= 0 is
/// moved there, a negative value means /dev/null.
extern thread_local int child_fds[3];

/// Makes fd the next child's stdout; 0 and 2 are ignored.
void set_child_stdout(int fd);

/// Closes every prepared descriptor above 2 and forgets all redirections.
void reset_child_fds();

/// Closes every descriptor from 3 up, as a child does before its exec.
void close_descriptors_from_3();

/// Child side of a run: sets up descriptors 0-2, closes the rest and execs
/// path with the arguments up to the first null. Returns only on failure.
void exec_child(const char* path, va_list arguments);

/// Forks a child that runs path with the arguments up to the first null.
/// Consumes the prepared redirections. Returns the pid, or -1 if fork failed.
pid_t spawn_command(const char* path, va_list arguments);

/// Waits for the child; returns its raw wait status, or -1 if waiting failed.
int wait_command(pid_t pid);

/// Runs path with the arguments that follow, ended by a null pointer, and
/// waits for it. Returns the raw wait status, or -1 when fork failed.
int run_command(const char* path, ...);
