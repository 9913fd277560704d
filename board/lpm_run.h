// What the low-power tool does with a request: check that the wake-up
// conditions can be met, arm them, sleep the configured way, and say what
// woke the board. The system calls are behind lpm_system, so that tests can
// play the kernel's part.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "board/lpm_config.h"
#include "board/lpm_request.h"

/// Exit statuses (dormix-lpm(8)). The daemon ignores them; the log says it.
inline constexpr int LPM_EXIT_WOKE = 0;         // slept and woke (suspend, soft), or nothing to do
inline constexpr int LPM_EXIT_NO_WAKE = 1;      // a wake-up condition cannot be armed
inline constexpr int LPM_EXIT_USAGE = 2;        // malformed or out-of-range arguments
inline constexpr int LPM_EXIT_CONFIG = 3;       // the configuration file is unusable
inline constexpr int LPM_EXIT_NOT_ENTERED = 4;  // the kernel refused the sleep or power-off

inline constexpr const char* POWER_STATE_PATH = "/sys/power/state";
inline constexpr size_t LPM_LOG_SIZE = 512;

enum class soft_wake { timer, input, signal, failed };

/// The outside world of the tool. Functions returning int give 0, or -1
/// with errno set.
struct lpm_system {
  void* context;
  /// Sets device's wake alarm seconds ahead of its own clock and enables it;
  /// stores the alarm as seconds since the epoch (the RTC keeps UTC).
  int (*rtc_set_alarm)(void* context, const char* device, uint32_t seconds, int64_t* alarm);
  /// Reads the alarm back: its time and whether it is enabled.
  int (*rtc_read_alarm)(void* context, const char* device, int64_t* alarm, bool* enabled);
  /// The RTC's present time, or -1.
  int64_t (*rtc_now)(void* context, const char* device);
  /// Disables device's alarm.
  void (*rtc_disarm)(void* context, const char* device);
  /// Reads a small text file (sysfs) into out, NUL-terminated.
  int (*read_text)(void* context, const char* path, char* out, size_t size);
  /// Writes text to a file (sysfs) in one write; for /sys/power/state it
  /// returns after the wake.
  int (*write_text)(void* context, const char* path, const char* text);
  /// Waits for seconds on a clock that counts through a suspend (if timed)
  /// and for a change on an armed input (if inputs).
  soft_wake (*wait_soft)(void* context, bool timed, uint32_t seconds, bool inputs);
  /// Runs an operator's hook with one argument; its exit status, or -1.
  int (*run_hook)(void* context, const char* path, const char* phase);
  /// Powers the board off (command, or the kernel's own power-off if empty);
  /// returns only when that failed.
  int (*power_off)(void* context, const char* command);
  /// Milliseconds on CLOCK_BOOTTIME, which counts through a suspend.
  int64_t (*boottime_ms)(void* context);
  /// priority as syslog's; errors also go to stderr.
  void (*log)(void* context, int priority, const char* text);
};

/// Carries out request the configured way; returns the exit status.
int run_lpm(const lpm_request& request, const lpm_config& config, const lpm_system& system);

/// The sleep state to write to /sys/power/state, from the states it lists:
/// "mem", else "freeze"; null when it offers neither.
const char* choose_sleep_state(const char* offered);

/// What woke a suspended board, in words: "input N" from woken_by, else
/// "the RTC alarm" once its time has come, else "another wakeup source".
const char* name_waking_source(int woken_by, bool alarm_passed, char* out, size_t size);

/// "2026-12-09 17:30:20 UTC".
void format_utc(int64_t epoch, char* out, size_t size);
