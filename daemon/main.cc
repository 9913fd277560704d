// dormix: puts the router to sleep when a configured condition occurs.
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include "daemon/controller.h"
#include "daemon/enter_sleep.h"
#include "daemon/time_of_day.h"
#include "daemon/time_zone.h"
#include "device/binary_input.h"
#include "device/monotonic.h"
#include "settings/settings.h"

extern "C" {
// Exported (see the link options): the router's tools may look it up.
volatile sig_atomic_t got_signal = 0;
}

namespace {

constexpr useconds_t CYCLE_PAUSE_US = 250000;

void handle_stop_signal(int signal_number) { got_signal = signal_number; }

// The text after the last slash, argument unchanged. The C libraries differ
// on basename: musl declares the GNU form for C only, and the POSIX one in
// libgen.h may write into its argument.
const char* base_name(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

// A pipe end or /dev/null must never land on 0-2, where a child would take
// it for a standard descriptor: fill any of them that a supervisor closed.
void open_standard_descriptors() {
  for (;;) {
    int fd = open("/dev/null", O_RDWR);
    if (fd < 0) return;
    if (fd > 2) {
      close(fd);
      return;
    }
  }
}

// A parent may hand over blocked stop signals or an ignored SIGCHLD; either
// would make the daemon unstoppable or every child's status unknowable. The
// handlers come first: a stop signal already pending is delivered on the
// unblock, and must only set the flag.
void restore_signal_dispositions() {
  signal(SIGINT, handle_stop_signal);
  signal(SIGTERM, handle_stop_signal);
  signal(SIGQUIT, handle_stop_signal);
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGQUIT);
  sigprocmask(SIG_UNBLOCK, &stop_signals, nullptr);
  signal(SIGCHLD, SIG_DFL);
}

// The router itself: the controller's calls go straight to the system.
int system_seconds_of_day(void* /*context*/) { return seconds_of_day(); }
int system_monotonic_seconds(void* /*context*/) { return monotonic_seconds(); }
int system_input_present(void* /*context*/, int n) { return binary_input_present(n); }
int system_input_read(void* /*context*/, int n) { return binary_input_read(n); }
int system_enter_sleep(void* /*context*/, const wake_params& params) { return enter_sleep(params); }

}  // namespace

int main(int argc, char** argv) {
  open_standard_descriptors();
  // Once, as the settings: the rules read the clock in this zone from now on.
  // Static: the C library reads the environment until the very end.
  static char* environment[ENVIRONMENT_CAPACITY];
  use_system_time_zone(environment, ENVIRONMENT_CAPACITY);
  restore_signal_dispositions();
  setsid();
  const char* ident = argc > 0 && argv[0] != nullptr ? base_name(argv[0]) : "dormix";
  openlog(ident, LOG_PID | LOG_NDELAY, LOG_DAEMON);
  syslog(LOG_NOTICE, "started");

  sleep_config config{};
  load_sleep_config(&config, binary_input_present);

  const controller_platform platform{
      nullptr,           system_seconds_of_day, system_monotonic_seconds, system_input_present,
      system_input_read, system_enter_sleep};
  controller_state state{};
  controller_start(&state, config, platform);
  while (got_signal == 0) {
    controller_cycle(&state, config, platform);
    usleep(CYCLE_PAUSE_US);
  }

  syslog(LOG_NOTICE, "stopped");
  return 0;
}
