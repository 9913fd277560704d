// The clock wait's system calls, and the command line that runs it.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/timerfd.h>
#include <sys/timex.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include "daemon/time_units.h"
#include "settings/settings.h"
#include "tools/check/clock_wait.h"
#include "tools/check/exit_status.h"

namespace {

// A day: longer would only hide a typing mistake in an init script.
constexpr uint32_t LONGEST_WAIT_SECONDS = SECONDS_PER_DAY;
constexpr const char* BOOT_ID_PATH = "/proc/sys/kernel/random/boot_id";
// The step timer's expiry, far enough ahead that only a set clock ends it.
constexpr time_t STEP_TIMER_AHEAD_SECONDS = 400L * SECONDS_PER_DAY;

constexpr const char* WAIT_USAGE =
    "SECONDS [PROGRAM [ARGUMENT...]]\n"
    "Waits up to SECONDS for the clock to be set (an NTP hotplug event, the\n"
    "kernel's synchronised state, or a step of the clock), then runs PROGRAM\n"
    "in its own place, or exits 0 (set) or 1 (not).\n";

struct step_watch {
  int timer;  // -1: none
};
step_watch the_watch{-1};

int64_t edge_monotonic_ms(void* /*context*/) {
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return -1;
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The first line of a small file, or an empty text.
void read_line(const char* path, char* text, size_t size) {
  text[0] = '\0';
  const int file = open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) return;
  const ssize_t got = read(file, text, size - 1);
  close(file);
  text[got > 0 ? got : 0] = '\0';
}

bool edge_ntp_marked(void* /*context*/) {
  char mark[64];
  char boot_id[64];
  read_line(NTP_MARK_PATH, mark, sizeof mark);
  read_line(BOOT_ID_PATH, boot_id, sizeof boot_id);
  return ntp_mark_is_this_boot(mark, boot_id);
}

bool edge_kernel_state(void* /*context*/, bool* unsync, int64_t* max_error_us) {
  timex state{};
  if (adjtimex(&state) == -1) return false;
  *unsync = (state.status & STA_UNSYNC) != 0;
  *max_error_us = state.maxerror;
  return true;
}

void pause_ms(int64_t ms) {
  timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, &pause) == EINTR) {
  }
}

// A set of the wall clock cancels the timer: its descriptor becomes readable
// and the read fails with ECANCELED.
bool edge_wait_for_step(void* context, int64_t timeout_ms) {
  const step_watch& watch = *static_cast<step_watch*>(context);
  if (watch.timer < 0) {
    pause_ms(timeout_ms);
    return false;
  }
  pollfd ready{watch.timer, POLLIN, 0};
  if (poll(&ready, 1, static_cast<int>(timeout_ms)) != 1) return false;
  uint64_t expirations = 0;
  return read(watch.timer, &expirations, sizeof expirations) == -1 && errno == ECANCELED;
}

int arm_step_timer() {
  const int timer = timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK);
  if (timer < 0) return -1;
  itimerspec expiry{};
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  expiry.it_value.tv_sec = now.tv_sec + STEP_TIMER_AHEAD_SECONDS;
  if (timerfd_settime(timer, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &expiry, nullptr) != 0) {
    close(timer);
    return -1;
  }
  return timer;
}

// One line: on stderr when no program follows; in the system log alone when
// one does, for then an init system started this process, and procd's
// "stderr 1" would log the same line again, as an error.
void report_wait(const char* ident, clock_wait_end end, uint32_t bound, int64_t waited_ms,
                 const char* program) {
  char line[160];
  clock_wait_verdict(end, bound, waited_ms, line, sizeof line);
  if (program == nullptr) {
    fprintf(stderr, "%s: %s\n", ident, line);
    return;
  }
  const bool set = end != clock_wait_end::bound_reached;
  if (set && waited_ms == 0) return;
  openlog(ident, LOG_PID, LOG_DAEMON);
  syslog(set ? LOG_INFO : LOG_WARNING, "%s; starting %s", line, program);
  closelog();
}

}  // namespace

clock_edge clock_edge_open() {
  the_watch.timer = arm_step_timer();
  return clock_edge{&the_watch, edge_monotonic_ms, edge_ntp_marked, edge_kernel_state,
                    edge_wait_for_step};
}

void clock_edge_close(const clock_edge& edge) {
  step_watch& watch = *static_cast<step_watch*>(edge.context);
  if (watch.timer >= 0) close(watch.timer);
  watch.timer = -1;
}

int run_clock_wait(const command_name& name, int count, char** arguments) {
  if (count < 1) return usage_error(name, WAIT_USAGE, "%sneeds a number of seconds", name.mode);
  uint32_t seconds = 0;
  const char* end = settings_scan_uint(arguments[0], &seconds);
  if (arguments[0][0] < '0' || arguments[0][0] > '9' || end == nullptr || *end != '\0' ||
      seconds > LONGEST_WAIT_SECONDS) {
    return usage_error(name, WAIT_USAGE, "%stakes whole seconds from 0 to 86400", name.mode);
  }
  char** program = count > 1 ? arguments + 1 : nullptr;
  const clock_edge edge = clock_edge_open();
  int64_t waited_ms = 0;
  const clock_wait_end wait_end = clock_wait_run(edge, seconds, &waited_ms);
  clock_edge_close(edge);
  report_wait(name.program, wait_end, seconds, waited_ms,
              program == nullptr ? nullptr : program[0]);
  const int status = wait_end == clock_wait_end::bound_reached ? EXIT_NO : EXIT_YES;
  if (program == nullptr) return status;
  fflush(stderr);
  execv(program[0], program);
  fprintf(stderr, "%s: cannot run %s: %s\n", name.program, program[0], strerror(errno));
  return EXIT_UNUSABLE;
}
