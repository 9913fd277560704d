// Which binary inputs exist, and their levels through the GPIO driver.
#pragma once

#include "device/status.h"
#include "kernel/dormix_gpio/dormix_gpio_abi.h"

inline constexpr const char* GPIO_DEVICE_PATH = DORMIX_GPIO_DEVICE_PATH;
inline constexpr unsigned long GPIO_READ_INPUT0 = DORMIX_GPIO_READ_INPUT0;
inline constexpr unsigned long GPIO_READ_INPUT1 = DORMIX_GPIO_READ_INPUT1;

/// The router's GPIO device, opened on first use and kept; -1 until then.
extern int gpio_fd;
/// Guards the check-and-open of gpio_fd: 0 free, 1 held. Taken with the
/// compiler's atomic builtins: <atomic> drags in libstdc++'s wait support,
/// which needs glibc-only calls when its headers were configured for glibc.
extern int gpio_lock;

/// A GPIO device opened on first use: its path, and where its descriptor and
/// lock word live. The router's is GPIO_DEVICE_PATH with gpio_fd and
/// gpio_lock; tests bring their own.
struct gpio_device {
  const char* path;
  int* fd;
  int* lock;
};

/// Room for one of binary_input_keys' keys.
inline constexpr int BINARY_INPUT_KEY_SIZE = 24;

/// The keys of the status tool's "ports" section that list input n: its
/// numbered "Binary Input N" and, for input 0, the bare "Binary Input" of
/// a router with a single input. Returns how many it wrote (1 or 2).
int binary_input_keys(int n, char keys[2][BINARY_INPUT_KEY_SIZE]);

/// Whether the text of a "ports" section lists input n; false for null.
bool binary_input_listed(const char* ports_text, int n);

/// 1 if input n is listed in the status tool's "ports" section, else 0.
int binary_input_present(int n);
/// binary_input_present through another cache and status source.
int binary_input_present_with(status_cache_record* cache, const status_source& source, int n);

/// The level of input n, >= 0; 0 for unknown inputs and failed reads.
int binary_input_read(int n);
/// binary_input_read on another device.
int binary_input_read_on(const gpio_device& device, int n);

/// Whether GPIO_DEVICE_PATH exists, for a look at the router (the daemon
/// itself just opens it).
bool gpio_device_present();

/// ioctl on the GPIO device, opening it first if needed; -1 if it cannot be.
int gpio_ioctl(unsigned long request, unsigned long argument);
/// gpio_ioctl on another device.
int gpio_ioctl_on(const gpio_device& device, unsigned long request, unsigned long argument);
