#include "simulator/guest_clock.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace {

// A frozen clock is set back to its second this often: well within the
// second, so the daemon's time() never sees the next one.
constexpr long HOLD_PERIOD_NS = 100'000'000;

std::string read_small_file(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  char buffer[4096];
  ssize_t got = read(fd, buffer, sizeof buffer);
  close(fd);
  return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\0'))
    text.pop_back();
  return text;
}

bool has_word(const std::string& text, const std::string& word) {
  size_t at = 0;
  while ((at = text.find(word, at)) != std::string::npos) {
    const bool starts = at == 0 || text[at - 1] == ' ';
    const size_t end = at + word.size();
    if (starts && (end == text.size() || text[end] == ' ' || text[end] == '\n')) return true;
    at = end;
  }
  return false;
}

// Shared with the holder process. The lock keeps a hold from landing
// after a new setting with the second it read before.
struct clock_hold {
  pthread_mutex_t lock;
  long long second;  // the second a frozen clock is held at; -1 while it runs
};
clock_hold* hold = nullptr;

[[noreturn]] void hold_clock() {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  // Ahead of the daemon and the simulator, so that a busy guest does not
  // delay a hold past the second.
  sched_param priority{};
  priority.sched_priority = 1;
  sched_setscheduler(0, SCHED_FIFO, &priority);
  for (;;) {
    pthread_mutex_lock(&hold->lock);
    if (hold->second >= 0) {
      timespec frozen{static_cast<time_t>(hold->second), 0};
      clock_settime(CLOCK_REALTIME, &frozen);
    }
    pthread_mutex_unlock(&hold->lock);
    timespec pause{0, HOLD_PERIOD_NS};
    nanosleep(&pause, nullptr);
  }
}

bool set_guest_clock(const clock_setting& clock, fake_clock* model, std::string* reason) {
  const time_t wanted = local_moment_of(clock.fields);
  if (clock.frozen && hold == nullptr) {
    *reason = "no clock holder to freeze the guest's clock";
    return false;
  }
  if (hold != nullptr) {
    pthread_mutex_lock(&hold->lock);
    hold->second = clock.frozen ? static_cast<long long>(wanted) : -1;
  }
  timespec target{wanted, 0};
  const bool set = clock_settime(CLOCK_REALTIME, &target) == 0;
  const int error = errno;
  if (hold != nullptr) pthread_mutex_unlock(&hold->lock);
  if (!set) {
    *reason = std::string("cannot set the guest's clock: ") + strerror(error);
    return false;
  }
  model->active = true;
  model->frozen = clock.frozen;
  model->frozen_at = static_cast<double>(wanted);
  model->offset = 0;
  model->origin = static_cast<double>(wanted);
  return true;
}

}  // namespace

std::string guest_clock_refusal(const guest_facts& facts) {
  if (!has_word(facts.kernel_command_line, GUEST_BOOT_WORD)) {
    return std::string("the kernel was not booted with ") + GUEST_BOOT_WORD;
  }
  if (!has_word(facts.init_command_line, "/init")) {
    return "pid 1 is not the test guest's /init";
  }
  if (!facts.marker_found) return std::string("no ") + GUEST_MARKER_PATH;
  if (!facts.marker_on_tmpfs || !facts.marker_owned_by_root) {
    return std::string(GUEST_MARKER_PATH) + " is not a root-owned file on a tmpfs";
  }
  if (facts.boot_id.empty() || trimmed(facts.marker) != trimmed(facts.boot_id)) {
    return std::string(GUEST_MARKER_PATH) + " does not hold this boot's id";
  }
  return "";
}

guest_facts read_guest_facts() {
  guest_facts facts;
  facts.kernel_command_line = trimmed(read_small_file("/proc/cmdline"));
  facts.boot_id = read_small_file("/proc/sys/kernel/random/boot_id");
  std::string init = read_small_file("/proc/1/cmdline");
  for (char& c : init) {
    if (c == '\0') c = ' ';
  }
  facts.init_command_line = trimmed(init);
  struct stat info {};
  struct statfs file_system {};
  if (lstat(GUEST_MARKER_PATH, &info) == 0 && S_ISREG(info.st_mode) &&
      statfs(GUEST_MARKER_PATH, &file_system) == 0) {
    facts.marker_found = true;
    facts.marker_owned_by_root = info.st_uid == 0;
    facts.marker_on_tmpfs = file_system.f_type == TMPFS_MAGIC;
    facts.marker = read_small_file(GUEST_MARKER_PATH);
  }
  return facts;
}

bool start_clock_holder(std::string* reason) {
  void* shared =
      mmap(nullptr, sizeof(clock_hold), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) {
    *reason = std::string("cannot share the held clock: ") + strerror(errno);
    return false;
  }
  hold = static_cast<clock_hold*>(shared);
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutex_init(&hold->lock, &attributes);
  pthread_mutexattr_destroy(&attributes);
  hold->second = -1;
  const pid_t holder = fork();
  if (holder < 0) {
    *reason = std::string("cannot start the clock holder: ") + strerror(errno);
    return false;
  }
  if (holder == 0) hold_clock();
  return true;
}

bool set_scenario_clock(bool guest, const clock_setting& clock, fake_clock* model,
                        std::string* reason) {
  return guest ? set_guest_clock(clock, model, reason) : set_fake_clock(clock, model, reason);
}
