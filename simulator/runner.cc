// The run itself: the sandbox, the daemon's start, and the loop that serves
// /dev/gpio, collects the router's reports, carries out the scenario's
// actions on time and stops the daemon when the scenario's time is up.
#include "simulator/runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
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

#include "simulator/actions.h"
#include "simulator/gpio_file.h"
#include "simulator/guest_clock.h"
#include "simulator/launch.h"
#include "simulator/lines.h"
#include "simulator/observe.h"
#include "simulator/run_state.h"
#include "simulator/sandbox.h"
#include "simulator/summary.h"

namespace {

constexpr double SAMPLE_PERIOD = 0.1;
constexpr double DRAIN_AFTER_EXIT = 0.3;
constexpr double STOP_GRACE = 5.0;
constexpr int PIDFD_MISSING_CHECK_MS = 50;

// The descriptors the loop reads: the init's report and the daemon's output.
struct run_pipes {
  int report[2] = {-1, -1};
  int output[2] = {-1, -1};
};

// Sets the levels the scenario starts with, and a faked wall clock that
// runs on from the real one; a clock of the scenario's own is set with the
// daemon's start.
bool set_starting_world(run_state* r, std::string* reason) {
  const scenario& s = r->s;
  for (int n = 0; n < SIM_INPUT_COUNT; ++n) {
    r->levels.level[n] = s.levels[n];
    r->levels.error[n] = s.read_errors[n];
  }
  if (!s.needs_faketime) return true;
  r->clock.speed = s.clock_speed;
  if (s.has_clock) return true;
  if (!start_fake_clock(s.clock_speed)) {
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
  if (s.needs_faketime && s.has_clock && !set_starting_clock(r, reason)) return false;
  r->init = fork();
  if (r->init == 0) run_init(s, command, environment, pipes->report[1], pipes->output[1]);
  close(pipes->report[1]);
  close(pipes->output[1]);
  if (r->init < 0) {
    *reason = std::string("cannot fork: ") + strerror(errno);
    return false;
  }
  sim_event& started = r->add(event_kind::daemon_start, join_words(command));
  const std::string zone =
      scenario_sets_tz(s) ? "TZ=" + s.timezone : "TZ unset, /etc/TZ " + s.etc_tz;
  r->show(started, "start",
          join_words(command) +
              (s.needs_faketime ? "  (" + zone + ", faked wall clock)" : "  (" + zone + ")"));
  return true;
}

// Where the loop stands: what is due next and what the readers keep.
struct loop_state {
  size_t next_action = 0;
  double next_sample = 0;
  double stop_at = -1;    // when the daemon must have gone after the SIGTERM
  double finish_at = -1;  // when the run ends after the daemon has gone
  bool end_signal_sent = false;
  std::string tool_pending, report_pending, output_pending;
};

// Carries out the actions that are due, samples the daemon when due, and
// sends SIGTERM when the scenario's time is up.
void do_due_work(run_state* r, loop_state* loop, double t) {
  const scenario& s = r->s;
  while (!r->record.daemon_exited && loop->next_action < s.actions.size() &&
         s.actions[loop->next_action].at <= t) {
    apply_action(r, s.actions[loop->next_action++]);
  }
  if (r->sampling && t >= loop->next_sample) {
    sample_daemon(r, false);
    loop->next_sample = t + SAMPLE_PERIOD;
  }
  if (!r->record.daemon_exited && t >= s.duration && !loop->end_signal_sent) {
    loop->end_signal_sent = true;
    loop->stop_at = t + STOP_GRACE;
    const long target = r->signal_target();
    if (target > 0) kill(static_cast<pid_t>(target), SIGTERM);
    sim_event& event = r->add(event_kind::note, "end of the scenario: SIGTERM sent");
    r->show(event, "end", "scenario time is up; SIGTERM sent to the daemon");
  }
}

// Milliseconds until the next thing is due, at most a second.
int wait_ms(const run_state& r, const loop_state& loop, double t) {
  const scenario& s = r.s;
  double wake = t + 1.0;
  if (loop.next_action < s.actions.size()) wake = std::min(wake, s.actions[loop.next_action].at);
  if (r.sampling) wake = std::min(wake, loop.next_sample);
  if (!loop.end_signal_sent) wake = std::min(wake, s.duration);
  if (loop.stop_at >= 0) wake = std::min(wake, loop.stop_at);
  if (loop.finish_at >= 0) wake = std::min(wake, loop.finish_at);
  return static_cast<int>(std::ceil(std::max(0.0, wake - t) * 1000.0));
}

void read_syslog(run_state* r, int syslog_fd) {
  char datagram[4096];
  ssize_t got = 0;
  while ((got = recv(syslog_fd, datagram, sizeof datagram, 0)) > 0) {
    observe_log(r, std::string(datagram, static_cast<size_t>(got)));
  }
}

// The init's report lines; their end before the daemon's means the init failed.
void read_reports(run_state* r, loop_state* loop, int* report_fd) {
  char buffer[512];
  ssize_t got = read(*report_fd, buffer, sizeof buffer);
  if (got > 0) {
    loop->report_pending.append(buffer, static_cast<size_t>(got));
    split_lines(&loop->report_pending, [r](const std::string& line) { observe_report(r, line); });
  } else {
    *report_fd = -1;
    if (!r->record.daemon_exited) r->failed_setup = true;
  }
}

// What the daemon prints on stdout and stderr.
void read_output(run_state* r, loop_state* loop, int* output_fd) {
  char buffer[4096];
  ssize_t got = read(*output_fd, buffer, sizeof buffer);
  if (got > 0) {
    loop->output_pending.append(buffer, static_cast<size_t>(got));
    split_lines(&loop->output_pending, [r](const std::string& line) {
      sim_event& event = r->add(event_kind::output, line);
      r->show(event, "output", event.text);
    });
  } else if (got == 0) {
    close(*output_fd);
    *output_fd = -1;
  }
}

// Waits for the router's reports until the next thing is due, and reads
// them. Returns false when polling fails.
bool serve_reports(run_state* r, loop_state* loop, const sandbox& box, gpio_file* gpio,
                   run_pipes* pipes, int timeout_ms) {
  pollfd watched[5] = {{gpio_file_descriptor(gpio), POLLIN, 0},
                       {box.syslog_fd, POLLIN, 0},
                       {box.events_fd, POLLIN, 0},
                       {pipes->report[0], POLLIN, 0},
                       {pipes->output[0], POLLIN, 0}};
  int ready = poll(watched, 5, timeout_ms);
  if (ready < 0 && errno != EINTR) return false;
  if (ready <= 0) return true;
  // A request is answered last: what the daemon and its tools reported
  // before making it is recorded before it, in the order it happened.
  if (watched[1].revents & POLLIN) read_syslog(r, box.syslog_fd);
  if (watched[2].revents & POLLIN) {
    drain_lines(box.events_fd, &loop->tool_pending,
                [r](const std::string& line) { observe_tool_line(r, line); });
  }
  if (watched[3].revents & (POLLIN | POLLHUP)) read_reports(r, loop, &pipes->report[0]);
  if (watched[4].revents & (POLLIN | POLLHUP)) read_output(r, loop, &pipes->output[0]);
  if (watched[0].revents & POLLIN) gpio_file_serve(gpio);
  return true;
}

// Runs until the daemon has gone (and its last reports are in), the setup
// failed, or the daemon ignored the stop.
void run_loop(run_state* r, const sandbox& box, gpio_file* gpio, run_pipes* pipes) {
  loop_state loop;
  for (;;) {
    const double t = r->now();
    if (r->record.daemon_exited && loop.finish_at < 0) loop.finish_at = t + DRAIN_AFTER_EXIT;
    if (loop.finish_at >= 0 && t >= loop.finish_at) break;
    if (r->failed_setup && loop.finish_at < 0) loop.finish_at = t;
    do_due_work(r, &loop, t);
    if (loop.stop_at >= 0 && t >= loop.stop_at && !r->record.daemon_exited) {
      sim_event& event = r->add(event_kind::note, "the daemon did not stop; killed");
      r->show(event, "end", "the daemon did not stop within 5 s; everything is killed");
      r->failed_setup = true;
      break;
    }
    if (!serve_reports(r, &loop, box, gpio, pipes, wait_ms(*r, loop, t))) break;
  }
}

// Ends the namespace: its init is killed, and the kernel kills everything
// else in it and waits until all of it has gone before the init can be
// reaped. A process that still has /dev/gpio open cannot finish dying until
// the flush of its close is answered, so the file is served until then.
void end_namespace(pid_t init, gpio_file* gpio) {
  kill(init, SIGKILL);
  const int init_fd = static_cast<int>(syscall(SYS_pidfd_open, init, 0));
  int gpio_fd = gpio_file_descriptor(gpio);
  for (;;) {
    const pid_t ended = waitpid(init, nullptr, WNOHANG);
    if (ended == init || (ended < 0 && errno != EINTR)) break;
    pollfd watched[2] = {{gpio_fd, POLLIN, 0}, {init_fd, POLLIN, 0}};
    // Without pidfds (before Linux 5.3) the wait is checked between requests.
    const int ready = poll(watched, 2, init_fd >= 0 ? -1 : PIDFD_MISSING_CHECK_MS);
    if (ready <= 0) continue;
    if (watched[0].revents & POLLIN) {
      gpio_file_serve(gpio);
    } else if (watched[0].revents != 0) {
      gpio_fd = -1;  // the connection has gone: nothing more can wait on it
    }
  }
  if (init_fd >= 0) close(init_fd);
}

}  // namespace

int run_scenario(const scenario& s, const run_options& options) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  setenv("TZ", scenario_zone(s).c_str(), 1);
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
      [&r](int input, long value, long pid) { observe_gpio(&r, input, value, pid); }, &reason);
  if (gpio == nullptr) {
    fprintf(stderr, "%s: skipped: %s\n", s.name.c_str(), reason.c_str());
    return RUN_UNAVAILABLE;
  }
  if (!set_starting_world(&r, &reason)) {
    fprintf(stderr, "%s: %s\n", s.name.c_str(), reason.c_str());
    return RUN_FAILED;
  }
  for (const expectation& e : s.expectations) {
    if (e.match.what == expect_what::fds_at_most || e.match.what == expect_what::no_zombies)
      r.sampling = true;
  }
  run_pipes pipes;
  if (!start_daemon(&r, &pipes, &reason)) {
    fprintf(stderr, "%s: %s\n", s.name.c_str(), reason.c_str());
    return RUN_FAILED;
  }
  run_loop(&r, box, gpio, &pipes);
  r.record.end = r.now();
  end_namespace(r.init, gpio);
  return report_verdicts(s, r.record, r.failed_setup, options.quiet, options.results_fd)
             ? RUN_PASSED
             : RUN_FAILED;
}
