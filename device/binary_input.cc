#include "device/binary_input.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>

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

int binary_input_present_with(status_cache_record* cache, const status_source& source, int n) {
  bool unnumbered = false;
  if (n == 0) {
    unnumbered =
        strcmp(status_get_with(cache, source, "ports", "Binary Input"), STATUS_MISSING) != 0;
  }
  char key[32];
  snprintf(key, sizeof key, "Binary Input %d", n);
  const bool numbered = strcmp(status_get_with(cache, source, "ports", key), STATUS_MISSING) != 0;
  return numbered || unnumbered ? 1 : 0;
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
