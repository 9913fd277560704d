#include "daemon/time_zone.h"

#include <fcntl.h>
#include <unistd.h>
#include <cstring>

namespace {

constexpr int TZ_PREFIX_LENGTH = 3;  // "TZ="

// The length of /etc/TZ's first line without its line end and trailing
// blanks; 0 when there is none to use.
int etc_tz_line_length(const char* text, int length) {
  int end = 0;
  while (end < length && text[end] != '\n') ++end;
  // Without a line end inside what was read, the line may go on beyond it.
  if (end >= ETC_TZ_SIZE) return 0;
  // A carriage return, blanks and other control characters end it too.
  while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return end;
}

}  // namespace

time_zone_choice choose_time_zone(const char* tz_variable, const char* etc_tz_text,
                                  int etc_tz_length) {
  if (tz_variable != nullptr && tz_variable[0] != '\0') {
    return {time_zone_source::environment, 0};
  }
  const int line_length =
      etc_tz_text == nullptr ? 0 : etc_tz_line_length(etc_tz_text, etc_tz_length);
  if (line_length > 0) return {time_zone_source::etc_tz, line_length};
  return {time_zone_source::library_default, 0};
}

time_zone_choice use_system_time_zone(char** environment, int capacity) {
  // Static, off the stack: /etc/TZ is read straight after "TZ=". The
  // environment is rebuilt rather than changed by setenv, which would link a
  // static daemon with realloc and more code than all of this.
  static char assignment[TZ_PREFIX_LENGTH + ETC_TZ_SIZE + 1];
  char* const text = assignment + TZ_PREFIX_LENGTH;
  int length = -1;
  // Non-blocking, so that a FIFO there cannot hold the start up.
  const int fd = open(ETC_TZ_PATH, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    // A regular file: one read returns what there is, up to the size.
    length = static_cast<int>(read(fd, text, ETC_TZ_SIZE));
    close(fd);
  }
  // Every other variable is kept, in order, for the tools the daemon runs.
  const char* tz_variable = nullptr;
  int count = 0;
  bool room = true;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if ((*entry)[0] == 'T' && (*entry)[1] == 'Z' && (*entry)[2] == '=') {
      tz_variable = *entry + TZ_PREFIX_LENGTH;
    } else if (count < capacity - 2) {
      environment[count++] = *entry;
    } else {
      room = false;
    }
  }
  const time_zone_choice choice = choose_time_zone(tz_variable, text, length);
  if (choice.source == time_zone_source::environment) return choice;
  if (!room) return {time_zone_source::library_default, 0};
  if (choice.source == time_zone_source::etc_tz) {
    memcpy(assignment, "TZ=", TZ_PREFIX_LENGTH);
    text[choice.etc_tz_length] = '\0';
    environment[count++] = assignment;
  }
  environment[count] = nullptr;
  environ = environment;
  return choice;
}
