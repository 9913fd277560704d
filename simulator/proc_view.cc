#include "simulator/proc_view.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>

namespace {

std::string read_text(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  char buffer[4096];
  ssize_t got = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
}

std::string link_text(const std::string& path) {
  char buffer[256];
  ssize_t got = readlink(path.c_str(), buffer, sizeof buffer - 1);
  return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
}

// The pid a /proc entry names, or 0 for the other entries.
long pid_of_entry(const dirent* entry) {
  char* end = nullptr;
  long pid = strtol(entry->d_name, &end, 10);
  return *end == '\0' && pid > 0 ? pid : 0;
}

}  // namespace

long host_pid_for(long ns_pid, long init_pid) {
  const std::string wanted_ns = link_text("/proc/" + std::to_string(init_pid) + "/ns/pid");
  if (wanted_ns.empty()) return -1;
  if (ns_pid == 1) return init_pid;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return -1;
  long found = -1;
  while (dirent* entry = readdir(proc)) {
    const long pid = pid_of_entry(entry);
    if (pid == 0) continue;
    const std::string base = std::string("/proc/") + entry->d_name;
    if (link_text(base + "/ns/pid") != wanted_ns) continue;
    const std::string status = read_text(base + "/status");
    size_t line = status.find("NSpid:");
    if (line == std::string::npos) continue;
    size_t line_end = status.find('\n', line);
    std::string ids = status.substr(line + 6, line_end - line - 6);
    size_t last = ids.find_last_of(" \t");
    if (last != std::string::npos && atol(ids.c_str() + last + 1) == ns_pid) {
      found = pid;
      break;
    }
  }
  closedir(proc);
  return found;
}

bool runs_this_program(long pid) {
  const std::string program = link_text("/proc/" + std::to_string(pid) + "/exe");
  return !program.empty() && program == link_text("/proc/self/exe");
}

int count_descriptors(long pid) {
  DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (fds == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(fds)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(fds);
  return count;
}

std::string descriptor_listing(long pid) {
  std::string listing;
  DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (fds == nullptr) return listing;
  while (dirent* entry = readdir(fds)) {
    if (entry->d_name[0] == '.') continue;
    std::string target = link_text("/proc/" + std::to_string(pid) + "/fd/" + entry->d_name);
    listing += std::string(listing.empty() ? "" : ", ") + entry->d_name + "=" + target;
  }
  closedir(fds);
  return listing;
}

std::vector<long> zombie_children(long parent) {
  std::vector<long> zombies;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return zombies;
  while (dirent* entry = readdir(proc)) {
    const long pid = pid_of_entry(entry);
    if (pid == 0) continue;
    const std::string stat = read_text(std::string("/proc/") + entry->d_name + "/stat");
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos || paren + 4 > stat.size()) continue;
    char state = stat[paren + 2];
    long ppid = atol(stat.c_str() + paren + 4);
    if (ppid == parent && state == 'Z') zombies.push_back(pid);
  }
  closedir(proc);
  return zombies;
}
