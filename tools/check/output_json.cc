#include <cinttypes>
#include <cstring>

#include "daemon/controller.h"
#include "daemon/wakeup.h"
#include "tools/check/clock_rule.h"
#include "tools/check/output.h"

namespace {

void json_string(const char* text, FILE* out) {
  fputc('"', out);
  for (const char* c = text; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (byte == '"' || byte == '\\') {
      fprintf(out, "\\%c", byte);
    } else if (byte < 0x20 || byte >= 0x7f) {
      fprintf(out, "\\u%04x", byte);  // messages hold only printable ASCII
    } else {
      fputc(byte, out);
    }
  }
  fputc('"', out);
}

void json_moment(time_t t, FILE* out) {
  char when[48];
  format_local_moment(t, when);
  json_string(when, out);
}

const char* presence_name(presence_source source) {
  switch (source) {
    case presence_source::option:
      return "option";
    case presence_source::status_tool:
      return "status-tool";
    case presence_source::status_missing:
      return "status-tool-missing";
  }
  return "";
}

void json_call(const lpm_call& call, FILE* out) {
  if (!call.runs) {
    fprintf(out, "{\"runs\": false, \"logs\": ");
    json_string(NO_WAKE_RULE_MESSAGE, out);
    fprintf(out, "}");
    return;
  }
  fprintf(out, "{\"runs\": true, \"command\": ");
  json_string(call.command, out);
  if (call.interval == NO_WAKE_INTERVAL) {
    fprintf(out, ", \"interval\": null}");
  } else {
    fprintf(out, ", \"interval\": %" PRIu32 "}", call.interval);
  }
}

void json_settings(const check_report& report, FILE* out) {
  fprintf(out, "  \"settings\": [\n");
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    const known_key& key = report.keys[i];
    const int line = report.findings.key_line[i];
    const char* source = key.input >= 0 && !report.inputs_read[key.input] ? "not-read"
                         : line != 0                                      ? "file"
                                                                          : "default";
    fprintf(out, "    {\"key\": \"%s\", \"value\": %" PRIu32 ", \"source\": \"%s\", \"line\": ",
            key.name, known_key_value(key, report.config), source);
    if (line != 0 && strcmp(source, "file") == 0) {
      fprintf(out, "%d}", line);
    } else {
      fprintf(out, "null}");
    }
    fprintf(out, "%s\n", i + 1 < KNOWN_KEY_COUNT ? "," : "");
  }
  fprintf(out, "  ],\n");
}

void json_rules(const check_report& report, FILE* out) {
  const sleep_config& config = report.config;
  fprintf(out, "  \"rules\": {\n");
  fprintf(out,
          "    \"time_of_day\": {\"enabled\": %s, \"sleep_time_of_day\": %" PRId32 ", \"next\": ",
          config.sleep_time_enabled != 0 ? "true" : "false", report.sleep_tod);
  if (config.sleep_time_enabled != 0 && report.time_rule_fires_soon) {
    json_moment(report.time_rule_next, out);
    fprintf(out, ", \"call\": ");
    json_call(report.time_rule_call, out);
    fprintf(out, "},\n");
  } else {
    fprintf(out, "null, \"call\": null},\n");
  }
  fprintf(out, "    \"delay\": {\"enabled\": %s, \"seconds\": %" PRId32 "},\n",
          config.sleep_delay_enabled != 0 ? "true" : "false",
          static_cast<int32_t>(config.sleep_delay_second));
  fprintf(out, "    \"inputs\": [");
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    fprintf(out,
            "%s{\"input\": %d, \"present\": %s, \"read\": %s, \"enabled\": %s, \"level\": "
            "%" PRIu32 ", \"hold\": %" PRId32 "}",
            n == 0 ? "" : ", ", n, report.present[n] ? "true" : "false",
            report.inputs_read[n] ? "true" : "false",
            report.inputs_read[n] && config.sleep_bin_enabled[n] != 0 ? "true" : "false",
            config.sleep_bin_state[n], input_hold(config.sleep_bin_second[n]));
  }
  fprintf(out, "]\n  },\n");
}

void json_warnings(const check_report& report, FILE* out) {
  const check_findings& findings = report.findings;
  fprintf(out, "  \"warnings\": [\n");
  for (int i = 0; i < findings.warning_count; ++i) {
    const check_warning& warning = findings.warnings[i];
    fprintf(out, "    {\"line\": %d, \"code\": \"%s\", \"message\": ", warning.line, warning.code);
    json_string(warning.text, out);
    fprintf(out, "}%s\n", i + 1 < findings.warning_count ? "," : "");
  }
  fprintf(out, "  ],\n  \"warnings_not_shown\": %d\n", findings.warnings_dropped);
}

}  // namespace

void print_json(const check_report& report, FILE* out) {
  fprintf(out, "{\n  \"file\": ");
  json_string(report.path, out);
  fprintf(out, ",\n  \"at\": ");
  json_moment(report.at, out);
  fprintf(out, ",\n  \"inputs\": {\"source\": \"%s\", \"present\": [%s, %s]},\n",
          presence_name(report.presence), report.present[0] ? "true" : "false",
          report.present[1] ? "true" : "false");
  json_settings(report, out);
  json_rules(report, out);
  fprintf(out, "  \"call_now\": ");
  json_call(report.call_now, out);
  fprintf(out, ",\n");
  json_warnings(report, out);
  fprintf(out, "}\n");
}
