// The page's reads: a whole file without blocking on a FIFO, and the
// request's body within a deadline; and the name its temporary files bear.
#pragma once

#include <stddef.h>

/// A web server gives up on a CGI program after about a minute: every wait
/// of the page ends well before.
inline constexpr int BODY_TIMEOUT_SECONDS = 10;
/// A temporary file of the page is its file's path, this, and six characters.
inline constexpr const char* WEB_TEMPORARY_SUFFIX = ".web-";

/// Reads the whole file into out[size]; returns its length, or -1 with
/// errno set (EFBIG when it does not fit).
long read_whole_file(const char* path, char* out, size_t size);

/// A clock in whole seconds that only goes forward, for deadlines; tests
/// give one that jumps.
struct deadline_clock {
  void* context;
  int (*seconds)(void* context);
};

/// The monotonic clock.
deadline_clock monotonic_clock();

/// Reads exactly length bytes from fd into out, giving up when the clock
/// reaches timeout_seconds after the start. False when the input ended
/// early, failed or was too slow.
bool read_exactly_until(int fd, char* out, size_t length, const deadline_clock& clock,
                        int timeout_seconds);
