// What the daemon sees of the binary inputs on the router at one moment:
// which inputs the status tool lists, their levels, and whether each input
// rule's level matches.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "settings/settings.h"

inline constexpr int FIELD_STATUS_SIZE = 4096;

/// The router as the checker looks at it. Every call gets context, so that
/// tests script the router.
struct field_platform {
  void* context;
  /// The status tool's "ports" output, or null when the tool gave none.
  const char* (*ports_output)(void* context);
  int (*binary_input_present)(void* context, int n);
  int (*binary_input_read)(void* context, int n);
  int (*monotonic_seconds)(void* context);
  bool (*gpio_device_exists)(void* context);
};

struct field_input {
  bool present;
  bool looked_at;  // the daemon evaluates it: present, and input 0 present too
  int level;
  bool rule_on;   // looked at, and its sleep rule on in the loaded settings
  bool matches;   // rule on, and the level is the rule's sleep level
  int32_t since;  // monotonic second at which the current match began
  bool held;      // matched for at least the rule's hold
};

struct field_view {
  bool status_answered;
  char input_lines[FIELD_STATUS_SIZE];  // the status lines about binary inputs
  bool gpio_exists;
  field_input inputs[BINARY_INPUT_COUNT];
};

/// Looks at the router once, with config as the daemon loaded it. previous
/// is the last view (null for none): a match that goes on keeps its start.
void observe_field(const sleep_config& config, const field_platform& platform,
                   const field_view* previous, field_view* view);

/// Copies the lines of status output that begin with "Binary Input", each
/// ended by a line feed, into out.
void binary_input_lines(const char* output, char* out, size_t size);
