// dormix-web: the settings page, run by the router's web server as a CGI
// program. The analysis is dormix-check's; this program adds the form, the
// safe save and the restart.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "analysis/root_only.h"
#include "analysis/router.h"
#include "daemon/time_zone.h"
#include "web/editor.h"
#include "web/fields.h"
#include "web/form.h"
#include "web/page.h"
#include "web/sha256.h"
#include "web/system.h"

namespace {

constexpr int RESTART_SETTLE_STEPS = 20;
constexpr useconds_t RESTART_SETTLE_STEP_US = 100000;

// Large records: static, so that the stack stays small.
char file_text[SETTINGS_MAX_SIZE];
char new_text[SETTINGS_MAX_SIZE + size_t{KNOWN_KEY_COUNT} * 96];
char body[FORM_MAX_BODY];
check_report report;
check_report new_report;
page_state state;
parsed_form form;

const char* environment(const char* name) { return getenv(name); }

void put_headers(int status, const char* reason, const char* type) {
  printf(
      "Status: %d %s\r\n"
      "Content-Type: %s\r\n"
      "Content-Security-Policy: default-src 'none'; style-src %s; form-action 'self'; "
      "frame-ancestors 'none'; base-uri 'none'\r\n"
      "X-Frame-Options: DENY\r\n"
      "X-Content-Type-Options: nosniff\r\n"
      "Referrer-Policy: no-referrer\r\n"
      "Cache-Control: no-store\r\n\r\n",
      status, reason, type, PAGE_STYLE_SOURCE);
}

int refuse(int status, const char* reason, const char* text) {
  put_headers(status, reason, "text/plain; charset=utf-8");
  printf("%s\n", text);
  return 0;
}

void token_for(const unsigned char secret[SECRET_SIZE], const char* user, const char* hash,
               char out[SHA256_HEX_SIZE]) {
  char message[256 + SHA256_HEX_SIZE];
  snprintf(message, sizeof message, "%s\n%s", user, hash);
  uint8_t mac[SHA256_SIZE];
  hmac_sha256(secret, SECRET_SIZE, message, strlen(message), mac);
  digest_hex(mac, out);
}

// Reads the settings file and the checker's report on it into the state.
long load_file(const check_request& request) {
  const long size = read_whole_file(SETTINGS_PATH, file_text, sizeof file_text);
  state.file_read = size >= 0;
  if (size < 0 && errno == EFBIG) {
    snprintf(state.file_problem, sizeof state.file_problem,
             "%s is larger than this page handles (%d KiB); use dormix-check", SETTINGS_PATH,
             static_cast<int>(SETTINGS_MAX_SIZE / 1024));
  } else if (size < 0) {
    snprintf(state.file_problem, sizeof state.file_problem,
             "cannot read %s: %s (the daemon would run with every rule off)", SETTINGS_PATH,
             strerror(errno));
  }
  const size_t used = size < 0 ? 0 : static_cast<size_t>(size);
  report_on_text(file_text, used, request, &report);
  uint8_t digest[SHA256_SIZE];
  sha256(file_text, used, digest);
  digest_hex(digest, state.hash);
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    field_value_of(report, file_text, used, i, state.values[i]);
  }
  return size;
}

void look_at_router(const sleep_config& config) {
  static field_view view;
  observe_field(config, router_field_platform(), nullptr, &view);
  describe_field_view(view, config, state.field_lines);
  check_trusted_files(SETTINGS_PATH, &state.trust_findings);
  state.pid_after = running_daemon();
}

// Why the page cannot save, or empty.
void find_read_only_reason(long size, bool secret_loaded, const char* secret_why) {
  char* why = state.read_only_why;
  const size_t room = sizeof state.read_only_why;
  static check_findings settings_access;
  if (size < 0) {
    snprintf(why, room, "the settings file could not be read");
    return;
  }
  write_obstacle(SETTINGS_PATH, why, room);
  if (why[0] != '\0') return;
  if (check_root_only(SETTINGS_PATH, "the settings file",
                      "decide when the router sleeps and when it wakes", &settings_access) > 0) {
    snprintf(why, room, "%s", settings_access.warnings[0].text);
  } else if (!secret_loaded) {
    snprintf(why, room, "%s", secret_why);
  }
}

bool read_body(size_t length) {
  size_t used = 0;
  while (used < length) {
    const ssize_t got = read(0, body + used, length - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    used += static_cast<size_t>(got);
  }
  return true;
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

// A form made from another version of the file: says where the file now
// differs from the form; nothing is written.
int show_conflict(size_t used) {
  state.notice = page_notice::conflict;
  snprintf(state.notice_text, sizeof state.notice_text,
           "The settings file changed after this form was made; nothing was written. Where "
           "the file now differs from the form:");
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    field_value_of(report, file_text, used, i, state.conflict_file_values[i]);
    state.conflicting[i] = strcmp(state.conflict_file_values[i], form.values[i]) != 0;
  }
  return 409;
}

// Puts the checker's blocking findings on the changed lines of the new file
// at their fields; true when any change is blocked.
bool mark_blocked_changes(const value_change* changes, int count) {
  bool blocked = false;
  for (int c = 0; c < count; ++c) {
    const int key = known_key_index(new_report.keys, changes[c].key);
    const int line = new_report.findings.key_line[key];
    for (int w = 0; w < new_report.findings.warning_count; ++w) {
      const check_warning& warning = new_report.findings.warnings[w];
      if (warning.line != line || !blocks_save(warning.code)) continue;
      if (state.field_errors[key][0] == '\0') {
        snprintf(state.field_errors[key], CHECK_WARNING_TEXT, "%s", warning.text);
      }
      blocked = true;
    }
  }
  return blocked;
}

// Writes the new file, restarts the daemon and waits a little for the new
// one: an init script may start it in the background and return first.
int save_and_restart(size_t new_size, int count, const unsigned char* secret, const char* user) {
  char why[512];
  remove_stale_temporaries(SETTINGS_PATH);
  if (!replace_settings_file(SETTINGS_PATH, new_text, new_size, why, sizeof why)) {
    state.notice = page_notice::save_failed;
    snprintf(state.notice_text, sizeof state.notice_text, "%s", why);
    return 500;
  }
  uint8_t digest[SHA256_SIZE];
  sha256(new_text, new_size, digest);
  digest_hex(digest, state.hash);
  token_for(secret, user, state.hash, state.token);
  state.notice = page_notice::saved;
  snprintf(state.notice_text, sizeof state.notice_text, "Saved %d changed value%s to %s.", count,
           count == 1 ? "" : "s", SETTINGS_PATH);
  state.pid_before = running_daemon();
  state.restart_status = restart_daemon(state.restart_output, sizeof state.restart_output);
  state.restarted = true;
  for (int wait = 0; wait < RESTART_SETTLE_STEPS; ++wait) {
    const pid_t now = running_daemon();
    if (now != 0 && now != state.pid_before) break;
    usleep(RESTART_SETTLE_STEP_US);
  }
  return 200;
}

// The posted form against the file: conflict, errors, or the save itself.
int handle_save(const check_request& request, long size, const unsigned char* secret,
                const char* user) {
  const size_t used = static_cast<size_t>(size);
  char expected[SHA256_HEX_SIZE];
  token_for(secret, user, form.values[FIELD_HASH], expected);
  if (!same_secret_text(expected, form.values[FIELD_TOKEN])) {
    return refuse(403, "Forbidden", "the form's token does not match: reload the page");
  }
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    snprintf(state.values[i], FORM_VALUE_SIZE, "%s", form.values[i]);
  }
  if (strcmp(form.values[FIELD_HASH], state.hash) != 0) return show_conflict(used);
  value_change changes[KNOWN_KEY_COUNT];
  const int count = changes_from_form(report, file_text, used, form, changes);
  if (count == 0) {
    state.notice = page_notice::unchanged;
    snprintf(state.notice_text, sizeof state.notice_text, "No value changed; nothing was written.");
    return 200;
  }
  const size_t new_size =
      rewrite_settings(file_text, used, changes, count, new_text, sizeof new_text);
  if (new_size == 0 || !report_on_text(new_text, new_size, request, &new_report)) {
    state.notice = page_notice::save_failed;
    snprintf(state.notice_text, sizeof state.notice_text, "The new file would be too large.");
    return 500;
  }
  const bool blocked = mark_blocked_changes(changes, count);
  state.report = &new_report;
  if (blocked) {
    state.notice = page_notice::invalid;
    snprintf(state.notice_text, sizeof state.notice_text,
             "Some values are not what the daemon would read; nothing was written. See the "
             "messages at the fields.");
    return 422;
  }
  return save_and_restart(new_size, count, secret, user);
}

const char* reason_of(int status) {
  switch (status) {
    case 409:
      return "Conflict";
    case 422:
      return "Unprocessable Content";
    case 500:
      return "Internal Server Error";
    default:
      return "OK";
  }
}

// Answers a request judged unfit with its refusal; false when it may go on.
bool refused_unfit(request_verdict verdict) {
  switch (verdict) {
    case request_verdict::no_user:
      refuse(403, "Forbidden", "no user: the web server must authenticate this page");
      return true;
    case request_verdict::cross_site:
      refuse(403, "Forbidden", "Origin or Referer names another host");
      return true;
    case request_verdict::bad_method:
      refuse(405, "Method Not Allowed", "GET or POST only");
      return true;
    case request_verdict::bad_type:
      refuse(415, "Unsupported Media Type", "application/x-www-form-urlencoded only");
      return true;
    case request_verdict::too_large:
      refuse(413, "Content Too Large", "at most 16384 bytes");
      return true;
    case request_verdict::bad_length:
      refuse(400, "Bad Request", "CONTENT_LENGTH missing or not a number");
      return true;
    case request_verdict::show:
    case request_verdict::save:
      return false;
  }
  return false;
}

// Reads and parses the posted form; answers a bad one with its refusal
// and returns false.
bool read_form(size_t body_length) {
  static known_key keys[KNOWN_KEY_COUNT];
  known_keys_fill(keys);
  if (!read_body(body_length)) {
    refuse(400, "Bad Request", "body shorter than CONTENT_LENGTH");
    return false;
  }
  const form_error error = parse_settings_form(body, body_length, keys, &form);
  if (error == form_error::none) return true;
  char text[160];
  snprintf(text, sizeof text, "%s: %s", form_error_text(error), form.culprit);
  refuse(400, "Bad Request", text);
  return false;
}

}  // namespace

int main() {
  const cgi_request request{environment("REQUEST_METHOD"), environment("CONTENT_TYPE"),
                            environment("CONTENT_LENGTH"), environment("REMOTE_USER"),
                            environment("HTTP_HOST"),      environment("HTTP_ORIGIN"),
                            environment("HTTP_REFERER")};
  size_t body_length = 0;
  if (refused_unfit(judge_request(request, !remote_user_switched_off(), &body_length))) return 0;
  const bool posted = strcmp(request.method, "POST") == 0;
  if (posted && !read_form(body_length)) return 0;
  const char* user = request.remote_user != nullptr ? request.remote_user : "";
  state.user = user;
  // The daemon's zone, chosen as it chooses it, before any local time is read.
  static char* zone_environment[ENVIRONMENT_CAPACITY * 8];
  const time_zone_choice zone = use_system_time_zone(zone_environment, ENVIRONMENT_CAPACITY * 8);
  const check_request check{SETTINGS_PATH, time(nullptr), router_input_presence(), zone};
  unsigned char secret[SECRET_SIZE];
  char secret_why[256];
  const bool secret_loaded = load_secret(secret, secret_why, sizeof secret_why);
  if (posted && !secret_loaded) return refuse(403, "Forbidden", secret_why);
  if (posted && !lock_settings_directory(SETTINGS_PATH)) {
    return refuse(500, "Internal Server Error", "cannot lock the settings directory");
  }
  const long size = load_file(check);
  state.report = &report;
  find_read_only_reason(size, secret_loaded, secret_why);
  state.read_only = state.read_only_why[0] != '\0';
  if (secret_loaded) token_for(secret, user, state.hash, state.token);
  int status = 200;
  if (posted) {
    if (state.read_only) return refuse(403, "Forbidden", state.read_only_why);
    status = handle_save(check, size, secret, user);
    if (status == 0) return 0;
  }
  look_at_router(state.report->config);
  put_headers(status, reason_of(status), "text/html; charset=utf-8");
  render_page(state, stdout);
  return fflush(stdout) == 0 ? 0 : 1;
}
