// The low-power tool's configuration file: how this board sleeps.
#pragma once

#include <stddef.h>

inline constexpr const char* LPM_CONFIG_PATH = "/opt/dormix/etc/lpm";
inline constexpr const char* LPM_DEFAULT_RTC = "/dev/rtc0";
inline constexpr int LPM_MAX_HOOKS = 8;
inline constexpr int LPM_PATH_SIZE = 128;

enum class lpm_method { suspend, poweroff, soft };

struct lpm_config {
  lpm_method method;
  char rtc[LPM_PATH_SIZE];               // the RTC device whose alarm wakes the board
  char poweroff_command[LPM_PATH_SIZE];  // empty: the kernel's own power-off
  char hooks[LPM_MAX_HOOKS][LPM_PATH_SIZE];
  int hook_count;
};

/// The configuration of a board without a file: suspend, woken by /dev/rtc0.
lpm_config default_lpm_config();

/// Applies one line ("key=value", blank or "#" comment) to config. Returns
/// false with the reason in error for an unknown key or method, a value that
/// is not an absolute path, or a hook too many.
bool apply_lpm_config_line(const char* line, lpm_config* config, char* error, size_t error_size);

/// The largest configuration file read.
inline constexpr size_t LPM_CONFIG_MAX = 2048;

/// Reads a whole file's text over default_lpm_config(). On the first bad
/// line, returns false with "LINE: reason" in error.
bool read_lpm_config(const char* text, lpm_config* config, char* error, size_t error_size);

/// The method's name as the file spells it.
const char* lpm_method_name(lpm_method method);

/// True for the methods after which the tool returns to the daemon, whose
/// rules then go on firing.
bool lpm_method_returns(lpm_method method);

/// The method that text (a configuration file's, null for none) sets:
/// false without text or when it does not read; else the method's name
/// and whether the tool returns after it.
bool lpm_config_method(const char* text, bool* returns, const char** name);

/// The text of the configuration file at LPM_CONFIG_PATH into out
/// (LPM_CONFIG_MAX + 1 bytes); null when there is none.
const char* read_lpm_config_file(char* out);
