#include "simulator/scenario_text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

// "\xHH" at line[at] ('x'): the character, never NUL; at moves to its end.
bool expand_hex(const std::string& line, size_t* at, std::string* out) {
  if (*at + 2 >= line.size()) return false;
  std::string hex = line.substr(*at + 1, 2);
  char* end = nullptr;
  long value = strtol(hex.c_str(), &end, 16);
  if (hex.size() != 2 || *end != '\0' || value == 0) return false;
  out->push_back(static_cast<char>(value));
  *at += 2;
  return true;
}

// "\{N:TEXT}" at line[at] ('{'): TEXT N times; at moves to the '}'.
bool expand_repeat(const std::string& line, size_t* at, std::string* out) {
  size_t colon = line.find(':', *at);
  size_t close = line.find('}', *at);
  if (colon == std::string::npos || close == std::string::npos || colon > close) return false;
  long times = 0;
  if (!parse_integer(line.substr(*at + 1, colon - *at - 1), &times) || times < 0 ||
      times > 1000000) {
    return false;
  }
  std::string piece = line.substr(colon + 1, close - colon - 1);
  for (long k = 0; k < times; ++k) out->append(piece);
  *at = close;
  return true;
}

}  // namespace

std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    words.push_back(line.substr(start, i - start));
  }
  return words;
}

std::string trim(const std::string& text) {
  size_t start = text.find_first_not_of(" \t\r");
  if (start == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(start, end - start + 1);
}

bool parse_number(const std::string& word, double* value) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double parsed = strtod(word.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed < 0) return false;
  *value = parsed;
  return true;
}

bool parse_integer(const std::string& word, long* value) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long parsed = strtol(word.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *value = parsed;
  return true;
}

bool expand_escapes(const std::string& line, std::string* out) {
  out->clear();
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\') {
      out->push_back(line[i]);
      continue;
    }
    if (++i >= line.size()) return false;
    const char escape = line[i];
    if (escape == '\\' || escape == 'r' || escape == 't') {
      out->push_back(escape == 'r' ? '\r' : escape == 't' ? '\t' : '\\');
    } else if (escape == 'x') {
      if (!expand_hex(line, &i, out)) return false;
    } else if (escape != '{' || !expand_repeat(line, &i, out)) {
      return false;
    }
  }
  return true;
}
