// The simulated router's file system: a private mount namespace in which
// /dev is a fresh tmpfs and read-only overlays put the fake tools, the
// daemon and the settings file at the router's paths.
#pragma once

#include <string>

#include "simulator/scenario.h"

/// Where the run's private files live, inside the private /dev.
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

/// The daemon's wall clock as the simulator set it.
struct fake_clock {
  bool active = false;
  bool frozen = false;
  double frozen_at = 0;  // seconds since the epoch
  double offset = 0;     // added to the real clock when running
  int speed = 0;         // libfaketime speed-up, 0 for none
  double origin = 0;     // real time at which a sped-up clock was set
};

/// Writes libfaketime's control file for a wall clock set now. For a running
/// clock the offset is taken against the real clock of this moment. The
/// local time is read in the time zone of this process (TZ). A model with a
/// speed makes the clock run that much faster from now on.
/// The moment a scenario's clock setting names, in the local time zone.
bool clock_setting_time(const clock_setting& clock, time_t* wanted, std::string* reason);
bool set_fake_clock(const clock_setting& clock, fake_clock* model, std::string* reason);

/// The daemon's local wall clock now, "HH:MM:SS", or "" without a fake clock.
std::string fake_clock_text(const fake_clock& model);

/// The control file's path, for FAKETIME_TIMESTAMP_FILE.
std::string fake_clock_path();

/// The preload library of libfaketime on this machine, or "".
std::string find_libfaketime();
