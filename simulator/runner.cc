// The run itself: the sandbox, the daemon's start, and the loop that serves
// /dev/gpio, collects the router's reports, carries out the scenario's
// actions on time and stops the daemon when the scenario's time is up.
#include "simulator/runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "simulator/gpio_file.h"
#include "simulator/guest_clock.h"
#include "simulator/launch.h"
#include "simulator/lines.h"
#include "simulator/run_state.h"
#include "simulator/sandbox.h"
#include "simulator/summary.h"

namespace {

constexpr double SAMPLE_PERIOD = 0.1;
constexpr double DRAIN_AFTER_EXIT = 0.3;
constexpr double STOP_GRACE = 5.0;

// The descriptors the loop reads: the init's report and the daemon's output.
struct run_pipes {
  int report[2] = {-1, -1};
  int output[2] = {-1, -1};
};

// Sets the levels and the wall clock the scenario starts with.
bool set_starting_world(run_state* r, std::string* reason) {
  const scenario& s = r->s;
  for (int n = 0; n < SIM_INPUT_COUNT; ++n) {
    r->levels.level[n] = s.levels[n];
    r->levels.error[n] = s.read_errors[n];
  }
  if (!s.needs_faketime) return true;
  r->clock.speed = s.clock_speed;
  if (s.has_clock) return set_scenario_clock(r->options.guest_clock, s.clock, &r->clock, reason);
  if (!replace_file("clock", s.clock_speed != 0 ? "+0 x" + std::to_string(s.clock_speed) + "\n"
                                                : std::string("+0\n"))) {
    *reason = "cannot write the clock";
    return false;
  }
  return true;
}

// Forks the namespace's init, which starts the daemon. Returns false with
// the reason.
bool start_daemon(run_state* r, run_pipes* pipes, std::string* reason) {
  const scenario& s = r->s;
  std::vector<std::string> command = r->options.wrapper;
  command.insert(command.end(), r->options.emulator.begin(), r->options.emulator.end());
  command.push_back(DAEMON_PATH);
  const std::vector<std::string> environment = daemon_environment(s, r->options);
  if (pipe2(pipes->report, O_CLOEXEC) != 0 || pipe2(pipes->output, O_CLOEXEC) != 0) {
    *reason = std::string("cannot create pipes: ") + strerror(errno);
    return false;
  }
  if (!r->options.quiet) {
    printf("=== %s%s%s\n", s.name.c_str(), s.title.empty() ? "" : ": ", s.title.c_str());
    printf("%8s  %-8s  %-7s %s\n", "seconds", s.needs_faketime ? "clock" : "", "event", "");
  }
  r->start = monotonic_now();
  r->init = fork();
  if (r->init == 0) run_init(command, environment, pipes->report[1], pipes->output[1]);
  close(pipes->report[1]);
  close(pipes->output[1]);
  if (r->init < 0) {
    *reason = std::string("cannot fork: ") + strerror(errno);
    return false;
  }
  sim_event& started = r->add(event_kind::daemon_start, join_words(command));
  r->show(started, "start",
          join_words(command) + (s.needs_faketime ? "  (TZ=" + s.timezone + ", faked wall clock)"
                                                  : "  (TZ=" + s.timezone + ")"));
  return true;
}

// Runs until the daemon has gone (and its last reports are in), the setup
// failed, or the daemon ignored the stop.
void run_loop(run_state* r, const sandbox& box, gpio_file* gpio, run_pipes* pipes) {
  const scenario& s = r->s;
  std::string tool_pending, report_pending, output_pending;
  size_t next_action = 0;
  double next_sample = 0;
  double stop_at = -1;    // when the scenario's time is up
  double finish_at = -1;  // when the run ends after the daemon has gone
  bool end_signal_sent = false;
  const int gpio_fd = gpio_file_descriptor(gpio);
  for (;;) {
    const double t = r->now();
    if (r->record.daemon_exited && finish_at < 0) finish_at = t + DRAIN_AFTER_EXIT;
    if (finish_at >= 0 && t >= finish_at) break;
    if (r->failed_setup && finish_at < 0) finish_at = t;
    while (!r->record.daemon_exited && next_action < s.actions.size() &&
           s.actions[next_action].at <= t) {
      r->apply(s.actions[next_action++]);
    }
    if (r->sampling && t >= next_sample) {
      r->sample(false);
      next_sample = t + SAMPLE_PERIOD;
    }
    if (!r->record.daemon_exited && t >= s.duration && !end_signal_sent) {
      end_signal_sent = true;
      stop_at = t + STOP_GRACE;
      const long target = r->signal_target();
      if (target > 0) kill(static_cast<pid_t>(target), SIGTERM);
      sim_event& event = r->add(event_kind::note, "end of the scenario: SIGTERM sent");
      r->show(event, "end", "scenario time is up; SIGTERM sent to the daemon");
    }
    if (stop_at >= 0 && t >= stop_at && !r->record.daemon_exited) {
      sim_event& event = r->add(event_kind::note, "the daemon did not stop; killed");
      r->show(event, "end", "the daemon did not stop within 5 s; everything is killed");
      r->failed_setup = true;
      break;
    }

    double wake = t + 1.0;
    if (next_action < s.actions.size()) wake = std::min(wake, s.actions[next_action].at);
    if (r->sampling) wake = std::min(wake, next_sample);
    if (!end_signal_sent) wake = std::min(wake, s.duration);
    if (stop_at >= 0) wake = std::min(wake, stop_at);
    if (finish_at >= 0) wake = std::min(wake, finish_at);
    int timeout_ms = static_cast<int>(std::ceil(std::max(0.0, wake - t) * 1000.0));

    pollfd watched[5] = {{gpio_fd, POLLIN, 0},
                         {box.syslog_fd, POLLIN, 0},
                         {box.events_fd, POLLIN, 0},
                         {pipes->report[0], POLLIN, 0},
                         {pipes->output[0], POLLIN, 0}};
    int ready = poll(watched, 5, timeout_ms);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if (watched[0].revents & POLLIN) gpio_file_serve(gpio);
    if (watched[1].revents & POLLIN) {
      char datagram[4096];
      ssize_t got = 0;
      while ((got = recv(box.syslog_fd, datagram, sizeof datagram, 0)) > 0) {
        r->on_log(std::string(datagram, static_cast<size_t>(got)));
      }
    }
    if (watched[2].revents & POLLIN) {
      drain_lines(box.events_fd, &tool_pending,
                  [r](const std::string& line) { r->on_tool_line(line); });
    }
    if (watched[3].revents & (POLLIN | POLLHUP)) {
      char buffer[512];
      ssize_t got = read(pipes->report[0], buffer, sizeof buffer);
      if (got > 0) {
        report_pending.append(buffer, static_cast<size_t>(got));
        split_lines(&report_pending, [r](const std::string& line) { r->on_report(line); });
      } else {
        pipes->report[0] = -1;
        if (!r->record.daemon_exited) r->failed_setup = true;
      }
    }
    if (watched[4].revents & (POLLIN | POLLHUP)) {
      char buffer[4096];
      ssize_t got = read(pipes->output[0], buffer, sizeof buffer);
      if (got > 0) {
        output_pending.append(buffer, static_cast<size_t>(got));
        split_lines(&output_pending, [r](const std::string& line) {
          sim_event& event = r->add(event_kind::output, line);
          r->show(event, "output", event.text);
        });
      } else if (got == 0) {
        close(pipes->output[0]);
        pipes->output[0] = -1;
      }
    }
  }
}

}  // namespace

int run_scenario(const scenario& s, const run_options& options) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  setenv("TZ", s.timezone.c_str(), 1);
  tzset();
  std::string reason;
  if (options.guest_clock && s.needs_faketime && !start_clock_holder(&reason)) {
    fprintf(stderr, "%s: %s\n", s.name.c_str(), reason.c_str());
    return RUN_FAILED;
  }
  sandbox box;
  if (!enter_namespaces(&reason) || !build_sandbox(s, options.daemon_binary, &box, &reason)) {
    fprintf(stderr, "%s: skipped: %s\n", s.name.c_str(), reason.c_str());
    return RUN_UNAVAILABLE;
  }
  run_state r(s, options);
  gpio_file* gpio = gpio_file_mount(
      box.fuse_fd, "/dev/gpio", &r.levels,
      [&r](int input, long value, long pid) { r.on_gpio(input, value, pid); }, &reason);
  if (gpio == nullptr) {
    fprintf(stderr, "%s: skipped: %s\n", s.name.c_str(), reason.c_str());
    return RUN_UNAVAILABLE;
  }
  if (!set_starting_world(&r, &reason)) {
    fprintf(stderr, "%s: %s\n", s.name.c_str(), reason.c_str());
    return RUN_FAILED;
  }
  for (const expectation& e : s.expectations) {
    if (e.what == expect_what::fds_at_most || e.what == expect_what::no_zombies) r.sampling = true;
  }
  run_pipes pipes;
  if (!start_daemon(&r, &pipes, &reason)) {
    fprintf(stderr, "%s: %s\n", s.name.c_str(), reason.c_str());
    return RUN_FAILED;
  }
  run_loop(&r, box, gpio, &pipes);
  r.record.end = r.now();
  kill(r.init, SIGKILL);
  waitpid(r.init, nullptr, 0);
  return report_verdicts(s, r.record, r.failed_setup, options.quiet, options.results_fd) ? RUN_PASSED : RUN_FAILED;
}
