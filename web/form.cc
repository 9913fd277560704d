#include "web/form.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

namespace {

constexpr const char* FORM_TYPE = "application/x-www-form-urlencoded";

bool empty(const char* text) { return text == nullptr || text[0] == '\0'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes [begin, end) into out[size]; false for bad encoding or no room.
form_error decode(const char* begin, const char* end, char* out, size_t size) {
  size_t used = 0;
  for (const char* c = begin; c < end; ++c) {
    char byte = *c;
    if (byte == '+') {
      byte = ' ';
    } else if (byte == '%') {
      if (end - c < 3 || hex_value(c[1]) < 0 || hex_value(c[2]) < 0) {
        return form_error::bad_encoding;
      }
      byte = static_cast<char>(hex_value(c[1]) * 16 + hex_value(c[2]));
      c += 2;
    }
    if (byte == '\0') return form_error::bad_encoding;
    if (used + 1 >= size) return form_error::too_long;
    out[used++] = byte;
  }
  out[used] = '\0';
  return form_error::none;
}

bool all_digits(const char* text) {
  const size_t length = strlen(text);
  if (length > FORM_NUMBER_DIGITS) return false;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// "http://host[:port]" or "https://...", with a path after it for a
// Referer: true when the host part is exactly host.
bool names_host(const char* url, const char* host) {
  const char* rest = nullptr;
  if (strncasecmp(url, "http://", 7) == 0) {
    rest = url + 7;
  } else if (strncasecmp(url, "https://", 8) == 0) {
    rest = url + 8;
  } else {
    return false;
  }
  const size_t length = strcspn(rest, "/?#");
  return length == strlen(host) && strncasecmp(rest, host, length) == 0;
}

bool is_form_type(const char* type) {
  const size_t length = strlen(FORM_TYPE);
  if (strncasecmp(type, FORM_TYPE, length) != 0) return false;
  return type[length] == '\0' || type[length] == ';';
}

}  // namespace

request_verdict judge_request(const cgi_request& request, bool require_user, size_t* body_length) {
  if (require_user && empty(request.remote_user)) return request_verdict::no_user;
  const bool get = request.method != nullptr && strcmp(request.method, "GET") == 0;
  const bool post = request.method != nullptr && strcmp(request.method, "POST") == 0;
  if (!get && !post) return request_verdict::bad_method;
  if (get) return request_verdict::show;
  const char* const claims[] = {request.origin, request.referer};
  for (const char* claimed : claims) {
    // A page served with "Referrer-Policy: no-referrer" posts its own form
    // with "Origin: null", which names no host at all: the token decides.
    if (claimed == nullptr || strcmp(claimed, "null") == 0) continue;
    if (empty(request.host) || !names_host(claimed, request.host)) {
      return request_verdict::cross_site;
    }
  }
  if (empty(request.content_type) || !is_form_type(request.content_type)) {
    return request_verdict::bad_type;
  }
  const char* length = request.content_length;
  if (empty(length) || strlen(length) > 9) {
    return empty(length) ? request_verdict::bad_length : request_verdict::too_large;
  }
  size_t value = 0;
  for (const char* c = length; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return request_verdict::bad_length;
    value = value * 10 + static_cast<size_t>(*c - '0');
  }
  if (value > FORM_MAX_BODY) return request_verdict::too_large;
  *body_length = value;
  return request_verdict::save;
}

form_error parse_form(const char* body, size_t size, const form_layout& layout, parsed_form* form) {
  *form = parsed_form{};
  const char* end = body + size;
  for (const char* pair = body; pair < end;) {
    const char* pair_end =
        static_cast<const char*>(memchr(pair, '&', static_cast<size_t>(end - pair)));
    if (pair_end == nullptr) pair_end = end;
    const char* equals =
        static_cast<const char*>(memchr(pair, '=', static_cast<size_t>(pair_end - pair)));
    if (equals == nullptr) return form_error::bad_encoding;
    char name[FORM_VALUE_SIZE];
    form_error error = decode(pair, equals, name, sizeof name);
    if (error != form_error::none) return error;
    snprintf(form->culprit, sizeof form->culprit, "%s", name);
    int index = -1;
    for (int i = 0; i < layout.count; ++i) {
      if (strcmp(layout.names[i], name) == 0) index = i;
    }
    if (index < 0) return form_error::unknown_field;
    if (form->seen[index]) return form_error::repeated_field;
    form->seen[index] = true;
    error = decode(equals + 1, pair_end, form->values[index], FORM_VALUE_SIZE);
    if (error != form_error::none) return error;
    if (layout.numeric[index] && !all_digits(form->values[index])) return form_error::not_a_number;
    if (pair_end == end) break;
    pair = pair_end + 1;
  }
  for (int i = 0; i < layout.count; ++i) {
    if (!form->seen[i] && (layout.optional == nullptr || !layout.optional[i])) {
      snprintf(form->culprit, sizeof form->culprit, "%s", layout.names[i]);
      return form_error::missing_field;
    }
  }
  form->culprit[0] = '\0';
  return form_error::none;
}
