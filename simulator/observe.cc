// The router's reports (GPIO requests, tool runs, syslog, the init's lines,
// /proc samples) turned into events on the run's timeline.
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "simulator/check.h"
#include "simulator/launch.h"
#include "simulator/lines.h"
#include "simulator/proc_view.h"
#include "simulator/run_state.h"

namespace {

// A child counts as left unreaped once it has been a zombie this long: more
// than a cycle, with room for a slow, loaded or traced daemon.
constexpr double ZOMBIE_AGE = 2.0;

}  // namespace

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

void run_state::on_gpio(int input, long value, long pid) {
  if (input < 0) {
    const char* mode = (value & O_ACCMODE) == O_RDWR     ? "read-write"
                       : (value & O_ACCMODE) == O_WRONLY ? "write-only"
                                                         : "read-only";
    sim_event& event = add(event_kind::gpio_open, mode, value, pid);
    show(event, "gpio", std::string("/dev/gpio opened ") + mode);
    return;
  }
  sim_event& event = add(event_kind::gpio_read, "input " + std::to_string(input), input, pid);
  event.detail = std::to_string(value);
  if (options.verbose || last_read[input] != value) {
    last_read[input] = static_cast<int>(value);
    show(event, "gpio",
         "input " + std::to_string(input) +
             (value < 0 ? std::string(" read fails: ") + strerror(static_cast<int>(-value))
                        : " reads " + std::to_string(value)));
  }
}

void run_state::on_tool_line(const std::string& line) {
  std::vector<std::string> f = split_tabs(line);
  if (f.size() < 4) return;
  const long pid = atol(f[1].c_str());
  if (f[0] == "lpm" && f[2] == "start" && f.size() >= 5) {
    lpm_started[pid] = now();
    sim_event& event = add(event_kind::lpm_start, f[4], 0, pid, f[3]);
    show(event, "lpm", "/usr/sbin/lpm " + f[4] + (options.verbose ? "  [" + f[3] + "]" : ""));
  } else if (f[0] == "lpm" && f[2] == "end") {
    sim_event& event = add(event_kind::lpm_end, f[3], atol(f[3].c_str()), pid);
    char took[32] = "";
    if (lpm_started.count(pid) != 0)
      snprintf(took, sizeof took, " after %.1f s", event.t - lpm_started[pid]);
    show(event, "lpm", std::string("returned with exit status ") + f[3] + took);
  } else if (f[0] == "status" && f[2] == "start" && f.size() >= 5) {
    sim_event& event = add(event_kind::status_run, f[4], 0, pid, f[3]);
    if (options.verbose) show(event, "status", "/usr/bin/status " + f[4] + "  [" + f[3] + "]");
  }
}

void run_state::on_log(const std::string& datagram) {
  int priority = 0;
  long pid = -1;
  std::string ident;
  std::string message;
  if (!parse_syslog(datagram, &priority, &ident, &pid, &message)) {
    sim_event& event = add(event_kind::log, datagram, 0, -1, "unparsable");
    show(event, "syslog", "unparsable: " + datagram);
    return;
  }
  if (record.daemon_pid < 0 && ident == "dormix") record.daemon_pid = pid;
  if (daemon_host_pid < 0 && pid == record.daemon_pid) daemon_host_pid = host_pid_for(pid, init);
  sim_event& event =
      add(event_kind::log, message, priority, pid, ident + " " + std::to_string(priority));
  std::string text = message;
  if (options.verbose || ident != "dormix" || priority != 29) {
    text +=
        "  [" + ident + "[" + std::to_string(pid) + "], priority " + std::to_string(priority) + "]";
  }
  show(event, "syslog", text);
}

void run_state::on_report(const std::string& line) {
  if (line.rfind("launched ", 0) == 0) {
    launched_ns_pid = atol(line.c_str() + 9);
    // Without a wrapper the launched process is the daemon itself.
    if (options.wrapper.empty()) {
      record.daemon_pid = launched_ns_pid;
      daemon_host_pid = host_pid_for(launched_ns_pid, init);
    }
  } else if (line.rfind("exited ", 0) == 0) {
    const int status = atoi(line.c_str() + 7);
    record.daemon_exited = true;
    sim_event& event = add(event_kind::daemon_exit, wait_status_text(status), status);
    show(event, "exit", "daemon ended with " + wait_status_text(status));
  } else {
    sim_event& event = add(event_kind::note, line);
    show(event, "error", line);
    failed_setup = true;
  }
}

long run_state::signal_target() {
  if (daemon_host_pid > 0) return daemon_host_pid;
  if (launched_ns_pid > 0) return host_pid_for(launched_ns_pid, init);
  return -1;
}

void run_state::sample(bool as_probe) {
  long pid = daemon_host_pid;
  if (pid <= 0 || record.daemon_exited) return;
  const int descriptors = count_descriptors(pid);
  std::vector<long> zombies = zombie_children(pid);
  std::map<long, double> first_seen;
  int lingering = 0;
  for (long zombie : zombies) {
    const auto known = zombie_first_seen.find(zombie);
    first_seen[zombie] = known != zombie_first_seen.end() ? known->second : now();
    if (now() - first_seen[zombie] >= ZOMBIE_AGE) ++lingering;
  }
  zombie_first_seen = first_seen;
  record.samples.push_back(process_sample{now(), descriptors, lingering});
  if (as_probe) {
    const std::string listing = descriptor_listing(pid);
    sim_event& event = add(event_kind::probe, listing, descriptors);
    show(event, "probe",
         std::to_string(descriptors) + " descriptors (" + listing + "), " +
             std::to_string(zombies.size()) + " zombie children");
  }
}
