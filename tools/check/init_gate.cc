#include "tools/check/init_gate.h"

#include <errno.h>
#include <string.h>
#include <sys/timex.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include "settings/settings.h"

namespace {

constexpr int EXIT_ON = 0;
constexpr int EXIT_OFF = 1;
constexpr int EXIT_USAGE = 2;
constexpr int64_t POLL_MS = 1000;
// A day: longer would only hide a typing mistake in an init script.
constexpr uint32_t LONGEST_WAIT_SECONDS = 86400;

constexpr const char* ENABLED_USAGE =
    "usage: dormix-check --enabled [FILE]\n"
    "Exit status 0 when MOD_DORMIX_ENABLED in FILE (default %s) reads\n"
    "non-zero, 1 when it reads 0 or the file is missing, 2 on wrong usage.\n";
constexpr const char* WAIT_USAGE =
    "usage: dormix-check --wait-for-clock SECONDS [PROGRAM [ARGUMENT...]]\n"
    "Waits up to SECONDS for the kernel to report the clock synchronised,\n"
    "then runs PROGRAM in its own place, or exits 0 (synchronised) or 1 (not).\n";

int usage(const char* text, const char* detail) {
  fprintf(stderr, "dormix-check: %s\n", detail);
  fprintf(stderr, text, SETTINGS_PATH);
  return EXIT_USAGE;
}

int64_t monotonic_ms() {
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return -1;
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The kernel's own view: NTP clients (busybox ntpd, chrony, ntpd,
// systemd-timesyncd) clear STA_UNSYNC once they have set the clock.
bool kernel_clock_synchronised() {
  timex state{};
  return adjtimex(&state) != -1 && (state.status & STA_UNSYNC) == 0;
}

void pause_ms(int64_t ms) {
  timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, &pause) == EINTR) {
  }
}

// Waits; returns the step that ended the wait and the seconds it took.
clock_wait_step wait_for_clock(uint32_t seconds, int64_t* waited_ms) {
  const int64_t started = monotonic_ms();
  const int64_t deadline = started + static_cast<int64_t>(seconds) * 1000;
  for (;;) {
    const int64_t now = monotonic_ms();
    const clock_wait_step step = clock_wait_next(kernel_clock_synchronised(), now, deadline);
    if (step != clock_wait_step::wait) {
      *waited_ms = now - started;
      return step;
    }
    pause_ms(deadline - now < POLL_MS ? deadline - now : POLL_MS);
  }
}

// On stderr, and in the system log when a program follows: started by an
// init system, this process has no terminal to tell.
void report_wait(clock_wait_step step, uint32_t bound, int64_t waited_ms, const char* program) {
  char line[160];
  if (step == clock_wait_step::synchronised) {
    snprintf(line, sizeof line, "the clock is synchronised (waited %lld.%03lld s)",
             static_cast<long long>(waited_ms / 1000), static_cast<long long>(waited_ms % 1000));
  } else {
    snprintf(line, sizeof line,
             "the clock is not synchronised after %u s: going on with the clock as it is", bound);
  }
  fprintf(stderr, "dormix-check: %s\n", line);
  if (program == nullptr || (step == clock_wait_step::synchronised && waited_ms == 0)) return;
  openlog("dormix-check", LOG_PID, LOG_DAEMON);
  syslog(step == clock_wait_step::synchronised ? LOG_INFO : LOG_WARNING, "%s; starting %s", line,
         program);
  closelog();
}

}  // namespace

uint32_t module_switch_value(FILE* file) { return settings_get_uint(file, MODULE_SWITCH_KEY); }

clock_wait_step clock_wait_next(bool synchronised, int64_t now_ms, int64_t deadline_ms) {
  if (synchronised) return clock_wait_step::synchronised;
  return now_ms >= deadline_ms ? clock_wait_step::bound_reached : clock_wait_step::wait;
}

int run_enabled_check(int argc, char** argv) {
  if (argc > 3) return usage(ENABLED_USAGE, "--enabled takes at most one file");
  const char* path = argc == 3 ? argv[2] : SETTINGS_PATH;
  FILE* file = fopen(path, "r");
  const int open_error = errno;
  const uint32_t value = module_switch_value(file);
  if (file != nullptr) fclose(file);
  if (file == nullptr) {
    printf("switched off: cannot open %s (%s), so %s reads 0\n", path, strerror(open_error),
           MODULE_SWITCH_KEY);
  } else {
    printf("switched %s: %s reads %u in %s\n", value != 0 ? "on" : "off", MODULE_SWITCH_KEY, value,
           path);
  }
  return value != 0 ? EXIT_ON : EXIT_OFF;
}

int run_clock_wait(int argc, char** argv) {
  if (argc < 3) return usage(WAIT_USAGE, "--wait-for-clock needs a number of seconds");
  uint32_t seconds = 0;
  const char* end = settings_scan_uint(argv[2], &seconds);
  if (argv[2][0] < '0' || argv[2][0] > '9' || end == nullptr || *end != '\0' ||
      seconds > LONGEST_WAIT_SECONDS) {
    return usage(WAIT_USAGE, "--wait-for-clock takes whole seconds from 0 to 86400");
  }
  char** program = argc > 3 ? argv + 3 : nullptr;
  int64_t waited_ms = 0;
  const clock_wait_step step = wait_for_clock(seconds, &waited_ms);
  report_wait(step, seconds, waited_ms, program == nullptr ? nullptr : program[0]);
  if (program == nullptr) return step == clock_wait_step::synchronised ? 0 : 1;
  fflush(stderr);
  execv(program[0], program);
  fprintf(stderr, "dormix-check: cannot run %s: %s\n", program[0], strerror(errno));
  return EXIT_USAGE;
}
