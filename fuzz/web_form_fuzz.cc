// Fuzz target: the settings page's request side. The first byte chooses:
//   0  the form parser over an arbitrary body, with the page's own fields;
//   1  judge_request over an arbitrary CGI environment;
//   2  the whole edit path, from a settings file and the values of a form to
//      the rewritten file, held against the daemon's own settings reader.
#include <strings.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analysis/known_keys.h"
#include "analysis/lint.h"
#include "analysis/report.h"
#include "settings/settings.h"
#include "web/editor.h"
#include "web/fields.h"
#include "web/form.h"
#include "web/rewrite.h"

namespace {

constexpr size_t FILE_MAX = 40000;
constexpr int KEYS_COMPARED_MAX = 64;

void expect(bool holds, const char* what) {
  if (holds) return;
  fprintf(stderr, "web_form_fuzz: %s\n", what);
  abort();
}

void fuzz_form(const char* body, size_t size) {
  if (size > FORM_MAX_BODY) return;
  static known_key keys[KNOWN_KEY_COUNT];
  known_keys_fill(keys);
  static parsed_form form;
  const form_error error = parse_settings_form(body, size, keys, &form);
  if (error != form_error::none) return;
  // Every key's value reaches the editor as digits, or empty for a key the
  // file does not set.
  for (int i = 0; i < SETTINGS_FORM_FIELDS; ++i) {
    const size_t length = strnlen(form.values[i], FORM_VALUE_SIZE);
    expect(length < FORM_VALUE_SIZE, "a value without its end");
    if (i >= KNOWN_KEY_COUNT) continue;
    expect(length <= FORM_NUMBER_DIGITS, "a number longer than allowed");
    for (size_t c = 0; c < length; ++c) {
      expect(form.values[i][c] >= '0' && form.values[i][c] <= '9', "a number with a non-digit");
    }
  }
}

// The host part of an Origin or Referer URL, or false when it names none.
bool url_host(const char* url, const char** host, size_t* length) {
  const char* rest = nullptr;
  if (strncasecmp(url, "http://", 7) == 0) rest = url + 7;
  if (strncasecmp(url, "https://", 8) == 0) rest = url + 8;
  if (rest == nullptr) return false;
  *host = rest;
  *length = strcspn(rest, "/?#");
  return true;
}

// Up to seven NUL-separated texts; a missing one is absent (null), as an
// unset variable is.
void fuzz_request(const char* data, size_t size) {
  if (size == 0) return;
  const bool require_user = (data[0] & 1) != 0;
  static char copy[4096];
  size = size - 1 > sizeof copy - 1 ? sizeof copy - 1 : size - 1;
  memcpy(copy, data + 1, size);
  copy[size] = '\0';
  const char* parts[7] = {};
  char* at = copy;
  for (int i = 0; i < 7 && at <= copy + size; ++i) {
    parts[i] = at;
    at += strlen(at) + 1;
  }
  const cgi_request request{parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]};
  size_t body_length = 12345678;
  const request_verdict verdict = judge_request(request, require_user, &body_length);
  const bool has_user = request.remote_user != nullptr && request.remote_user[0] != '\0';
  if (verdict == request_verdict::show || verdict == request_verdict::save) {
    expect(has_user || !require_user, "a request without a user let through");
  }
  if (verdict == request_verdict::show) {
    expect(strcmp(request.method, "GET") == 0, "a page shown for another method than GET");
    expect(body_length == 12345678, "a GET given a body length");
  }
  if (verdict != request_verdict::save) return;
  expect(strcmp(request.method, "POST") == 0, "a save by another method than POST");
  // The body length is CONTENT_LENGTH, exactly, and never above the limit.
  const char* length = request.content_length;
  expect(length != nullptr && length[0] != '\0', "a save without CONTENT_LENGTH");
  size_t value = 0;
  for (const char* c = length; *c != '\0'; ++c) {
    expect(*c >= '0' && *c <= '9', "a CONTENT_LENGTH with a non-digit accepted");
    expect(value <= FORM_MAX_BODY, "a CONTENT_LENGTH above the limit accepted");
    value = value * 10 + static_cast<size_t>(*c - '0');
  }
  expect(value <= FORM_MAX_BODY, "a CONTENT_LENGTH above the limit accepted");
  expect(body_length == value, "a body length other than CONTENT_LENGTH");
  // Every Origin and Referer that names a host names the one in Host.
  const char* const claims[] = {request.origin, request.referer};
  for (const char* claimed : claims) {
    if (claimed == nullptr || strcmp(claimed, "null") == 0) continue;
    const char* host = nullptr;
    size_t host_length = 0;
    expect(url_host(claimed, &host, &host_length), "an Origin or Referer without a host accepted");
    expect(request.host != nullptr && strlen(request.host) == host_length &&
               strncasecmp(host, request.host, host_length) == 0,
           "an Origin or Referer naming another host accepted");
  }
}

// The value text the daemon reads for key, copied into out; false when it
// reads none.
bool daemon_value(const char* text, size_t size, const char* key, char* out, size_t out_size) {
  if (size == 0) return false;
  FILE* file = fmemopen(const_cast<char*>(text), size, "r");
  if (file == nullptr) abort();
  const char* value = settings_find(file, key);
  if (value != nullptr) snprintf(out, out_size, "%s", value);
  fclose(file);
  return value != nullptr;
}

// The keys of the file as the daemon splits it, the first few.
int keys_of(const char* text, size_t size, char keys[][KNOWN_KEY_SIZE], int most) {
  if (size == 0) return 0;
  FILE* file = fmemopen(const_cast<char*>(text), size, "r");
  if (file == nullptr) abort();
  static char line[SETTINGS_LINE_SIZE];
  int count = 0;
  while (count < most && fgets(line, sizeof line, file) != nullptr) {
    if (settings_split_line(line) == nullptr) continue;
    const size_t length = strlen(line);
    if (length >= KNOWN_KEY_SIZE) continue;
    memcpy(keys[count], line, length + 1);
    ++count;
  }
  fclose(file);
  return count;
}

// A posted value from one byte: empty, with leading zeros, too large for
// the daemon's numbers, or a small number.
void value_from_byte(unsigned char byte, char out[FORM_VALUE_SIZE]) {
  if (byte == 0) {
    out[0] = '\0';
  } else if (byte == 1) {
    snprintf(out, FORM_VALUE_SIZE, "007");
  } else if (byte == 2) {
    snprintf(out, FORM_VALUE_SIZE, "99999999999999999999");
  } else {
    snprintf(out, FORM_VALUE_SIZE, "%d", byte - 3);
  }
}

bool changed_key(const value_change* changes, int count, const char* key) {
  for (int c = 0; c < count; ++c) {
    if (strcasecmp(changes[c].key, key) == 0) return true;
  }
  return false;
}

// The settings file, a NUL, then pairs of bytes: a key's index and its
// posted value. Whatever the page writes, every key the form did not change
// reads, by the daemon's own code, exactly as before, and every changed key
// reads as posted.
void fuzz_edit(const char* data, size_t size) {
  const char* separator = static_cast<const char*>(memchr(data, '\0', size));
  if (separator == nullptr) return;
  const size_t file_size = static_cast<size_t>(separator - data);
  if (file_size > FILE_MAX) return;
  // The edit path reads only the keys and the lines the checker's line
  // checks find them on; the rest of the report would only slow the run.
  static check_report report;
  known_keys_fill(report.keys);
  report.findings = check_findings{};
  if (file_size > 0) {
    FILE* file = fmemopen(const_cast<char*>(data), file_size, "r");
    if (file == nullptr) abort();
    const bool read = lint_settings(file, report.keys, &report.findings);
    fclose(file);
    if (!read) return;
  }
  static parsed_form form;
  form = parsed_form{};
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    field_value_of(report, data, file_size, i, form.values[i]);
  }
  const auto* pairs = reinterpret_cast<const unsigned char*>(separator + 1);
  const size_t pair_bytes = size - file_size - 1;
  for (size_t p = 0; p + 1 < pair_bytes; p += 2) {
    value_from_byte(pairs[p + 1], form.values[pairs[p] % KNOWN_KEY_COUNT]);
  }
  value_change changes[KNOWN_KEY_COUNT];
  const int count = changes_from_form(report, data, file_size, form, changes);
  char why[512];
  if (count == 0 || unsafe_change_line(data, file_size, changes, count, why, sizeof why) != 0) {
    return;
  }
  static char rewritten[FILE_MAX + KNOWN_KEY_COUNT * 96];
  const size_t new_size =
      rewrite_settings(data, file_size, changes, count, rewritten, sizeof rewritten);
  expect(new_size > 0, "a rewrite that did not fit its buffer");
  static char keys[KEYS_COMPARED_MAX + KNOWN_KEY_COUNT][KNOWN_KEY_SIZE];
  int key_count = keys_of(data, file_size, keys, KEYS_COMPARED_MAX);
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    snprintf(keys[key_count++], KNOWN_KEY_SIZE, "%s", report.keys[i].name);
  }
  for (int k = 0; k < key_count; ++k) {
    char before[SETTINGS_LINE_SIZE];
    char after[SETTINGS_LINE_SIZE];
    const bool read_before = daemon_value(data, file_size, keys[k], before, sizeof before);
    const bool read_after = daemon_value(rewritten, new_size, keys[k], after, sizeof after);
    if (changed_key(changes, count, keys[k])) continue;
    expect(read_before == read_after, "a key the form did not change appears or disappears");
    expect(!read_before || strcmp(before, after) == 0,
           "a key the form did not change reads another value");
  }
  for (int c = 0; c < count; ++c) {
    char after[SETTINGS_LINE_SIZE];
    expect(daemon_value(rewritten, new_size, changes[c].key, after, sizeof after),
           "a changed key the daemon does not read");
    expect(settings_parse_uint(after) == settings_parse_uint(changes[c].value),
           "a changed key the daemon reads as another number");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* rest = reinterpret_cast<const char*>(data + 1);
  switch (data[0] % 3) {
    case 0:
      fuzz_form(rest, size - 1);
      break;
    case 1:
      fuzz_request(rest, size - 1);
      break;
    default:
      fuzz_edit(rest, size - 1);
      break;
  }
  return 0;
}
