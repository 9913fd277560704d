// dormix-check's exit statuses, one set for all its modes, and its one
// answer to wrong usage.
#pragma once

/// 0: the report has no warnings; --enabled: the switch is on;
/// --wait-for-clock: the clock is set.
inline constexpr int EXIT_YES = 0;
/// 1: warnings; the switch is off; the wait reached its bound unset.
inline constexpr int EXIT_NO = 1;
/// 2: wrong usage, an unusable settings file, or a program that cannot run.
inline constexpr int EXIT_UNUSABLE = 2;

/// Says what is wrong (format with detail) and then usage (a text with the
/// settings file's default path for its %s) on stderr; returns
/// EXIT_UNUSABLE.
int usage_error(const char* usage, const char* format, const char* detail);
