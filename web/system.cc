#include "web/system.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "analysis/root_only.h"
#include "device/command.h"
#include "device/monotonic.h"

namespace {

constexpr int RESTART_TIMEOUT_SECONDS = 30;
constexpr const char* TEMPORARY_SUFFIX = ".web-";

bool write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool random_bytes(unsigned char* out, size_t size) {
  if (getrandom(out, size, 0) == static_cast<ssize_t>(size)) return true;
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool complete = read(fd, out, size) == static_cast<ssize_t>(size);
  close(fd);
  return complete;
}

void directory_of(const char* path, char out[PATH_MAX]) {
  snprintf(out, PATH_MAX, "%s", path);
  char* slash = strrchr(out, '/');
  if (slash == nullptr) {
    snprintf(out, PATH_MAX, ".");
  } else if (slash == out) {
    out[1] = '\0';
  } else {
    *slash = '\0';
  }
}

bool named_dormix(pid_t pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
  char name[32];
  const long length = read_whole_file(path, name, sizeof name - 1);
  if (length <= 0) return false;
  name[length] = '\0';
  return strcmp(name, "dormix\n") == 0;
}

}  // namespace

long read_whole_file(const char* path, char* out, size_t size) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  size_t used = 0;
  for (;;) {
    if (used == size) {
      char extra;
      const bool more = read(fd, &extra, 1) > 0;
      close(fd);
      if (!more) return static_cast<long>(used);
      errno = EFBIG;
      return -1;
    }
    const ssize_t got = read(fd, out + used, size - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      close(fd);
      errno = error;
      return -1;
    }
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  close(fd);
  return static_cast<long>(used);
}

bool load_secret(unsigned char secret[SECRET_SIZE], char* why, size_t why_size) {
  int fd = open(WEB_SECRET_PATH, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0 && errno == ENOENT) {
    fd = open(WEB_SECRET_PATH, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      unsigned char fresh[SECRET_SIZE];
      const bool made = random_bytes(fresh, sizeof fresh) &&
                        write_all(fd, reinterpret_cast<const char*>(fresh), sizeof fresh) &&
                        fsync(fd) == 0 && lseek(fd, 0, SEEK_SET) == 0;
      if (!made) {
        close(fd);
        unlink(WEB_SECRET_PATH);
        snprintf(why, why_size, "cannot make the form secret %s", WEB_SECRET_PATH);
        return false;
      }
    }
  }
  if (fd < 0) {
    snprintf(why, why_size, "cannot open the form secret %s: %s", WEB_SECRET_PATH, strerror(errno));
    return false;
  }
  struct stat status {};
  const bool private_file = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                            status.st_uid == 0 && (status.st_mode & 077) == 0;
  const bool complete = read(fd, secret, SECRET_SIZE) == SECRET_SIZE;
  close(fd);
  if (!private_file) {
    snprintf(why, why_size, "the form secret %s must be root's and private (mode 0600)",
             WEB_SECRET_PATH);
    return false;
  }
  if (!complete) {
    snprintf(why, why_size, "the form secret %s is shorter than %d bytes", WEB_SECRET_PATH,
             SECRET_SIZE);
    return false;
  }
  return true;
}

bool remote_user_switched_off() {
  struct stat status {};
  char risk[WRITE_RISK_SIZE];
  return lstat(WEB_NO_USER_SWITCH_PATH, &status) == 0 && S_ISREG(status.st_mode) &&
         !write_risk(status.st_uid, status.st_mode, risk);
}

void write_obstacle(const char* path, char* why, size_t why_size) {
  why[0] = '\0';
  char directory[PATH_MAX];
  directory_of(path, directory);
  if (access(path, W_OK) != 0) {
    snprintf(why, why_size, "this program (user %u) cannot write %s: %s",
             static_cast<unsigned>(geteuid()), path, strerror(errno));
  } else if (access(directory, W_OK) != 0) {
    snprintf(why, why_size,
             "this program (user %u) cannot create files in %s, which a safe save needs: %s",
             static_cast<unsigned>(geteuid()), directory, strerror(errno));
  }
}

bool lock_settings_directory(const char* path) {
  char directory[PATH_MAX];
  directory_of(path, directory);
  const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd >= 0 && flock(fd, LOCK_EX) == 0;
}

void remove_stale_temporaries(const char* path) {
  char directory[PATH_MAX];
  directory_of(path, directory);
  const char* slash = strrchr(path, '/');
  char prefix[PATH_MAX];
  snprintf(prefix, sizeof prefix, "%s%s", slash == nullptr ? path : slash + 1, TEMPORARY_SUFFIX);
  const size_t prefix_length = strlen(prefix);
  DIR* listing = opendir(directory);
  if (listing == nullptr) return;
  while (const dirent* entry = readdir(listing)) {
    if (strncmp(entry->d_name, prefix, prefix_length) != 0) continue;
    if (strlen(entry->d_name) != prefix_length + 6) continue;  // mkostemp's six characters
    unlinkat(dirfd(listing), entry->d_name, 0);
  }
  closedir(listing);
}

bool replace_settings_file(const char* path, const char* data, size_t size, char* why,
                           size_t why_size) {
  struct stat old_status {};
  if (stat(path, &old_status) != 0) {
    snprintf(why, why_size, "cannot look at %s: %s", path, strerror(errno));
    return false;
  }
  char temporary[PATH_MAX];
  snprintf(temporary, sizeof temporary, "%s%sXXXXXX", path, TEMPORARY_SUFFIX);
  const int fd = mkostemp(temporary, O_CLOEXEC);
  if (fd < 0) {
    snprintf(why, why_size, "cannot create a temporary file beside %s: %s", path, strerror(errno));
    return false;
  }
  const char* failed = nullptr;
  if (fchown(fd, old_status.st_uid, old_status.st_gid) != 0) {
    failed = "give the new file the old owner";
  } else if (fchmod(fd, old_status.st_mode & 07777) != 0) {
    failed = "give the new file the old mode";
  } else if (!write_all(fd, data, size)) {
    failed = "write the new file";
  } else if (fsync(fd) != 0) {
    failed = "sync the new file";
  }
  // The errno of the step that failed, not of a later call.
  int error = failed != nullptr ? errno : 0;
  if (close(fd) != 0 && failed == nullptr) {
    failed = "close the new file";
    error = errno;
  }
  if (failed == nullptr && rename(temporary, path) != 0) {
    failed = "rename the new file into place";
    error = errno;
  }
  if (failed != nullptr) {
    snprintf(why, why_size, "cannot %s (%s): %s; the old file is unchanged", failed, temporary,
             strerror(error));
    unlink(temporary);
    return false;
  }
  char directory[PATH_MAX];
  directory_of(path, directory);
  const int directory_fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = directory_fd >= 0 && fsync(directory_fd) == 0;
  if (directory_fd >= 0) close(directory_fd);
  if (!synced) {
    snprintf(why, why_size, "saved, but syncing %s failed: %s", directory, strerror(errno));
    return false;
  }
  return true;
}

pid_t running_daemon() {
  char text[32];
  const long length = read_whole_file(DAEMON_PID_PATH, text, sizeof text - 1);
  if (length > 0) {
    text[length] = '\0';
    const long pid = strtol(text, nullptr, 10);
    if (pid > 0 && pid < INT_MAX && named_dormix(static_cast<pid_t>(pid))) {
      return static_cast<pid_t>(pid);
    }
  }
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  pid_t found = 0;
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid >= INT_MAX) continue;
    if (named_dormix(static_cast<pid_t>(pid))) {
      found = static_cast<pid_t>(pid);
      break;
    }
  }
  closedir(proc);
  return found;
}

namespace {

// Runs "/etc/init.d/dormix restart" with a fixed argument list and
// environment, its output on output_fd. Does not return.
[[noreturn]] void exec_init_script_restart(int output_fd) {
  const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null_fd >= 0) dup2(null_fd, 0);
  dup2(output_fd, 1);
  dup2(output_fd, 2);
  // Nothing of the web server's reaches the script, nor the daemon it starts.
  close_descriptors_from_3();
  char script[] = "/etc/init.d/dormix";
  char restart[] = "restart";
  char* const arguments[] = {script, restart, nullptr};
  char path[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
  char* const environment[] = {path, nullptr};
  execve(INIT_SCRIPT_PATH, arguments, environment);
  _exit(127);
}

// Appends what one read of fd brings to out (size bytes, kept
// NUL-terminated), dropping what does not fit. False at the end or on error.
bool append_read(int fd, char* out, size_t size, size_t* used) {
  char chunk[256];
  const ssize_t got = read(fd, chunk, sizeof chunk);
  if (got <= 0) return false;
  const size_t room = size - 1 - *used;
  const size_t take = static_cast<size_t>(got) < room ? static_cast<size_t>(got) : room;
  memcpy(out + *used, chunk, take);
  *used += take;
  out[*used] = '\0';
  return true;
}

}  // namespace

int restart_daemon(char* out, size_t size) {
  out[0] = '\0';
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) exec_init_script_restart(pipe_fds[1]);
  close(pipe_fds[1]);
  if (child < 0) {
    close(pipe_fds[0]);
    return -1;
  }
  // The script's children may keep the pipe open after it exits: reading
  // stops at its exit, or at the time limit.
  size_t used = 0;
  int status = 0;
  bool exited = false;
  const int deadline = monotonic_seconds() + RESTART_TIMEOUT_SECONDS;
  bool open_pipe = true;
  while (!exited && monotonic_seconds() < deadline) {
    pollfd ready{pipe_fds[0], POLLIN, 0};
    if (!open_pipe) {
      usleep(100000);
    } else if (poll(&ready, 1, 100) > 0) {
      open_pipe = append_read(pipe_fds[0], out, size, &used);
    }
    exited = waitpid(child, &status, WNOHANG) == child;
  }
  for (pollfd left{pipe_fds[0], POLLIN, 0}; exited && open_pipe && poll(&left, 1, 0) > 0;) {
    if (!append_read(pipe_fds[0], out, size, &used)) break;
  }
  close(pipe_fds[0]);
  if (!exited) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
