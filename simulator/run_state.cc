#include "simulator/run_state.h"

#include <cstdio>
#include <ctime>

#include "simulator/proc_view.h"

double monotonic_now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double run_state::now() const { return monotonic_now() - start; }

void run_state::show(const sim_event& event, const char* label, const std::string& text) const {
  if (options.quiet) return;
  std::string wall = fake_clock_text(clock);
  printf("%8.2f  %-8s  %-7s %s\n", event.t, wall.c_str(), label, text.c_str());
  fflush(stdout);
}

sim_event& run_state::add(event_kind kind, const std::string& text, long number, long pid,
                          const std::string& detail) {
  record.events.push_back(sim_event{now(), kind, text, detail, number, pid});
  return record.events.back();
}

long run_state::signal_target() {
  if (daemon_host_pid > 0) return daemon_host_pid;
  if (launched_ns_pid > 0) return host_pid_for(launched_ns_pid, init);
  return -1;
}
