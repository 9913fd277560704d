// The daemon as the page sees it: which process it is, and its restart
// through the init script.
#pragma once

#include <sys/types.h>

inline constexpr const char* INIT_SCRIPT_PATH = "/etc/init.d/dormix";
inline constexpr const char* DAEMON_PID_PATH = "/run/dormix.pid";
inline constexpr int OUTCOME_SIZE = 2048;
inline constexpr int RESTART_TIMEOUT_SECONDS = 20;

/// What /proc tells of a process, for finding the daemon.
struct process_facts {
  const char* comm;  // /proc/PID/comm, with its line feed
  const char* stat;  // /proc/PID/stat
  const char* exe;   // where /proc/PID/exe leads, or null when unreadable
};

/// Whether the process is the daemon: named dormix, leader of a session of
/// its own (the daemon calls setsid), and, where it can be seen, running a
/// program named dormix, not a shell running the init script of that name.
bool is_daemon_process(pid_t pid, const process_facts& facts);

/// Whether exe, where /proc/PID/exe leads, is a program named dormix, or
/// one that was, deleted since it started (an upgrade replaced it).
bool runs_daemon_program(const char* exe);

/// The running daemon's pid, or 0: from the init script's pid file, else
/// the first process that is_daemon_process.
pid_t running_daemon();

enum class restart_result { done, failed, timed_out, not_run };

struct restart_outcome {
  restart_result result;
  int status;  // the script's exit status when done or failed
  char output[OUTCOME_SIZE];
};

/// Runs script with "restart" (no shell) in a session of its own, with
/// SIGPIPE ignored and its output in a memory file rather than a pipe to
/// this process: a web server that kills the page, or its process group,
/// leaves the restart to finish. A script still running after
/// timeout_seconds has its whole process group killed.
void run_restart(const char* script, int timeout_seconds, restart_outcome* outcome);
