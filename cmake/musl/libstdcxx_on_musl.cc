// glibc interfaces that Debian's libstdc++.a calls, for the test programs of
// the musl builds (see libstdcxx-on-musl.cmake). Never linked into the
// daemon or dormix-check.
#include <stdint.h>
#include <sys/random.h>
#include <sys/time.h>
#include <time.h>

extern "C" {

// glibc sets this while a process has one thread so that libstdc++ may skip
// atomic reference counts; 0 keeps them atomic, which is always correct.
char __libc_single_threaded = 0;

// glibc 2.36's random source, behind std::random_device.
uint32_t arc4random() {
  uint32_t value = 0;
  while (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
  }
  return value;
}

#ifdef DORMIX_WRAP_TIME32
// libstdc++.a for 32-bit ARM was built with glibc's 32-bit time_t, and calls
// these by their old names; musl's functions of those names take 64-bit
// time. The linker sends libstdc++'s calls here (--wrap).
struct time32_spec {
  int32_t seconds;
  int32_t nanoseconds;
};
struct time32_val {
  int32_t seconds;
  int32_t microseconds;
};

int __wrap_clock_gettime(clockid_t clock, time32_spec* out) {
  timespec now{};
  const int result = clock_gettime(clock, &now);
  if (result == 0) {
    out->seconds = static_cast<int32_t>(now.tv_sec);
    out->nanoseconds = static_cast<int32_t>(now.tv_nsec);
  }
  return result;
}

int __wrap_gettimeofday(time32_val* out, void* /*zone*/) {
  timespec now{};
  const int result = clock_gettime(CLOCK_REALTIME, &now);
  if (result == 0 && out != nullptr) {
    out->seconds = static_cast<int32_t>(now.tv_sec);
    out->microseconds = static_cast<int32_t>(now.tv_nsec / 1000);
  }
  return result;
}

int __wrap_nanosleep(const time32_spec* request, time32_spec* remaining) {
  const timespec wanted{request->seconds, request->nanoseconds};
  timespec left{};
  const int result = nanosleep(&wanted, &left);
  if (remaining != nullptr) {
    remaining->seconds = static_cast<int32_t>(left.tv_sec);
    remaining->nanoseconds = static_cast<int32_t>(left.tv_nsec);
  }
  return result;
}
#endif
}
