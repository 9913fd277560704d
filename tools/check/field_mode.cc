#include "tools/check/field_mode.h"

#include <signal.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "analysis/clock_rule.h"
#include "analysis/field_view.h"
#include "analysis/root_only.h"
#include "daemon/wakeup.h"
#include "tools/check/output.h"
#include "tools/check/router.h"

namespace {

constexpr useconds_t WATCH_PAUSE_US = 250000;
constexpr int LINE_SIZE = FIELD_LINE_SIZE;
constexpr int VIEW_LINES = FIELD_VIEW_LINES;

volatile sig_atomic_t stop_watching = 0;

void handle_stop(int /*signal_number*/) { stop_watching = 1; }

int print_file_warnings(const check_report& report, FILE* out) {
  static check_findings access_findings;
  access_findings = check_findings{};
  check_trusted_files(report.path, walk_to_root, &access_findings);
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
    // Ctrl-C reaches the whole foreground group, so a look that the stop
    // interrupted may have lost its status tool to the same signal: it is
    // not news about the router.
    if (stop_watching != 0) break;
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
