// dormix-sim: runs the unchanged daemon on a simulated router and checks
// what it does against scenarios.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "simulator/fake_clock.h"
#include "simulator/guest_clock.h"
#include "simulator/runner.h"
#include "simulator/scenario.h"

namespace {

constexpr int EXIT_USAGE = 2;
constexpr int GO_ON = -1;  // not an exit status: the arguments are read

void usage(FILE* out) {
  fputs(
      "usage: dormix-sim [--daemon PATH] [--emulator \"CMD ARGS\"] [--wrap \"CMD ARGS\"]\n"
      "                  [--skip-needing faketime,gpio] [--guest-clock] [--quiet] [--verbose]\n"
      "                  [--results FILE] SCENARIO...\n"
      "Runs the daemon on a simulated router for each scenario, prints the timeline and\n"
      "checks the expectations. Exit status: 0 all passed (skips allowed), 1 an\n"
      "expectation failed, 2 bad usage or scenario, 77 nothing could run here.\n"
      "--results FILE appends fixed-format result lines for programs (see README.md).\n",
      out);
}

// Splits a command given as one argument into words; quotes group words.
bool split_command(const std::string& text, std::vector<std::string>* words) {
  std::string word;
  bool in_word = false;
  char quote = 0;
  for (char c : text) {
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        word += c;
      }
    } else if (c == '\'' || c == '"') {
      quote = c;
      in_word = true;
    } else if (c == ' ' || c == '\t') {
      if (in_word) words->push_back(word);
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words->push_back(word);
  return quote == 0 && !words->empty();
}

bool executable(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The daemon built beside the simulator: build/dormix next to build/simulator/.
std::string default_daemon() {
  char self[4096];
  ssize_t got = readlink("/proc/self/exe", self, sizeof self - 1);
  if (got <= 0) return "";
  std::string dir(self, static_cast<size_t>(got));
  dir.resize(dir.find_last_of('/'));
  for (const std::string& candidate : {dir + "/../dormix", dir + "/dormix"}) {
    if (executable(candidate)) return candidate;
  }
  return "";
}

std::string skip_reason(const scenario& s, const std::vector<std::string>& skipped,
                        const run_options& options) {
  const auto skip = std::find_if(skipped.begin(), skipped.end(), [&s](const std::string& need) {
    return (need == "faketime" && s.needs_faketime) || (need == "gpio" && s.needs_gpio);
  });
  if (skip != skipped.end()) return "needs " + *skip + " (--skip-needing " + *skip + ")";
  if (s.needs_faketime && options.guest_clock && s.clock_speed != 0) {
    return "needs faketime for clock-speed, which the guest clock cannot do";
  }
  if (s.needs_faketime && options.libfaketime.empty() && !options.guest_clock) {
    return "needs faketime, and libfaketime is not installed (Debian: libfaketime)";
  }
  return "";
}

// What the command line asks for.
struct command_line {
  run_options options;
  std::vector<std::string> skipped;  // needs whose scenarios are skipped
  std::vector<std::string> paths;
};

// The needs of "--skip-needing faketime,gpio".
bool read_skip_list(const std::string& list, std::vector<std::string>* skipped) {
  for (size_t start = 0; start <= list.size();) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string need = list.substr(start, comma - start);
    if (need != "faketime" && need != "gpio") {
      fprintf(stderr, "dormix-sim: unknown need '%s' (faketime, gpio)\n", need.c_str());
      return false;
    }
    skipped->push_back(need);
    start = comma + 1;
  }
  return true;
}

// Returns GO_ON, or the exit status when there is nothing to run.
int read_arguments(int argc, char** argv, command_line* line) {
  run_options& options = line->options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--guest-clock") {
      options.guest_clock = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--results" && has_value) {
      options.results_fd = open(argv[++i], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (options.results_fd < 0) {
        fprintf(stderr, "dormix-sim: %s: %s\n", argv[i], strerror(errno));
        return EXIT_USAGE;
      }
    } else if (arg == "--daemon" && has_value) {
      options.daemon_binary = argv[++i];
    } else if ((arg == "--emulator" || arg == "--wrap") && has_value) {
      std::vector<std::string>* words = arg == "--emulator" ? &options.emulator : &options.wrapper;
      if (!split_command(argv[++i], words)) {
        fprintf(stderr, "dormix-sim: %s needs a command\n", arg.c_str());
        return EXIT_USAGE;
      }
    } else if (arg == "--skip-needing" && has_value) {
      if (!read_skip_list(argv[++i], &line->skipped)) return EXIT_USAGE;
    } else if (!arg.empty() && arg[0] == '-') {
      usage(stderr);
      return EXIT_USAGE;
    } else {
      line->paths.push_back(arg);
    }
  }
  if (line->paths.empty()) {
    usage(stderr);
    return EXIT_USAGE;
  }
  return GO_ON;
}

// Finds the daemon and libfaketime, and refuses a guest clock outside the
// test guest. Returns GO_ON or the exit status.
int prepare(run_options* options) {
  if (options->daemon_binary.empty()) options->daemon_binary = default_daemon();
  if (!executable(options->daemon_binary)) {
    fprintf(stderr, "dormix-sim: no daemon binary at '%s' (use --daemon PATH)\n",
            options->daemon_binary.c_str());
    return EXIT_USAGE;
  }
  options->libfaketime = find_libfaketime();
  if (!options->guest_clock) return GO_ON;
  const std::string refusal = guest_clock_refusal(read_guest_facts());
  if (refusal.empty()) return GO_ON;
  fprintf(stderr, "dormix-sim: --guest-clock sets this machine's wall clock; refused: %s\n",
          refusal.c_str());
  return EXIT_USAGE;
}

bool load_all(const std::vector<std::string>& paths, std::vector<scenario>* scenarios) {
  scenarios->resize(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    std::string error;
    if (!load_scenario(paths[i], &(*scenarios)[i], &error)) {
      fprintf(stderr, "dormix-sim: %s\n", error.c_str());
      return false;
    }
  }
  return true;
}

int run_child(const scenario& s, const run_options& options) {
  fflush(stdout);
  pid_t child = fork();
  if (child < 0) return RUN_FAILED;
  if (child == 0) _exit(run_scenario(s, options));
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return RUN_FAILED;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  fprintf(stderr, "%s: the run ended with signal %d\n", s.name.c_str(), WTERMSIG(status));
  return RUN_FAILED;
}

double monotonic_seconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The --results line of a scenario; nothing without --results.
void write_result(int fd, const std::string& name, int result, double seconds) {
  if (fd < 0) return;
  const char* verdict = result == RUN_PASSED ? "pass" : result == RUN_UNAVAILABLE ? "skip" : "fail";
  dprintf(fd, "scenario %s %s %.1f\n", name.c_str(), verdict, seconds);
}

// Runs or skips each scenario, prints the totals and returns the exit status.
int run_all(const std::vector<scenario>& scenarios, const command_line& line) {
  int passed = 0, failed = 0, skipped_count = 0;
  for (const scenario& s : scenarios) {
    std::string reason = skip_reason(s, line.skipped, line.options);
    const double started = monotonic_seconds();
    int result = reason.empty() ? run_child(s, line.options) : RUN_UNAVAILABLE;
    write_result(line.options.results_fd, s.name, result, monotonic_seconds() - started);
    if (!reason.empty()) printf("SKIP  %s  (skipped: %s)\n", s.name.c_str(), reason.c_str());
    if (result == RUN_PASSED) {
      ++passed;
    } else if (result == RUN_UNAVAILABLE) {
      if (reason.empty())
        printf("SKIP  %s  (skipped: the machine cannot run the simulator)\n", s.name.c_str());
      ++skipped_count;
    } else {
      ++failed;
    }
  }
  if (scenarios.size() > 1) {
    printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped_count);
  }
  if (failed > 0) return RUN_FAILED;
  if (passed == 0) return RUN_UNAVAILABLE;
  return RUN_PASSED;
}

}  // namespace

int main(int argc, char** argv) {
  command_line line;
  int status = read_arguments(argc, argv, &line);
  if (status == GO_ON) status = prepare(&line.options);
  if (status != GO_ON) return status;
  std::vector<scenario> scenarios;
  if (!load_all(line.paths, &scenarios)) return EXIT_USAGE;
  return run_all(scenarios, line);
}
