// Guest helper for gpio_driver.sh: requests on /dev/gpio and waits on
// /sys/class/misc/gpio/woken_by, as the daemon and the low-power tool make
// them. A request's result is printed as the ioctl's return value, or as
// minus the errno when it fails.
//   gpio_probe levels              "LEVEL0 LEVEL1", the two requests' results
//   gpio_probe unknown             "ok", or the first other request that does
//                                  not fail with ENOTTY
//   gpio_probe readers N EXPECTED  N processes each open the device and make
//                                  500 requests of each input; "ok" if every
//                                  result was EXPECTED ("L0 L1")
//   gpio_probe hold MARKER         opens the device, creates MARKER, waits for
//                                  a line on stdin, then prints the levels
//   gpio_probe woken MARKER        reads woken_by, creates MARKER, waits (30 s
//                                  at most) for its notification and prints
//                                  woken_by then, or "timeout"
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kernel/dormix_gpio/dormix_gpio_abi.h"

static const unsigned long requests[2] = {DORMIX_GPIO_READ_INPUT0, DORMIX_GPIO_READ_INPUT1};

static int request(int fd, unsigned long code, unsigned long argument) {
  int result = ioctl(fd, code, argument);
  return result < 0 ? -errno : result;
}

static int open_device(void) {
  int fd = open(DORMIX_GPIO_DEVICE_PATH, O_RDWR);
  if (fd < 0) {
    printf("cannot open /dev/gpio: %s\n", strerror(errno));
    exit(1);
  }
  return fd;
}

static void print_levels(int fd) {
  printf("%d %d\n", request(fd, requests[0], 0), request(fd, requests[1], 0));
}

static void create(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT, 0644);
  if (fd >= 0) close(fd);
}

static int unknown(void) {
  // Neighbours of the two codes: other numbers, type, size and direction;
  // then, the argument of a known request is ignored.
  static const unsigned long others[] = {0, 0x80004206UL, 0x80004208UL, 0x8000421aUL,
                                         0x8000421cUL, 0x80004307UL, 0x80044207UL,
                                         0x40004207UL, 0xc000421bUL, 0x00004207UL};
  int fd = open_device();
  for (size_t i = 0; i < sizeof others / sizeof others[0]; i++) {
    int result = request(fd, others[i], 0);
    if (result != -ENOTTY) {
      printf("request 0x%lx gave %d\n", others[i], result);
      return 1;
    }
  }
  for (int n = 0; n < 2; n++) {
    int plain = request(fd, requests[n], 0), with_argument = request(fd, requests[n], 12345);
    if (plain != with_argument) {
      printf("input %d: %d with argument 0, %d with 12345\n", n, plain, with_argument);
      return 1;
    }
  }
  printf("ok\n");
  return 0;
}

static int readers(int count, const char* expected) {
  for (int i = 0; i < count; i++) {
    if (fork() == 0) {
      int fd = open_device();
      char levels[32];
      for (int round = 0; round < 500; round++) {
        snprintf(levels, sizeof levels, "%d %d", request(fd, requests[0], 0),
                 request(fd, requests[1], 0));
        if (strcmp(levels, expected) != 0) {
          printf("reader %d, round %d: %s\n", i, round, levels);
          _exit(1);
        }
      }
      _exit(0);
    }
  }
  int failed = 0, status;
  while (wait(&status) > 0) failed |= !WIFEXITED(status) || WEXITSTATUS(status) != 0;
  if (!failed) printf("ok\n");
  return failed;
}

static int hold(const char* marker) {
  int fd = open_device();
  char line[16];
  create(marker);
  if (!fgets(line, sizeof line, stdin)) return 1;
  print_levels(fd);
  return close(fd) != 0;
}

static int woken(const char* marker) {
  char text[16];
  int fd = open("/sys/class/misc/gpio/woken_by", O_RDONLY);
  if (fd < 0 || read(fd, text, sizeof text) < 0) {
    printf("cannot read woken_by: %s\n", strerror(errno));
    return 1;
  }
  create(marker);
  struct pollfd waiting = {fd, POLLPRI | POLLERR, 0};
  if (poll(&waiting, 1, 30000) != 1) {
    printf("timeout\n");
    return 1;
  }
  ssize_t got = pread(fd, text, sizeof text - 1, 0);
  if (got < 0) return 1;
  text[got] = '\0';
  fputs(text, stdout);
  return 0;
}

int main(int argc, char** argv) {
  setvbuf(stdout, NULL, _IONBF, 0);
  if (argc == 2 && strcmp(argv[1], "levels") == 0) {
    print_levels(open_device());
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "unknown") == 0) return unknown();
  if (argc == 4 && strcmp(argv[1], "readers") == 0) return readers(atoi(argv[2]), argv[3]);
  if (argc == 3 && strcmp(argv[1], "hold") == 0) return hold(argv[2]);
  if (argc == 3 && strcmp(argv[1], "woken") == 0) return woken(argv[2]);
  fprintf(stderr, "usage: gpio_probe levels|unknown|readers N EXPECTED|hold MARKER|woken MARKER\n");
  return 2;
}
