// One run in progress: what the simulator has seen of the daemon so far and
// the world it controls (levels, wall clock). observe.cc turns the router's
// reports into timeline events; actions.cc carries out the scenario's actions.
#pragma once

#include <climits>
#include <map>
#include <string>

#include "simulator/gpio_file.h"
#include "simulator/record.h"
#include "simulator/runner.h"
#include "simulator/sandbox.h"
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

  /// An open of /dev/gpio (input -1) or a level request.
  void on_gpio(int input, long value, long pid);
  /// A line of the fake tools' event pipe.
  void on_tool_line(const std::string& line);
  /// A datagram sent to /dev/log.
  void on_log(const std::string& datagram);
  /// A line from the namespace's init.
  void on_report(const std::string& line);

  /// The daemon's pid in this namespace, -1 while unknown.
  long signal_target();

  /// Records the daemon's descriptors and zombies; a probe also shows them.
  void sample(bool as_probe);

  /// Carries out one scenario action.
  void apply(const timed_action& action);
};

/// Seconds of the monotonic clock.
double monotonic_now();
