// The status tool's "ports" section: the binary inputs the GPIO driver has
// configured, with their present levels, in the lines the daemon's status
// parser reads ("Binary Input 0: 1").
#pragma once

#include <stddef.h>

#include "board/gpio_sysfs.h"

/// Exit statuses (dormix-status(8)).
inline constexpr int STATUS_EXIT_OK = 0;
inline constexpr int STATUS_EXIT_UNKNOWN_SECTION = 1;
inline constexpr int STATUS_EXIT_USAGE = 2;

/// A level the driver could not read. Not "N/A", which would tell the
/// daemon that the input does not exist.
inline constexpr const char* STATUS_LEVEL_UNREADABLE = "unreadable";

/// Writes one line per present input into out: its level (0 or above) or
/// STATUS_LEVEL_UNREADABLE (negative). Returns the length written.
size_t format_ports(const bool present[GPIO_INPUT_COUNT], const int level[GPIO_INPUT_COUNT],
                    char* out, size_t size);

/// The section "-v SECTION" asks for, or null for any other command line.
const char* status_section(int argc, const char* const* argv);
