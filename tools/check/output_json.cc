#include <inttypes.h>
#include <string.h>

#include "analysis/clock_rule.h"
#include "daemon/controller.h"
#include "daemon/time_zone_words.h"
#include "daemon/wakeup.h"
#include "tools/check/output.h"

namespace {

// The length of the well-formed UTF-8 sequence at text, or 0 when there is
// none: a stray continuation byte, a cut sequence, an overlong form, a
// surrogate or a code point above U+10FFFF.
int utf8_sequence_length(const unsigned char* text) {
  const unsigned char lead = text[0];
  int length = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text[1] < low || text[1] > high) return 0;
  for (int i = 2; i < length; ++i) {
    if (text[i] < 0x80 || text[i] > 0xBF) return 0;
  }
  return length;
}

// Well-formed UTF-8 (a file name, say) is written as it is; each byte that
// is not part of such a sequence becomes U+FFFD, so the output stays JSON.
void json_string(const char* text, FILE* out) {
  fputc('"', out);
  const auto* c = reinterpret_cast<const unsigned char*>(text);
  while (*c != '\0') {
    const unsigned char byte = *c;
    if (byte == '"' || byte == '\\') {
      fprintf(out, "\\%c", byte);
    } else if (byte < 0x20 || byte == 0x7f) {
      fprintf(out, "\\u%04x", byte);
    } else if (byte < 0x80) {
      fputc(byte, out);
    } else {
      const int length = utf8_sequence_length(c);
      if (length == 0) {
        fputs("\\ufffd", out);
      } else {
        fwrite(c, 1, static_cast<size_t>(length), out);
        c += length;
        continue;
      }
    }
    ++c;
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
  fprintf(out, ",\n  \"time_zone\": {\"zone\": ");
  json_string(time_zone_text(report.zone), out);
  fprintf(out, ", \"source\": \"%s\"}", time_zone_source_name(report.zone.source));
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
