// The GPIO driver dormix_gpio's sysfs attributes: which inputs it has, and
// arming them as wakeup sources.
#pragma once

inline constexpr const char* GPIO_INPUTS_PATH = "/sys/class/misc/gpio/inputs";
inline constexpr const char* GPIO_WAKE_PATH = "/sys/class/misc/gpio/wake";
inline constexpr const char* GPIO_WOKEN_BY_PATH = "/sys/class/misc/gpio/woken_by";
inline constexpr int GPIO_INPUT_COUNT = 2;
inline constexpr int WOKEN_BY_NONE = -1;
inline constexpr int WOKEN_BY_UNREADABLE = -2;

/// Reads the "inputs" attribute ("0 1\n", "0\n", "\n"): which of inputs 0
/// and 1 the driver has configured. False for any other text.
bool parse_gpio_inputs(const char* text, bool present[GPIO_INPUT_COUNT]);

/// The input named by the "woken_by" attribute ("0\n", "1\n"), or
/// WOKEN_BY_NONE ("none\n"), or WOKEN_BY_UNREADABLE for anything else.
int parse_woken_by(const char* text);
