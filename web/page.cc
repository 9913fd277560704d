#include "web/page.h"

#include <inttypes.h>
#include <string.h>
#include <time.h>

#include "analysis/clock_rule.h"
#include "analysis/lpm_call.h"
#include "analysis/rule_words.h"
#include "analysis/time_rule_firings.h"
#include "analysis/week_plan.h"
#include "daemon/time_of_day.h"
#include "daemon/time_units.h"
#include "daemon/time_zone_words.h"
#include "daemon/wakeup.h"
#include "web/base64.h"
#include "web/fields.h"
#include "web/html.h"

namespace {

constexpr int PLAN_DAYS = 7;
constexpr time_t PLAN_SECONDS = time_t{PLAN_DAYS} * SECONDS_PER_DAY;
constexpr int PLAN_MAX_FIRINGS = 32;

constexpr const char* STYLE =
    "body{font:16px/1.5 system-ui,sans-serif;margin:0;color:#1a1a1a;background:#fff;"
    "overflow-wrap:anywhere}"
    "header,main,footer{max-width:80rem;margin:0 auto;padding:0 1rem}"
    "h1{font-size:1.5rem}h2{font-size:1.25rem;border-bottom:1px solid #767676}"
    "h3{font-size:1.1rem;margin:1rem 0 .25rem}"
    ".rules{display:grid;grid-template-columns:repeat(auto-fill,minmax(22rem,1fr));gap:0 1rem}"
    "@media(max-width:30rem){.rules{display:block}}"
    "fieldset{border:1px solid #767676;margin:0 0 1rem;padding:.25rem 1rem .5rem;min-width:0}"
    "legend{font-weight:bold}"
    ".line{margin:.25rem 0}.part{display:inline-block;margin:.25rem .75rem .25rem 0}"
    ".part label{margin:0 .4rem}"
    "input,select{font:inherit;padding:.25rem;border:1px solid #555}"
    "input[type=checkbox]{width:1.3rem;height:1.3rem;vertical-align:middle;margin:0}"
    "input[type=number]{width:9rem}"
    ".keys{font-size:.8rem;color:#3d3d3d;margin:.25rem 0;padding-left:1rem}"
    ".hint{color:#3d3d3d;margin:0 0 .5rem}"
    ".held{border-left:.3rem solid #8a5a00;padding-left:.5rem;margin:.25rem 0}"
    ".finding{color:#8a1c00;margin:.25rem 0}"
    ".error{color:#fff;background:#a4000b;padding:.25rem .5rem}"
    ".notice{border-left:.4rem solid #0b5394;padding:.5rem 1rem;background:#eef4fb}"
    ".alert{border-left:.4rem solid #a4000b;padding:.5rem 1rem;background:#fdecec}"
    ".week{margin:0 0 1rem}.week ol{list-style:none;padding:0;margin:0}"
    ".week li{display:grid;grid-template-columns:9rem 1fr 16rem;gap:0 .75rem;"
    "align-items:center;margin:.3rem 0}"
    ".axis{display:flex;justify-content:space-between;font-size:.8rem;color:#3d3d3d;"
    "margin:.5rem 16.75rem 0 9.75rem}"
    ".bar{display:block;width:100%;height:1.5rem;border:1px solid #555}"
    ".bar line{stroke:#fff;stroke-width:1;vector-effect:non-scaling-stroke}"
    ".up{fill:#ffe08a;background:#ffe08a}.down{fill:#1f3a68;background:#1f3a68}"
    ".maybe{fill:#7d93c0;background:#7d93c0}.past{fill:#c8c8c8;background:#c8c8c8}"
    ".key{display:inline-block;width:1rem;height:.8rem;border:1px solid #555;"
    "vertical-align:middle}"
    "@media(max-width:40rem){.week li{grid-template-columns:1fr}.axis{margin:.5rem 0 0}}"
    "table{border-collapse:collapse;width:100%}th,td{text-align:left;padding:.25rem .5rem;"
    "border-bottom:1px solid #ccc;vertical-align:top}td code,pre{word-break:break-all;"
    "white-space:pre-wrap}"
    "button{font:inherit;padding:.5rem 1.5rem;background:#0b5394;color:#fff;border:0}"
    "button:focus,input:focus,select:focus{outline:3px solid #f0a000}"
    "@media(max-width:40rem){th,td{display:block;border:0}tr{display:block;border-bottom:1px "
    "solid #ccc}}";

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
    // No pid is no daemon: one switched off, or not started yet.
    const int before = static_cast<int>(state.pid_before);
    const int after = static_cast<int>(state.pid_after);
    if (state.restart_status == 0) {
      put_textf(out, "%s restart: done; the daemon ", INIT_SCRIPT_PATH);
      if (before > 0) {
        put_textf(out, "ran as pid %d and ", before);
      } else {
        fputs("was not running and ", out);
      }
    } else {
      put_textf(out, "%s restart failed (status %d); the daemon ", INIT_SCRIPT_PATH,
                state.restart_status);
    }
    if (after > 0) {
      put_textf(out, "now runs as pid %d.", after);
    } else {
      fputs("is not running now.", out);
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

// A key of the rule, small, for those who edit the file: its name, what
// the form holds for it, where it is and what it means.
void put_key(const page_state& state, int key, FILE* out) {
  const check_report& report = *state.report;
  const char* name = report.keys[key].name;
  fputs("<li><code>", out);
  put_text(out, name);
  fputs("</code> ", out);
  const int line = report.findings.key_line[key];
  if (state.values[key][0] == '\0') {
    put_text(out, "not in the file (reads as 0)");
  } else if (line > 0) {
    put_textf(out, "= %s, line %d", state.values[key], line);
  } else {
    put_textf(out, "= %s, to be added", state.values[key]);
  }
  const setting_help* help = help_for_key(name);
  if (help != nullptr) put_textf(out, ". %s Unit: %s.", help->meaning, help->unit);
  fputs("</li>", out);
}

// The errors of the save at the keys a control sets, for its
// aria-describedby; true when there is one.
bool control_has_error(const page_state& state, const setting_control& control) {
  const known_key* keys = state.report->keys;
  const char* const control_keys[] = {control.key, control.minute_key};
  for (const char* key : control_keys) {
    const int index = known_key_index(keys, key);
    if (index >= 0 && state.field_errors[index][0] != '\0') return true;
  }
  return false;
}

void put_control_attributes(const page_state& state, const setting_control& control,
                            const char* hint_id, FILE* out) {
  fputs(" id=\"", out);
  put_text(out, control.name);
  fputs("\" name=\"", out);
  put_text(out, control.name);
  fputs("\" aria-describedby=\"", out);
  put_text(out, hint_id);
  if (control_has_error(state, control)) {
    put_textf(out, " %s-error", control.name);
    fputs("\" aria-invalid=\"true", out);
  }
  fputs("\"", out);
  if (state.read_only) fputs(" disabled", out);
}

void put_label(const setting_control& control, FILE* out) {
  fputs("<label for=\"", out);
  put_text(out, control.name);
  fputs("\">", out);
  put_text(out, control.label);
  fputs("</label>", out);
}

void put_control(const page_state& state, const setting_control& control, const char* hint_id,
                 FILE* out) {
  char shown[FORM_VALUE_SIZE];
  control_value(control, state.report->keys, state.values, shown);
  fputs("<span class=\"part\">", out);
  if (control.kind == control_kind::toggle) {
    fputs("<input type=\"checkbox\" value=\"1\"", out);
    if (shown[0] != '\0') fputs(" checked", out);
    put_control_attributes(state, control, hint_id, out);
    fputs(">", out);
    put_label(control, out);
    fputs("</span>", out);
    return;
  }
  put_label(control, out);
  if (control.kind == control_kind::level) {
    fputs("<select", out);
    put_control_attributes(state, control, hint_id, out);
    fputs(">", out);
    // Another level the file holds is one more choice, so that it stays.
    const bool other = strcmp(shown, "0") != 0 && strcmp(shown, "1") != 0;
    const char* const levels[] = {"0", "1", shown};
    for (int i = 0; i < (other ? 3 : 2); ++i) {
      fputs("<option value=\"", out);
      put_text(out, levels[i]);
      fputs(strcmp(levels[i], shown) == 0 ? "\" selected>" : "\">", out);
      put_text(out, levels[i]);
      if (i == 2) put_text(out, ", as the file holds it");
      fputs("</option>", out);
    }
    fputs("</select>", out);
  } else {
    const bool clock = control.kind == control_kind::clock_time;
    fputs(clock ? "<input type=\"time\"" : "<input type=\"number\" min=\"0\"", out);
    if (!clock) fprintf(out, " max=\"%" PRIu32 "\"", control.max);
    fputs(" value=\"", out);
    put_text(out, shown);
    fputs("\"", out);
    put_control_attributes(state, control, hint_id, out);
    fputs(">", out);
  }
  if (control.unit[0] != '\0') {
    fputs(" ", out);
    put_text(out, control.unit);
  }
  fputs("</span>", out);
}

// What the file holds where a control cannot show it as it is: the value,
// and that the save keeps it.
void put_unshown_value(const page_state& state, const setting_control& control, FILE* out) {
  const known_key* keys = state.report->keys;
  const int key = known_key_index(keys, control.key);
  if (key < 0) return;
  const char* value = state.values[key];
  char shown[FORM_VALUE_SIZE];
  control_value(control, keys, state.values, shown);
  switch (control.kind) {
    case control_kind::toggle:
      if (shown[0] == '\0' || strcmp(value, "1") == 0) return;
      fputs("<p class=\"held\">", out);
      put_textf(out,
                "The file holds %s, which the daemon reads as on; it stays as long as the box "
                "stays ticked.",
                value);
      break;
    case control_kind::clock_time: {
      if (shown[0] != '\0') return;
      const int minute = known_key_index(keys, control.minute_key);
      fputs("<p class=\"held\">", out);
      put_textf(out,
                "The file holds hour %s and minute %s, which is not a clock time (see below "
                "what the daemon makes of it). Left empty, the field keeps them.",
                value[0] != '\0' ? value : "0",
                minute >= 0 && state.values[minute][0] != '\0' ? state.values[minute] : "0");
      break;
    }
    case control_kind::seconds:
      if (shown[0] != '\0') return;
      fputs("<p class=\"held\">", out);
      put_textf(out,
                "The file holds %s s, more than %" PRIu32
                ", which the daemon counts as negative: the rule fires at once. Left empty, the "
                "field keeps it.",
                value, control.max);
      break;
    case control_kind::level:
      if (strcmp(shown, "0") == 0 || strcmp(shown, "1") == 0) return;
      fputs("<p class=\"held\">", out);
      put_textf(out,
                "The file holds level %s: the rule matches only when the input's driver "
                "reports that number.",
                value);
      break;
  }
  fputs("</p>", out);
}

void put_rule(const page_state& state, const setting_rule& rule, int index, FILE* out) {
  const check_report& report = *state.report;
  char hint_id[16];
  snprintf(hint_id, sizeof hint_id, "rule%d-keys", index);
  fputs("<fieldset class=\"rule\"><legend>", out);
  put_text(out, rule.title);
  fputs("</legend><p class=\"line\">", out);
  for (int c = rule.first_control; c < rule.first_control + rule.control_count; ++c) {
    put_control(state, control_at(c), hint_id, out);
  }
  fputs("</p>", out);
  if (rule.input >= 0 && !report.inputs_read[rule.input]) {
    fputs("<p class=\"held\">", out);
    put_textf(out, "Input %d is not there on this router, so the daemon does not read these keys.",
              rule.input);
    fputs("</p>", out);
  }
  int keys[3];
  int key_count = 0;
  for (int c = rule.first_control; c < rule.first_control + rule.control_count; ++c) {
    const setting_control& control = control_at(c);
    put_unshown_value(state, control, out);
    const char* const control_keys[] = {control.key, control.minute_key};
    for (const char* key : control_keys) {
      const int found = known_key_index(report.keys, key);
      if (found >= 0 && key_count < 3) keys[key_count++] = found;
    }
    if (!control_has_error(state, control)) continue;
    fputs("<p class=\"error\" id=\"", out);
    put_textf(out, "%s-error", control.name);
    fputs("\">", out);
    for (const char* key : control_keys) {
      const int found = known_key_index(report.keys, key);
      if (found >= 0 && state.field_errors[found][0] != '\0') {
        put_text(out, state.field_errors[found]);
        fputs(" ", out);
      }
    }
    fputs("</p>", out);
  }
  const check_findings& findings = report.findings;
  bool listed = false;
  for (int i = 0; i < findings.warning_count; ++i) {
    bool here = false;
    for (int k = 0; k < key_count; ++k) {
      here = here || (findings.key_line[keys[k]] > 0 &&
                      findings.warnings[i].line == findings.key_line[keys[k]]);
    }
    if (!here) continue;
    if (!listed) fputs("<ul>", out);
    listed = true;
    put_warning(findings.warnings[i], out);
  }
  if (listed) fputs("</ul>", out);
  fputs("<ul class=\"keys\" id=\"", out);
  put_text(out, hint_id);
  fputs("\">", out);
  for (int k = 0; k < key_count; ++k) put_key(state, keys[k], out);
  fputs("</ul></fieldset>", out);
}

void put_form(const page_state& state, FILE* out) {
  fputs(
      "<form method=\"post\" action=\"\"><section aria-labelledby=\"settings\">"
      "<h2 id=\"settings\">Settings</h2>",
      out);
  // The values the form was made with: a save compares each control with
  // what it showed for them, so that an untouched one changes nothing.
  for (int key = 0; key < KNOWN_KEY_COUNT; ++key) {
    fputs("<input type=\"hidden\" name=\"", out);
    put_text(out, state.report->keys[key].name);
    fputs("\" value=\"", out);
    put_text(out, state.values[key]);
    fputs("\">", out);
  }
  const setting_group groups[] = {setting_group::general, setting_group::sleep,
                                  setting_group::wake};
  for (const setting_group group : groups) {
    fputs("<h3>", out);
    put_text(out, group_heading(group));
    fputs("</h3>", out);
    if (group == setting_group::wake) {
      fputs("<p class=\"hint\">", out);
      put_textf(out,
                "Whichever comes first wakes the router. With none of them on, a firing sleep "
                "rule only logs \"%s\" and the router stays up.",
                NO_WAKE_RULE_MESSAGE);
      fputs("</p>", out);
    }
    fputs("<div class=\"rules\">", out);
    for (int r = 0; r < SETTING_RULE_COUNT; ++r) {
      if (rule_at(r).group == group) put_rule(state, rule_at(r), r, out);
    }
    fputs("</div>", out);
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

void put_clock(time_t t, FILE* out) {
  struct tm local {};
  localtime_r(&t, &local);
  fprintf(out, "%02d:%02d", local.tm_hour, local.tm_min);
}

// One day as a bar: up, asleep and gone by, with the hours marked; the
// words beside it say the same for those who do not see it.
void put_day(const asleep_stretch* stretches, int count, time_t now, time_t start, time_t end,
             FILE* out) {
  // Minutes of a 24-hour day; a day of 23 or 25 hours is drawn as wide.
  const auto x_of = [&](time_t t) {
    const time_t clipped = t < start ? start : t > end ? end : t;
    return static_cast<long>((clipped - start) * 1440 / (end - start));
  };
  static constexpr const char* WEEKDAYS[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  struct tm local {};
  localtime_r(&start, &local);
  fprintf(out, "<li><span class=\"day\">%s %04d-%02d-%02d", WEEKDAYS[local.tm_wday % 7],
          local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  fputs(
      "</span><svg class=\"bar\" viewBox=\"0 0 1440 24\" preserveAspectRatio=\"none\" "
      "aria-hidden=\"true\" focusable=\"false\"><rect class=\"up\" width=\"1440\" height=\"24\"/>",
      out);
  if (now > start) fprintf(out, "<rect class=\"past\" width=\"%ld\" height=\"24\"/>", x_of(now));
  for (int i = 0; i < count; ++i) {
    if (stretches[i].to <= start || stretches[i].from >= end) continue;
    fprintf(out, "<rect class=\"%s\" x=\"%ld\" width=\"%ld\" height=\"24\"/>",
            stretches[i].open_end ? "maybe" : "down", x_of(stretches[i].from),
            x_of(stretches[i].to) - x_of(stretches[i].from));
  }
  for (int hour = 6; hour < 24; hour += 6) {
    fprintf(out, "<line x1=\"%d\" x2=\"%d\" y1=\"0\" y2=\"24\"/>", hour * 60, hour * 60);
  }
  fputs("</svg><span class=\"times\">", out);
  bool any = false;
  for (int i = 0; i < count; ++i) {
    const asleep_stretch& stretch = stretches[i];
    if (stretch.from >= start && stretch.from < end) {
      fputs(any ? "; sleeps " : "sleeps ", out);
      put_clock(stretch.from, out);
      any = true;
    }
    if (!stretch.open_end && stretch.to >= start && stretch.to < end) {
      fputs(any ? "; wakes " : "wakes ", out);
      put_clock(stretch.to, out);
      any = true;
    } else if (stretch.open_end && stretch.from >= start && stretch.from < end) {
      fputs(" until an input wakes it", out);
    }
  }
  if (!any) fputs("up all day", out);
  fputs("</span></li>", out);
}

// The coming week as the time-of-day rule shapes it, one bar per local day.
void put_week_picture(const check_report& report, const time_t* firings, int count, FILE* out) {
  static asleep_stretch stretches[PLAN_MAX_FIRINGS];
  const time_t after_week = local_midnight(report.at, PLAN_DAYS);
  const int stretch_count = asleep_stretches(report, firings, count, after_week, stretches);
  fputs(
      "<figure class=\"week\"><figcaption>The router in the coming week, by the time-of-day "
      "rule: <span class=\"key up\"></span> up, <span class=\"key down\"></span> asleep, "
      "<span class=\"key maybe\"></span> asleep until an input wakes it, <span class=\"key "
      "past\"></span> gone by. An input or the delay rule may put it to sleep at other "
      "times.</figcaption><div class=\"axis\" aria-hidden=\"true\"><span>0:00</span>"
      "<span>6:00</span><span>12:00</span><span>18:00</span><span>24:00</span></div><ol>",
      out);
  for (int d = 0; d < PLAN_DAYS; ++d) {
    put_day(stretches, stretch_count, report.at, local_midnight(report.at, d),
            d + 1 < PLAN_DAYS ? local_midnight(report.at, d + 1) : after_week, out);
  }
  fputs("</ol></figure>", out);
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
  put_week_picture(report, firings, total < PLAN_MAX_FIRINGS ? total : PLAN_MAX_FIRINGS, out);
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
