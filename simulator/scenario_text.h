// The words, numbers and escapes of scenario lines.
#pragma once

#include <string>
#include <vector>

/// The words of a line, separated by blanks and tabs.
std::vector<std::string> split_words(const std::string& line);

/// text without leading and trailing blanks, tabs and carriage returns.
std::string trim(const std::string& text);

/// A finite number of seconds, 0 or more.
bool parse_number(const std::string& word, double* value);

/// A decimal integer, the whole word.
bool parse_integer(const std::string& word, long* value);

/// Expands the escapes of settings and section lines: \\ \r \t \xHH and
/// \{N:TEXT} (TEXT repeated N times). Returns false on a malformed escape.
bool expand_escapes(const std::string& line, std::string* out);
