// One request to the settings page, from the CGI environment to the answer,
// over a web_platform: the real router, or a scripted one in the tests.
#pragma once

#include <stddef.h>
#include <stdio.h>

#include "analysis/report.h"
#include "board/lpm_config.h"
#include "web/editor.h"
#include "web/fields.h"
#include "web/form.h"
#include "web/page.h"
#include "web/system.h"

inline constexpr int RESTART_SETTLE_STEPS = 20;
inline constexpr int RESTART_SETTLE_STEP_MS = 100;

/// Everything one request needs, in one record; the program keeps one.
struct web_session {
  char file_text[SETTINGS_MAX_SIZE];
  char new_text[SETTINGS_MAX_SIZE + size_t{KNOWN_KEY_COUNT} * 96];
  char body[FORM_MAX_BODY];
  check_report report;      // the file as it is
  check_report new_report;  // the file as a save would write it
  parsed_form form;
  known_key keys[KNOWN_KEY_COUNT];
  page_state page;
  bool status_answered;
  char status_output[STATUS_OUTPUT_SIZE];
  char lpm_config[LPM_CONFIG_MAX + 1];
  lpm_method_answer lpm;
  secret_state secret_found;
  unsigned char secret[SECRET_SIZE];
  char secret_why[WEB_WHY_SIZE];
  field_view view;
  restart_outcome restart;
};

/// An answer: a page, or a plain-text refusal.
struct web_answer {
  int status;
  const char* reason;
  bool page;
  char text[WEB_WHY_SIZE];
};

/// Host without its port ("[::1]:8080" gives "::1" in brackets, "r:80" gives
/// "r") into out[size]; false when it does not fit or is empty.
bool host_without_port(const char* host, char* out, size_t size);

/// Presence of binary input 0 and 1 from the status tool's "ports" output,
/// as the daemon's binary_input_present reads it.
void presence_from_ports(const char* output, bool present[BINARY_INPUT_COUNT]);

/// Answers one request: judges it, reads the form, saves and restarts.
web_answer answer_request(const web_platform& platform, web_session* session);

/// Writes the answer's headers and body to out. Returns the exit status:
/// 0 when it was written, 1 when writing failed.
int write_answer(const web_answer& answer, const web_session& session, FILE* out);
