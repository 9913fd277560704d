#include "tools/check/field_view.h"

#include <stdio.h>
#include <string.h>

#include "daemon/controller.h"

namespace {

constexpr const char* INPUT_LINE_PREFIX = "Binary Input";

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
  const int now = platform.monotonic_seconds(platform.context);
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    field_input& input = view->inputs[n];
    input.present = platform.binary_input_present(platform.context, n) != 0;
    // The daemon stops at the first absent input.
    input.looked_at = input.present && (n == 0 || view->inputs[n - 1].looked_at);
    if (!input.present) continue;
    input.level = platform.binary_input_read(platform.context, n);
    input.rule_on = input.looked_at && config.sleep_bin_enabled[n] != 0;
    input.matches =
        input.rule_on && static_cast<uint32_t>(input.level) == config.sleep_bin_state[n];
    if (!input.matches) continue;
    const bool went_on = previous != nullptr && previous->inputs[n].matches;
    input.since = went_on ? previous->inputs[n].since : now;
    input.held = elapsed_seconds(now, input.since) >= input_hold(config.sleep_bin_second[n]);
  }
}
