// The seconds of the day that the sleep and wake times stand for, the wake-up
// interval handed to the low-power tool and its command line: arithmetic
// only, shared by the daemon and the settings checker.
#pragma once

#include <stdint.h>

#include "settings/settings.h"

inline constexpr const char* LPM_PATH = "/usr/sbin/lpm";
inline constexpr uint32_t NO_WAKE_INTERVAL = 0xFFFFFFFFU;
inline constexpr const char* NO_WAKE_RULE_MESSAGE =
    "Router does not go to sleep mode, without rules for wake up.";
inline constexpr int LPM_NUMBER_SIZE = 512;

struct wake_params {
  int32_t wake_bin;
  int32_t wake_delay_enabled;
  uint32_t wake_delay_second;
  int32_t wake_time_enabled;
  int32_t wake_hour;
  int32_t wake_minute;
};

/// hour * 3600 + minute * 60, modulo 2^32: the second of the day that a time
/// setting stands for, past a day for a wake-up on a later day.
uint32_t wake_time_of_day(uint32_t hour, uint32_t minute);

/// The same second read as signed, as the time-of-day rule compares it.
int32_t sleep_time_of_day(uint32_t hour, uint32_t minute);

/// The wake-up settings as every firing passes them on.
wake_params wake_params_from(const sleep_config& config);

/// Seconds until the wake-up: the fixed delay or the time left until the wake
/// time (tomorrow if it is now or past), whichever is smaller; NO_WAKE_INTERVAL
/// when neither applies. now_tod is the local second of the day.
uint32_t wake_interval(const wake_params& params, int now_tod);

/// Fills arguments with the low-power tool's arguments (after its path),
/// ended by a null pointer, with the seconds formatted into number (of
/// LPM_NUMBER_SIZE bytes). Returns how many there are, or 0 when there is no
/// wake-up rule and the tool must not run.
int lpm_arguments(int32_t wake_bin, uint32_t interval, char* number, const char* arguments[4]);
