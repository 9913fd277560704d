#include "simulator/observe.h"

#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "simulator/check.h"
#include "simulator/launch.h"
#include "simulator/lines.h"
#include "simulator/proc_view.h"

namespace {

// A child counts as left unreaped once it has been a zombie this long: more
// than a cycle, with room for a slow, loaded or traced daemon.
constexpr double ZOMBIE_AGE = 2.0;

}  // namespace

void observe_gpio(run_state* r, int input, long value, long pid) {
  if (input < 0) {
    const char* mode = (value & O_ACCMODE) == O_RDWR     ? "read-write"
                       : (value & O_ACCMODE) == O_WRONLY ? "write-only"
                                                         : "read-only";
    sim_event& event = r->add(event_kind::gpio_open, mode, value, pid);
    r->show(event, "gpio", std::string("/dev/gpio opened ") + mode);
    return;
  }
  sim_event& event = r->add(event_kind::gpio_read, "input " + std::to_string(input), input, pid);
  event.detail = std::to_string(value);
  if (r->options.verbose || r->last_read[input] != value) {
    r->last_read[input] = static_cast<int>(value);
    r->show(event, "gpio",
            "input " + std::to_string(input) +
                (value < 0 ? std::string(" read fails: ") + strerror(static_cast<int>(-value))
                           : " reads " + std::to_string(value)));
  }
}

void observe_tool_line(run_state* r, const std::string& line) {
  std::vector<std::string> f = split_tabs(line);
  if (f.size() < 4) return;
  const long pid = atol(f[1].c_str());
  if (f[0] == "lpm" && f[2] == "start" && f.size() >= 5) {
    sim_event& event = r->add(event_kind::lpm_start, f[4], 0, pid, f[3]);
    r->lpm_started[pid] = event.t;
    r->show(event, "lpm", "/usr/sbin/lpm " + f[4] + (r->options.verbose ? "  [" + f[3] + "]" : ""));
  } else if (f[0] == "lpm" && f[2] == "end") {
    sim_event& event = r->add(event_kind::lpm_end, f[3], atol(f[3].c_str()), pid);
    char took[32] = "";
    if (r->lpm_started.count(pid) != 0)
      snprintf(took, sizeof took, " after %.1f s", event.t - r->lpm_started[pid]);
    r->show(event, "lpm", std::string("returned with exit status ") + f[3] + took);
  } else if (f[0] == "status" && f[2] == "start" && f.size() >= 5) {
    const bool failing = f.size() >= 6 && f[5] == "fail";
    sim_event& event = r->add(event_kind::status_run, f[4], failing ? 1 : 0, pid, f[3]);
    if (r->options.verbose)
      r->show(event, "status",
              "/usr/bin/status " + f[4] + "  [" + f[3] + "]" + (failing ? "  (fails)" : ""));
  }
}

void observe_log(run_state* r, const std::string& datagram) {
  int priority = 0;
  long pid = -1;
  std::string ident;
  std::string message;
  if (!parse_syslog(datagram, &priority, &ident, &pid, &message)) {
    sim_event& event = r->add(event_kind::log, datagram, 0, -1, "unparsable");
    r->show(event, "syslog", "unparsable: " + datagram);
    return;
  }
  if (r->record.daemon_pid < 0 && ident == "dormix") r->record.daemon_pid = pid;
  if (r->daemon_host_pid < 0 && pid == r->record.daemon_pid)
    r->daemon_host_pid = host_pid_for(pid, r->init);
  sim_event& event =
      r->add(event_kind::log, message, priority, pid, ident + " " + std::to_string(priority));
  std::string text = message;
  if (r->options.verbose || ident != "dormix" || priority != 29) {
    text +=
        "  [" + ident + "[" + std::to_string(pid) + "], priority " + std::to_string(priority) + "]";
  }
  r->show(event, "syslog", text);
}

void observe_report(run_state* r, const std::string& line) {
  if (line.rfind("launched ", 0) == 0) {
    r->launched_ns_pid = atol(line.c_str() + 9);
    // Without a wrapper the launched process is the daemon itself.
    if (r->options.wrapper.empty()) {
      r->record.daemon_pid = r->launched_ns_pid;
      r->daemon_host_pid = host_pid_for(r->launched_ns_pid, r->init);
    }
  } else if (line.rfind("exited ", 0) == 0) {
    const int status = atoi(line.c_str() + 7);
    r->record.daemon_exited = true;
    sim_event& event = r->add(event_kind::daemon_exit, wait_status_text(status), status);
    r->show(event, "exit", "daemon ended with " + wait_status_text(status));
  } else {
    sim_event& event = r->add(event_kind::note, line);
    r->show(event, "error", line);
    r->failed_setup = true;
  }
}

void sample_daemon(run_state* r, bool as_probe) {
  long pid = r->daemon_host_pid;
  if (pid <= 0 || r->record.daemon_exited) return;
  // Until its exec the daemon's process is a copy of the init, with all of
  // the simulator's descriptors: on a busy machine a sample can land there.
  if (runs_this_program(pid)) return;
  const int descriptors = count_descriptors(pid);
  std::vector<long> zombies = zombie_children(pid);
  std::map<long, double> first_seen;
  int lingering = 0;
  for (long zombie : zombies) {
    const auto known = r->zombie_first_seen.find(zombie);
    first_seen[zombie] = known != r->zombie_first_seen.end() ? known->second : r->now();
    if (r->now() - first_seen[zombie] >= ZOMBIE_AGE) ++lingering;
  }
  r->zombie_first_seen = first_seen;
  r->record.samples.push_back(process_sample{r->now(), descriptors, lingering});
  if (as_probe) {
    const std::string listing = descriptor_listing(pid);
    sim_event& event = r->add(event_kind::probe, listing, descriptors);
    r->show(event, "probe",
            std::to_string(descriptors) + " descriptors (" + listing + "), " +
                std::to_string(zombies.size()) + " zombie children");
  }
}
