#include "test_support.h"

#include <sys/stat.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

scratch_dir::scratch_dir() {
  char pattern[] = "/tmp/dormix-test-XXXXXX";
  const char* made = mkdtemp(pattern);
  path = made != nullptr ? made : "/tmp";
}

scratch_dir::~scratch_dir() {
  const std::string command = "rm -rf '" + path + "'";
  if (path != "/tmp") std::system(command.c_str());
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& text, bool executable) {
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary);
    out << text;
  }
  if (executable) chmod(temporary.c_str(), 0755);
  std::rename(temporary.c_str(), path.c_str());
}

int count_lines(const std::string& path, const std::string& text) {
  std::ifstream in(path);
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    if (line.find(text) != std::string::npos) ++count;
  }
  return count;
}
