#include "tools/check/field_mode.h"

#include <inttypes.h>
#include <signal.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "daemon/controller.h"
#include "daemon/wakeup.h"
#include "device/binary_input.h"
#include "device/monotonic.h"
#include "device/status.h"
#include "tools/check/clock_rule.h"
#include "tools/check/field_view.h"
#include "tools/check/output.h"
#include "tools/check/root_only.h"

namespace {

constexpr useconds_t WATCH_PAUSE_US = 250000;
constexpr int LINE_SIZE = FIELD_LINE_SIZE;
constexpr int VIEW_LINES = FIELD_VIEW_LINES;

volatile sig_atomic_t stop_watching = 0;

void handle_stop(int /*signal_number*/) { stop_watching = 1; }

// The router itself, through the daemon's own device code.
const char* router_ports_output(void* /*context*/) { return status_output("ports"); }
int router_input_present(void* /*context*/, int n) { return binary_input_present(n); }
int router_input_read(void* /*context*/, int n) { return binary_input_read(n); }
int router_monotonic_seconds(void* /*context*/) { return monotonic_seconds(); }
bool router_gpio_exists(void* /*context*/) { return access(GPIO_DEVICE_PATH, F_OK) == 0; }

void describe_status(const field_view& view, char* out) {
  if (!view.status_answered) {
    snprintf(out, LINE_SIZE,
             "%s -v ports: no answer (missing or failing): every input counts as absent",
             STATUS_TOOL_PATH);
  } else if (view.input_lines[0] == '\0') {
    snprintf(out, LINE_SIZE, "%s -v ports: no line about a binary input", STATUS_TOOL_PATH);
  } else {
    // One line per status line, indented, so that a change shows as a block.
    snprintf(out, LINE_SIZE, "%s -v ports, about binary inputs:", STATUS_TOOL_PATH);
    for (const char* line = view.input_lines; *line != '\0';) {
      const char* end = strchr(line, '\n');
      const size_t used = strlen(out);
      snprintf(out + used, LINE_SIZE - used, "\n  %.*s", static_cast<int>(end - line), line);
      line = end + 1;
    }
  }
}

void describe_gpio(const field_view& view, char* out) {
  if (view.gpio_exists) {
    snprintf(out, LINE_SIZE, "%s: present", GPIO_DEVICE_PATH);
  } else {
    snprintf(out, LINE_SIZE, "%s: missing, so every input reads as level 0", GPIO_DEVICE_PATH);
  }
}

void describe_input(const field_view& view, const sleep_config& config, int n, char* out) {
  const field_input& input = view.inputs[n];
  const int used = snprintf(out, LINE_SIZE, "input %d: ", n);
  char* rest = out + used;
  const size_t room = LINE_SIZE - static_cast<size_t>(used);
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

int print_file_warnings(const check_report& report, FILE* out) {
  static check_findings access_findings;
  access_findings = check_findings{};
  check_trusted_files(report.path, &access_findings);
  for (int i = 0; i < access_findings.warning_count; ++i) {
    fprintf(out, "warning: %s [%s]\n", access_findings.warnings[i].text,
            access_findings.warnings[i].code);
  }
  return warning_total(access_findings);
}

void watch(const check_report& report, const field_platform& platform, field_view* view,
           FILE* out) {
  struct sigaction action {};
  action.sa_handler = handle_stop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  static char shown[VIEW_LINES][LINE_SIZE];
  describe_field_view(*view, report.config, shown);
  static field_view next;
  while (stop_watching == 0) {
    usleep(WATCH_PAUSE_US);
    if (stop_watching != 0) break;
    observe_field(report.config, platform, view, &next);
    *view = next;
    char lines[VIEW_LINES][LINE_SIZE];
    describe_field_view(*view, report.config, lines);
    char when[48];
    format_local_moment(time(nullptr), when);
    for (int i = 0; i < VIEW_LINES; ++i) {
      if (strcmp(lines[i], shown[i]) == 0) continue;
      fprintf(out, "%s  %s\n", when, lines[i]);
      memcpy(shown[i], lines[i], LINE_SIZE);
    }
    fflush(out);
  }
}

}  // namespace

field_platform router_field_platform() {
  return field_platform{nullptr,           router_ports_output,      router_input_present,
                        router_input_read, router_monotonic_seconds, router_gpio_exists};
}

void describe_field_view(const field_view& view, const sleep_config& config,
                         char lines[FIELD_VIEW_LINES][FIELD_LINE_SIZE]) {
  describe_status(view, lines[0]);
  describe_gpio(view, lines[1]);
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) describe_input(view, config, n, lines[2 + n]);
}

int check_trusted_files(const char* settings_path, check_findings* findings) {
  return check_root_only(settings_path, "the settings file",
                         "decide when the router sleeps and when it wakes", findings) +
         check_root_only(LPM_PATH, "the low-power tool", "have root run their commands", findings) +
         check_root_only(STATUS_TOOL_PATH, "the status tool", "have root run their commands",
                         findings);
}

int run_field_check(const check_report& report, bool watch_changes, FILE* out) {
  char when[48];
  format_local_moment(report.at, when);
  fprintf(out, "dormix-check: %s on this router at %s\n", report.path, when);
  print_time_zone(report.zone, out);
  const field_platform platform = router_field_platform();
  static field_view view;
  observe_field(report.config, platform, nullptr, &view);
  char lines[VIEW_LINES][LINE_SIZE];
  describe_field_view(view, report.config, lines);
  for (const auto& line : lines) fprintf(out, "%s\n", line);
  if (report.call_now.runs) {
    fprintf(out, "a firing now runs: %s\n", report.call_now.command);
  } else {
    fprintf(out, "a firing now runs nothing and logs: %s\n", NO_WAKE_RULE_MESSAGE);
  }
  print_text(report, true, out);
  const int file_warnings = print_file_warnings(report, out);
  fflush(out);
  if (watch_changes) {
    watch(report, platform, &view, out);
    return 0;
  }
  return warning_total(report.findings) + file_warnings == 0 ? 0 : 1;
}
