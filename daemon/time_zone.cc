#include "daemon/time_zone.h"

#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>

namespace {

// The length of /etc/TZ's first line without its line end and trailing
// blanks; 0 when there is none to use.
int etc_tz_line_length(const char* text, int length) {
  int end = 0;
  while (end < length && text[end] != '\n') ++end;
  // Without a line end inside what was read, the line may go on beyond it.
  if (end >= ETC_TZ_SIZE) return 0;
  while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == ' ' || text[end - 1] == '\t')) {
    --end;
  }
  return end;
}

}  // namespace

time_zone_choice choose_time_zone(const char* tz_variable, const char* etc_tz_text,
                                  int etc_tz_length, bool localtime_exists) {
  if (tz_variable != nullptr && tz_variable[0] != '\0') {
    return {time_zone_source::environment, 0};
  }
  const int line_length =
      etc_tz_text == nullptr ? 0 : etc_tz_line_length(etc_tz_text, etc_tz_length);
  if (line_length > 0) return {time_zone_source::etc_tz, line_length};
  return {localtime_exists ? time_zone_source::localtime : time_zone_source::utc, 0};
}

time_zone_choice use_system_time_zone() {
  // Static: off the stack, so without the stack protector's check.
  static char text[ETC_TZ_SIZE + 1];
  int length = -1;
  // Non-blocking, so that a FIFO there cannot hold the start up.
  int fd = open(ETC_TZ_PATH, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    // A regular file: one read returns what there is, up to the size.
    length = static_cast<int>(read(fd, text, ETC_TZ_SIZE));
    close(fd);
  }
  // Whether it exists, through calls the daemon makes anyway.
  fd = open(LOCALTIME_PATH, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) close(fd);
  const char* tz_variable = getenv("TZ");
  const time_zone_choice choice =
      choose_time_zone(tz_variable, length < 0 ? nullptr : text, length, fd >= 0);
  if (choice.source == time_zone_source::etc_tz) {
    text[choice.etc_tz_length] = '\0';
    setenv("TZ", text, 1);
  } else if (choice.source == time_zone_source::localtime && tz_variable != nullptr) {
    // An empty TZ means UTC to the C libraries; this names the file they
    // would read with TZ unset.
    setenv("TZ", ":/etc/localtime", 1);
  }
  return choice;
}
