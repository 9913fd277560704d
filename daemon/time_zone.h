// The time zone the router's own C library would use, chosen once at start
// so that the daemon and the settings checker read the clock alike.
#pragma once

/// Bytes read from /etc/TZ: its first line holds a POSIX TZ string, far
/// shorter than this.
inline constexpr int ETC_TZ_SIZE = 128;
inline constexpr const char* ETC_TZ_PATH = "/etc/TZ";
inline constexpr const char* LOCALTIME_PATH = "/etc/localtime";

enum class time_zone_source {
  library_default,  // TZ unset: the C library reads /etc/localtime, or uses UTC without it
  environment,      // TZ, set and not empty
  etc_tz            // the first line of /etc/TZ
};

struct time_zone_choice {
  time_zone_source source;
  int etc_tz_length;  // of the zone at the start of /etc/TZ's text, when it is the source
};

/// The zone from TZ's value (null when unset) and the text read from /etc/TZ
/// (at most ETC_TZ_SIZE bytes; a negative length when it cannot be read).
/// Trailing line ends, blanks and control characters are not part of
/// /etc/TZ's line; a blank line, or one that does not end within
/// ETC_TZ_SIZE bytes, counts as no /etc/TZ. Inline: on 32-bit ARM a call
/// returning the choice costs the daemon more than the decision itself.
inline time_zone_choice choose_time_zone(const char* tz_variable, const char* etc_tz_text,
                                         int etc_tz_length) {
  if (tz_variable != nullptr && tz_variable[0] != '\0') return {time_zone_source::environment, 0};
  int end = 0;
  while (end < etc_tz_length && etc_tz_text[end] != '\n') ++end;
  // Without a line end inside what was read, the line may go on beyond it.
  if (end >= ETC_TZ_SIZE) return {time_zone_source::library_default, 0};
  while (end > 0 && static_cast<unsigned char>(etc_tz_text[end - 1]) <= ' ') --end;
  if (end == 0) return {time_zone_source::library_default, 0};
  return {time_zone_source::etc_tz, end};
}

/// Room for a new environment: a daemon's holds a handful of variables.
inline constexpr int ENVIRONMENT_CAPACITY = 128;

/// Chooses the zone from this system's TZ and /etc/TZ and hands it to the C
/// library: TZ then holds the zone from either, or is unset for the C
/// library's default (an empty TZ would mean UTC). The new environment's
/// entries go into environment, of capacity entries, which must last as
/// long as the program; with more variables than fit, nothing changes and
/// the source is the C library's default. The C library reads TZ at
/// its first local time conversion, which must come after.
time_zone_choice use_system_time_zone(char** environment, int capacity);
