// One run in progress: what the simulator has seen of the daemon so far and
// the world it controls (levels, wall clock). observe.h turns the router's
// reports into timeline events; actions.h carries out the scenario's actions.
#pragma once

#include <climits>
#include <map>
#include <string>

#include "simulator/fake_clock.h"
#include "simulator/gpio_file.h"
#include "simulator/record.h"
#include "simulator/runner.h"
#include "simulator/scenario.h"

struct run_state {
  const scenario& s;
  const run_options& options;
  run_record record;
  gpio_levels levels{};
  fake_clock clock;
  double start = 0;  // monotonic seconds at which the daemon was started
  pid_t init = -1;
  long launched_ns_pid = -1;
  long daemon_host_pid = -1;
  int last_read[SIM_INPUT_COUNT] = {INT_MIN, INT_MIN};
  std::map<long, double> lpm_started;  // pid -> start time
  std::map<long, double> zombie_first_seen;
  bool sampling = false;
  bool failed_setup = false;

  run_state(const scenario& scenario_to_run, const run_options& run_with)
      : s(scenario_to_run), options(run_with) {}

  /// Seconds since the daemon was started.
  double now() const;

  /// Prints one timeline line unless quiet.
  void show(const sim_event& event, const char* label, const std::string& text) const;

  /// Appends an event stamped now.
  sim_event& add(event_kind kind, const std::string& text, long number = 0, long pid = 0,
                 const std::string& detail = "");

  /// The daemon's pid in this namespace, -1 while unknown.
  long signal_target();
};

/// Seconds of the monotonic clock.
double monotonic_now();
