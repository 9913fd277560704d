#include "web/html.h"

#include <stdarg.h>
#include <string.h>

void put_text(FILE* out, const char* text) {
  for (const char* c = text; *c != '\0';) {
    const size_t plain = strcspn(c, "&<>\"'");
    fwrite(c, 1, plain, out);
    c += plain;
    switch (*c) {
      case '&':
        fputs("&amp;", out);
        break;
      case '<':
        fputs("&lt;", out);
        break;
      case '>':
        fputs("&gt;", out);
        break;
      case '"':
        fputs("&quot;", out);
        break;
      case '\'':
        fputs("&#39;", out);
        break;
      default:
        return;
    }
    ++c;
  }
}

void put_textf(FILE* out, const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  put_text(out, text);
}
