// The settings file as the page saves it: where a save writes, whether it
// may, the lock that orders saves, and the durable replace.
#pragma once

#include <stddef.h>

#include "web/files.h"

inline constexpr size_t SETTINGS_MAX_SIZE = 65536;
inline constexpr int LOCK_TIMEOUT_SECONDS = 10;

/// Where a save writes: the file that path leads to, past symbolic links,
/// or path itself when it does not exist (out[PATH_MAX]).
void settings_target(const char* path, char* out, size_t size);

/// Why this process cannot replace path (empty when it can): no write access
/// to the file or its directory.
void write_obstacle(const char* path, char* why, size_t why_size);

/// Takes the lock that orders saves of the settings file: returns the
/// descriptor that holds it (closing it releases the lock), or -1 when the
/// clock reached timeout_seconds after the start first.
int lock_settings_directory(const char* path, const deadline_clock& clock, int timeout_seconds);

/// Removes the temporary files that a save killed before its rename left
/// beside path. Only under the lock, which every save holds.
void remove_stale_temporaries(const char* path);

/// Replaces path with data: a temporary file in the same directory with the
/// old file's owner and mode, written and synced, renamed over path, and the
/// directory synced. Returns false with what failed in why.
bool replace_settings_file(const char* path, const char* data, size_t size, char* why,
                           size_t why_size);
