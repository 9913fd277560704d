// The simulated router's file system: a private mount namespace in which
// /dev is a fresh tmpfs and read-only overlays put the fake tools, the
// daemon and the settings file at the router's paths.
#pragma once

#include <string>

#include "simulator/scenario.h"

/// Where the run's private files live, inside the private /dev (fake_tool.sh
/// names it too).
inline constexpr const char* RUN_DIR = "/dev/.dormix-sim";
inline constexpr const char* DAEMON_PATH = "/usr/sbin/dormix";

struct sandbox {
  int fuse_fd = -1;    // /dev/fuse, opened before /dev was replaced
  int events_fd = -1;  // the fake tools' event pipe, read end
  int syslog_fd = -1;  // bound to /dev/log
};

/// Enters private user (when not root), mount and pid namespaces; children
/// forked afterwards live in the new pid namespace. Returns false with the
/// reason when the machine does not allow it.
bool enter_namespaces(std::string* reason);

/// Builds the file system for one run. Returns false with the reason.
bool build_sandbox(const scenario& s, const std::string& daemon_binary, sandbox* box,
                   std::string* reason);

/// Replaces a file of the run directory atomically (write, then rename).
bool replace_file(const std::string& name, const std::string& content);

/// Sets the behaviour of the fake tools.
bool set_lpm_behaviour(double seconds, int exit_code);
bool set_status_mode(const std::string& mode);
