#include "simulator/runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>

#include "simulator/check.h"
#include "simulator/gpio_file.h"
#include "simulator/guest_clock.h"
#include "simulator/record.h"
#include "simulator/sandbox.h"

extern char** environ;

namespace {

constexpr double SAMPLE_PERIOD = 0.1;
constexpr double DRAIN_AFTER_EXIT = 0.3;
constexpr double STOP_GRACE = 5.0;
// A child counts as left unreaped once it has been a zombie this long: more
// than a cycle, with room for a slow, loaded or traced daemon.
constexpr double ZOMBIE_AGE = 2.0;

double monotonic_now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(
        line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::string join(const std::vector<std::string>& words, size_t from = 0) {
  std::string text;
  for (size_t i = from; i < words.size(); ++i) text += (text.empty() ? "" : " ") + words[i];
  return text;
}

std::string wait_status_text(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("killed by ") + strsignal(WTERMSIG(status));
  return "wait status " + std::to_string(status);
}

std::string read_text(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  char buffer[4096];
  ssize_t got = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
}

std::string link_text(const std::string& path) {
  char buffer[256];
  ssize_t got = readlink(path.c_str(), buffer, sizeof buffer - 1);
  return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
}

// The pid, in this process's namespace, of the process that is ns_pid in
// the namespace of init_pid.
long host_pid_for(long ns_pid, long init_pid) {
  const std::string wanted_ns = link_text("/proc/" + std::to_string(init_pid) + "/ns/pid");
  if (wanted_ns.empty()) return -1;
  if (ns_pid == 1) return init_pid;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return -1;
  long found = -1;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    const std::string base = std::string("/proc/") + entry->d_name;
    if (link_text(base + "/ns/pid") != wanted_ns) continue;
    const std::string status = read_text(base + "/status");
    size_t line = status.find("NSpid:");
    if (line == std::string::npos) continue;
    size_t line_end = status.find('\n', line);
    std::string ids = status.substr(line + 6, line_end - line - 6);
    size_t last = ids.find_last_of(" \t");
    if (last != std::string::npos && atol(ids.c_str() + last + 1) == ns_pid) {
      found = pid;
      break;
    }
  }
  closedir(proc);
  return found;
}

int count_descriptors(long pid) {
  DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (fds == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(fds)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(fds);
  return count;
}

// Children of parent that are zombies now.
std::vector<long> zombie_children(long parent) {
  std::vector<long> zombies;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return zombies;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    const std::string stat = read_text(std::string("/proc/") + entry->d_name + "/stat");
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos || paren + 4 > stat.size()) continue;
    char state = stat[paren + 2];
    long ppid = atol(stat.c_str() + paren + 4);
    if (ppid == parent && state == 'Z') zombies.push_back(pid);
  }
  closedir(proc);
  return zombies;
}

std::vector<std::string> daemon_environment(const scenario& s, const run_options& options) {
  std::vector<std::string> environment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "TZ=" + s.timezone};
  if (s.needs_faketime && !options.guest_clock) {
    environment.push_back("LD_PRELOAD=" + options.libfaketime);
    environment.push_back("FAKETIME_TIMESTAMP_FILE=" + fake_clock_path());
    environment.push_back("FAKETIME_NO_CACHE=1");
    // Sped up, the monotonic clock must run at the wall clock's pace.
    if (s.clock_speed == 0) environment.push_back("FAKETIME_DONT_FAKE_MONOTONIC=1");
  }
  // An emulator's and a sanitizer build's settings reach the daemon.
  for (char** variable = environ; *variable != nullptr; ++variable) {
    for (const char* prefix : {"QEMU_", "ASAN_OPTIONS=", "UBSAN_OPTIONS=", "LSAN_OPTIONS="}) {
      if (strncmp(*variable, prefix, strlen(prefix)) == 0) environment.push_back(*variable);
    }
  }
  return environment;
}

void write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    done += static_cast<size_t>(wrote);
  }
}

// pid 1 of the run's pid namespace: mounts that namespace's /proc, starts the
// daemon's command line, reports its pid and exit, and reaps orphans.
[[noreturn]] void run_init(const std::vector<std::string>& command,
                           const std::vector<std::string>& environment, int report_fd,
                           int output_fd) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (unshare(CLONE_NEWNS) != 0 ||
      mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
    write_all(report_fd, std::string("error cannot mount /proc: ") + strerror(errno) + "\n");
    _exit(1);
  }
  pid_t daemon = fork();
  if (daemon == 0) {
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(output_fd, 1);
    dup2(output_fd, 2);
    syscall(SYS_close_range, 3U, ~0U, 0U);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal_number = 1; signal_number < NSIG; ++signal_number)
      signal(signal_number, SIG_DFL);
    if (chdir("/") != 0) _exit(127);
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& variable : environment)
      envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);
    execvpe(argv[0], argv.data(), envp.data());
    dprintf(2, "cannot start %s: %s\n", argv[0], strerror(errno));
    _exit(127);
  }
  close(output_fd);
  if (daemon < 0) {
    write_all(report_fd, std::string("error cannot fork: ") + strerror(errno) + "\n");
    _exit(1);
  }
  write_all(report_fd, "launched " + std::to_string(daemon) + "\n");
  for (;;) {
    int status = 0;
    pid_t ended = wait(&status);
    if (ended == daemon) write_all(report_fd, "exited " + std::to_string(status) + "\n");
    if (ended < 0 && errno == ECHILD) pause();
  }
}

struct runner {
  const scenario& s;
  const run_options& options;
  run_record record;
  gpio_levels levels{};
  fake_clock clock;
  double start = 0;
  pid_t init = -1;
  long launched_ns_pid = -1;
  long daemon_host_pid = -1;
  int last_read[SIM_INPUT_COUNT] = {INT_MIN, INT_MIN};
  std::map<long, double> lpm_started;  // pid -> start time
  std::map<long, double> zombie_first_seen;
  bool sampling = false;
  bool failed_setup = false;

  runner(const scenario& scenario_to_run, const run_options& run_with)
      : s(scenario_to_run), options(run_with) {}

  double now() const { return monotonic_now() - start; }

  void show(const sim_event& event, const char* label, const std::string& text) {
    if (options.quiet) return;
    std::string wall = fake_clock_text(clock);
    printf("%8.2f  %-8s  %-7s %s\n", event.t, wall.c_str(), label, text.c_str());
    fflush(stdout);
  }

  sim_event& add(event_kind kind, const std::string& text, long number = 0, long pid = 0,
                 const std::string& detail = "") {
    record.events.push_back(sim_event{now(), kind, text, detail, number, pid});
    return record.events.back();
  }

  void on_gpio(int input, long value, long pid) {
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

  void on_tool_line(const std::string& line) {
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

  void on_log(const std::string& datagram) {
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
      text += "  [" + ident + "[" + std::to_string(pid) + "], priority " +
              std::to_string(priority) + "]";
    }
    show(event, "syslog", text);
  }

  void on_report(const std::string& line) {
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

  long signal_target() {
    if (daemon_host_pid > 0) return daemon_host_pid;
    if (launched_ns_pid > 0) return host_pid_for(launched_ns_pid, init);
    return -1;
  }

  void sample(bool as_probe) {
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
      std::string listing;
      DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
      while (dirent* entry = fds != nullptr ? readdir(fds) : nullptr) {
        if (entry->d_name[0] == '.') continue;
        std::string target = link_text("/proc/" + std::to_string(pid) + "/fd/" + entry->d_name);
        listing += std::string(listing.empty() ? "" : ", ") + entry->d_name + "=" + target;
      }
      if (fds != nullptr) closedir(fds);
      sim_event& event = add(event_kind::probe, listing, descriptors);
      show(event, "probe",
           std::to_string(descriptors) + " descriptors (" + listing + "), " +
               std::to_string(zombies.size()) + " zombie children");
    }
  }

  void apply(const timed_action& action) {
    const std::vector<std::string>& w = action.words;
    const std::string verb = w[0];
    std::string text = join(w);
    if (verb == "input") {
      const int input = atoi(w[1].c_str());
      if (w[2] == "fail") {
        levels.error[input] = errno_from_name(w[3]);
        text = "input " + w[1] + ": the driver fails with " + w[3];
      } else {
        levels.error[input] = 0;
        levels.level[input] = atoi(w[2].c_str());
        text = "input " + w[1] + " goes to level " + w[2];
      }
    } else if (verb == "clock") {
      std::string reason;
      clock_setting setting{w[1] + " " + w[2], w.size() == 4};
      if (set_scenario_clock(options.guest_clock, setting, &clock, &reason)) {
        text = "wall clock set to " + setting.local_time + (setting.frozen ? " (frozen)" : "");
      } else {
        failed_setup = true;
        text = "wall clock not set to " + setting.local_time + ": " + reason;
      }
    } else if (verb == "signal") {
      const int number = signal_from_name(w[1]);
      const long target = signal_target();
      text = std::string("SIG") + sigabbrev_np(number) + " sent to the daemon";
      if (target <= 0 || kill(static_cast<pid_t>(target), number) != 0)
        text += " (failed: no daemon)";
    } else if (verb == "status") {
      set_status_mode(w[1]);
      text = w[1] == "ok"     ? "status tool answers normally"
             : w[1] == "fail" ? "status tool fails from now on"
                              : "status tool prints more than 64 KiB from now on";
    } else if (verb == "lpm") {
      set_lpm_behaviour(atof(w[2].c_str()), w.size() == 5 ? atoi(w[4].c_str()) : 0);
      text = "lpm now blocks " + w[2] + " s" + (w.size() == 5 ? " and exits with " + w[4] : "");
    } else if (verb == "probe") {
      sample(true);
      return;
    }
    sim_event& event = add(event_kind::action, text);
    show(event, "scenario", text);
  }
};

// Hands every complete line of pending to handle and keeps the rest.
void split_lines(std::string* pending, const std::function<void(const std::string&)>& handle) {
  size_t newline = 0;
  while ((newline = pending->find('\n')) != std::string::npos) {
    handle(pending->substr(0, newline));
    pending->erase(0, newline + 1);
  }
}

// Reads what a non-blocking descriptor holds and handles its complete lines.
void drain_lines(int fd, std::string* pending,
                 const std::function<void(const std::string&)>& handle) {
  char buffer[8192];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    pending->append(buffer, static_cast<size_t>(got));
    if (got < static_cast<ssize_t>(sizeof buffer)) break;
  }
  split_lines(pending, handle);
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
  runner r(s, options);
  for (int n = 0; n < SIM_INPUT_COUNT; ++n) {
    r.levels.level[n] = s.levels[n];
    r.levels.error[n] = s.read_errors[n];
  }
  gpio_file* gpio = gpio_file_mount(
      box.fuse_fd, "/dev/gpio", &r.levels,
      [&r](int input, long value, long pid) { r.on_gpio(input, value, pid); }, &reason);
  if (gpio == nullptr) {
    fprintf(stderr, "%s: skipped: %s\n", s.name.c_str(), reason.c_str());
    return RUN_UNAVAILABLE;
  }
  if (s.needs_faketime) {
    r.clock.speed = s.clock_speed;
    if (s.has_clock) {
      if (!set_scenario_clock(options.guest_clock, s.clock, &r.clock, &reason)) {
        fprintf(stderr, "%s: %s\n", s.name.c_str(), reason.c_str());
        return RUN_FAILED;
      }
    } else if (!replace_file("clock", s.clock_speed != 0
                                          ? "+0 x" + std::to_string(s.clock_speed) + "\n"
                                          : std::string("+0\n"))) {
      fprintf(stderr, "%s: cannot write the clock\n", s.name.c_str());
      return RUN_FAILED;
    }
  }
  for (const expectation& e : s.expectations) {
    if (e.what == expect_what::fds_at_most || e.what == expect_what::no_zombies) r.sampling = true;
  }

  std::vector<std::string> command = options.wrapper;
  command.insert(command.end(), options.emulator.begin(), options.emulator.end());
  command.push_back(DAEMON_PATH);
  const std::vector<std::string> environment = daemon_environment(s, options);

  int report[2];
  int output[2];
  if (pipe2(report, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
    fprintf(stderr, "%s: cannot create pipes: %s\n", s.name.c_str(), strerror(errno));
    return RUN_FAILED;
  }
  if (!options.quiet) {
    printf("=== %s%s%s\n", s.name.c_str(), s.title.empty() ? "" : ": ", s.title.c_str());
    printf("%8s  %-8s  %-7s %s\n", "seconds", s.needs_faketime ? "clock" : "", "event", "");
  }
  r.start = monotonic_now();
  r.init = fork();
  if (r.init == 0) run_init(command, environment, report[1], output[1]);
  close(report[1]);
  close(output[1]);
  if (r.init < 0) {
    fprintf(stderr, "%s: cannot fork: %s\n", s.name.c_str(), strerror(errno));
    return RUN_FAILED;
  }
  sim_event& started = r.add(event_kind::daemon_start, join(command));
  r.show(started, "start",
         join(command) + (s.needs_faketime ? "  (TZ=" + s.timezone + ", faked wall clock)"
                                           : "  (TZ=" + s.timezone + ")"));

  std::string tool_pending, report_pending, output_pending;
  size_t next_action = 0;
  double next_sample = 0;
  double stop_at = -1;    // when the scenario's time is up
  double finish_at = -1;  // when the run ends after the daemon has gone
  bool end_signal_sent = false;
  const int gpio_fd = gpio_file_descriptor(gpio);
  for (;;) {
    const double t = r.now();
    if (r.record.daemon_exited && finish_at < 0) finish_at = t + DRAIN_AFTER_EXIT;
    if (finish_at >= 0 && t >= finish_at) break;
    if (r.failed_setup && finish_at < 0) finish_at = t;
    while (!r.record.daemon_exited && next_action < s.actions.size() &&
           s.actions[next_action].at <= t) {
      r.apply(s.actions[next_action++]);
    }
    if (r.sampling && t >= next_sample) {
      r.sample(false);
      next_sample = t + SAMPLE_PERIOD;
    }
    if (!r.record.daemon_exited && t >= s.duration && !end_signal_sent) {
      end_signal_sent = true;
      stop_at = t + STOP_GRACE;
      const long target = r.signal_target();
      if (target > 0) kill(static_cast<pid_t>(target), SIGTERM);
      sim_event& event = r.add(event_kind::note, "end of the scenario: SIGTERM sent");
      r.show(event, "end", "scenario time is up; SIGTERM sent to the daemon");
    }
    if (stop_at >= 0 && t >= stop_at && !r.record.daemon_exited) {
      sim_event& event = r.add(event_kind::note, "the daemon did not stop; killed");
      r.show(event, "end", "the daemon did not stop within 5 s; everything is killed");
      r.failed_setup = true;
      break;
    }

    double wake = t + 1.0;
    if (next_action < s.actions.size()) wake = std::min(wake, s.actions[next_action].at);
    if (r.sampling) wake = std::min(wake, next_sample);
    if (!end_signal_sent) wake = std::min(wake, s.duration);
    if (stop_at >= 0) wake = std::min(wake, stop_at);
    if (finish_at >= 0) wake = std::min(wake, finish_at);
    int timeout_ms = static_cast<int>(std::ceil(std::max(0.0, wake - t) * 1000.0));

    pollfd watched[5] = {{gpio_fd, POLLIN, 0},
                         {box.syslog_fd, POLLIN, 0},
                         {box.events_fd, POLLIN, 0},
                         {report[0], POLLIN, 0},
                         {output[0], POLLIN, 0}};
    int ready = poll(watched, 5, timeout_ms);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if (watched[0].revents & POLLIN) gpio_file_serve(gpio);
    if (watched[1].revents & POLLIN) {
      char datagram[4096];
      ssize_t got = 0;
      while ((got = recv(box.syslog_fd, datagram, sizeof datagram, 0)) > 0) {
        r.on_log(std::string(datagram, static_cast<size_t>(got)));
      }
    }
    if (watched[2].revents & POLLIN) {
      drain_lines(box.events_fd, &tool_pending,
                  [&r](const std::string& line) { r.on_tool_line(line); });
    }
    if (watched[3].revents & (POLLIN | POLLHUP)) {
      char buffer[512];
      ssize_t got = read(report[0], buffer, sizeof buffer);
      if (got > 0) {
        report_pending.append(buffer, static_cast<size_t>(got));
        split_lines(&report_pending, [&r](const std::string& line) { r.on_report(line); });
      } else {
        watched[3].fd = -1;
        report[0] = -1;
        if (!r.record.daemon_exited) r.failed_setup = true;
      }
    }
    if (watched[4].revents & (POLLIN | POLLHUP)) {
      char buffer[4096];
      ssize_t got = read(output[0], buffer, sizeof buffer);
      if (got > 0) {
        output_pending.append(buffer, static_cast<size_t>(got));
        split_lines(&output_pending, [&r](const std::string& line) {
          sim_event& event = r.add(event_kind::output, line);
          r.show(event, "output", event.text);
        });
      } else if (got == 0) {
        close(output[0]);
        output[0] = -1;
      }
    }
  }
  r.record.end = r.now();
  kill(r.init, SIGKILL);
  waitpid(r.init, nullptr, 0);

  std::vector<verdict> verdicts = check_expectations(s, r.record);
  std::vector<verdict> invariants =
      check_invariants(r.record, s.lpm_descriptors, s.status_descriptors);
  bool passed = !r.failed_setup;
  int status_runs = 0, gpio_opens = 0, gpio_reads = 0;
  for (const sim_event& event : r.record.events) {
    status_runs += event.kind == event_kind::status_run;
    gpio_opens += event.kind == event_kind::gpio_open;
    gpio_reads += event.kind == event_kind::gpio_read;
  }
  if (!options.quiet) printf("expectations:\n");
  for (const std::vector<verdict>* list : {&verdicts, &invariants}) {
    for (const verdict& v : *list) {
      passed = passed && v.held;
      if (!options.quiet || !v.held) {
        printf("  %-4s  %s  (%s)\n", v.held ? "ok" : "FAIL", v.label.c_str(), v.finding.c_str());
      }
    }
  }
  printf(
      "%s  %s  (%zu expectations, %.1f s; status tool ran %d times, /dev/gpio opened %d times, %d "
      "level requests)\n",
      passed ? "PASS" : "FAIL", s.name.c_str(), verdicts.size(), r.record.end, status_runs,
      gpio_opens, gpio_reads);
  fflush(stdout);
  return passed ? RUN_PASSED : RUN_FAILED;
}
