// dormix-lpm: the low-power tool the daemon runs as /usr/sbin/lpm, on boards
// whose firmware has none. The kernel's side of lpm_system lives here.
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/reboot.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include "board/gpio_sysfs.h"
#include "board/lpm_config.h"
#include "board/lpm_run.h"
#include "board/rtc_abi.h"
#include "device/command.h"

namespace {

volatile sig_atomic_t stop_signal = 0;

// glibc declares the request unsigned long, musl int; pass it as the type of
// this C library's ioctl (the kernel reads the same 32 bits either way).
template <typename Request>
int ioctl_as_declared(int (*call)(int, Request, ...), int fd, unsigned long request,
                      void* argument) {
  return call(fd, static_cast<Request>(request), argument);
}

int rtc_ioctl(int fd, unsigned long request, void* argument) {
  return ioctl_as_declared(ioctl, fd, request, argument);
}

void note_stop_signal(int number) { stop_signal = number; }

// The RTC's broken-down time is UTC on Linux; timegm and gmtime_r convert.
int64_t rtc_seconds(const rtc_clock_time& time) {
  struct tm broken {};
  broken.tm_sec = time.tm_sec;
  broken.tm_min = time.tm_min;
  broken.tm_hour = time.tm_hour;
  broken.tm_mday = time.tm_mday;
  broken.tm_mon = time.tm_mon;
  broken.tm_year = time.tm_year;
  return timegm(&broken);
}

rtc_clock_time rtc_broken_down(int64_t seconds) {
  const time_t when = static_cast<time_t>(seconds);
  struct tm broken {};
  gmtime_r(&when, &broken);
  rtc_clock_time time{};
  time.tm_sec = broken.tm_sec;
  time.tm_min = broken.tm_min;
  time.tm_hour = broken.tm_hour;
  time.tm_mday = broken.tm_mday;
  time.tm_mon = broken.tm_mon;
  time.tm_year = broken.tm_year;
  time.tm_wday = -1;
  time.tm_yday = -1;
  time.tm_isdst = -1;
  return time;
}

int rtc_set_alarm(void*, const char* device, uint32_t seconds, int64_t* alarm) {
  const int fd = open(device, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  rtc_clock_time now{};
  int result = rtc_ioctl(fd, RTC_READ_TIME, &now);
  if (result == 0) {
    *alarm = rtc_seconds(now) + seconds;
    rtc_wake_alarm wake{};
    wake.enabled = 1;
    wake.time = rtc_broken_down(*alarm);
    result = rtc_ioctl(fd, RTC_WAKE_ALARM_SET, &wake);
  }
  const int error = errno;
  close(fd);
  errno = error;
  return result == 0 ? 0 : -1;
}

int rtc_read_alarm(void*, const char* device, int64_t* alarm, bool* enabled) {
  const int fd = open(device, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  rtc_wake_alarm wake{};
  const int result = rtc_ioctl(fd, RTC_WAKE_ALARM_READ, &wake);
  const int error = errno;
  close(fd);
  errno = error;
  if (result != 0) return -1;
  *alarm = rtc_seconds(wake.time);
  *enabled = wake.enabled != 0;
  return 0;
}

int64_t rtc_now(void*, const char* device) {
  const int fd = open(device, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  rtc_clock_time now{};
  const int result = rtc_ioctl(fd, RTC_READ_TIME, &now);
  close(fd);
  return result == 0 ? rtc_seconds(now) : -1;
}

void rtc_disarm(void*, const char* device) {
  const int fd = open(device, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  rtc_ioctl(fd, RTC_ALARM_INTERRUPT_OFF, nullptr);
  close(fd);
}

int read_text(void*, const char* path, char* out, size_t size) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const ssize_t length = read(fd, out, size - 1);
  const int error = errno;
  close(fd);
  errno = error;
  if (length < 0) return -1;
  out[length] = '\0';
  return 0;
}

int write_text(void*, const char* path, const char* text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const size_t length = strlen(text);
  const ssize_t written = write(fd, text, length);
  const int error = errno;
  close(fd);
  errno = error;
  return written == static_cast<ssize_t>(length) ? 0 : -1;
}

// A change on an armed input shows as a sysfs notification on woken_by:
// poll() reports POLLPRI after the attribute has been read once.
soft_wake wait_soft(void*, bool timed, uint32_t seconds, bool inputs) {
  pollfd watched[2];
  int count = 0;
  int timer = -1;
  if (timed) {
    timer = timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC);
    itimerspec due{};
    due.it_value.tv_sec = static_cast<time_t>(seconds);
    if (timer < 0 || timerfd_settime(timer, 0, &due, nullptr) != 0) return soft_wake::failed;
    watched[count++] = pollfd{timer, POLLIN, 0};
  }
  int woken_by = -1;
  if (inputs) {
    woken_by = open(GPIO_WOKEN_BY_PATH, O_RDONLY | O_CLOEXEC);
    char text[16] = "";
    const ssize_t length = woken_by < 0 ? -1 : read(woken_by, text, sizeof text - 1);
    if (length < 0) return soft_wake::failed;
    text[length] = '\0';
    watched[count++] = pollfd{woken_by, POLLPRI | POLLERR, 0};
    // A change between arming and this first read notified nobody.
    if (parse_woken_by(text) >= 0) {
      close(woken_by);
      if (timer >= 0) close(timer);
      return soft_wake::input;
    }
  }
  soft_wake wake = soft_wake::failed;
  while (wake == soft_wake::failed) {
    if (stop_signal != 0) {
      wake = soft_wake::signal;
    } else if (poll(watched, static_cast<nfds_t>(count), -1) < 0) {
      if (errno != EINTR) break;
    } else if (timer >= 0 && (watched[0].revents & POLLIN) != 0) {
      wake = soft_wake::timer;
    } else if (woken_by >= 0) {
      wake = soft_wake::input;
    }
  }
  const int error = errno;
  if (timer >= 0) close(timer);
  if (woken_by >= 0) close(woken_by);
  errno = error;
  return wake;
}

// Run as the daemon runs its tools: a hook inherits none of lpm's other
// descriptors, only its standard ones.
int run_hook(void*, const char* path, const char* phase) {
  const int status = run_command(path, phase, static_cast<char*>(nullptr));
  if (status < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int power_off(void*, const char* command) {
  sync();
  if (command[0] != '\0') {
    execl(command, command, static_cast<char*>(nullptr));
    return -1;
  }
  return reboot(RB_POWER_OFF);
}

int64_t clock_ms(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int64_t boottime_ms(void*) { return clock_ms(CLOCK_BOOTTIME); }

const char* log_ident = "lpm";

// One datagram to the local syslog daemon, without a timestamp, which the
// daemon then adds (RFC 3164). The C library's syslog() would bring its
// time zone code along, a quarter of this program's size.
void send_to_syslog(int priority, const char* text) {
  char message[LPM_LOG_SIZE + 64];
  const int length = snprintf(message, sizeof message, "<%d>%s[%d]: %s", LOG_DAEMON | priority,
                              log_ident, static_cast<int>(getpid()), text);
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || length < 0) return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "/dev/log");
  const size_t size = static_cast<size_t>(length) < sizeof message ? static_cast<size_t>(length)
                                                                   : sizeof message - 1;
  sendto(fd, message, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
         sizeof address);
  close(fd);
}

// The daemon sends stderr to /dev/null and ignores the exit status, so
// every failure goes to syslog too.
void log_line(void*, int priority, const char* text) {
  send_to_syslog(priority, text);
  if (priority <= LOG_ERR) fprintf(stderr, "lpm: %s\n", text);
}

lpm_system kernel_system() {
  return lpm_system{nullptr,    rtc_set_alarm, rtc_read_alarm, rtc_now,   rtc_disarm,  read_text,
                    write_text, wait_soft,     run_hook,       power_off, boottime_ms, log_line};
}

}  // namespace

int main(int argc, char** argv) {
  log_ident = basename(argv[0]);
  char error[256];
  lpm_request request{};
  if (!parse_lpm_arguments(argc, argv, &request, error, sizeof error)) {
    char text[LPM_LOG_SIZE];
    snprintf(text, sizeof text, "not entered: %s", error);
    send_to_syslog(LOG_ERR, text);
    fprintf(stderr, "lpm: %s\nusage: lpm -b | -i SECONDS | -b -i SECONDS\n", error);
    return LPM_EXIT_USAGE;
  }
  lpm_config config = default_lpm_config();
  char text[LPM_CONFIG_MAX + 1];
  if (read_text(nullptr, LPM_CONFIG_PATH, text, sizeof text) == 0) {
    if (!read_lpm_config(text, &config, error, sizeof error)) {
      char message[LPM_LOG_SIZE];
      snprintf(message, sizeof message, "not entered: %s:%s", LPM_CONFIG_PATH, error);
      log_line(nullptr, LOG_ERR, message);
      return LPM_EXIT_CONFIG;
    }
  }
  struct sigaction stop {};
  stop.sa_handler = note_stop_signal;
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGQUIT, &stop, nullptr);
  return run_lpm(request, config, kernel_system());
}
