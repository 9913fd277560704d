// Values from the router's status tool, with a short per-thread cache.
#pragma once

#include <stdint.h>

inline constexpr const char* STATUS_TOOL_PATH = "/usr/bin/status";
inline constexpr const char* STATUS_MISSING = "N/A";
inline constexpr int STATUS_VALUE_MAX = 127;
inline constexpr int STATUS_OUTPUT_MAX = 4095;

struct status_cache_record {
  char section[32];
  int32_t expires;
  char value[544];
  char output[STATUS_OUTPUT_MAX + 1];
};

/// This thread's status_cache: the last section's output and the last
/// result. A function rather than an extern thread_local, whose C++ access
/// wrapper every caller would otherwise import.
status_cache_record* this_thread_status_cache();

/// Looks key up in the tool output text: the first line that begins with key
/// decides. Copies its value into value (room for STATUS_VALUE_MAX + 1) and
/// returns true, or returns false for "N/A".
bool status_scan(const char* text, const char* key, char* value);

/// Where status values come from: the tool to run, and the clock in whole
/// seconds by which cached output expires (context is passed to it).
struct status_source {
  const char* tool;
  int (*seconds)(void* context);
  void* context;
};

/// Whether STATUS_TOOL_PATH is there to be run, for a look at the router.
bool status_tool_present();

/// The router's: STATUS_TOOL_PATH, and monotonic_seconds.
status_source router_status_source();

/// The value of key in section, or "N/A". The result lives in this thread's
/// cache and is overwritten by its next call.
const char* status_get(const char* section, const char* key);

/// The tool's whole output for section, from this thread's cache while it is
/// fresh (the same section, fetched in this whole second or the one before),
/// else from a new run; null when that run failed.
const char* status_output(const char* section);

/// status_get with cache and source in place of this thread's status_cache
/// and the router's; the result lives in cache->value.
const char* status_get_with(status_cache_record* cache, const status_source& source,
                            const char* section, const char* key);
