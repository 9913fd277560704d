#include "web/serve.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "analysis/field_view.h"
#include "device/binary_input.h"
#include "device/status.h"
#include "web/sha256.h"

namespace {

web_answer refusal(int status, const char* reason, const char* text) {
  web_answer answer{status, reason, false, {}};
  snprintf(answer.text, sizeof answer.text, "%s", text);
  return answer;
}

web_answer page_answer(int status) {
  const char* reason = "OK";
  if (status == 409) reason = "Conflict";
  if (status == 422) reason = "Unprocessable Content";
  if (status == 500) reason = "Internal Server Error";
  return web_answer{status, reason, true, {}};
}

check_report& report_of(web_session* session) { return session->report; }
check_report& new_report_of(web_session* session) { return session->new_report; }

void token_for(const web_session& session, const char* user, time_t issued,
               char out[SHA256_HEX_SIZE]) {
  char token[FORM_TOKEN_SIZE];
  form_token(session.secret, SECRET_SIZE, user, session.page.hash, issued, token);
  snprintf(out, SHA256_HEX_SIZE, "%s", token);
}

// Reads the settings file and the checker's report on it into the session.
long load_file(const web_platform& platform, const check_request& request, web_session* session) {
  page_state& page = session->page;
  const long size =
      platform.read_settings(platform.context, session->file_text, sizeof session->file_text);
  page.file_read = size >= 0;
  if (size < 0 && errno == EFBIG) {
    snprintf(page.file_problem, sizeof page.file_problem,
             "%s is larger than this page handles (%d KiB); use dormix-check", SETTINGS_PATH,
             static_cast<int>(SETTINGS_MAX_SIZE / 1024));
  } else if (size < 0) {
    snprintf(page.file_problem, sizeof page.file_problem,
             "cannot read %s: %s (the daemon would run with every rule off)", SETTINGS_PATH,
             strerror(errno));
  }
  const size_t used = size < 0 ? 0 : static_cast<size_t>(size);
  check_report& report = report_of(session);
  report_on_text(session->file_text, used, request, &report);
  uint8_t digest[SHA256_SIZE];
  sha256(session->file_text, used, digest);
  digest_hex(digest, page.hash);
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    field_value_of(report, session->file_text, used, i, page.values[i]);
  }
  return size;
}

// The router's binary inputs as the status tool answered before, read
// through the platform's device code.
struct answered_router {
  const web_platform* platform;
  const web_session* session;
};

const char* answered_ports(void* context) {
  const auto* router = static_cast<const answered_router*>(context);
  return router->session->status_answered ? router->session->status_output : nullptr;
}

int answered_input_present(void* context, int n) {
  return n >= 0 && n < BINARY_INPUT_COUNT && binary_input_listed(answered_ports(context), n);
}

int answered_input_read(void* context, int n) {
  const field_platform& field = static_cast<const answered_router*>(context)->platform->field;
  return field.binary_input_read(field.context, n);
}

int answered_monotonic_seconds(void* context) {
  const field_platform& field = static_cast<const answered_router*>(context)->platform->field;
  return field.monotonic_seconds(field.context);
}

bool answered_gpio_exists(void* context) {
  const field_platform& field = static_cast<const answered_router*>(context)->platform->field;
  return field.gpio_device_exists(field.context);
}

void look_at_router(const web_platform& platform, web_session* session) {
  page_state& page = session->page;
  answered_router router{&platform, session};
  const field_platform field{&router,
                             answered_ports,
                             answered_input_present,
                             answered_input_read,
                             answered_monotonic_seconds,
                             answered_gpio_exists};
  observe_field(page.report->config, field, nullptr, &session->view);
  describe_field_view(session->view, page.report->config, page.field_lines);
  platform.trust_findings(platform.context, &page.trust_findings);
  page.pid_after = platform.running_daemon(platform.context);
}

// Why the page cannot save, or empty.
void find_read_only_reason(const web_platform& platform, long size, web_session* session) {
  char* why = session->page.read_only_why;
  const size_t room = sizeof session->page.read_only_why;
  why[0] = '\0';
  if (size < 0) {
    snprintf(why, room, "the settings file could not be read");
    return;
  }
  platform.save_obstacle(platform.context, why, room);
  if (why[0] != '\0') return;
  if (session->secret_found == secret_state::unusable)
    snprintf(why, room, "%s", session->secret_why);
}

const char* form_error_text(form_error error) {
  switch (error) {
    case form_error::bad_encoding:
      return "bad form encoding";
    case form_error::unknown_field:
      return "unknown field";
    case form_error::repeated_field:
      return "repeated field";
    case form_error::missing_field:
      return "missing field";
    case form_error::not_a_number:
      return "not a number (digits only)";
    case form_error::too_long:
      return "value too long";
    case form_error::none:
      break;
  }
  return "";
}

// The posted values (already in the page) back in the form, with why
// nothing was written: the form is sent again for the user to check and
// save.
web_answer send_form_back(web_session* session, const char* why) {
  page_state& page = session->page;
  page.notice = page_notice::conflict;
  snprintf(page.notice_text, sizeof page.notice_text, "%s", why);
  return page_answer(409);
}

// A form made from another version of the file: says where the file now
// differs from the form; nothing is written.
web_answer show_conflict(web_session* session, size_t used) {
  page_state& page = session->page;
  page.notice = page_notice::conflict;
  snprintf(page.notice_text, sizeof page.notice_text,
           "The settings file changed after this form was made; nothing was written. Where "
           "the file now differs from the form:");
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    field_value_of(report_of(session), session->file_text, used, i, page.conflict_file_values[i]);
    page.conflicting[i] = strcmp(page.conflict_file_values[i], session->form.values[i]) != 0;
  }
  return page_answer(409);
}

// Puts the checker's blocking findings on the changed lines of the new file
// at their fields; true when any change is blocked.
bool mark_blocked_changes(web_session* session, const value_change* changes, int count) {
  const check_report& new_report = new_report_of(session);
  bool blocked = false;
  for (int c = 0; c < count; ++c) {
    const int key = known_key_index(new_report.keys, changes[c].key);
    const int line = new_report.findings.key_line[key];
    for (int w = 0; w < new_report.findings.warning_count; ++w) {
      const check_warning& warning = new_report.findings.warnings[w];
      if (warning.line != line || !blocks_save(warning.code)) continue;
      if (session->page.field_errors[key][0] == '\0') {
        snprintf(session->page.field_errors[key], CHECK_WARNING_TEXT, "%s", warning.text);
      }
      blocked = true;
    }
  }
  return blocked;
}

web_answer refuse_save(web_session* session, const char* why) {
  page_state& page = session->page;
  page.notice = page_notice::invalid;
  snprintf(page.notice_text, sizeof page.notice_text, "Nothing was written: %.480s", why);
  return page_answer(422);
}

void note_restart(const restart_outcome& outcome, page_state* page) {
  page->restarted = true;
  page->restart_status =
      outcome.result == restart_result::done || outcome.result == restart_result::failed
          ? outcome.status
          : -1;
  const size_t used = strlen(outcome.output);
  snprintf(page->restart_output, sizeof page->restart_output, "%s", outcome.output);
  const char* note = nullptr;
  if (outcome.result == restart_result::timed_out) {
    note =
        "(it did not end within the time allowed: it was stopped, with everything it "
        "started that stayed in its process group)";
  } else if (outcome.result == restart_result::not_run) {
    note = "(it could not be started)";
  }
  if (note == nullptr) return;
  const size_t room = sizeof page->restart_output;
  const size_t at = used < room ? used : room - 1;
  snprintf(page->restart_output + at, room - at, "%s%s", at > 0 ? "\n" : "", note);
}

// Writes the new file, restarts the daemon and waits a little for the new
// one: an init script may start it in the background and return first.
web_answer save_and_restart(const web_platform& platform, web_session* session, size_t new_size,
                            int count, const char* user, time_t now) {
  page_state& page = session->page;
  char why[WEB_WHY_SIZE];
  if (!platform.replace_settings(platform.context, session->new_text, new_size, why, sizeof why)) {
    page.notice = page_notice::save_failed;
    snprintf(page.notice_text, sizeof page.notice_text, "%s", why);
    return page_answer(500);
  }
  // The restart may outlive this page, so the lock could not keep restarts
  // apart anyway; released, it keeps no other save waiting on a slow script.
  platform.unlock_settings(platform.context);
  uint8_t digest[SHA256_SIZE];
  sha256(session->new_text, new_size, digest);
  digest_hex(digest, page.hash);
  token_for(*session, user, now, page.token);
  page.notice = page_notice::saved;
  snprintf(page.notice_text, sizeof page.notice_text, "Saved %d changed value%s to %s.", count,
           count == 1 ? "" : "s", SETTINGS_PATH);
  page.pid_before = platform.running_daemon(platform.context);
  platform.restart_daemon(platform.context, &session->restart);
  note_restart(session->restart, &page);
  for (int wait = 0; wait < RESTART_SETTLE_STEPS; ++wait) {
    const pid_t running = platform.running_daemon(platform.context);
    if (running != 0 && running != page.pid_before) break;
    platform.pause_milliseconds(platform.context, RESTART_SETTLE_STEP_MS);
  }
  return page_answer(200);
}

// The posted form's token and hash: false, with the answer, when the form
// is forged, was made against another file or is too old to save.
bool form_may_save(web_session* session, const check_request& request, size_t used,
                   const char* user, web_answer* answer) {
  page_state& page = session->page;
  const parsed_form& form = session->form;
  const token_verdict verdict =
      session->secret_found == secret_state::made
          ? token_verdict::expired
          : judge_token(session->secret, SECRET_SIZE, user, form.values[FIELD_HASH],
                        form.values[FIELD_TOKEN], request.at);
  if (verdict == token_verdict::forged) {
    *answer = refusal(403, "Forbidden", "the form's token does not match: reload the page");
    return false;
  }
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    snprintf(page.values[i], FORM_VALUE_SIZE, "%s", form.values[i]);
  }
  if (strcmp(form.values[FIELD_HASH], page.hash) != 0) {
    *answer = show_conflict(session, used);
    return false;
  }
  if (verdict == token_verdict::expired) {
    *answer = send_form_back(session, session->secret_found == secret_state::made
                                          ? "This page had no key for its forms yet; one was "
                                            "made now, and nothing was written. Check the "
                                            "values and save again."
                                          : "This form is more than an hour old, or from "
                                            "another time of the router's clock; nothing was "
                                            "written. Check the values and save again.");
    return false;
  }
  return true;
}

// The posted form against the file: conflict, errors, or the save itself.
web_answer handle_save(const web_platform& platform, web_session* session,
                       const check_request& request, long size, const char* user) {
  page_state& page = session->page;
  const parsed_form& form = session->form;
  const size_t used = static_cast<size_t>(size);
  web_answer answer{};
  if (!form_may_save(session, request, used, user, &answer)) return answer;
  const check_report& report = report_of(session);
  value_change changes[KNOWN_KEY_COUNT];
  const int count = changes_from_form(report, session->file_text, used, form, changes);
  if (count == 0) {
    page.notice = page_notice::unchanged;
    snprintf(page.notice_text, sizeof page.notice_text, "No value changed; nothing was written.");
    return page_answer(200);
  }
  char why[WEB_WHY_SIZE];
  if (unsafe_change_line(session->file_text, used, changes, count, why, sizeof why) != 0) {
    return refuse_save(session, why);
  }
  const size_t new_size = rewrite_settings(session->file_text, used, changes, count,
                                           session->new_text, sizeof session->new_text);
  // The next load must read what this save writes.
  if (new_size == 0 || new_size > SETTINGS_MAX_SIZE) {
    snprintf(why, sizeof why, "the new file would be larger than the %d KiB this page reads",
             static_cast<int>(SETTINGS_MAX_SIZE / 1024));
    return refuse_save(session, why);
  }
  if (!report_on_text(session->new_text, new_size, request, &new_report_of(session))) {
    page.notice = page_notice::save_failed;
    snprintf(page.notice_text, sizeof page.notice_text, "The new file could not be checked.");
    return page_answer(500);
  }
  new_report_of(session).presence = report.presence;
  const bool blocked = mark_blocked_changes(session, changes, count);
  page.report = &new_report_of(session);
  if (blocked) {
    page.notice = page_notice::invalid;
    snprintf(page.notice_text, sizeof page.notice_text,
             "Some values are not what the daemon would read; nothing was written. See the "
             "messages at the fields.");
    return page_answer(422);
  }
  return save_and_restart(platform, session, new_size, count, user, request.at);
}

// The refusal for a request judged unfit, or a page answer when it may go on.
web_answer unfit_answer(request_verdict verdict) {
  switch (verdict) {
    case request_verdict::no_user:
      return refusal(403, "Forbidden", "no user: the web server must authenticate this page");
    case request_verdict::cross_site:
      return refusal(403, "Forbidden", "Origin or Referer names another host");
    case request_verdict::bad_method:
      return refusal(405, "Method Not Allowed", "GET or POST only");
    case request_verdict::bad_type:
      return refusal(415, "Unsupported Media Type", "application/x-www-form-urlencoded only");
    case request_verdict::too_large:
      return refusal(413, "Content Too Large", "at most 16384 bytes");
    case request_verdict::bad_length:
      return refusal(400, "Bad Request", "CONTENT_LENGTH missing or not a number");
    case request_verdict::show:
    case request_verdict::save:
      break;
  }
  return page_answer(200);
}

// Reads and parses the posted form: a page answer when it is good.
web_answer read_form(const web_platform& platform, web_session* session, size_t body_length) {
  known_keys_fill(session->keys);
  if (!platform.read_body(platform.context, session->body, body_length)) {
    char text[96];
    snprintf(text, sizeof text, "body shorter than CONTENT_LENGTH, or not sent within %d s",
             BODY_TIMEOUT_SECONDS);
    return refusal(400, "Bad Request", text);
  }
  const form_error error =
      parse_settings_form(session->body, body_length, session->keys, &session->form);
  if (error == form_error::none) return page_answer(200);
  char text[160];
  snprintf(text, sizeof text, "%s: %s", form_error_text(error), session->form.culprit);
  return refusal(400, "Bad Request", text);
}

// Without REMOTE_USER nothing but the Host name stands between the page and
// a site that rebinds its own name to the router's address: Host must be
// one of the router's own names or addresses.
bool host_is_router(const web_platform& platform, const char* host) {
  char bare[256];
  return host != nullptr && host_without_port(host, bare, sizeof bare) &&
         platform.is_router_host(platform.context, bare);
}

// What the analysis needs from the router, gathered here: which inputs the
// status tool lists, and the method dormix-lpm's configuration file sets.
check_request gather_check_request(const web_platform& platform, web_session* session, time_t now,
                                   time_zone_choice zone) {
  // Asked before the lock, so that a hanging tool holds up no save.
  session->status_answered = platform.status_ports(platform.context, session->status_output);
  const char* lpm_text = platform.lpm_config_text(platform.context, session->lpm_config);
  session->lpm = lpm_method_answer{false, nullptr, LPM_CONFIG_PATH};
  const bool lpm_read = lpm_config_method(lpm_text, &session->lpm.returns, &session->lpm.name);
  check_request check{SETTINGS_PATH, now, {}, zone, lpm_read ? &session->lpm : nullptr};
  check.inputs.source =
      session->status_answered ? presence_source::status_tool : presence_source::status_missing;
  presence_from_ports(session->status_answered ? session->status_output : nullptr,
                      check.inputs.present);
  return check;
}

}  // namespace

bool host_without_port(const char* host, char* out, size_t size) {
  const char* end = nullptr;
  if (host[0] == '[') {
    const char* close = strchr(host, ']');
    if (close == nullptr || (close[1] != '\0' && close[1] != ':')) return false;
    end = close + 1;
  } else {
    end = strchr(host, ':');
    if (end == nullptr) end = host + strlen(host);
  }
  if (*end == ':') {
    for (const char* digit = end + 1; *digit != '\0'; ++digit) {
      if (*digit < '0' || *digit > '9') return false;
    }
  }
  const size_t length = static_cast<size_t>(end - host);
  if (length == 0 || length >= size) return false;
  memcpy(out, host, length);
  out[length] = '\0';
  return true;
}

void presence_from_ports(const char* output, bool present[BINARY_INPUT_COUNT]) {
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) present[n] = binary_input_listed(output, n);
}

web_answer answer_request(const web_platform& platform, web_session* session) {
  const auto variable = [&platform](const char* name) {
    return platform.environment(platform.context, name);
  };
  const cgi_request request{variable("REQUEST_METHOD"), variable("CONTENT_TYPE"),
                            variable("CONTENT_LENGTH"), variable("REMOTE_USER"),
                            variable("HTTP_HOST"),      variable("HTTP_ORIGIN"),
                            variable("HTTP_REFERER")};
  const bool switched_off = platform.remote_user_switched_off(platform.context);
  size_t body_length = 0;
  const request_verdict verdict = judge_request(request, !switched_off, &body_length);
  if (verdict != request_verdict::show && verdict != request_verdict::save) {
    return unfit_answer(verdict);
  }
  if (switched_off && !host_is_router(platform, request.host)) {
    return refusal(403, "Forbidden",
                   "Host is not one of this router's names or addresses, which this page "
                   "requires where the web server sets no REMOTE_USER");
  }
  const bool posted = verdict == request_verdict::save;
  if (posted) {
    const web_answer form_answer = read_form(platform, session, body_length);
    if (!form_answer.page) return form_answer;
  }
  const char* user = request.remote_user != nullptr ? request.remote_user : "";
  page_state& page = session->page;
  page.user = user;
  // The daemon's zone, chosen as it chooses it, before any local time is read.
  const time_zone_choice zone = platform.use_time_zone(platform.context);
  const time_t now = platform.wall_clock(platform.context);
  const check_request check = gather_check_request(platform, session, now, zone);
  // Only a POST may make the secret: a GET changes nothing.
  session->secret_found = platform.load_secret(platform.context, posted, session->secret,
                                               session->secret_why, sizeof session->secret_why);
  if (posted && session->secret_found == secret_state::unusable) {
    return refusal(403, "Forbidden", session->secret_why);
  }
  if (posted && !platform.lock_settings(platform.context)) {
    char text[128];
    snprintf(text, sizeof text, "another save held the settings for %d s: try again",
             LOCK_TIMEOUT_SECONDS);
    return refusal(503, "Service Unavailable", text);
  }
  const long size = load_file(platform, check, session);
  page.report = &report_of(session);
  find_read_only_reason(platform, size, session);
  page.read_only = page.read_only_why[0] != '\0';
  const bool keyed =
      session->secret_found == secret_state::loaded || session->secret_found == secret_state::made;
  if (keyed) token_for(*session, user, now, page.token);
  web_answer answer = page_answer(200);
  if (posted) {
    if (page.read_only) return refusal(403, "Forbidden", page.read_only_why);
    answer = handle_save(platform, session, check, size, user);
    if (!answer.page) return answer;
  }
  look_at_router(platform, session);
  return answer;
}

int write_answer(const web_answer& answer, const web_session& session, FILE* out) {
  fprintf(out,
          "Status: %d %s\r\n"
          "Content-Type: %s\r\n"
          "Content-Security-Policy: default-src 'none'; style-src %s; form-action 'self'; "
          "frame-ancestors 'none'; base-uri 'none'\r\n"
          "X-Frame-Options: DENY\r\n"
          "X-Content-Type-Options: nosniff\r\n"
          "Referrer-Policy: no-referrer\r\n"
          "Cache-Control: no-store\r\n\r\n",
          answer.status, answer.reason,
          answer.page ? "text/html; charset=utf-8" : "text/plain; charset=utf-8",
          PAGE_STYLE_SOURCE);
  if (answer.page) {
    render_page(session.page, out);
  } else {
    fprintf(out, "%s\n", answer.text);
  }
  return fflush(out) == 0 ? 0 : 1;
}
