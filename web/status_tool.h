// The page's one run of the status tool per load.
#pragma once

#include <stddef.h>

inline constexpr int STATUS_OUTPUT_SIZE = 4096;
inline constexpr int STATUS_TIMEOUT_SECONDS = 5;

/// Runs tool "-v" section with nothing of the request in its environment,
/// and collects its output into out[size] (NUL-terminated). Returns false
/// when it failed, or did not end within timeout_seconds, when its process
/// group is killed.
bool run_status_tool(const char* tool, const char* section, int timeout_seconds, char* out,
                     size_t size);
