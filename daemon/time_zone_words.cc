#include "daemon/time_zone_words.h"

#include <stdlib.h>
#include <unistd.h>

const char* time_zone_text(const time_zone_choice& choice) {
  if (choice.source != time_zone_source::library_default) return getenv("TZ");
  return access(LOCALTIME_PATH, F_OK) == 0 ? LOCALTIME_PATH : "UTC";
}

const char* time_zone_source_name(time_zone_source source) {
  switch (source) {
    case time_zone_source::environment:
      return "TZ";
    case time_zone_source::etc_tz:
      return ETC_TZ_PATH;
    case time_zone_source::library_default:
      break;
  }
  return "default";
}
