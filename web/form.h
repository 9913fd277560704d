// The page's requests: which are allowed, and the fields of a posted form.
#pragma once

#include <stddef.h>

inline constexpr size_t FORM_MAX_BODY = 16384;
inline constexpr int FORM_MAX_FIELDS = 40;
inline constexpr int FORM_VALUE_SIZE = 72;
inline constexpr int FORM_NUMBER_DIGITS = 20;

/// What the CGI environment says about a request.
struct cgi_request {
  const char* method;          // REQUEST_METHOD
  const char* content_type;    // CONTENT_TYPE
  const char* content_length;  // CONTENT_LENGTH
  const char* remote_user;     // REMOTE_USER
  const char* host;            // HTTP_HOST
  const char* origin;          // HTTP_ORIGIN
  const char* referer;         // HTTP_REFERER
};

enum class request_verdict {
  show,        // GET: the page, nothing changed
  save,        // POST that may go on to the form
  no_user,     // 403: the server authenticated nobody
  cross_site,  // 403: Origin or Referer names another host
  bad_method,  // 405
  bad_type,    // 415
  too_large,   // 413
  bad_length   // 400: CONTENT_LENGTH missing or not a number
};

/// Judges a request before its body is read. require_user is off only where
/// the installer says the server authenticates another way. On save, the
/// body's length goes to *body_length.
request_verdict judge_request(const cgi_request& request, bool require_user, size_t* body_length);

/// The fields a form may carry; numeric ones take decimal digits only.
/// Optional ones may be left out (an unticked checkbox sends nothing); null
/// optional means every field is required.
struct form_layout {
  const char* const* names;
  const bool* numeric;
  int count;
  const bool* optional = nullptr;
};

enum class form_error {
  none,
  bad_encoding,  // a "%" without two hex digits, a NUL, a pair without "="
  unknown_field,
  repeated_field,
  missing_field,
  not_a_number,  // a numeric field with other than digits, or too many
  too_long
};

struct parsed_form {
  char values[FORM_MAX_FIELDS][FORM_VALUE_SIZE];
  bool seen[FORM_MAX_FIELDS];
  char culprit[FORM_VALUE_SIZE];  // the field name the error is about
};

/// Parses an application/x-www-form-urlencoded body of size bytes (not
/// NUL-terminated). Every field of layout must appear once, an optional
/// one at most once.
form_error parse_form(const char* body, size_t size, const form_layout& layout, parsed_form* form);
