// Child for the command runner tests: writes its argument count and its open
// descriptors with their targets to the file named by argv[1]. Looks the
// descriptors up before opening anything itself.
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>
#include <cstdio>

int main(int argc, char** argv) {
  char report[8192];
  int length = snprintf(report, sizeof report, "argc %d\n", argc);
  for (int fd = 0; fd < 4096; ++fd) {
    if (fcntl(fd, F_GETFD) < 0) continue;
    char link[64];
    char target[PATH_MAX] = "";
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t got = readlink(link, target, sizeof target - 1);
    if (got > 0) target[got] = '\0';
    length += snprintf(report + length, sizeof report - static_cast<size_t>(length), "fd %d %s\n",
                       fd, target);
  }
  if (argc < 2) return 2;
  FILE* out = fopen(argv[1], "w");
  if (out == nullptr) return 2;
  fputs(report, out);
  fclose(out);
  return 0;
}
