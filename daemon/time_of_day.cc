#include "daemon/time_of_day.h"

#include "daemon/time_units.h"
int seconds_of_day_at(time_t when) {
  tm local{};
  if (localtime_r(&when, &local) == nullptr) return 0;
  return local.tm_hour * SECONDS_PER_HOUR + local.tm_min * SECONDS_PER_MINUTE + local.tm_sec;
}

int seconds_of_day() { return seconds_of_day_at(time(nullptr)); }
