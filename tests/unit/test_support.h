// Scratch directories and small file helpers for the unit tests.
#pragma once

#include <string>

/// A fresh directory under /tmp, removed with its contents at scope exit.
struct scratch_dir {
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  std::string file(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text, bool executable = false);
/// Lines of the file that contain text.
int count_lines(const std::string& path, const std::string& text = "");
