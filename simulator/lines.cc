#include "simulator/lines.h"

#include <unistd.h>

void split_lines(std::string* pending, const line_handler& handle) {
  size_t newline = 0;
  while ((newline = pending->find('\n')) != std::string::npos) {
    handle(pending->substr(0, newline));
    pending->erase(0, newline + 1);
  }
}

void drain_lines(int fd, std::string* pending, const line_handler& handle) {
  char buffer[8192];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    pending->append(buffer, static_cast<size_t>(got));
    if (got < static_cast<ssize_t>(sizeof buffer)) break;
  }
  split_lines(pending, handle);
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(
        line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::string join_words(const std::vector<std::string>& words, size_t from) {
  std::string text;
  for (size_t i = from; i < words.size(); ++i) text += (text.empty() ? "" : " ") + words[i];
  return text;
}
