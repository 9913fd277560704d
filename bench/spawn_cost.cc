// Prints the mean time of one run_command of /bin/true, the cost that the
// descriptor clean-up in the child adds to every tool run.
#include <sys/resource.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "device/command.h"

int main(int argc, char** argv) {
  const int runs = argc > 1 ? atoi(argv[1]) : 200;
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  timespec start{};
  timespec end{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (int i = 0; i < runs; ++i) {
    if (run_command("/bin/true", nullptr) != 0) return 1;
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  const double seconds = static_cast<double>(end.tv_sec - start.tv_sec) +
                         static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
  printf("nofile=%lu runs=%d mean_us=%.1f\n", static_cast<unsigned long>(limit.rlim_cur), runs,
         seconds * 1e6 / runs);
  return 0;
}
