#include "daemon/time_of_day.h"

int seconds_of_day_at(time_t when) {
  tm local{};
  if (localtime_r(&when, &local) == nullptr) return 0;
  return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

int seconds_of_day() { return seconds_of_day_at(time(nullptr)); }
