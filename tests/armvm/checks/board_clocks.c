// Guest helper for board.sh: CLOCK_BOOTTIME minus CLOCK_MONOTONIC in
// milliseconds, which grows only while the system is suspended.
#include <stdio.h>
#include <time.h>

static long long ms(clockid_t clock) {
  struct timespec now;
  clock_gettime(clock, &now);
  return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

int main(void) {
  printf("%lld\n", ms(CLOCK_BOOTTIME) - ms(CLOCK_MONOTONIC));
  return 0;
}
