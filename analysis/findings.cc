#include "analysis/findings.h"

#include <stdarg.h>
#include <stdio.h>

void add_warning(check_findings* findings, int line, const char* code, const char* format, ...) {
  if (findings->warning_count == CHECK_MAX_WARNINGS) {
    ++findings->warnings_dropped;
    return;
  }
  check_warning* warning = &findings->warnings[findings->warning_count++];
  warning->line = line;
  warning->code = code;
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(warning->text, sizeof warning->text, format, arguments);
  va_end(arguments);
}

void sort_warnings(check_findings* findings) {
  for (int i = 1; i < findings->warning_count; ++i) {
    const check_warning moving = findings->warnings[i];
    int j = i;
    while (j > 0 && findings->warnings[j - 1].line > moving.line) {
      findings->warnings[j] = findings->warnings[j - 1];
      --j;
    }
    findings->warnings[j] = moving;
  }
}
