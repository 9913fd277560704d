#include "device/command.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

thread_local int child_fds[3] = {-1, -1, -1};

void set_child_stdout(int fd) {
  if (fd == 0 || fd == 2) return;
  child_fds[1] = fd;
}

void reset_child_fds() {
  for (int& fd : child_fds) {
    if (fd > 2) close(fd);
    fd = -1;
  }
}

void close_descriptors_from_3() {
  // close_range is called directly so that the binary also runs on a glibc
  // older than 2.34; the loop is for kernels older than 5.9.
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3U, ~0U, 0U) == 0) return;
#endif
  for (int fd = getdtablesize() - 1; fd >= 3; --fd) close(fd);
}

void exec_child(const char* path, va_list arguments) {
  int null_fd = open("/dev/null", O_RDWR);
  for (int k = 0; k < 3; ++k) {
    if (child_fds[k] == k) continue;
    close(k);
    if (child_fds[k] >= 0) {
      dup2(child_fds[k], k);
    } else if (null_fd >= 0) {
      dup2(null_fd, k);
    }
  }
  close_descriptors_from_3();

  char* argv[COMMAND_MAX_ARGUMENTS + 2];
  argv[0] = strdup(path);
  if (argv[0] == nullptr) return;
  int count = 1;
  while (count <= COMMAND_MAX_ARGUMENTS) {
    char* argument = va_arg(arguments, char*);
    if (argument == nullptr) break;
    argv[count++] = argument;
  }
  argv[count] = nullptr;
  execvp(argv[0], argv);
}

pid_t spawn_command(const char* path, va_list arguments) {
  pid_t pid = fork();
  if (pid == 0) {
    exec_child(path, arguments);
    _exit(1);
  }
  reset_child_fds();
  return pid < 0 ? -1 : pid;
}

int wait_command(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

int run_command(const char* path, ...) {
  va_list arguments;
  va_start(arguments, path);
  pid_t pid = spawn_command(path, arguments);
  va_end(arguments);
  if (pid < 0) return -1;
  return wait_command(pid);
}
