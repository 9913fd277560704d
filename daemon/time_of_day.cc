#include "daemon/time_of_day.h"

#include <ctime>

int seconds_of_day() {
  const time_t now = time(nullptr);
  tm local{};
  if (localtime_r(&now, &local) == nullptr) return 0;
  return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}
