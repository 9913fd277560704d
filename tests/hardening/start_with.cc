// start_with: starts a program the way a careless parent might, with stop
// signals blocked (and already pending), SIGCHLD ignored or standard
// descriptors closed.
//   start_with [--block SIG,...] [--pending SIG,...] [--ignore SIG,...] [--close FD,...]
//              -- PROGRAM ARGS...
// --pending blocks the signals and sends them to this process before the
// exec, which keeps them pending for the program.
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int signal_number(const char* name) {
  static const struct {
    const char* name;
    int number;
  } known[] = {{"INT", SIGINT}, {"TERM", SIGTERM}, {"QUIT", SIGQUIT}, {"CHLD", SIGCHLD},
               {"HUP", SIGHUP}, {"USR1", SIGUSR1}, {"PIPE", SIGPIPE}};
  for (const auto& entry : known) {
    if (strcmp(entry.name, name) == 0) return entry.number;
  }
  return 0;
}

// Calls apply on each comma-separated item; false on the first it rejects.
template <typename Apply>
bool for_each_item(char* list, Apply apply) {
  for (char* item = strtok(list, ","); item != nullptr; item = strtok(nullptr, ",")) {
    if (!apply(item)) {
      fprintf(stderr, "start_with: bad item '%s'\n", item);
      return false;
    }
  }
  return true;
}

int usage() {
  fputs(
      "usage: start_with [--block SIG,...] [--pending SIG,...] [--ignore SIG,...] "
      "[--close FD,...] -- PROGRAM ARGS...\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  sigset_t blocked;
  sigemptyset(&blocked);
  sigset_t pending;
  sigemptyset(&pending);
  int first = 1;
  for (; first + 1 < argc && strcmp(argv[first], "--") != 0; first += 2) {
    char* list = argv[first + 1];
    bool ok = false;
    if (strcmp(argv[first], "--block") == 0) {
      ok = for_each_item(list, [&](const char* name) {
        const int number = signal_number(name);
        return number != 0 && sigaddset(&blocked, number) == 0;
      });
    } else if (strcmp(argv[first], "--pending") == 0) {
      ok = for_each_item(list, [&](const char* name) {
        const int number = signal_number(name);
        return number != 0 && sigaddset(&blocked, number) == 0 && sigaddset(&pending, number) == 0;
      });
    } else if (strcmp(argv[first], "--ignore") == 0) {
      ok = for_each_item(list, [](const char* name) {
        const int number = signal_number(name);
        return number != 0 && signal(number, SIG_IGN) != SIG_ERR;
      });
    } else if (strcmp(argv[first], "--close") == 0) {
      ok = for_each_item(list, [](const char* text) {
        char* end = nullptr;
        const long fd = strtol(text, &end, 10);
        if (*end != '\0' || fd < 0 || fd > 2) return false;
        // Already closed is fine: the point is that it is closed now.
        close(static_cast<int>(fd));
        return true;
      });
    }
    if (!ok) return usage();
  }
  if (first + 1 >= argc || strcmp(argv[first], "--") != 0) return usage();
  sigprocmask(SIG_BLOCK, &blocked, nullptr);
  for (int number = 1; number < NSIG; ++number) {
    if (sigismember(&pending, number) == 1 && kill(getpid(), number) != 0) return 111;
  }
  execv(argv[first + 1], argv + first + 1);
  return 127;
}
