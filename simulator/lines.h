// Text helpers of the simulator's readers: complete lines out of a stream,
// fields out of a tab-separated line, words back into a line.
#pragma once

#include <functional>
#include <string>
#include <vector>

using line_handler = std::function<void(const std::string&)>;

/// Hands every complete line of pending to handle and keeps the rest.
void split_lines(std::string* pending, const line_handler& handle);

/// Reads what a non-blocking descriptor holds and handles its complete lines.
void drain_lines(int fd, std::string* pending, const line_handler& handle);

/// The fields of a line separated by tabs.
std::vector<std::string> split_tabs(const std::string& line);

/// The words from index from on, separated by single spaces.
std::string join_words(const std::vector<std::string>& words, size_t from = 0);
