#include "daemon/time_zone.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

bool is_trailing_blank(char c) { return c == '\n' || c == '\r' || c == ' ' || c == '\t'; }

// The first line of /etc/TZ without its line end and trailing blanks, into
// line; false when there is none to use.
bool etc_tz_line(const char* text, int length, char line[ETC_TZ_SIZE]) {
  if (text == nullptr || length <= 0) return false;
  const auto* newline = static_cast<const char*>(memchr(text, '\n', static_cast<size_t>(length)));
  int end = newline == nullptr ? length : static_cast<int>(newline - text);
  // Without a line end inside what was read, the line may go on beyond it.
  if (end >= ETC_TZ_SIZE) return false;
  while (end > 0 && is_trailing_blank(text[end - 1])) --end;
  if (end == 0) return false;
  memcpy(line, text, static_cast<size_t>(end));
  line[end] = '\0';
  return true;
}

// Up to ETC_TZ_SIZE bytes of /etc/TZ into text; -1 when it cannot be read.
int read_etc_tz(char text[ETC_TZ_SIZE]) {
  const int fd = open(ETC_TZ_PATH, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  int length = 0;
  while (length < ETC_TZ_SIZE) {
    const ssize_t got = read(fd, text + length, static_cast<size_t>(ETC_TZ_SIZE - length));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += static_cast<int>(got);
  }
  close(fd);
  return length;
}

}  // namespace

time_zone_choice choose_time_zone(const char* tz_variable, const char* etc_tz_text,
                                  int etc_tz_length, bool localtime_exists) {
  time_zone_choice choice{};
  if (tz_variable != nullptr && tz_variable[0] != '\0') {
    choice.source = time_zone_source::environment;
    choice.tz_variable = tz_variable;
  } else if (etc_tz_line(etc_tz_text, etc_tz_length, choice.etc_tz)) {
    choice.source = time_zone_source::etc_tz;
  } else {
    choice.source = localtime_exists ? time_zone_source::localtime : time_zone_source::utc;
  }
  return choice;
}

const char* time_zone_text(const time_zone_choice& choice) {
  switch (choice.source) {
    case time_zone_source::environment:
      return choice.tz_variable;
    case time_zone_source::etc_tz:
      return choice.etc_tz;
    case time_zone_source::localtime:
      return LOCALTIME_PATH;
    case time_zone_source::utc:
      break;
  }
  return "UTC";
}

const char* time_zone_source_name(time_zone_source source) {
  switch (source) {
    case time_zone_source::environment:
      return "TZ";
    case time_zone_source::etc_tz:
      return ETC_TZ_PATH;
    case time_zone_source::localtime:
      return LOCALTIME_PATH;
    case time_zone_source::utc:
      break;
  }
  return "default";
}

time_zone_choice use_system_time_zone() {
  char text[ETC_TZ_SIZE];
  const int length = read_etc_tz(text);
  struct stat status {};
  const time_zone_choice choice = choose_time_zone(getenv("TZ"), length < 0 ? nullptr : text,
                                                   length, stat(LOCALTIME_PATH, &status) == 0);
  if (choice.source == time_zone_source::etc_tz) {
    setenv("TZ", choice.etc_tz, 1);
  } else if (choice.source != time_zone_source::environment) {
    // An empty TZ means UTC to the C libraries; unset, they read
    // /etc/localtime, or use UTC without it.
    unsetenv("TZ");
  }
  tzset();
  return choice;
}
