#include "analysis/lint.h"

#include <ctype.h>
#include <inttypes.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "settings/settings.h"

namespace {

constexpr const char* UTF8_BYTE_ORDER_MARK = "\xEF\xBB\xBF";

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool has_text(const char* text) {
  for (; *text != '\0'; ++text) {
    if (isspace(static_cast<unsigned char>(*text)) == 0) return true;
  }
  return false;
}

bool has_prefix(const char* key) {
  return strncasecmp(key, SETTINGS_KEY_PREFIX, strlen(SETTINGS_KEY_PREFIX)) == 0;
}

// The key without blanks on either side, into out (SETTINGS_LINE_SIZE).
void trim_blanks(const char* key, char* out) {
  while (is_blank(*key)) ++key;
  size_t length = strlen(key);
  while (length > 0 && is_blank(key[length - 1])) --length;
  memcpy(out, key, length);
  out[length] = '\0';
}

// The line as the daemon sees it before it looks at quotes.
void cut_line_ends(char* text) {
  char* end = strchr(text, '\r');
  if (end != nullptr) *end = '\0';
  end = strchr(text, '\n');
  if (end != nullptr) *end = '\0';
}

// True when an open quote has been reported, which explains an empty value.
bool check_quotes(const char* text, int line, check_findings* findings) {
  int quotes = 0;
  for (const char* c = text; *c != '\0'; ++c) quotes += *c == '"' ? 1 : 0;
  if (quotes == 0) return false;
  const char* last = strrchr(text, '"');
  char kept[SETTINGS_LINE_SIZE];
  const size_t kept_length = static_cast<size_t>(last - text);
  memcpy(kept, text, kept_length);
  kept[kept_length] = '\0';
  char shown[48];
  message_snippet(kept, shown);
  if (quotes % 2 == 1) {
    if (strchr(kept, '=') == nullptr) {
      add_warning(findings, line, WARN_OPEN_QUOTE,
                  "unbalanced double quote: the daemon drops everything from the last quote on, "
                  "which leaves no \"=\", so it skips this line");
    } else {
      add_warning(findings, line, WARN_OPEN_QUOTE,
                  "unbalanced double quote: the daemon drops everything from the last quote on "
                  "and reads only \"%s\"",
                  shown);
    }
    return true;
  }
  if (has_text(last + 1)) {
    char dropped[48];
    message_snippet(last + 1, dropped);
    add_warning(findings, line, WARN_AFTER_QUOTE,
                "text after the last double quote is dropped: the daemon reads only \"%s\" and "
                "ignores \"%s\"",
                shown, dropped);
  }
  return false;
}

void check_comment(const char* key, int line, const known_key keys[KNOWN_KEY_COUNT],
                   check_findings* findings) {
  char shown[48];
  message_snippet(key, shown);
  char bare[SETTINGS_LINE_SIZE];
  trim_blanks(key + strspn(key, "#"), bare);
  const int index = known_key_index(keys, bare);
  if (index >= 0) {
    add_warning(findings, line, WARN_COMMENT,
                "line begins with \"#\", but the format has no comments: the daemon reads the key "
                "\"%s\", which matches nothing, so this line does not set %s",
                shown, keys[index].name);
  } else {
    add_warning(findings, line, WARN_COMMENT,
                "line begins with \"#\", but the format has no comments: the daemon reads it as "
                "a setting with the key \"%s\", which matches nothing",
                shown);
  }
}

// A key the daemon will not match; says why when it looks meant for it.
void check_unmatched_key(const char* key, int line, const known_key keys[KNOWN_KEY_COUNT],
                         check_findings* findings) {
  char shown[48];
  message_snippet(key, shown);
  char trimmed[SETTINGS_LINE_SIZE];
  trim_blanks(key, trimmed);
  if (strcmp(trimmed, key) != 0) {
    const int index = known_key_index(keys, trimmed);
    if (index >= 0 || has_prefix(trimmed)) {
      add_warning(findings, line, WARN_BLANK,
                  "blank around \"=\" or before the key: the daemon compares the key with its "
                  "blanks (\"%s\"), so it matches nothing and this line sets nothing",
                  shown);
      return;
    }
  }
  int distance = 0;
  const int nearest = known_key_nearest(keys, trimmed, &distance);
  if (has_prefix(trimmed)) {
    add_warning(findings, line, WARN_UNKNOWN_KEY,
                "unknown key \"%s\" (nearest known key: %s): the daemon ignores this line", shown,
                keys[nearest].name);
  } else if (distance <= NEAR_KEY_DISTANCE) {
    add_warning(findings, line, WARN_UNKNOWN_KEY,
                "unknown key \"%s\", close to %s: the daemon ignores this line", shown,
                keys[nearest].name);
  }
}

// value points into the split line, just after "=" and an opening quote.
void check_value(const char* value, const known_key& key, int line, bool open_quote,
                 check_findings* findings) {
  char shown[48];
  message_snippet(value, shown);
  const bool quoted = value[-1] == '"';
  if (is_blank(value[0]) && !quoted) {
    add_warning(findings, line, WARN_BLANK,
                "blank after \"=\": the daemon skips it before a number, but a blank before "
                "\"=\" would lose the setting; write %s=value",
                key.name);
  }
  const char* digits = value;
  while (isspace(static_cast<unsigned char>(*digits)) != 0) ++digits;
  uint32_t read = 0;
  const char* end = settings_scan_uint(value, &read);
  if (end == nullptr) {
    if (*digits == '\0') {
      // "" is an empty value on purpose; a bare one may be a value forgotten.
      if (!quoted && !open_quote) {
        add_warning(findings, line, WARN_NOT_NUMBER, "%s has an empty value: the daemon reads 0",
                    key.name);
      }
    } else {
      add_warning(findings, line, WARN_NOT_NUMBER, "%s=\"%s\" is not a number: the daemon reads 0",
                  key.name, shown);
    }
    return;
  }
  if (*digits == '-') {
    add_warning(findings, line, WARN_NEGATIVE,
                "%s is negative (\"%s\"): the daemon reads it as %" PRIu32 " (it wraps around)",
                key.name, shown, read);
  } else if (strtoull(digits, nullptr, 10) > UINT32_MAX) {
    add_warning(findings, line, WARN_TOO_LARGE,
                "%s=\"%s\" is above 4294967295: the daemon reads %" PRIu32, key.name, shown, read);
  }
  if (has_text(end)) {
    char rest[48];
    message_snippet(end, rest);
    add_warning(findings, line, WARN_TRAILING,
                "text after the number (\"%s\"): the daemon reads %s as %" PRIu32
                " and ignores the rest",
                rest, key.name, read);
  }
}

// The first line of a file saved "with BOM" begins with the mark's bytes,
// which the daemon keeps as part of the key.
bool check_byte_order_mark(const char* key, int line, const known_key keys[KNOWN_KEY_COUNT],
                           check_findings* findings) {
  const size_t mark_length = strlen(UTF8_BYTE_ORDER_MARK);
  if (line != 1 || strncmp(key, UTF8_BYTE_ORDER_MARK, mark_length) != 0) return false;
  const int index = known_key_index(keys, key + mark_length);
  char shown[48];
  message_snippet(key + mark_length, shown);
  if (index >= 0) {
    add_warning(findings, line, WARN_BOM,
                "the file begins with a UTF-8 byte-order mark: the daemon compares bytes, so the "
                "key \"%s\" with the mark before it matches nothing and this line does not set "
                "%s; save the file without the mark",
                shown, keys[index].name);
  } else {
    add_warning(findings, line, WARN_BOM,
                "the file begins with a UTF-8 byte-order mark: the daemon compares bytes, so the "
                "key \"%s\" with the mark before it matches nothing; save the file without the "
                "mark",
                shown);
  }
  return true;
}

// The characters of a piece that fgets read, without its line end.
size_t characters_of(const char* raw, size_t bytes) {
  if (bytes > 0 && raw[bytes - 1] == '\n') --bytes;
  if (bytes > 0 && raw[bytes - 1] == '\r') --bytes;
  return bytes;
}

// A carriage return that does not end the line: the file uses CR alone as
// line end, and the daemon, which splits at LF only, cuts its line there.
void check_carriage_return(const char* raw, size_t bytes, int line, check_findings* findings) {
  const char* cr = static_cast<const char*>(memchr(raw, '\r', bytes));
  if (cr == nullptr) return;
  const char* rest = cr + 1;
  const char* end = raw + bytes;
  if (rest == end || *rest == '\n') return;
  int settings_lost = 0;
  for (const char* c = rest; c < end; ++c) settings_lost += *c == '=' ? 1 : 0;
  char dropped[SETTINGS_LINE_SIZE];
  const size_t length = characters_of(rest, static_cast<size_t>(end - rest));
  memcpy(dropped, rest, length);
  dropped[length] = '\0';
  char shown[48];
  message_snippet(dropped, shown);
  add_warning(findings, line, WARN_CR,
              "carriage return without a line feed (CR-only line ends?): the daemon splits lines "
              "at line feeds only, cuts this one at its first carriage return and ignores the "
              "rest (\"%s\", %d \"=\" sign%s)",
              shown, settings_lost, settings_lost == 1 ? "" : "s");
}

void lint_line(const char* raw, int line, const known_key keys[KNOWN_KEY_COUNT],
               check_findings* findings) {
  char text[SETTINGS_LINE_SIZE];
  snprintf(text, sizeof text, "%s", raw);
  cut_line_ends(text);
  char split[SETTINGS_LINE_SIZE];
  snprintf(split, sizeof split, "%s", raw);
  const char* value = settings_split_line(split);
  const char* key = split;

  if (text[0] == '#') {
    if (value != nullptr) check_comment(key, line, keys, findings);
    return;
  }
  const bool open_quote = check_quotes(text, line, findings);
  if (value == nullptr) return;
  if (check_byte_order_mark(key, line, keys, findings)) return;
  const int index = known_key_index(keys, key);
  if (index < 0) {
    check_unmatched_key(key, line, keys, findings);
    return;
  }
  if (findings->key_line[index] != 0) {
    add_warning(findings, line, WARN_DUPLICATE,
                "%s is given again: the first one, on line %d, wins and this line is ignored",
                keys[index].name, findings->key_line[index]);
    return;
  }
  findings->key_line[index] = line;
  check_value(value, keys[index], line, open_quote, findings);
}

}  // namespace

void message_snippet(const char* text, char out[48]) {
  constexpr size_t shown_max = 40;
  size_t i = 0;
  for (; text[i] != '\0' && i < shown_max; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    out[i] = isprint(c) != 0 ? static_cast<char>(c) : '?';
  }
  if (text[i] != '\0') {
    memcpy(out + i, "...", 3);
    i += 3;
  }
  out[i] = '\0';
}

bool lint_settings(FILE* file, const known_key keys[KNOWN_KEY_COUNT], check_findings* findings) {
  rewind(file);
  static char raw[SETTINGS_LINE_SIZE];
  int line = 1;
  bool continued = false;  // the read goes on with a line the last read cut
  bool long_line_reported = false;
  long position = ftell(file);
  while (fgets(raw, sizeof raw, file) != nullptr) {
    const long next = ftell(file);
    const size_t bytes =
        position >= 0 && next >= position ? static_cast<size_t>(next - position) : strlen(raw);
    position = next;
    const bool ended = bytes > 0 && raw[bytes - 1] == '\n';
    if (strlen(raw) < bytes) {
      add_warning(findings, line, WARN_NUL,
                  "line holds a NUL byte: the daemon ignores the rest of the line after it");
    }
    if (!continued) check_carriage_return(raw, bytes, line, findings);
    // A line of exactly the buffer's capacity leaves only its line end for
    // the next read, which sets nothing; only longer lines fall apart.
    if (continued && !long_line_reported && characters_of(raw, bytes) > 0) {
      char remainder[SETTINGS_LINE_SIZE];
      const size_t length = characters_of(raw, bytes);
      memcpy(remainder, raw, length);
      remainder[length] = '\0';
      char rest[48];
      message_snippet(remainder, rest);
      add_warning(findings, line, WARN_LONG_LINE,
                  "line is longer than %d characters: the daemon reads the first %d as one line "
                  "and the rest, from character %d on, as the next line (\"%s\")",
                  SETTINGS_LINE_SIZE - 1, SETTINGS_LINE_SIZE - 1, SETTINGS_LINE_SIZE, rest);
      long_line_reported = true;
    }
    lint_line(raw, line, keys, findings);
    findings->line_count = line;
    continued = !ended;
    if (ended) {
      ++line;
      long_line_reported = false;
    }
  }
  return ferror(file) == 0;
}
