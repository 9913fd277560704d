// What the daemon sees of the binary inputs on the router at one moment:
// which inputs the status tool lists, their levels, and what the daemon's
// input rules make of them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "daemon/controller.h"

inline constexpr int FIELD_STATUS_SIZE = 4096;
inline constexpr int FIELD_LINE_SIZE = 512;
inline constexpr int FIELD_VIEW_LINES = 2 + BINARY_INPUT_COUNT;

/// The router as the checker and the page look at it. Every call gets
/// context, so that tests script the router.
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
  bool looked_at;  // in use: the daemon evaluates it
  int level;
  bool rule_on;  // looked at, and its sleep rule on in the loaded settings
  bool matches;  // the daemon's rule counts the level as its sleep level
  bool held;     // the daemon's rule fires: matched for at least the hold
};

struct field_view {
  bool status_answered;
  char input_lines[FIELD_STATUS_SIZE];  // the status lines about binary inputs
  bool gpio_exists;
  field_input inputs[BINARY_INPUT_COUNT];
  controller_state daemon;  // the daemon's input rules, started at the first look
};

/// Looks at the router once, with config as the daemon loaded it, and runs
/// the daemon's input rules on what it saw. previous is the last view (null
/// for none), whose rules go on: a hold keeps its start while it lasts.
void observe_field(const sleep_config& config, const field_platform& platform,
                   const field_view* previous, field_view* view);

/// The view in words: the status tool's answer, the GPIO device, then one
/// line per input with what the daemon's input rule makes of it.
void describe_field_view(const field_view& view, const sleep_config& config,
                         char lines[FIELD_VIEW_LINES][FIELD_LINE_SIZE]);

/// Copies the lines of status output that begin with "Binary Input", each
/// ended by a line feed, into out.
void binary_input_lines(const char* output, char* out, size_t size);
