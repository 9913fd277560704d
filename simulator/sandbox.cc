#include "simulator/sandbox.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "simulator/fake_tool_script.h"

namespace {

std::string run_path(const std::string& name) { return std::string(RUN_DIR) + "/" + name; }

bool fail(std::string* reason, const std::string& what) {
  *reason = what + ": " + strerror(errno);
  return false;
}

bool write_file(const std::string& path, const std::string& content, mode_t mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < content.size()) {
    ssize_t wrote = write(fd, content.data() + done, content.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  fchmod(fd, mode);
  return close(fd) == 0;
}

bool copy_file(const std::string& from, const std::string& to, std::string* reason) {
  FILE* in = fopen(from.c_str(), "rb");
  if (in == nullptr) return fail(reason, "cannot read the daemon " + from);
  std::string content;
  char buffer[65536];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, in)) > 0) content.append(buffer, got);
  fclose(in);
  if (!write_file(to, content, 0755)) return fail(reason, "cannot copy the daemon");
  return true;
}

bool make_dirs(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

bool write_id_map(const char* file, const std::string& content) {
  return write_file(file, content, 0644);
}

// Replaces the host /dev by a tmpfs with the usual nodes bound into it.
bool build_dev(std::string* reason) {
  int host_dev = open("/dev", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (host_dev < 0) return fail(reason, "cannot open /dev");
  if (mount("dormix-sim", "/dev", "tmpfs", MS_NOSUID, "mode=755,size=16m") != 0) {
    close(host_dev);
    return fail(reason, "cannot mount a tmpfs on /dev");
  }
  for (const char* node : {"null", "zero", "full", "random", "urandom", "tty"}) {
    std::string target = std::string("/dev/") + node;
    std::string source = "/proc/self/fd/" + std::to_string(host_dev) + "/" + node;
    struct stat info {};
    if (stat(source.c_str(), &info) != 0) continue;
    if (!write_file(target, "", 0666)) return fail(reason, "cannot create " + target);
    if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      return fail(reason, "cannot bind " + target);
    }
  }
  close(host_dev);
  symlink("/proc/self/fd", "/dev/fd");
  symlink("/proc/self/fd/0", "/dev/stdin");
  symlink("/proc/self/fd/1", "/dev/stdout");
  symlink("/proc/self/fd/2", "/dev/stderr");
  mkdir("/dev/shm", 01777);
  chmod("/dev/shm", 01777);
  return true;
}

bool overlay(const char* target, const std::string& layer, std::string* reason) {
  std::string options = "lowerdir=" + layer + ":" + target;
  if (mount("overlay", target, "overlay", MS_RDONLY, options.c_str()) != 0) {
    return fail(reason, std::string("cannot put an overlay on ") + target);
  }
  return true;
}

bool bind_syslog(sandbox* box, std::string* reason) {
  box->syslog_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (box->syslog_fd < 0) return fail(reason, "cannot create the log socket");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  strcpy(address.sun_path, "/dev/log");
  if (bind(box->syslog_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return fail(reason, "cannot bind /dev/log");
  }
  chmod("/dev/log", 0666);
  int size = 1 << 20;
  setsockopt(box->syslog_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  return true;
}

// OpenWrt's layout: /etc/TZ holds the zone, /etc/localtime is hidden by a
// whiteout (a 0/0 character device), which overlayfs honours in any layer.
bool lay_out_etc_tz(const std::string& line, std::string* reason) {
  const std::string layer = run_path("layers/etc");
  if (!make_dirs(layer)) return fail(reason, "cannot create " + layer);
  if (!write_file(layer + "/TZ", line + "\n", 0644)) return fail(reason, "cannot write /etc/TZ");
  if (mknod((layer + "/localtime").c_str(), S_IFCHR | 0600, makedev(0, 0)) != 0) {
    return fail(reason, "cannot hide /etc/localtime");
  }
  return overlay("/etc", layer, reason);
}

}  // namespace

bool enter_namespaces(std::string* reason) {
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  int flags = CLONE_NEWNS | CLONE_NEWPID;
  if (geteuid() != 0) flags |= CLONE_NEWUSER;
  if (unshare(flags) != 0) {
    return fail(reason, geteuid() == 0 ? "cannot create mount and pid namespaces"
                                       : "not root, and no user namespace either");
  }
  if ((flags & CLONE_NEWUSER) != 0) {
    if (!write_id_map("/proc/self/setgroups", "deny") ||
        !write_id_map("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !write_id_map("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
      return fail(reason, "cannot map the user into its namespace");
    }
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return fail(reason, "cannot make the mounts private");
  }
  return true;
}

bool build_sandbox(const scenario& s, const std::string& daemon_binary, sandbox* box,
                   std::string* reason) {
  struct stat info {};
  if (stat("/opt", &info) != 0 || !S_ISDIR(info.st_mode)) {
    return fail(reason, "the host has no /opt directory to lay the settings over");
  }
  box->fuse_fd = open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (box->fuse_fd < 0) return fail(reason, "cannot open /dev/fuse");
  if (!build_dev(reason)) return false;

  const std::string run = RUN_DIR;
  for (const char* dir :
       {"", "/sections", "/layers/sbin", "/layers/bin", "/layers/opt/dormix/etc"}) {
    if (!make_dirs(run + dir)) return fail(reason, "cannot create " + run + dir);
  }
  if (!write_file(run + "/layers/sbin/lpm", FAKE_TOOL_SCRIPT, 0755) ||
      !write_file(run + "/layers/bin/status", FAKE_TOOL_SCRIPT, 0755)) {
    return fail(reason, "cannot write the fake tools");
  }
  if (!copy_file(daemon_binary, run + "/layers/sbin/dormix", reason)) return false;
  if (s.settings_present &&
      !write_file(run + "/layers/opt/dormix/etc/settings", s.settings, 0644)) {
    return fail(reason, "cannot write the settings");
  }
  for (size_t i = 0; i < s.section_names.size(); ++i) {
    if (!write_file(run + "/sections/" + s.section_names[i], s.section_texts[i], 0644)) {
      return fail(reason, "cannot write a status section");
    }
  }
  std::string filler;
  for (int i = 0; filler.size() < size_t{70} * 1024; ++i) {
    filler += "Filler line " + std::to_string(i) + ": " + std::string(48, 'x') + "\n";
  }
  if (!write_file(run + "/filler", filler, 0644) || !set_lpm_behaviour(s.lpm_seconds, s.lpm_exit) ||
      !set_status_mode(s.status_mode)) {
    return fail(reason, "cannot write the tools' behaviour");
  }
  if (mkfifo((run + "/events").c_str(), 0666) != 0)
    return fail(reason, "cannot create the event pipe");
  // Read and write: the pipe never reports end of file, and writers never wait.
  box->events_fd = open((run + "/events").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (box->events_fd < 0) return fail(reason, "cannot open the event pipe");

  if (!overlay("/usr/sbin", run + "/layers/sbin", reason) ||
      !overlay("/usr/bin", run + "/layers/bin", reason) ||
      !overlay("/opt", run + "/layers/opt", reason)) {
    return false;
  }
  if (s.has_etc_tz && !lay_out_etc_tz(s.etc_tz, reason)) return false;
  if (!bind_syslog(box, reason)) return false;
  if (!write_file("/dev/gpio", "", 0666)) return fail(reason, "cannot create /dev/gpio");
  return true;
}

bool replace_file(const std::string& name, const std::string& content) {
  const std::string path = run_path(name);
  const std::string temporary = path + ".new";
  return write_file(temporary, content, 0644) && rename(temporary.c_str(), path.c_str()) == 0;
}

bool set_lpm_behaviour(double seconds, int exit_code) {
  char text[64];
  snprintf(text, sizeof text, "%g %d\n", seconds, exit_code);
  return replace_file("lpm-behaviour", text);
}

bool set_status_mode(const std::string& mode) { return replace_file("status-mode", mode + "\n"); }
