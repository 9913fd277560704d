#include "tools/check/router.h"

#include "device/binary_input.h"
#include "device/monotonic.h"
#include "device/status.h"

namespace {

const char* router_ports_output(void* /*context*/) { return status_output("ports"); }
int router_input_present(void* /*context*/, int n) { return binary_input_present(n); }
int router_input_read(void* /*context*/, int n) { return binary_input_read(n); }
int router_monotonic_seconds(void* /*context*/) { return monotonic_seconds(); }
bool router_gpio_exists(void* /*context*/) { return gpio_device_present(); }

}  // namespace

field_platform router_field_platform() {
  return field_platform{nullptr,           router_ports_output,      router_input_present,
                        router_input_read, router_monotonic_seconds, router_gpio_exists};
}

input_presence_answer router_input_presence() {
  input_presence_answer answer{};
  answer.source =
      status_tool_present() ? presence_source::status_tool : presence_source::status_missing;
  // Asked once per input, so that the report and the loaded values agree
  // even if the tool's answer changes meanwhile.
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) answer.present[n] = binary_input_present(n) != 0;
  return answer;
}
