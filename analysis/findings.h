// Warnings about a settings file, each tied to the line it concerns.
#pragma once

#include "analysis/known_keys.h"

inline constexpr int CHECK_MAX_WARNINGS = 100;
inline constexpr int CHECK_WARNING_TEXT = 512;

struct check_warning {
  int line;          // 1-based; 0 for a file that has no line to point at
  const char* code;  // stable short name, e.g. "duplicate-key"
  char text[CHECK_WARNING_TEXT];
};

struct check_findings {
  int key_line[KNOWN_KEY_COUNT];  // the line whose value the daemon reads, 0 if none
  check_warning warnings[CHECK_MAX_WARNINGS];
  int warning_count;     // stored in warnings
  int warnings_dropped;  // found after warnings was full
  int line_count;
};

void add_warning(check_findings* findings, int line, const char* code, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

/// Orders the warnings by line, keeping the order of warnings on one line.
void sort_warnings(check_findings* findings);

/// All warnings, stored or dropped.
inline int warning_total(const check_findings& findings) {
  return findings.warning_count + findings.warnings_dropped;
}
