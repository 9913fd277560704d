#include "device/binary_input.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// glibc declares the request unsigned long, musl int; pass it as the type of
// this C library's ioctl (the kernel reads the same 32 bits either way).
template <typename Request>
int ioctl_as_declared(int (*call)(int, Request, ...), int fd, unsigned long request,
                      unsigned long argument) {
  return call(fd, static_cast<Request>(request), argument);
}

}  // namespace

int gpio_fd = -1;
int gpio_lock = 0;

namespace {

const gpio_device router_gpio{GPIO_DEVICE_PATH, &gpio_fd, &gpio_lock};

}  // namespace

int binary_input_keys(int n, char keys[2][BINARY_INPUT_KEY_SIZE]) {
  snprintf(keys[0], BINARY_INPUT_KEY_SIZE, "Binary Input %d", n);
  if (n != 0) return 1;
  snprintf(keys[1], BINARY_INPUT_KEY_SIZE, "Binary Input");
  return 2;
}

bool binary_input_listed(const char* ports_text, int n) {
  if (ports_text == nullptr) return false;
  char keys[2][BINARY_INPUT_KEY_SIZE];
  const int count = binary_input_keys(n, keys);
  char value[STATUS_VALUE_MAX + 1];
  for (int k = 0; k < count; ++k) {
    if (status_scan(ports_text, keys[k], value)) return true;
  }
  return false;
}

int binary_input_present_with(status_cache_record* cache, const status_source& source, int n) {
  char keys[2][BINARY_INPUT_KEY_SIZE];
  const int count = binary_input_keys(n, keys);
  for (int k = 0; k < count; ++k) {
    if (strcmp(status_get_with(cache, source, "ports", keys[k]), STATUS_MISSING) != 0) return 1;
  }
  return 0;
}

int binary_input_present(int n) {
  return binary_input_present_with(this_thread_status_cache(), router_status_source(), n);
}

int binary_input_read_on(const gpio_device& device, int n) {
  int level = 0;
  if (n == 0) {
    level = gpio_ioctl_on(device, GPIO_READ_INPUT0, 0);
  } else if (n == 1) {
    level = gpio_ioctl_on(device, GPIO_READ_INPUT1, 0);
  }
  return level < 0 ? 0 : level;
}

int binary_input_read(int n) { return binary_input_read_on(router_gpio, n); }

int gpio_ioctl_on(const gpio_device& device, unsigned long request, unsigned long argument) {
  while (__atomic_exchange_n(device.lock, 1, __ATOMIC_ACQUIRE) != 0) {
  }
  if (*device.fd < 0) *device.fd = open(device.path, O_RDWR);
  // Read under the lock: another thread may be storing it.
  const int fd = *device.fd;
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
  __atomic_store_n(device.lock, 0, __ATOMIC_RELAXED);
  if (fd < 0) return -1;
  return ioctl_as_declared(ioctl, fd, request, argument);
}

int gpio_ioctl(unsigned long request, unsigned long argument) {
  return gpio_ioctl_on(router_gpio, request, argument);
}

bool gpio_device_present() { return access(GPIO_DEVICE_PATH, F_OK) == 0; }
