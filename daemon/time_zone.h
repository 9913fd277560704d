// The time zone the router's own C library would use, chosen once at start
// so that the daemon and the settings checker read the clock alike.
#pragma once

/// Bytes read from /etc/TZ: its first line holds a POSIX TZ string, far
/// shorter than this.
inline constexpr int ETC_TZ_SIZE = 128;
inline constexpr const char* ETC_TZ_PATH = "/etc/TZ";
inline constexpr const char* LOCALTIME_PATH = "/etc/localtime";

enum class time_zone_source {
  utc,          // none of the others
  environment,  // TZ, set and not empty
  etc_tz,       // the first line of /etc/TZ
  localtime     // the zone file /etc/localtime
};

struct time_zone_choice {
  time_zone_source source;
  int etc_tz_length;  // of the zone at the start of /etc/TZ's text, when it is the source
};

/// The zone from TZ's value (null when unset), the text read from /etc/TZ
/// (null when it cannot be read; at most ETC_TZ_SIZE bytes) and whether
/// /etc/localtime exists. Trailing line ends and blanks are not part of
/// /etc/TZ's line; a blank line, or one that does not end within
/// ETC_TZ_SIZE bytes, counts as no /etc/TZ.
time_zone_choice choose_time_zone(const char* tz_variable, const char* etc_tz_text,
                                  int etc_tz_length, bool localtime_exists);

/// Chooses the zone from this system's TZ, /etc/TZ and /etc/localtime and
/// hands it to the C library through TZ, which then holds the zone for the
/// TZ and /etc/TZ sources. Setting TZ allocates once; the C library reads it
/// at its first local time conversion, which must come after.
time_zone_choice use_system_time_zone();
