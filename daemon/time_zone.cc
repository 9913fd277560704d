#include "daemon/time_zone.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

namespace {

constexpr int TZ_PREFIX_LENGTH = 3;  // "TZ="

}  // namespace

time_zone_choice use_system_time_zone(char** environment, int capacity) {
  // Static, off the stack: /etc/TZ is read straight after "TZ=". The
  // environment is rebuilt rather than changed by setenv, which would link a
  // static daemon with realloc and more code than all of this.
  static char assignment[TZ_PREFIX_LENGTH + ETC_TZ_SIZE + 1];
  char* const text = assignment + TZ_PREFIX_LENGTH;
  // Every other variable is kept, in order, for the tools the daemon runs;
  // all of them are counted, so that too many for the room shows at the end.
  const char* tz_variable = nullptr;
  int count = 0;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* variable = *entry;
    if (variable[0] == 'T' && variable[1] == 'Z' && variable[2] == '=') {
      tz_variable = variable + TZ_PREFIX_LENGTH;
    } else {
      if (count < capacity - 2) environment[count] = *entry;
      ++count;
    }
  }
  // /etc/TZ is read only when TZ leaves the choice to it.
  if (tz_variable != nullptr && tz_variable[0] != '\0') return {time_zone_source::environment, 0};
  int length = -1;
  // Non-blocking, so that a FIFO there cannot hold the start up.
  const int fd = open(ETC_TZ_PATH, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    // A regular file: one read returns what there is, up to the size.
    length = static_cast<int>(read(fd, text, ETC_TZ_SIZE));
    close(fd);
  }
  // TZ is unset or empty here, which the choice reads as unset.
  const time_zone_choice choice = choose_time_zone(nullptr, text, length);
  if (count > capacity - 2) return {time_zone_source::library_default, 0};
  if (choice.source == time_zone_source::etc_tz) {
    memcpy(assignment, "TZ=", TZ_PREFIX_LENGTH);
    text[choice.etc_tz_length] = '\0';
    environment[count++] = assignment;
  }
  environment[count] = nullptr;
  environ = environment;
  return choice;
}
