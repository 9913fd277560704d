#include <inttypes.h>
#include <stdlib.h>
#include <string.h>

#include "daemon/controller.h"
#include "daemon/wakeup.h"
#include "device/status.h"
#include "tools/check/clock_rule.h"
#include "tools/check/output.h"

namespace {

void print_inputs(const check_report& report, FILE* out) {
  fprintf(out, "inputs: 0 %s, 1 %s", report.present[0] ? "present" : "absent",
          report.present[1] ? "present" : "absent");
  switch (report.presence) {
    case presence_source::option:
      fprintf(out, " (from --inputs)\n");
      break;
    case presence_source::status_tool:
      fprintf(out, " (answered by %s)\n", STATUS_TOOL_PATH);
      break;
    case presence_source::status_missing:
      fprintf(out,
              " (%s is missing here, so the daemon would count every input as absent; "
              "--inputs says which exist)\n",
              STATUS_TOOL_PATH);
      break;
  }
}

void print_settings(const check_report& report, FILE* out) {
  fprintf(out, "\nsettings:\n");
  for (const known_key& key : report.keys) {
    const int index = static_cast<int>(&key - report.keys);
    fprintf(out, "  %-32s %10" PRIu32 "  ", key.name, known_key_value(key, report.config));
    if (key.input >= 0 && !report.inputs_read[key.input]) {
      fprintf(out, "not read: input %d absent\n", report.present[0] ? key.input : 0);
    } else if (report.findings.key_line[index] != 0) {
      fprintf(out, "line %d\n", report.findings.key_line[index]);
    } else {
      fprintf(out, "default: not in the file\n");
    }
  }
}

const char* on_off(uint32_t value) { return value != 0 ? "on " : "off"; }

void print_time_rule(const check_report& report, FILE* out) {
  const sleep_config& config = report.config;
  fprintf(out, "  time of day   %s  sleep time %02" PRIu32 ":%02" PRIu32,
          on_off(config.sleep_time_enabled), config.sleep_time_hour, config.sleep_time_minute);
  if (config.sleep_time_enabled == 0) {
    fprintf(out, "\n");
  } else if (!report.time_rule_fires_soon) {
    fprintf(out, "; does not fire in the next two days\n");
  } else {
    char when[48];
    format_local_moment(report.time_rule_next, when);
    if (report.time_rule_call.runs) {
      fprintf(out, "; next firing %s, running %s\n", when, report.time_rule_call.command);
    } else {
      fprintf(out, "; next firing %s, which only logs the no-wake-rule message\n", when);
    }
  }
}

void print_delay_rule(const check_report& report, FILE* out) {
  const sleep_config& config = report.config;
  fprintf(out, "  delay         %s  %" PRIu32 " s", on_off(config.sleep_delay_enabled),
          config.sleep_delay_second);
  if (config.sleep_delay_enabled == 0) {
    fprintf(out, "\n");
  } else if (static_cast<int32_t>(config.sleep_delay_second) < 0) {
    fprintf(out, "; fires on the first cycle after start, then on every cycle\n");
  } else {
    fprintf(out,
            "; fires once more than %" PRIu32
            " s have passed since start, then on every cycle while the router is up\n",
            config.sleep_delay_second);
  }
}

void print_input_rule(const check_report& report, int n, FILE* out) {
  const sleep_config& config = report.config;
  fprintf(out, "  input %d       ", n);
  if (!report.present[n]) {
    fprintf(out, "absent: its keys are not read\n");
    return;
  }
  if (!report.inputs_read[n]) {
    fprintf(out, "present, but input 0 is absent, so the daemon never looks at it\n");
    return;
  }
  const int32_t hold = input_hold(config.sleep_bin_second[n]);
  fprintf(out, "%s  level %" PRIu32 " held %" PRId32 " s", on_off(config.sleep_bin_enabled[n]),
          config.sleep_bin_state[n], hold);
  if (config.sleep_bin_enabled[n] == 0) {
    fprintf(out, "\n");
  } else if (hold < 0) {
    fprintf(out, "; fires as soon as the level is seen, then on every cycle while it holds\n");
  } else {
    fprintf(out,
            "; fires %" PRId32 " to %" PRId32
            " s after the level is first seen, then on every cycle while it holds\n",
            hold - 1, hold);
  }
}

void print_wake_rules(const check_report& report, FILE* out) {
  const sleep_config& config = report.config;
  fprintf(out, "\nwake-up:\n");
  fprintf(out, "  binary input  %s\n", on_off(config.wakeup_bin_enabled));
  fprintf(out, "  delay         %s  %" PRIu32 " s\n", on_off(config.wakeup_delay_enabled),
          config.wakeup_delay_second);
  fprintf(out, "  clock time    %s  %02" PRIu32 ":%02" PRIu32 "\n",
          on_off(config.wakeup_time_enabled), config.wakeup_time_hour, config.wakeup_time_minute);
  char when[48];
  format_local_moment(report.at, when);
  if (report.call_now.runs) {
    fprintf(out, "a firing now (%s) runs: %s\n", when, report.call_now.command);
  } else {
    fprintf(out, "a firing now (%s) runs nothing and logs: %s\n", when, NO_WAKE_RULE_MESSAGE);
  }
}

void print_warnings(const check_report& report, FILE* out) {
  const check_findings& findings = report.findings;
  for (int i = 0; i < findings.warning_count; ++i) {
    const check_warning& warning = findings.warnings[i];
    if (warning.line > 0) {
      fprintf(out, "%s:%d: %s [%s]\n", report.path, warning.line, warning.text, warning.code);
    } else {
      fprintf(out, "%s: %s [%s]\n", report.path, warning.text, warning.code);
    }
  }
  if (findings.warnings_dropped > 0) {
    fprintf(out, "%s: %d more warnings not shown\n", report.path, findings.warnings_dropped);
  }
}

}  // namespace

void print_text(const check_report& report, bool quiet, FILE* out) {
  if (quiet) {
    print_warnings(report, out);
    return;
  }
  char when[48];
  format_local_moment(report.at, when);
  const char* zone = getenv("TZ");
  fprintf(out, "dormix-check: %s at %s (time zone: %s)\n", report.path, when,
          zone != nullptr && zone[0] != '\0' ? zone : "system default");
  print_inputs(report, out);
  print_settings(report, out);
  fprintf(out, "\nsleep rules:\n");
  print_time_rule(report, out);
  print_delay_rule(report, out);
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) print_input_rule(report, n, out);
  const sleep_config& config = report.config;
  bool rule_on = config.sleep_time_enabled != 0 || config.sleep_delay_enabled != 0;
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    rule_on = rule_on || (report.inputs_read[n] && config.sleep_bin_enabled[n] != 0);
  }
  if (config.enabled == 0 && rule_on) {
    fprintf(out,
            "  (MOD_DORMIX_ENABLED is 0, but the daemon does not consult it: the rules "
            "above apply as shown)\n");
  }
  print_wake_rules(report, out);
  const int total = warning_total(report.findings);
  fprintf(out, "\n");
  print_warnings(report, out);
  if (total == 0) {
    fprintf(out, "no warnings\n");
  } else {
    fprintf(out, "%d warning%s\n", total, total == 1 ? "" : "s");
  }
}
