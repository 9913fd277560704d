#include "simulator/launch.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "simulator/fake_clock.h"

namespace {

void write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    done += static_cast<size_t>(wrote);
  }
}

// The daemon's side of the fork: descriptors, signal state and directory as
// a service manager leaves them, then the command.
[[noreturn]] void exec_daemon(const std::vector<std::string>& command,
                              const std::vector<std::string>& environment, int output_fd) {
  int null_fd = open("/dev/null", O_RDWR);
  dup2(null_fd, 0);
  dup2(output_fd, 1);
  dup2(output_fd, 2);
  syscall(SYS_close_range, 3U, ~0U, 0U);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) signal(signal_number, SIG_DFL);
  if (chdir("/") != 0) _exit(127);
  std::vector<char*> argv;
  argv.reserve(command.size() + 1);
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (const std::string& variable : environment)
    envp.push_back(const_cast<char*>(variable.c_str()));
  envp.push_back(nullptr);
  execvpe(argv[0], argv.data(), envp.data());
  dprintf(2, "cannot start %s: %s\n", argv[0], strerror(errno));
  _exit(127);
}

// Holds /dev/gpio open until the namespace ends, and nothing else.
[[noreturn]] void hold_gpio() {
  int null_fd = open("/dev/null", O_RDWR);
  dup2(null_fd, 0);
  dup2(null_fd, 1);
  dup2(null_fd, 2);
  syscall(SYS_close_range, 3U, ~0U, 0U);
  if (open("/dev/gpio", O_RDONLY) < 0) _exit(1);
  for (;;) pause();
}

}  // namespace

std::vector<std::string> daemon_environment(const scenario& s, const run_options& options) {
  std::vector<std::string> environment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
  if (scenario_sets_tz(s)) environment.push_back("TZ=" + s.timezone);
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

void run_init(const scenario& s, const std::vector<std::string>& command,
              const std::vector<std::string>& environment, int report_fd, int output_fd) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (unshare(CLONE_NEWNS) != 0 ||
      mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
    write_all(report_fd, std::string("error cannot mount /proc: ") + strerror(errno) + "\n");
    _exit(1);
  }
  if (s.gpio_holder && fork() == 0) hold_gpio();
  pid_t daemon = fork();
  if (daemon == 0) exec_daemon(command, environment, output_fd);
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

std::string wait_status_text(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("killed by ") + strsignal(WTERMSIG(status));
  return "wait status " + std::to_string(status);
}
