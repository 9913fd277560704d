#include "web/daemon_process.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "device/tool_run.h"
#include "web/files.h"

namespace {

// Text of what /proc/pid/<name> holds, or empty. One read: the kernel
// hands these small files over whole, and a look for the daemon may read
// the comm of every process, so each system call saved counts.
// Named from an open /proc, which saves looking /proc itself up each time.
void read_proc_text(int proc_fd, pid_t pid, const char* name, char* out, size_t size) {
  char path[64];
  snprintf(path, sizeof path, "%d/%s", static_cast<int>(pid), name);
  const int fd = openat(proc_fd, path, O_RDONLY | O_CLOEXEC);
  const ssize_t length = fd < 0 ? -1 : read(fd, out, size - 1);
  if (fd >= 0) close(fd);
  out[length > 0 ? length : 0] = '\0';
}

bool looks_like_daemon(int proc_fd, pid_t pid) {
  // Where the process's program lies first: one system call, which settles
  // the kernel's threads (they have none) and every process of another
  // program, most of a router's processes. Only the daemon's own name, or
  // a program the page may not see, costs the reads of comm and stat.
  char path[64];
  snprintf(path, sizeof path, "%d/exe", static_cast<int>(pid));
  char exe[PATH_MAX];
  const ssize_t length = readlinkat(proc_fd, path, exe, sizeof exe - 1);
  if (length < 0 && errno == ENOENT) return false;
  if (length >= 0) exe[length] = '\0';
  if (length >= 0 && !runs_daemon_program(exe)) return false;
  char comm[32];
  read_proc_text(proc_fd, pid, "comm", comm, sizeof comm);
  if (strcmp(comm, "dormix\n") != 0) return false;
  char stat_text[512];
  read_proc_text(proc_fd, pid, "stat", stat_text, sizeof stat_text);
  return is_daemon_process(pid, process_facts{comm, stat_text, length >= 0 ? exe : nullptr});
}

}  // namespace

bool is_daemon_process(pid_t pid, const process_facts& facts) {
  if (facts.comm == nullptr || strcmp(facts.comm, "dormix\n") != 0) return false;
  // "pid (comm) state ppid pgrp session ...": the comm may hold blanks and
  // parentheses, so the fields are counted from its last ")".
  const char* after_name = facts.stat == nullptr ? nullptr : strrchr(facts.stat, ')');
  if (after_name == nullptr) return false;
  // After the state: the parent, the process group and the session.
  const char* field = after_name + 1;
  while (*field == ' ') ++field;
  if (*field == '\0') return false;
  ++field;  // the state, one letter
  long numbers[3] = {};
  for (long& number : numbers) {
    while (*field == ' ') ++field;
    if (*field < '0' || *field > '9') return false;
    for (; *field >= '0' && *field <= '9'; ++field) {
      number = number * 10 + (*field - '0');
      if (number > INT_MAX) return false;
    }
  }
  if (numbers[2] != static_cast<long>(pid)) return false;
  return facts.exe == nullptr || runs_daemon_program(facts.exe);
}

bool runs_daemon_program(const char* exe) {
  const char* slash = strrchr(exe, '/');
  const char* name = slash == nullptr ? exe : slash + 1;
  constexpr const char* deleted = " (deleted)";
  const size_t length = strlen(name);
  const size_t deleted_length = strlen(deleted);
  if (length > deleted_length && strcmp(name + length - deleted_length, deleted) == 0) {
    return length - deleted_length == strlen("dormix") && strncmp(name, "dormix", 6) == 0;
  }
  return strcmp(name, "dormix") == 0;
}

pid_t running_daemon() {
  const int proc_fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc_fd < 0) return 0;
  char text[32];
  const long length = read_whole_file(DAEMON_PID_PATH, text, sizeof text - 1);
  if (length > 0) {
    text[length] = '\0';
    const long pid = strtol(text, nullptr, 10);
    if (pid > 0 && pid < INT_MAX && looks_like_daemon(proc_fd, static_cast<pid_t>(pid))) {
      close(proc_fd);
      return static_cast<pid_t>(pid);
    }
  }
  DIR* proc = fdopendir(proc_fd);
  if (proc == nullptr) {
    close(proc_fd);
    return 0;
  }
  pid_t found = 0;
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid >= INT_MAX) continue;
    if (looks_like_daemon(proc_fd, static_cast<pid_t>(pid))) {
      found = static_cast<pid_t>(pid);
      break;
    }
  }
  closedir(proc);
  return found;
}

void run_restart(const char* script, int timeout_seconds, restart_outcome* outcome) {
  outcome->result = restart_result::not_run;
  outcome->status = -1;
  outcome->output[0] = '\0';
  const int output_fd = memfd_create("dormix-web-restart", MFD_CLOEXEC);
  if (output_fd < 0) return;
  char* const arguments[] = {const_cast<char*>(script), const_cast<char*>("restart"), nullptr};
  const pid_t child = spawn_detached(arguments, output_fd, false, false);
  if (child < 0) {
    close(output_fd);
    return;
  }
  int status = 0;
  const bool exited = wait_or_kill_group(child, timeout_seconds, &status);
  const ssize_t got = pread(output_fd, outcome->output, sizeof outcome->output - 1, 0);
  outcome->output[got > 0 ? got : 0] = '\0';
  close(output_fd);
  if (!exited) {
    outcome->result = restart_result::timed_out;
    return;
  }
  outcome->status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome->result = outcome->status == 0 ? restart_result::done : restart_result::failed;
}
