#include "analysis/field_view.h"

#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "device/binary_input.h"
#include "device/status.h"

namespace {

constexpr const char* INPUT_LINE_PREFIX = "Binary Input";

// The daemon's view of the router during one look: what the look saw, at
// the moment of the look; a firing marks the input whose rule entered sleep.
struct look {
  field_view* view;
  int now;
  int asked;  // the input whose presence the daemon asked about last
};

look& look_of(void* context) { return *static_cast<look*>(context); }
int look_time_of_day(void* /*context*/) { return 0; }
int look_monotonic(void* context) { return look_of(context).now; }
int look_present(void* context, int n) {
  look_of(context).asked = n;
  return look_of(context).view->inputs[n].present ? 1 : 0;
}
int look_read(void* context, int n) { return look_of(context).view->inputs[n].level; }
int look_fired(void* context, const wake_params& /*params*/) {
  look_of(context).view->inputs[look_of(context).asked].held = true;
  return 0;
}

void describe_status(const field_view& view, char* out) {
  if (!view.status_answered) {
    snprintf(out, FIELD_LINE_SIZE,
             "%s -v ports: no answer (missing or failing): every input counts as absent",
             STATUS_TOOL_PATH);
  } else if (view.input_lines[0] == '\0') {
    snprintf(out, FIELD_LINE_SIZE, "%s -v ports: no line about a binary input", STATUS_TOOL_PATH);
  } else {
    // One line per status line, indented, so that a change shows as a block.
    snprintf(out, FIELD_LINE_SIZE, "%s -v ports, about binary inputs:", STATUS_TOOL_PATH);
    for (const char* line = view.input_lines; *line != '\0';) {
      const char* end = strchr(line, '\n');
      const size_t used = strlen(out);
      snprintf(out + used, FIELD_LINE_SIZE - used, "\n  %.*s", static_cast<int>(end - line), line);
      line = end + 1;
    }
  }
}

void describe_gpio(const field_view& view, char* out) {
  if (view.gpio_exists) {
    snprintf(out, FIELD_LINE_SIZE, "%s: present", GPIO_DEVICE_PATH);
  } else {
    snprintf(out, FIELD_LINE_SIZE, "%s: missing, so every input reads as level 0",
             GPIO_DEVICE_PATH);
  }
}

void describe_input(const field_view& view, const sleep_config& config, int n, char* out) {
  const field_input& input = view.inputs[n];
  const int used = snprintf(out, FIELD_LINE_SIZE, "input %d: ", n);
  char* rest = out + used;
  const size_t room = FIELD_LINE_SIZE - static_cast<size_t>(used);
  if (!input.present) {
    snprintf(rest, room, "absent: the daemon does not look at it");
  } else if (!input.looked_at) {
    snprintf(rest, room, "present, level %d; input 0 is absent, so the daemon does not look at it",
             input.level);
  } else if (!input.rule_on) {
    snprintf(rest, room, "present, level %d; its sleep rule is off", input.level);
  } else {
    const int32_t hold = input_hold(config.sleep_bin_second[n]);
    const char* state = !input.matches ? "does not match"
                        : input.held   ? "matches and has held long enough: the daemon's rule "
                                         "fires on every cycle while it holds"
                                       : "matches now; the rule fires once it has held";
    snprintf(rest, room, "present, level %d; sleep rule: level %" PRIu32 " held %" PRId32 " s; %s",
             input.level, config.sleep_bin_state[n], hold, state);
  }
}

}  // namespace

void binary_input_lines(const char* output, char* out, size_t size) {
  out[0] = '\0';
  size_t used = 0;
  for (const char* line = output; *line != '\0';) {
    const char* end = strchr(line, '\n');
    const size_t length = end == nullptr ? strlen(line) : static_cast<size_t>(end - line);
    if (strncmp(line, INPUT_LINE_PREFIX, strlen(INPUT_LINE_PREFIX)) == 0 &&
        used + length + 2 <= size) {
      memcpy(out + used, line, length);
      used += length;
      out[used++] = '\n';
      out[used] = '\0';
    }
    if (end == nullptr) break;
    line = end + 1;
  }
}

void observe_field(const sleep_config& config, const field_platform& platform,
                   const field_view* previous, field_view* view) {
  *view = field_view{};
  const char* output = platform.ports_output(platform.context);
  view->status_answered = output != nullptr;
  if (output != nullptr) binary_input_lines(output, view->input_lines, sizeof view->input_lines);
  view->gpio_exists = platform.gpio_device_exists(platform.context);
  look seen{view, platform.monotonic_seconds(platform.context), 0};
  bool present[BINARY_INPUT_COUNT];
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    present[n] = platform.binary_input_present(platform.context, n) != 0;
    view->inputs[n].present = present[n];
    if (present[n]) view->inputs[n].level = platform.binary_input_read(platform.context, n);
  }
  const controller_platform daemon{&seen,        look_time_of_day, look_monotonic,
                                   look_present, look_read,        look_fired};
  if (previous == nullptr) {
    controller_start(&view->daemon, config, daemon);
  } else {
    view->daemon = previous->daemon;
  }
  input_rules_cycle(&view->daemon, config, daemon);
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    field_input& input = view->inputs[n];
    input.looked_at = input_in_use(present, n);
    input.rule_on = input.looked_at && config.sleep_bin_enabled[n] != 0;
    input.matches = input.looked_at && view->daemon.triggers[n].active;
  }
}

void describe_field_view(const field_view& view, const sleep_config& config,
                         char lines[FIELD_VIEW_LINES][FIELD_LINE_SIZE]) {
  describe_status(view, lines[0]);
  describe_gpio(view, lines[1]);
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) describe_input(view, config, n, lines[2 + n]);
}
