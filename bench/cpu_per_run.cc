// Runs a program RUNS times, one after another, its output to /dev/null, and
// prints the CPU time (user + system) of each run as its parent sees it:
// the program and every child it waited for. Built static for the test
// guests, which have no Python. Prints the minimum, the median and the mean
// in milliseconds.
// Usage: cpu_per_run RUNS PROGRAM [ARGUMENT]...
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int MAX_RUNS = 1000;

long long microseconds(const timeval& time) {
  return static_cast<long long>(time.tv_sec) * 1000000 + time.tv_usec;
}

// CPU time of one run in microseconds, or -1 when it did not exit with 0.
long long one_run(char** command) {
  const pid_t child = fork();
  if (child == 0) {
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) dup2(null_fd, 1);
    execv(command[0], command);
    _exit(127);
  }
  if (child < 0) return -1;
  int status = 0;
  rusage used{};
  if (wait4(child, &status, 0, &used) != child) return -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return microseconds(used.ru_utime) + microseconds(used.ru_stime);
}

int by_value(const void* a, const void* b) {
  const long long left = *static_cast<const long long*>(a);
  const long long right = *static_cast<const long long*>(b);
  return (left > right) - (left < right);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 2 ? atoi(argv[1]) : 0;
  if (runs < 1 || runs > MAX_RUNS) {
    fprintf(stderr, "usage: cpu_per_run RUNS(1-%d) PROGRAM [ARGUMENT]...\n", MAX_RUNS);
    return 2;
  }
  static long long times[MAX_RUNS];
  long long total = 0;
  for (int i = 0; i < runs; ++i) {
    times[i] = one_run(argv + 2);
    if (times[i] < 0) {
      fprintf(stderr, "cpu_per_run: %s failed on run %d\n", argv[2], i + 1);
      return 1;
    }
    total += times[i];
  }
  qsort(times, static_cast<size_t>(runs), sizeof times[0], by_value);
  const auto milliseconds = [](long long us) { return static_cast<double>(us) / 1000.0; };
  const double median =
      runs % 2 == 1 ? milliseconds(times[runs / 2])
                    : (milliseconds(times[runs / 2 - 1]) + milliseconds(times[runs / 2])) / 2;
  printf("%d runs: minimum %.2f ms, median %.2f ms, mean %.2f ms\n", runs, milliseconds(times[0]),
         median, milliseconds(total) / runs);
  return 0;
}
