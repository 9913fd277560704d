#include "web/system.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <limits.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "analysis/root_only.h"
#include "board/lpm_config.h"
#include "device/binary_input.h"
#include "device/command.h"
#include "device/durable_file.h"
#include "device/monotonic.h"
#include "device/status.h"
#include "device/tool_run.h"
#include "device/trust_walk.h"

namespace {

constexpr const char* TEMPORARY_SUFFIX = ".web-";
constexpr int POLL_SLICE_MS = 100;
constexpr useconds_t WAIT_SLICE_US = 100000;

bool random_bytes(unsigned char* out, size_t size) {
  if (getrandom(out, size, 0) == static_cast<ssize_t>(size)) return true;
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool complete = read(fd, out, size) == static_cast<ssize_t>(size);
  close(fd);
  return complete;
}

int clock_monotonic_seconds(void* /*context*/) { return monotonic_seconds(); }

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

struct chain_risks {
  char* why;
  size_t why_size;
};

void add_step_risk(const walk_step& step, void* context) {
  auto* risks = static_cast<chain_risks*>(context);
  char risk[WRITE_RISK_SIZE];
  // A link's own mode means nothing: its directory decides who changes it.
  if (step.is_link || !write_risk(step.owner, step.mode, risk)) return;
  const size_t used = strlen(risks->why);
  snprintf(risks->why + used, risks->why_size - used, "%s%s%s is %s (mode %04o)",
           used == 0 ? "" : "; ", step.is_start ? "" : "the directory ", step.path, risk,
           static_cast<unsigned>(step.mode & 07777U));
}

// Adds the write risk of path (not following a last link unless follow)
// and of every directory above it to why, each after "; ".
void add_chain_risks(const char* path, bool follow, char* why, size_t why_size) {
  chain_risks risks{why, why_size};
  walk_to_root(path, follow ? walk_start::followed : walk_start::link_itself, add_step_risk,
               &risks);
}

}  // namespace

long read_whole_file(const char* path, char* out, size_t size) {
  // Non-blocking: a FIFO put in a file's place must not hang the page.
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
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

deadline_clock monotonic_clock() { return deadline_clock{nullptr, clock_monotonic_seconds}; }

bool read_exactly_until(int fd, char* out, size_t length, const deadline_clock& clock,
                        int timeout_seconds) {
  const int deadline = clock.seconds(clock.context) + timeout_seconds;
  size_t used = 0;
  while (used < length) {
    if (clock.seconds(clock.context) >= deadline) return false;
    pollfd ready{fd, POLLIN, 0};
    const int polled = poll(&ready, 1, POLL_SLICE_MS);
    if (polled < 0 && errno != EINTR) return false;
    if (polled <= 0) continue;
    const ssize_t got = read(fd, out + used, length - used);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return false;
    used += static_cast<size_t>(got);
  }
  return true;
}

namespace {

// Opens and checks an existing secret: loaded, missing, or why not.
secret_state read_secret(const char* path, unsigned char secret[SECRET_SIZE], bool* short_secret,
                         char* why, size_t why_size) {
  *short_secret = false;
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0 && errno == ENOENT) return secret_state::missing;
  if (fd < 0) {
    snprintf(why, why_size, "cannot open the form secret %s: %s", path, strerror(errno));
    return secret_state::unusable;
  }
  struct stat status {};
  const bool private_file = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                            status.st_uid == 0 && (status.st_mode & 077) == 0;
  const bool complete = private_file && read(fd, secret, SECRET_SIZE) == SECRET_SIZE;
  close(fd);
  if (!private_file) {
    snprintf(why, why_size,
             "the form secret %s must be a regular file, root's and private (mode 0600)", path);
    return secret_state::unusable;
  }
  if (!complete) {
    *short_secret = true;
    snprintf(why, why_size, "the form secret %s is shorter than %d bytes", path, SECRET_SIZE);
    return secret_state::unusable;
  }
  return secret_state::loaded;
}

// Writes a fresh secret whole to a temporary file beside path and puts it
// in place: linked where none exists (a concurrent first use keeps the one
// that came first), renamed over a short one.
bool make_secret(const char* path, bool replace, char* why, size_t why_size) {
  unsigned char fresh[SECRET_SIZE];
  durable_outcome outcome{};
  const bool made =
      random_bytes(fresh, sizeof fresh) &&
      durable_put(durable_file{path, TEMPORARY_SUFFIX, reinterpret_cast<const char*>(fresh),
                               sizeof fresh, false, 0, 0, 0600, !replace},
                  &outcome);
  if (!made) {
    const int error = outcome.failed != durable_step::none ? outcome.error : errno;
    snprintf(why, why_size, "cannot make the form secret %s: %s", path, strerror(error));
    return false;
  }
  return true;
}

}  // namespace

secret_state load_secret_at(const char* path, bool may_create, unsigned char secret[SECRET_SIZE],
                            char* why, size_t why_size) {
  why[0] = '\0';
  bool short_secret = false;
  secret_state state = read_secret(path, secret, &short_secret, why, why_size);
  // A short one is what a first use killed while writing (before the
  // secret was linked into place) left: the next save makes it anew.
  const bool make = state == secret_state::missing || short_secret;
  if (!make || !may_create) {
    if (make) {
      snprintf(why, why_size, "the form secret %s is made at the next save", path);
      return secret_state::missing;
    }
    return state;
  }
  if (!make_secret(path, short_secret, why, why_size)) return secret_state::unusable;
  state = read_secret(path, secret, &short_secret, why, why_size);
  if (state == secret_state::loaded) return secret_state::made;
  return state == secret_state::missing ? secret_state::unusable : state;
}

void trust_problem(const char* path, char* why, size_t why_size) {
  why[0] = '\0';
  add_chain_risks(path, false, why, why_size);
  char target[PATH_MAX];
  if (realpath(path, target) == nullptr || strcmp(target, path) == 0) return;
  add_chain_risks(target, true, why, why_size);
}

int link_trust_findings(const char* path, const char* role, check_findings* findings) {
  struct stat status {};
  if (lstat(path, &status) != 0 || !S_ISLNK(status.st_mode)) return 0;
  char why[WEB_WHY_SIZE] = "";
  add_chain_risks(path, false, why, sizeof why);
  if (why[0] == '\0') return 0;
  add_warning(findings, 0, WARN_WRITABLE,
              "%s (%s) is a symbolic link, and %s: whoever can change it can point it elsewhere",
              path, role, why);
  return 1;
}

bool switch_file_trusted(const char* path) {
  struct stat status {};
  if (stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  char why[WEB_WHY_SIZE];
  trust_problem(path, why, sizeof why);
  return why[0] == '\0';
}

void settings_target(const char* path, char* out, size_t size) {
  char target[PATH_MAX];
  if (realpath(path, target) == nullptr) {
    snprintf(out, size, "%s", path);
  } else {
    snprintf(out, size, "%s", target);
  }
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

int lock_settings_directory(const char* path, const deadline_clock& clock, int timeout_seconds) {
  char directory[PATH_MAX];
  directory_of(path, directory);
  const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  const int deadline = clock.seconds(clock.context) + timeout_seconds;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (clock.seconds(clock.context) >= deadline) break;
    usleep(WAIT_SLICE_US);
  }
  close(fd);
  return -1;
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
namespace {

// What a failed step of a replace could not do, in the page's words.
const char* replace_step_words(durable_step step) {
  switch (step) {
    case durable_step::own:
      return "give the new file the old owner";
    case durable_step::set_mode:
      return "give the new file the old mode";
    case durable_step::write:
      return "write the new file";
    case durable_step::sync:
      return "sync the new file";
    case durable_step::close:
      return "close the new file";
    default:
      return "rename the new file into place";
  }
}

}  // namespace

bool replace_settings_file(const char* path, const char* data, size_t size, char* why,
                           size_t why_size) {
  struct stat old_status {};
  if (stat(path, &old_status) != 0) {
    snprintf(why, why_size, "cannot look at %s: %s", path, strerror(errno));
    return false;
  }
  durable_outcome outcome{};
  if (durable_put(durable_file{path, TEMPORARY_SUFFIX, data, size, true, old_status.st_uid,
                               old_status.st_gid, old_status.st_mode & 07777, false},
                  &outcome)) {
    return true;
  }
  const char* error = strerror(outcome.error);
  if (outcome.failed == durable_step::create) {
    snprintf(why, why_size, "cannot create a temporary file beside %s: %s", path, error);
  } else if (outcome.failed == durable_step::sync_directory) {
    snprintf(why, why_size, "saved, but syncing %s failed: %s", outcome.directory, error);
  } else {
    snprintf(why, why_size, "cannot %s (%s): %s; the old file is unchanged",
             replace_step_words(outcome.failed), outcome.temporary, error);
  }
  return false;
}

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

bool run_status_tool(const char* tool, const char* section, int timeout_seconds, char* out,
                     size_t size) {
  out[0] = '\0';
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
  char* const arguments[] = {const_cast<char*>(tool), const_cast<char*>("-v"),
                             const_cast<char*>(section), nullptr};
  // Every page load runs the tool: vfork spares copying the page's memory
  // map, which costs fork about half a millisecond of CPU here.
  const pid_t child = spawn_detached(arguments, pipe_fds[1], true, true);
  close(pipe_fds[1]);
  if (child < 0) {
    close(pipe_fds[0]);
    return false;
  }
  // Read while it runs, so that a long answer cannot fill the pipe.
  const int deadline = monotonic_seconds() + timeout_seconds;
  int status = 0;
  bool exited = false;
  const long used = collect_output(pipe_fds[0], child, out, static_cast<long>(size) - 1, deadline,
                                   &status, &exited);
  close(pipe_fds[0]);
  out[used > 0 ? used : 0] = '\0';
  if (!exited) {
    const int left = deadline - monotonic_seconds();
    exited = wait_or_kill_group(child, left > 0 ? left : 0, &status);
  }
  return exited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {

bool same_name(const char* a, const char* b, size_t b_length) {
  return strlen(a) == b_length && strncasecmp(a, b, b_length) == 0;
}

// The router's host name alone and with each domain it is known in: the
// kernel's domain name and resolv.conf's "domain" and "search" names.
bool is_own_name(const char* host) {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return false;
  const size_t name_length = strlen(name);
  if (same_name(host, name, name_length)) return true;
  if (strncasecmp(host, name, name_length) != 0 || host[name_length] != '.') return false;
  const char* domain = host + name_length + 1;
  char kernel_domain[256] = {};
  if (getdomainname(kernel_domain, sizeof kernel_domain - 1) == 0 && kernel_domain[0] != '\0' &&
      strcmp(kernel_domain, "(none)") != 0 && strcasecmp(domain, kernel_domain) == 0) {
    return true;
  }
  char resolver[4096];
  const long length = read_whole_file("/etc/resolv.conf", resolver, sizeof resolver - 1);
  if (length <= 0) return false;
  resolver[length] = '\0';
  char* saved = nullptr;
  for (char* line = strtok_r(resolver, "\n", &saved); line != nullptr;
       line = strtok_r(nullptr, "\n", &saved)) {
    char* words = nullptr;
    const char* keyword = strtok_r(line, " \t", &words);
    if (keyword == nullptr || (strcmp(keyword, "domain") != 0 && strcmp(keyword, "search") != 0)) {
      continue;
    }
    for (const char* word = strtok_r(nullptr, " \t", &words); word != nullptr;
         word = strtok_r(nullptr, " \t", &words)) {
      if (strcasecmp(domain, word) == 0) return true;
    }
  }
  return false;
}

bool is_own_address(const char* host) {
  char bare[INET6_ADDRSTRLEN + 2];
  const size_t length = strlen(host);
  if (length >= sizeof bare) return false;
  if (host[0] == '[' && length > 2 && host[length - 1] == ']') {
    snprintf(bare, sizeof bare, "%.*s", static_cast<int>(length - 2), host + 1);
  } else {
    snprintf(bare, sizeof bare, "%s", host);
  }
  unsigned char wanted[sizeof(in6_addr)];
  const int family = strchr(bare, ':') != nullptr ? AF_INET6 : AF_INET;
  if (inet_pton(family, bare, wanted) != 1) return false;
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return false;
  bool found = false;
  for (const ifaddrs* at = interfaces; at != nullptr && !found; at = at->ifa_next) {
    if (at->ifa_addr == nullptr || at->ifa_addr->sa_family != family) continue;
    if (family == AF_INET) {
      const auto* address = reinterpret_cast<const sockaddr_in*>(at->ifa_addr);
      found = memcmp(&address->sin_addr, wanted, sizeof address->sin_addr) == 0;
    } else {
      const auto* address = reinterpret_cast<const sockaddr_in6*>(at->ifa_addr);
      found = memcmp(&address->sin6_addr, wanted, sizeof address->sin6_addr) == 0;
    }
  }
  freeifaddrs(interfaces);
  return found;
}

}  // namespace

bool router_host_name(const char* host) {
  if (host == nullptr || host[0] == '\0') return false;
  if (strcasecmp(host, "localhost") == 0) return true;
  return is_own_address(host) || is_own_name(host);
}

namespace {

// What the router's side of the page keeps for the length of a request;
// all zero at start, so that it takes no room in the program file.
struct router_side {
  bool locked;
  int lock_fd;
  char* zone_environment[ENVIRONMENT_CAPACITY * 8];
};
router_side router;

const char* router_environment(void* /*context*/, const char* name) { return getenv(name); }

// The page's look at the inputs reads levels, the clock and the device
// only: which inputs exist comes from its one run of the status tool
// (answer_request), so the device code's own runs of the tool are never
// asked for, and not linked.
const char* router_ports_unasked(void* /*context*/) { return nullptr; }
int router_presence_unasked(void* /*context*/, int /*n*/) { return 0; }
int router_input_level(void* /*context*/, int n) { return binary_input_read(n); }
bool router_gpio_exists(void* /*context*/) { return gpio_device_present(); }

field_platform router_page_field_platform() {
  return field_platform{nullptr,
                        router_ports_unasked,
                        router_presence_unasked,
                        router_input_level,
                        clock_monotonic_seconds,
                        router_gpio_exists};
}

bool router_read_body(void* /*context*/, char* out, size_t length) {
  return read_exactly_until(0, out, length, monotonic_clock(), BODY_TIMEOUT_SECONDS);
}

void router_settings_target(char out[PATH_MAX]) { settings_target(SETTINGS_PATH, out, PATH_MAX); }

long router_read_settings(void* /*context*/, char* out, size_t size) {
  return read_whole_file(SETTINGS_PATH, out, size);
}

secret_state router_load_secret(void* /*context*/, bool may_create,
                                unsigned char secret[SECRET_SIZE], char* why, size_t why_size) {
  return load_secret_at(WEB_SECRET_PATH, may_create, secret, why, why_size);
}

bool router_switched_off(void* /*context*/) { return switch_file_trusted(WEB_NO_USER_SWITCH_PATH); }

bool router_is_host(void* /*context*/, const char* host) { return router_host_name(host); }

void router_save_obstacle(void* /*context*/, char* why, size_t why_size) {
  char target[PATH_MAX];
  router_settings_target(target);
  write_obstacle(target, why, why_size);
  if (why[0] != '\0') return;
  char problem[WEB_WHY_SIZE];
  trust_problem(SETTINGS_PATH, problem, sizeof problem);
  if (problem[0] == '\0') return;
  snprintf(why, why_size,
           "%s: whoever can change it can decide when the router sleeps and when it wakes, and "
           "the daemon runs as root",
           problem);
}

void router_trust_findings(void* /*context*/, check_findings* findings) {
  check_trusted_files(SETTINGS_PATH, walk_to_root, findings);
  link_trust_findings(SETTINGS_PATH, "the settings file", findings);
}

bool router_lock(void* /*context*/) {
  router.lock_fd = lock_settings_directory(SETTINGS_PATH, monotonic_clock(), LOCK_TIMEOUT_SECONDS);
  router.locked = router.lock_fd >= 0;
  return router.locked;
}

void router_unlock(void* /*context*/) {
  if (router.locked) close(router.lock_fd);
  router.locked = false;
}

bool router_replace(void* /*context*/, const char* data, size_t size, char* why, size_t why_size) {
  // A link is followed: the daemon reads what it leads to.
  char target[PATH_MAX];
  router_settings_target(target);
  remove_stale_temporaries(target);
  return replace_settings_file(target, data, size, why, why_size);
}

pid_t router_running_daemon(void* /*context*/) { return running_daemon(); }

void router_restart(void* /*context*/, restart_outcome* outcome) {
  run_restart(INIT_SCRIPT_PATH, RESTART_TIMEOUT_SECONDS, outcome);
}

bool router_status_ports(void* /*context*/, char* out) {
  return run_status_tool(STATUS_TOOL_PATH, "ports", STATUS_TIMEOUT_SECONDS, out,
                         STATUS_OUTPUT_SIZE);
}

const char* router_lpm_config(void* /*context*/, char* out) { return read_lpm_config_file(out); }

time_t router_wall_clock(void* /*context*/) { return time(nullptr); }

// The C library looks TZ up again at every local time conversion, and the
// page makes hundreds of them: first in the environment, it is found at
// once however many variables the web server passed. The first TZ stays
// the first, so the lookup's answer is the same.
void put_zone_first(char** environment) {
  for (char** entry = environment; *entry != nullptr; ++entry) {
    if (strncmp(*entry, "TZ=", 3) != 0) continue;
    char* const zone = *entry;
    for (; entry != environment; --entry) entry[0] = entry[-1];
    environment[0] = zone;
    return;
  }
}

time_zone_choice router_time_zone(void* /*context*/) {
  const time_zone_choice choice =
      use_system_time_zone(router.zone_environment, ENVIRONMENT_CAPACITY * 8);
  put_zone_first(environ);
  return choice;
}

void router_pause(void* /*context*/, int milliseconds) {
  usleep(static_cast<useconds_t>(milliseconds) * 1000);
}

}  // namespace

web_platform router_web_platform() {
  web_platform platform{};
  platform.environment = router_environment;
  platform.read_body = router_read_body;
  platform.read_settings = router_read_settings;
  platform.load_secret = router_load_secret;
  platform.remote_user_switched_off = router_switched_off;
  platform.is_router_host = router_is_host;
  platform.save_obstacle = router_save_obstacle;
  platform.trust_findings = router_trust_findings;
  platform.lock_settings = router_lock;
  platform.unlock_settings = router_unlock;
  platform.replace_settings = router_replace;
  platform.running_daemon = router_running_daemon;
  platform.restart_daemon = router_restart;
  platform.status_ports = router_status_ports;
  platform.lpm_config_text = router_lpm_config;
  platform.wall_clock = router_wall_clock;
  platform.use_time_zone = router_time_zone;
  platform.pause_milliseconds = router_pause;
  platform.field = router_page_field_platform();
  return platform;
}
