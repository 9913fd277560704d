#include "datetime/date_time.h"

namespace {

// Reads count digits at text, or fails.
bool read_digits(const char* text, int count, int* value) {
  int read = 0;
  for (int i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    read = read * 10 + (text[i] - '0');
  }
  *value = read;
  return true;
}

bool in_range(int value, int low, int high) { return value >= low && value <= high; }

tm broken_down(const date_time& fields) {
  tm local{};
  local.tm_year = fields.year - 1900;
  local.tm_mon = fields.month - 1;
  local.tm_mday = fields.day;
  local.tm_hour = fields.hour;
  local.tm_min = fields.minute;
  local.tm_sec = fields.second;
  local.tm_isdst = -1;
  return local;
}

}  // namespace

bool parse_date_time(const char* text, date_time* fields) {
  date_time read{};
  const bool form = read_digits(text, 4, &read.year) && text[4] == '-' &&
                    read_digits(text + 5, 2, &read.month) && text[7] == '-' &&
                    read_digits(text + 8, 2, &read.day) && text[10] == ' ' &&
                    read_digits(text + 11, 2, &read.hour) && text[13] == ':' &&
                    read_digits(text + 14, 2, &read.minute) && text[16] == ':' &&
                    read_digits(text + 17, 2, &read.second) && text[19] == '\0';
  if (!form || read.year < 1970 || !in_range(read.month, 1, 12) || !in_range(read.day, 1, 31) ||
      !in_range(read.hour, 0, 23) || !in_range(read.minute, 0, 59) ||
      !in_range(read.second, 0, 60)) {
    return false;
  }
  *fields = read;
  return true;
}

time_t local_moment_of(const date_time& fields) {
  tm local = broken_down(fields);
  return mktime(&local);
}

bool parse_local_moment(const char* text, time_t* moment) {
  date_time fields{};
  if (!parse_date_time(text, &fields)) return false;
  const time_t t = local_moment_of(fields);
  if (t == static_cast<time_t>(-1)) return false;
  // mktime moves a day past the month's end, and times the clock skips,
  // elsewhere: the clock must show the fields as given.
  const tm wanted = broken_down(fields);
  tm shown{};
  localtime_r(&t, &shown);
  if (shown.tm_year != wanted.tm_year || shown.tm_mon != wanted.tm_mon ||
      shown.tm_mday != wanted.tm_mday || shown.tm_hour != wanted.tm_hour ||
      shown.tm_min != wanted.tm_min || shown.tm_sec != wanted.tm_sec) {
    return false;
  }
  *moment = t;
  return true;
}
