// dormix-check's exit statuses, one set for all its modes and names, and its
// one answer to wrong usage.
#pragma once

/// 0: the report has no warnings; dormix-enabled: the switch is on;
/// dormix-wait-clock: the clock is set.
inline constexpr int EXIT_YES = 0;
/// 1: warnings; the switch is off; the wait reached its bound unset.
inline constexpr int EXIT_NO = 1;
/// 2: wrong usage, an unusable settings file, or a program that cannot run.
inline constexpr int EXIT_UNUSABLE = 2;

/// How a mode was called: by its own name ("dormix-enabled", mode "") or,
/// as the previous release's init scripts call it, as an option of
/// dormix-check (mode "--enabled ", with its blank). Messages name it so.
struct command_name {
  const char* program;
  const char* mode;
};

/// Says what is wrong (format with detail) after the program's name, then
/// "usage: " with the command and usage (a text with the settings file's
/// default path for its %s) on stderr; returns EXIT_UNUSABLE.
int usage_error(const command_name& name, const char* usage, const char* format,
                const char* detail);
