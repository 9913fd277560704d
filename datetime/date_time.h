// Local wall-clock times written "YYYY-MM-DD HH:MM:SS", as a scenario's clock
// and the checker's --at give them. C headers only: the checker is also built
// against musl alone.
#pragma once

#include <time.h>

/// The fields of a "YYYY-MM-DD HH:MM:SS" text.
struct date_time {
  int year;    // from 1970
  int month;   // 1-12
  int day;     // 1-31
  int hour;    // 0-23
  int minute;  // 0-59
  int second;  // 0-60
};

/// Reads exactly "YYYY-MM-DD HH:MM:SS", nothing before or after, every field
/// in its range. Says nothing of whether a month has that day or the local
/// clock shows that time.
bool parse_date_time(const char* text, date_time* fields);

/// The moment the local clock shows fields, as mktime finds it: a day past
/// the month's end or a time the clock skips lands later; a time the clock
/// shows twice gives either.
time_t local_moment_of(const date_time& fields);

/// Reads text as a time that the local clock shows. Returns false for text
/// in another form, for fields out of range, for a day the month does not
/// have and for a clock time that the local clock skips.
bool parse_local_moment(const char* text, time_t* moment);
