// Starting the daemon in the run's pid namespace: its environment, and the
// namespace's init, which reports the daemon's pid and exit on a pipe.
#pragma once

#include <string>
#include <vector>

#include "simulator/runner.h"
#include "simulator/scenario.h"

/// The daemon's environment: the router's PATH and TZ, the fake clock's
/// preload when the scenario needs it, and the emulator's and sanitizers'
/// settings of this process.
std::vector<std::string> daemon_environment(const scenario& s, const run_options& options);

/// pid 1 of the run's pid namespace: mounts that namespace's /proc, starts
/// the scenario's /dev/gpio holder if it has one, starts command with stdout
/// and stderr on output_fd, writes "launched PID" and "exited STATUS" (or
/// "error ...") lines to report_fd, and reaps orphans.
[[noreturn]] void run_init(const scenario& s, const std::vector<std::string>& command,
                           const std::vector<std::string>& environment, int report_fd,
                           int output_fd);

/// "exit status 0", "killed by Terminated", ...
std::string wait_status_text(int status);
