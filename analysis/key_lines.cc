#include "analysis/key_lines.h"

int report_key_line(const check_report& report, const char* name) {
  const int index = known_key_index(report.keys, name);
  return index < 0 ? 0 : report.findings.key_line[index];
}

int report_first_line(const check_report& report, const char* first, const char* second) {
  const int line = report_key_line(report, first);
  return line != 0 ? line : report_key_line(report, second);
}
