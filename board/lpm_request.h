// The low-power tool's command line, as the daemon writes it.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct lpm_request {
  bool wake_by_input;  // "-b"
  bool timed;          // "-i" N
  uint32_t seconds;    // N
};

/// Reads "-b", "-i" N or "-b" "-i" N (N plain decimal digits, at most
/// 4294967295). On a malformed or out-of-range line, returns false with the
/// reason in error.
bool parse_lpm_arguments(int argc, const char* const* argv, lpm_request* request, char* error,
                         size_t error_size);
