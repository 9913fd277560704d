// dormix-status: the status tool the daemon runs as /usr/bin/status, on
// boards whose firmware has none. It knows one section, "ports".
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "board/gpio_sysfs.h"
#include "board/status_ports.h"
#include "device/binary_input.h"

namespace {

// Through the daemon's own device code, as the daemon reads the levels.
int read_level(const gpio_device& gpio, int n) {
  return gpio_ioctl_on(gpio, n == 0 ? GPIO_READ_INPUT0 : GPIO_READ_INPUT1, 0);
}

// Without the driver there are no inputs: an empty section and status 0, as
// the daemon caches a successful run and asks again for a failed one.
int print_ports() {
  bool present[GPIO_INPUT_COUNT] = {false, false};
  char text[64];
  const int fd = open(GPIO_INPUTS_PATH, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    const ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    text[length > 0 ? length : 0] = '\0';
    if (!parse_gpio_inputs(text, present)) {
      fprintf(stderr, "status: %s: unexpected contents\n", GPIO_INPUTS_PATH);
    }
  } else {
    fprintf(stderr, "status: %s missing: dormix_gpio is not loaded\n", GPIO_INPUTS_PATH);
  }
  int levels[GPIO_INPUT_COUNT] = {-1, -1};
  int gpio_descriptor = -1;
  int gpio_lock_word = 0;
  const gpio_device gpio{GPIO_DEVICE_PATH, &gpio_descriptor, &gpio_lock_word};
  for (int n = 0; n < GPIO_INPUT_COUNT; ++n) {
    if (present[n]) levels[n] = read_level(gpio, n);
  }
  char out[128];
  const size_t length = format_ports(present, levels, out, sizeof out);
  return fwrite(out, 1, length, stdout) == length && fflush(stdout) == 0 ? STATUS_EXIT_OK
                                                                         : STATUS_EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv) {
  const char* section = status_section(argc, argv);
  if (section == nullptr) {
    fprintf(stderr, "usage: status -v SECTION   (sections: ports)\n");
    return STATUS_EXIT_USAGE;
  }
  if (strcmp(section, "ports") != 0) {
    fprintf(stderr, "status: unknown section \"%s\" (sections: ports)\n", section);
    return STATUS_EXIT_UNKNOWN_SECTION;
  }
  return print_ports();
}
