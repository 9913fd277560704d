// The settings page as HTML: the form, the checker's findings, the plan of
// the coming week and the router now.
#pragma once

#include <stdio.h>
#include <sys/types.h>

#include "analysis/field_view.h"
#include "analysis/report.h"
#include "web/form.h"
#include "web/sha256.h"
#include "web/system.h"

enum class page_notice { none, saved, unchanged, conflict, invalid, save_failed };

struct page_state {
  const char* user;
  const check_report* report;  // the file as it is, or as it would be saved
  bool file_read;
  char file_problem[256];
  char hash[SHA256_HEX_SIZE];
  char token[SHA256_HEX_SIZE];
  bool read_only;
  char read_only_why[512];
  char values[KNOWN_KEY_COUNT][FORM_VALUE_SIZE];
  char field_errors[KNOWN_KEY_COUNT][CHECK_WARNING_TEXT];
  bool conflicting[KNOWN_KEY_COUNT];  // the file now differs from the posted value
  char conflict_file_values[KNOWN_KEY_COUNT][FORM_VALUE_SIZE];
  page_notice notice;
  char notice_text[512];
  bool restarted;
  int restart_status;
  char restart_output[OUTCOME_SIZE];
  pid_t pid_before;
  pid_t pid_after;
  char field_lines[FIELD_VIEW_LINES][FIELD_LINE_SIZE];
  check_findings trust_findings;  // who else can change the files the daemon trusts
};

/// The style sheet's source expression for Content-Security-Policy, its
/// SHA-256 in base64; a constant, so that no page load hashes the sheet.
/// The tests hold it against page_style_hash_source.
inline constexpr const char* PAGE_STYLE_SOURCE =
    "'sha256-EGRiRoyfHwP9CwZKDpngSFefwCogX42vRzy2EwoHeIE='";

/// The source expression computed from the style sheet.
void page_style_hash_source(char out[64]);

/// Writes the page's body (after the headers).
void render_page(const page_state& state, FILE* out);
