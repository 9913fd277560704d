// Guest helper for clock_wait.sh: sets or clears the kernel's STA_UNSYNC,
// which NTP clients clear once they have set the clock; prints the monotonic
// clock in milliseconds now, or when the wall clock is next set.
// Usage: clock_status sync|unsync|now|watch-step
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/timerfd.h>
#include <sys/timex.h>
#include <time.h>

static int print_monotonic_ms(void) {
  struct timespec now;
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 1;
  printf("%lld\n", (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000);
  return 0;
}

// A timer far ahead on the wall clock that a set of the clock cancels.
static int watch_step(void) {
  int timer = timerfd_create(CLOCK_REALTIME, 0);
  struct itimerspec expiry;
  memset(&expiry, 0, sizeof expiry);
  clock_gettime(CLOCK_REALTIME, &expiry.it_value);
  expiry.it_value.tv_sec += 400L * 86400;
  if (timer < 0 ||
      timerfd_settime(timer, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &expiry, NULL) != 0) {
    perror("timerfd");
    return 1;
  }
  // Ready once this line is out: the caller waits for it before stepping.
  printf("watching\n");
  fflush(stdout);
  struct pollfd ready = {timer, POLLIN, 0};
  if (poll(&ready, 1, -1) != 1) return 1;
  return print_monotonic_ms();
}

int main(int argc, char** argv) {
  struct timex state = {0};
  if (argc != 2) return 2;
  if (strcmp(argv[1], "now") == 0) return print_monotonic_ms();
  if (strcmp(argv[1], "watch-step") == 0) return watch_step();
  if (adjtimex(&state) == -1) return 2;
  state.modes = ADJ_STATUS;
  if (strcmp(argv[1], "sync") == 0) {
    // As an NTP client does: with the maximum error left at its limit, the
    // kernel's next second would set STA_UNSYNC again.
    state.status &= ~STA_UNSYNC;
    state.maxerror = 0;
    state.esterror = 0;
    state.modes |= ADJ_MAXERROR | ADJ_ESTERROR;
  } else if (strcmp(argv[1], "unsync") == 0) {
    // As at boot: the maximum error at its limit too, so that a client
    // clearing only the flag does not make the clock look synchronised.
    state.status |= STA_UNSYNC;
    state.maxerror = 16000000;
    state.modes |= ADJ_MAXERROR;
  } else {
    return 2;
  }
  if (adjtimex(&state) == -1) {
    perror("adjtimex");
    return 1;
  }
  return 0;
}
