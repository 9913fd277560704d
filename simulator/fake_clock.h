// The daemon's wall clock faked by libfaketime: the control file the
// simulator writes, and the clock the timeline shows.
#pragma once

#include <string>

#include "simulator/scenario.h"

/// The daemon's wall clock as the simulator set it.
struct fake_clock {
  bool active = false;
  bool frozen = false;
  double frozen_at = 0;  // seconds since the epoch
  double offset = 0;     // added to the real clock when running
  int speed = 0;         // libfaketime speed-up, 0 for none
  double origin = 0;     // real time at which a sped-up clock was set
};

/// Writes libfaketime's control file for a clock that runs on from the real
/// one, speed times as fast (0: real speed), until a clock is set.
bool start_fake_clock(int speed);

/// Writes libfaketime's control file for a wall clock set now. For a running
/// clock the offset is taken against the real clock of this moment. The
/// local time is read in the time zone of this process (TZ). A model with a
/// speed makes the clock run that much faster from now on.
bool set_fake_clock(const clock_setting& clock, fake_clock* model, std::string* reason);

/// The daemon's local wall clock now, "HH:MM:SS", or "" without a fake clock.
std::string fake_clock_text(const fake_clock& model);

/// The control file's path, for FAKETIME_TIMESTAMP_FILE.
std::string fake_clock_path();

/// The preload library of libfaketime on this machine, or "".
std::string find_libfaketime();
