// The router's reports (GPIO requests, tool runs, syslog, the init's lines,
// /proc samples) turned into events on the run's timeline.
#pragma once

#include <string>

#include "simulator/run_state.h"

/// An open of /dev/gpio (input -1, value the open flags) or a level request
/// (value the level, or -errno).
void observe_gpio(run_state* r, int input, long value, long pid);

/// A line of the fake tools' event pipe.
void observe_tool_line(run_state* r, const std::string& line);

/// A datagram sent to /dev/log.
void observe_log(run_state* r, const std::string& datagram);

/// A line from the namespace's init.
void observe_report(run_state* r, const std::string& line);

/// Records the daemon's descriptors and zombies; a probe also shows them.
void sample_daemon(run_state* r, bool as_probe);
