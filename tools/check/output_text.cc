#include <inttypes.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "analysis/clock_rule.h"
#include "analysis/rule_words.h"
#include "daemon/controller.h"
#include "daemon/time_zone_words.h"
#include "daemon/wakeup.h"
#include "device/status.h"
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

void print_rule(const rule_words& words, FILE* out) {
  fprintf(out, "  %-14s", words.label);
  if (words.switched) fprintf(out, "%s", words.on ? "on " : "off");
  if (words.detail[0] != '\0') fprintf(out, "%s%s", words.switched ? "  " : "", words.detail);
  fprintf(out, "\n");
}

void print_rules(const check_report& report, FILE* out) {
  rule_words rules[RULE_WORDS_MAX];
  const int count = describe_rules(report, rules);
  fprintf(out, "\nsleep rules:\n");
  int i = 0;
  for (; i < count && !rules[i].wake; ++i) print_rule(rules[i], out);
  if (module_switch_ignored(report)) {
    fprintf(out,
            "  (MOD_DORMIX_ENABLED is 0, but the daemon does not consult it: the rules "
            "above apply as shown)\n");
  }
  fprintf(out, "\nwake-up:\n");
  for (; i < count; ++i) print_rule(rules[i], out);
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

void print_time_zone(const time_zone_choice& zone, FILE* out) {
  const char* text = time_zone_text(zone);
  fprintf(out, "time zone: %s ", text);
  if (zone.source != time_zone_source::library_default) {
    fprintf(out, "(from %s)\n", time_zone_source_name(zone.source));
  } else if (text == LOCALTIME_PATH) {
    fprintf(out, "(no TZ or %s)\n", ETC_TZ_PATH);
  } else {
    fprintf(out, "(no TZ, %s or %s)\n", ETC_TZ_PATH, LOCALTIME_PATH);
  }
}

void print_text(const check_report& report, bool quiet, FILE* out) {
  if (quiet) {
    print_warnings(report, out);
    return;
  }
  char when[48];
  format_local_moment(report.at, when);
  fprintf(out, "dormix-check: %s at %s\n", report.path, when);
  print_time_zone(report.zone, out);
  print_inputs(report, out);
  print_settings(report, out);
  print_rules(report, out);
  const int total = warning_total(report.findings);
  fprintf(out, "\n");
  print_warnings(report, out);
  if (total == 0) {
    fprintf(out, "no warnings\n");
  } else {
    fprintf(out, "%d warning%s\n", total, total == 1 ? "" : "s");
  }
}
