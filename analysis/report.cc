#include "analysis/report.h"

#include "analysis/lint.h"
#include "analysis/lpm_method_check.h"
#include "analysis/time_rule_firings.h"
#include "analysis/value_checks.h"
#include "daemon/controller.h"
#include "daemon/time_of_day.h"

namespace {

// The loader asks about presence through the report's own answers.
int answered_present(const void* context, int n) {
  const auto* present = static_cast<const bool*>(context);
  return n >= 0 && n < BINARY_INPUT_COUNT && present[n] ? 1 : 0;
}

void load_config(FILE* file, const check_request& request, check_report* report) {
  report->presence = request.inputs.source;
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) report->present[n] = request.inputs.present[n];
  load_sleep_config_in(file, &report->config, answered_present, report->present);
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    report->inputs_read[n] = input_in_use(report->present, n);
  }
}

}  // namespace

bool build_report(FILE* file, const check_request& request, check_report* report) {
  *report = check_report{};
  report->path = request.path;
  report->at = request.at;
  report->zone = request.zone;
  report->at_tod = seconds_of_day_at(request.at);
  known_keys_fill(report->keys);
  if (!lint_settings(file, report->keys, &report->findings)) return false;
  load_config(file, request, report);
  if (ferror(file) != 0) return false;

  const sleep_config& config = report->config;
  report->sleep_tod = sleep_time_of_day(config.sleep_time_hour, config.sleep_time_minute);
  report->call_now = lpm_call_at(config, report->at_tod);
  find_next_time_firing(report);

  check_values(report);
  check_lpm_method(report, request.lpm);
  check_daylight_saving(report);
  sort_warnings(&report->findings);
  return true;
}
