// /dev/gpio of the simulated router: a FUSE file whose ioctl answers the
// GPIO driver's level requests with the scenario's levels.
#pragma once

#include <functional>

#include "kernel/dormix_gpio/dormix_gpio_abi.h"
#include "simulator/scenario.h"

struct gpio_levels {
  int level[SIM_INPUT_COUNT];
  int error[SIM_INPUT_COUNT];  // errno answered instead of the level, 0 for none
};

/// Called for every open (input -1, value: the open flags) and every level
/// request (the input, value: the answer or -errno), with the caller's pid.
using gpio_observer = std::function<void(int input, long value, long pid)>;

struct gpio_file;

/// Mounts the file on the empty regular file at path, through the already
/// open /dev/fuse descriptor. The server runs in this process: it must never
/// touch path itself. Returns null with the reason on failure.
gpio_file* gpio_file_mount(int fuse_fd, const char* path, gpio_levels* levels,
                           gpio_observer observer, std::string* reason);

/// The descriptor to poll for requests.
int gpio_file_descriptor(gpio_file* file);

/// Answers the requests waiting on the descriptor.
void gpio_file_serve(gpio_file* file);
