// One run of the daemon on the simulated router, from a prepared scenario.
#pragma once

#include <string>
#include <vector>

#include "simulator/scenario.h"

struct run_options {
  std::string daemon_binary;          // copied to /usr/sbin/dormix for the run
  std::vector<std::string> emulator;  // put before the daemon's path
  std::vector<std::string> wrapper;   // put before the emulator
  std::string libfaketime;            // preload library, "" when missing
  bool guest_clock = false;           // set the test guest's own wall clock
  int results_fd = -1;                // --results: fixed-format result lines go here
  bool quiet = false;
  bool verbose = false;
};

/// Exit status of a run.
inline constexpr int RUN_PASSED = 0;
inline constexpr int RUN_FAILED = 1;
inline constexpr int RUN_UNAVAILABLE = 77;

/// Runs the scenario in this process, which must be a fresh child: it enters
/// new namespaces and never returns to a usable state. Prints the timeline
/// and the verdicts; returns one of the RUN_ codes.
int run_scenario(const scenario& s, const run_options& options);
