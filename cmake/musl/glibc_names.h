// Forced into the test programs built against musl (see libstdcxx-on-musl.cmake).
// Debian's libstdc++ headers were configured for glibc and name a few of its
// types and constants; musl provides the same things under these values.
#pragma once
#ifdef __cplusplus
#include <locale.h>
#include <pthread.h>
#include <time.h>

typedef locale_t __locale_t;

// glibc's ctype classes: bits of the table behind __ctype_b_loc, which musl
// provides in glibc's layout. The low byte holds bits 8-15 (little endian).
enum {
  _ISupper = 1 << 8,
  _ISlower = 1 << 9,
  _ISalpha = 1 << 10,
  _ISdigit = 1 << 11,
  _ISxdigit = 1 << 12,
  _ISspace = 1 << 13,
  _ISprint = 1 << 14,
  _ISgraph = 1 << 15,
  _ISblank = 1 << 0,
  _IScntrl = 1 << 1,
  _ISpunct = 1 << 2,
  _ISalnum = 1 << 3,
};

// glibc's waits on a given clock, which libstdc++'s inline code calls; musl
// waits on CLOCK_REALTIME, so the deadline is moved onto that clock.
static inline timespec dormix_realtime_deadline(clockid_t clock, const timespec* deadline) {
  if (clock == CLOCK_REALTIME) return *deadline;
  timespec now{};
  timespec real{};
  clock_gettime(clock, &now);
  clock_gettime(CLOCK_REALTIME, &real);
  const long long left_ns = (deadline->tv_sec - now.tv_sec) * 1000000000LL +
                            (deadline->tv_nsec - now.tv_nsec) + real.tv_nsec;
  real.tv_sec += static_cast<time_t>(left_ns / 1000000000LL);
  real.tv_nsec = static_cast<long>(left_ns % 1000000000LL);
  if (real.tv_nsec < 0) {
    real.tv_nsec += 1000000000L;
    real.tv_sec -= 1;
  }
  return real;
}

static inline int pthread_cond_clockwait(pthread_cond_t* cond, pthread_mutex_t* mutex,
                                         clockid_t clock, const timespec* deadline) {
  const timespec real = dormix_realtime_deadline(clock, deadline);
  return pthread_cond_timedwait(cond, mutex, &real);
}

static inline int pthread_mutex_clocklock(pthread_mutex_t* mutex, clockid_t clock,
                                          const timespec* deadline) {
  const timespec real = dormix_realtime_deadline(clock, deadline);
  return pthread_mutex_timedlock(mutex, &real);
}
#endif
