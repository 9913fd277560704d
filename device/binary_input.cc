#include "device/binary_input.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <cstdio>
#include <cstring>

#include "device/status.h"

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

int binary_input_present_from(const char* status_tool, int n) {
  bool unnumbered = false;
  if (n == 0) {
    unnumbered = strcmp(status_get_from(status_tool, "ports", "Binary Input"), STATUS_MISSING) != 0;
  }
  char key[32];
  snprintf(key, sizeof key, "Binary Input %d", n);
  const bool numbered = strcmp(status_get_from(status_tool, "ports", key), STATUS_MISSING) != 0;
  return numbered || unnumbered ? 1 : 0;
}

int binary_input_present(int n) { return binary_input_present_from(STATUS_TOOL_PATH, n); }

int binary_input_read(int n) {
  int level = 0;
  if (n == 0) {
    level = gpio_ioctl(GPIO_READ_INPUT0, 0);
  } else if (n == 1) {
    level = gpio_ioctl(GPIO_READ_INPUT1, 0);
  }
  return level < 0 ? 0 : level;
}

int gpio_ioctl_at(const char* device, unsigned long request, unsigned long argument) {
  while (__atomic_exchange_n(&gpio_lock, 1, __ATOMIC_SEQ_CST) != 0) {
  }
  if (gpio_fd < 0) gpio_fd = open(device, O_RDWR);
  // Read under the lock: another thread may be storing it.
  const int fd = gpio_fd;
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
  __atomic_store_n(&gpio_lock, 0, __ATOMIC_RELAXED);
  if (fd < 0) return -1;
  return ioctl_as_declared(ioctl, fd, request, argument);
}

int gpio_ioctl(unsigned long request, unsigned long argument) {
  return gpio_ioctl_at(GPIO_DEVICE_PATH, request, argument);
}
