#include "device/monotonic.h"

#include <time.h>

int monotonic_seconds() {
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return -1;
  return static_cast<int>(now.tv_sec);
}
