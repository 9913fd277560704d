// Which binary inputs exist, and their levels through the GPIO driver.
#pragma once

inline constexpr const char* GPIO_DEVICE_PATH = "/dev/gpio";
inline constexpr unsigned long GPIO_READ_INPUT0 = 0x80004207UL;
inline constexpr unsigned long GPIO_READ_INPUT1 = 0x8000421bUL;

/// The GPIO device, opened on first use and kept; -1 until then.
extern int gpio_fd;
/// Guards the check-and-open of gpio_fd: 0 free, 1 held. Taken with the
/// compiler's atomic builtins: <atomic> drags in libstdc++'s wait support,
/// which needs glibc-only calls when its headers were configured for glibc.
extern int gpio_lock;

/// 1 if input n is listed in the status tool's "ports" section, else 0.
int binary_input_present(int n);
/// binary_input_present with another status tool; for tests.
int binary_input_present_from(const char* status_tool, int n);

/// The level of input n, >= 0; 0 for unknown inputs and failed reads.
int binary_input_read(int n);

/// ioctl on the GPIO device, opening it first if needed; -1 if it cannot be.
int gpio_ioctl(unsigned long request, unsigned long argument);
/// gpio_ioctl on another device path; for tests.
int gpio_ioctl_at(const char* device, unsigned long request, unsigned long argument);
