#include "web/page.h"

#include <inttypes.h>
#include <string.h>
#include <time.h>

#include "analysis/clock_rule.h"
#include "analysis/lpm_call.h"
#include "analysis/rule_words.h"
#include "analysis/time_rule_firings.h"
#include "analysis/zone_words.h"
#include "daemon/time_of_day.h"
#include "daemon/wakeup.h"
#include "web/fields.h"
#include "web/html.h"

namespace {

constexpr time_t PLAN_SECONDS = time_t{7} * 24 * 3600;
constexpr int PLAN_MAX_FIRINGS = 32;

constexpr const char* STYLE =
    "body{font:16px/1.5 system-ui,sans-serif;margin:0;color:#1a1a1a;background:#fff;"
    "overflow-wrap:anywhere}"
    "header,main,footer{max-width:60rem;margin:0 auto;padding:0 1rem}"
    "h1{font-size:1.5rem}h2{font-size:1.25rem;border-bottom:1px solid #767676}"
    "fieldset{border:1px solid #767676;margin:0 0 1rem;padding:.5rem 1rem;min-width:0}"
    "legend{font-weight:bold;font-size:1.1rem}"
    ".field{margin:.75rem 0}.field label{display:block;font-weight:bold;word-break:break-all}"
    ".field input{font:inherit;width:100%;max-width:14rem;padding:.25rem;border:1px solid #555}"
    ".hint{color:#3d3d3d;font-size:.9rem;margin:0}"
    ".finding{color:#8a1c00;margin:.25rem 0}"
    ".error{color:#fff;background:#a4000b;padding:.25rem .5rem}"
    ".notice{border-left:.4rem solid #0b5394;padding:.5rem 1rem;background:#eef4fb}"
    ".alert{border-left:.4rem solid #a4000b;padding:.5rem 1rem;background:#fdecec}"
    "table{border-collapse:collapse;width:100%}th,td{text-align:left;padding:.25rem .5rem;"
    "border-bottom:1px solid #ccc;vertical-align:top}td code,pre{word-break:break-all;"
    "white-space:pre-wrap}"
    "button{font:inherit;padding:.5rem 1.5rem;background:#0b5394;color:#fff;border:0}"
    "button:focus,input:focus{outline:3px solid #f0a000}"
    "@media(max-width:40rem){th,td{display:block;border:0}tr{display:block;border-bottom:1px "
    "solid #ccc}}";

void base64(const uint8_t* data, int size, char* out) {
  static constexpr char DIGITS[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  int used = 0;
  for (int i = 0; i < size; i += 3) {
    const uint32_t group = static_cast<uint32_t>(data[i]) << 16 |
                           (i + 1 < size ? static_cast<uint32_t>(data[i + 1]) << 8 : 0) |
                           (i + 2 < size ? data[i + 2] : 0);
    out[used++] = DIGITS[group >> 18 & 63];
    out[used++] = DIGITS[group >> 12 & 63];
    out[used++] = i + 1 < size ? DIGITS[group >> 6 & 63] : '=';
    out[used++] = i + 2 < size ? DIGITS[group & 63] : '=';
  }
  out[used] = '\0';
}

bool is_key_line(const check_report& report, int line) {
  if (line <= 0) return false;
  for (const int key_line : report.findings.key_line) {
    if (key_line == line) return true;
  }
  return false;
}

void put_warning(const check_warning& warning, FILE* out) {
  fputs("<li class=\"finding\">", out);
  if (warning.line > 0) put_textf(out, "line %d: ", warning.line);
  put_text(out, warning.text);
  fputs(" <code>[", out);
  put_text(out, warning.code);
  fputs("]</code></li>", out);
}

void put_notices(const page_state& state, FILE* out) {
  if (!state.file_read) {
    fputs("<p class=\"alert\" role=\"alert\">", out);
    put_text(out, state.file_problem);
    fputs("</p>", out);
  }
  if (state.read_only) {
    fputs("<p class=\"alert\" role=\"alert\">Read-only: ", out);
    put_text(out, state.read_only_why);
    fputs("</p>", out);
  }
  if (state.notice == page_notice::none) return;
  const bool bad = state.notice != page_notice::saved && state.notice != page_notice::unchanged;
  fprintf(out, "<div class=\"%s\" role=\"%s\"><p>", bad ? "alert" : "notice",
          bad ? "alert" : "status");
  put_text(out, state.notice_text);
  fputs("</p>", out);
  if (state.notice == page_notice::conflict) {
    fputs("<ul>", out);
    for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
      if (!state.conflicting[i]) continue;
      fputs("<li>", out);
      put_textf(out, "%s: the file now has \"%s\", this form \"%s\"", state.report->keys[i].name,
                state.conflict_file_values[i], state.values[i]);
      fputs("</li>", out);
    }
    fputs("</ul>", out);
  }
  if (state.restarted) {
    fputs("<p>", out);
    if (state.restart_status == 0) {
      put_textf(out, "%s restart: done; the daemon ran as pid %d and now runs as pid %d.",
                INIT_SCRIPT_PATH, static_cast<int>(state.pid_before),
                static_cast<int>(state.pid_after));
    } else {
      put_textf(out,
                "%s restart failed (status %d); the daemon now runs as pid %d (0: not running).",
                INIT_SCRIPT_PATH, state.restart_status, static_cast<int>(state.pid_after));
    }
    fputs("</p>", out);
    if (state.restart_output[0] != '\0') {
      fputs("<pre>", out);
      put_text(out, state.restart_output);
      fputs("</pre>", out);
    }
  }
  fputs("</div>", out);
}

void put_file_findings(const page_state& state, FILE* out) {
  const check_report& report = *state.report;
  const check_findings& findings = report.findings;
  fputs("<section aria-labelledby=\"file\"><h2 id=\"file\">The file</h2>", out);
  fputs("<p>", out);
  put_textf(out, "%s, %d lines, %d warnings in all.", report.path, findings.line_count,
            warning_total(findings) + warning_total(state.trust_findings));
  fputs("</p><ul>", out);
  for (int i = 0; i < state.trust_findings.warning_count; ++i) {
    put_warning(state.trust_findings.warnings[i], out);
  }
  for (int i = 0; i < findings.warning_count; ++i) {
    if (!is_key_line(report, findings.warnings[i].line)) put_warning(findings.warnings[i], out);
  }
  if (findings.warnings_dropped > 0) {
    fputs("<li>", out);
    put_textf(out, "%d more warnings not shown", findings.warnings_dropped);
    fputs("</li>", out);
  }
  fputs("</ul></section>", out);
}

void put_field(const page_state& state, int key, FILE* out) {
  const check_report& report = *state.report;
  const char* name = report.keys[key].name;
  const setting_help* help = help_for_key(name);
  fputs("<div class=\"field\"><label for=\"", out);
  put_text(out, name);
  fputs("\">", out);
  put_text(out, name);
  fputs("</label><p class=\"hint\" id=\"", out);
  put_textf(out, "%s-hint", name);
  fputs("\">", out);
  if (help != nullptr) put_textf(out, "%s Unit: %s.", help->meaning, help->unit);
  const int line = report.findings.key_line[key];
  if (line > 0) {
    put_textf(out, " Line %d of the file.", line);
  } else {
    put_text(out, " Not in the file: the daemon reads 0; a value here is appended.");
  }
  fputs(
      "</p><input type=\"text\" inputmode=\"numeric\" pattern=\"[0-9]*\" autocomplete=\"off\" "
      "id=\"",
      out);
  put_text(out, name);
  fputs("\" name=\"", out);
  put_text(out, name);
  fputs("\" value=\"", out);
  put_text(out, state.values[key]);
  fputs("\" aria-describedby=\"", out);
  put_textf(out, "%s-hint", name);
  if (state.field_errors[key][0] != '\0') put_textf(out, " %s-error", name);
  fputs("\"", out);
  if (state.field_errors[key][0] != '\0') fputs(" aria-invalid=\"true\"", out);
  if (state.read_only) fputs(" readonly", out);
  fputs(">", out);
  if (state.field_errors[key][0] != '\0') {
    fputs("<p class=\"error\" id=\"", out);
    put_textf(out, "%s-error", name);
    fputs("\">", out);
    put_text(out, state.field_errors[key]);
    fputs("</p>", out);
  }
  const check_findings& findings = report.findings;
  bool listed = false;
  for (int i = 0; i < findings.warning_count; ++i) {
    if (line <= 0 || findings.warnings[i].line != line) continue;
    if (!listed) fputs("<ul>", out);
    listed = true;
    put_warning(findings.warnings[i], out);
  }
  if (listed) fputs("</ul>", out);
  fputs("</div>", out);
}

void put_form(const page_state& state, FILE* out) {
  fputs(
      "<form method=\"post\" action=\"\"><section aria-labelledby=\"settings\">"
      "<h2 id=\"settings\">Settings</h2>",
      out);
  const setting_group groups[] = {setting_group::general, setting_group::wake,
                                  setting_group::sleep};
  for (const setting_group group : groups) {
    fputs("<fieldset><legend>", out);
    put_text(out, group_heading(group));
    fputs("</legend>", out);
    for (int key = 0; key < KNOWN_KEY_COUNT; ++key) {
      const setting_help* help = help_for_key(state.report->keys[key].name);
      if (help != nullptr && help->group == group) put_field(state, key, out);
    }
    fputs("</fieldset>", out);
  }
  fputs("<input type=\"hidden\" name=\"hash\" value=\"", out);
  put_text(out, state.hash);
  fputs("\"><input type=\"hidden\" name=\"token\" value=\"", out);
  put_text(out, state.token);
  fputs("\">", out);
  if (!state.read_only) fputs("<button type=\"submit\">Save and restart the daemon</button>", out);
  fputs("</section></form>", out);
}

void put_rules(const check_report& report, FILE* out) {
  rule_words rules[RULE_WORDS_MAX];
  const int count = describe_rules(report, rules);
  fputs("<section aria-labelledby=\"plan\"><h2 id=\"plan\">What will happen</h2>", out);
  const bool kinds[] = {false, true};
  for (const bool wake : kinds) {
    fputs(wake ? "<h3>Wake-up rules</h3><ul>" : "<h3>Sleep rules</h3><ul>", out);
    for (int i = 0; i < count; ++i) {
      if (rules[i].wake != wake) continue;
      fputs("<li><strong>", out);
      put_text(out, rules[i].label);
      fputs("</strong>: ", out);
      if (rules[i].switched) fputs(rules[i].on ? "on" : "off", out);
      if (rules[i].detail[0] != '\0') {
        if (rules[i].switched) fputs(", ", out);
        put_text(out, rules[i].detail);
      }
      fputs("</li>", out);
    }
    fputs("</ul>", out);
  }
  if (module_switch_ignored(report)) {
    fputs(
        "<p>MOD_DORMIX_ENABLED is 0, but the daemon does not consult it: the rules above "
        "apply as shown.</p>",
        out);
  }
  char when[48];
  format_local_moment(report.at, when);
  fputs("<p>", out);
  if (report.call_now.runs) {
    put_textf(out, "A firing now (%s) runs: ", when);
    fputs("<code>", out);
    put_text(out, report.call_now.command);
    fputs("</code>", out);
  } else {
    put_textf(out, "A firing now (%s) runs nothing and logs: %s", when, NO_WAKE_RULE_MESSAGE);
  }
  fputs("</p>", out);
}

void put_week(const check_report& report, FILE* out) {
  fputs("<h3>The time-of-day rule in the next 7 days</h3>", out);
  fputs("<p>", out);
  put_textf(out, "In the daemon's time zone, %s (from %s).", time_zone_text(report.zone),
            time_zone_source_name(report.zone.source));
  fputs("</p>", out);
  static time_t firings[PLAN_MAX_FIRINGS];
  const int total =
      time_rule_firings(report, report.at, report.at + PLAN_SECONDS, firings, PLAN_MAX_FIRINGS);
  if (total == 0) {
    fputs(report.config.sleep_time_enabled == 0 ? "<p>The rule is off.</p>"
                                                : "<p>It does not fire.</p>",
          out);
    fputs("</section>", out);
    return;
  }
  fputs(
      "<table><thead><tr><th scope=\"col\">Firing</th><th scope=\"col\">Runs</th></tr></thead>"
      "<tbody>",
      out);
  for (int i = 0; i < total && i < PLAN_MAX_FIRINGS; ++i) {
    char when[48];
    format_local_moment(firings[i], when);
    const lpm_call call = lpm_call_at(report.config, seconds_of_day_at(firings[i]));
    fputs("<tr><td>", out);
    put_text(out, when);
    fputs("</td><td>", out);
    if (call.runs) {
      fputs("<code>", out);
      put_text(out, call.command);
      fputs("</code>", out);
    } else {
      put_textf(out, "nothing; logs: %s", NO_WAKE_RULE_MESSAGE);
    }
    fputs("</td></tr>", out);
  }
  fputs("</tbody></table>", out);
  if (total > PLAN_MAX_FIRINGS) {
    fputs("<p>", out);
    put_textf(out, "and %d more firings", total - PLAN_MAX_FIRINGS);
    fputs("</p>", out);
  }
  fputs("</section>", out);
}

void put_now(const page_state& state, FILE* out) {
  fputs("<section aria-labelledby=\"now\"><h2 id=\"now\">Now</h2><ul>", out);
  fputs("<li>", out);
  const pid_t pid = state.pid_after;
  if (pid > 0) {
    put_textf(out, "The daemon runs (pid %d).", static_cast<int>(pid));
  } else {
    put_text(out, "The daemon does not run.");
  }
  fputs("</li><li>", out);
  put_textf(out, "Module switch MOD_DORMIX_ENABLED: %" PRIu32 " (%s).",
            state.report->config.enabled, state.report->config.enabled != 0 ? "on" : "off");
  fputs("</li>", out);
  for (const auto& line : state.field_lines) {
    fputs("<li><pre>", out);
    put_text(out, line);
    fputs("</pre></li>", out);
  }
  fputs("</ul></section>", out);
}

}  // namespace

void page_style_hash_source(char out[64]) {
  uint8_t digest[SHA256_SIZE];
  sha256(STYLE, strlen(STYLE), digest);
  char encoded[48];
  base64(digest, SHA256_SIZE, encoded);
  snprintf(out, 64, "'sha256-%s'", encoded);
}

void render_page(const page_state& state, FILE* out) {
  fputs(
      "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>dormix settings</title><style>",
      out);
  fputs(STYLE, out);
  fputs("</style></head><body><header><h1>dormix settings</h1><p>", out);
  char when[48];
  format_local_moment(state.report->at, when);
  put_textf(out, "Signed in as %s. Router time %s.",
            state.user[0] != '\0' ? state.user : "(nobody: the installer switched that off)", when);
  fputs("</p></header><main>", out);
  put_notices(state, out);
  put_file_findings(state, out);
  put_form(state, out);
  put_rules(*state.report, out);
  put_week(*state.report, out);
  put_now(state, out);
  fputs(
      "</main><footer><p>dormix-web; the same analysis as <code>dormix-check</code>.</p>"
      "</footer></body></html>\n",
      out);
}
