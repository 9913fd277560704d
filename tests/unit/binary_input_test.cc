#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/binary_input.h"
#include "device/status.h"
#include "test_support.h"

namespace {

int descriptors_open_on(const std::string& path) {
  int count = 0;
  DIR* fds = opendir("/proc/self/fd");
  while (const dirent* entry = readdir(fds)) {
    char target[4096] = "";
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    ssize_t got = readlink(link.c_str(), target, sizeof target - 1);
    if (got > 0 && std::string(target, static_cast<size_t>(got)) == path) ++count;
  }
  closedir(fds);
  return count;
}

// A GPIO device of the test's own, at path.
struct test_gpio {
  explicit test_gpio(std::string at) : path(std::move(at)) {}
  ~test_gpio() {
    if (fd >= 0) close(fd);
  }
  test_gpio(const test_gpio&) = delete;
  test_gpio& operator=(const test_gpio&) = delete;
  gpio_device device() { return gpio_device{path.c_str(), &fd, &lock}; }
  std::string path;
  int fd = -1;
  int lock = 0;
};

int second_zero(void* /*context*/) { return 0; }

}  // namespace

TEST(BinaryInputPresence, FromThePortsSection) {
  struct row {
    const char* what;
    const char* output;
    int input0, input1;
  };
  const row rows[] = {
      {"unnumbered key only", "Binary Input: on\n", 1, 0},
      {"input 1 only also counts for input 0", "Binary Input 1: on\n", 1, 1},
      {"both inputs", "Binary Input 0: off\nBinary Input 1: on\n", 1, 1},
      {"input 0 only", "Binary Input 0: off\n", 1, 0},
      {"no inputs", "Ethernet: up\n", 0, 0},
      {"first matching line has no value", "Binary Input 0: \nBinary Input 1: on\n", 0, 1},
  };
  scratch_dir scratch;
  const std::string tool = scratch.file("status");
  write_file(tool, "#!/bin/sh\n[ \"$*\" = \"-v ports\" ] && cat \"$(dirname \"$0\")/output\"\n",
             true);
  const status_source source{tool.c_str(), second_zero, nullptr};
  for (const row& r : rows) {
    status_cache_record cache{};
    write_file(scratch.file("output"), r.output);
    EXPECT_EQ(binary_input_present_with(&cache, source, 0), r.input0) << r.what;
    EXPECT_EQ(binary_input_present_with(&cache, source, 1), r.input1) << r.what;
  }
}

TEST(BinaryInputRead, UnknownInputsOpenNothing) {
  scratch_dir scratch;
  write_file(scratch.file("gpio"), "");
  test_gpio gpio(scratch.file("gpio"));
  EXPECT_EQ(binary_input_read_on(gpio.device(), 5), 0);
  EXPECT_EQ(binary_input_read_on(gpio.device(), -1), 0);
  EXPECT_EQ(gpio.fd, -1);
}

TEST(BinaryInputRead, FailuresReadAsLevelZero) {
  scratch_dir scratch;
  // A regular file answers both requests with an error.
  write_file(scratch.file("gpio"), "");
  test_gpio gpio(scratch.file("gpio"));
  EXPECT_EQ(gpio_ioctl_on(gpio.device(), GPIO_READ_INPUT0, 0), -1);
  EXPECT_GE(gpio.fd, 0);
  EXPECT_EQ(binary_input_read_on(gpio.device(), 0), 0);
  EXPECT_EQ(binary_input_read_on(gpio.device(), 1), 0);

  test_gpio missing(scratch.file("missing"));
  EXPECT_EQ(gpio_ioctl_on(missing.device(), GPIO_READ_INPUT1, 0), -1);
  EXPECT_EQ(missing.fd, -1);
  EXPECT_EQ(binary_input_read_on(missing.device(), 1), 0);
  // A failed open is tried again on the next use, and the device kept then.
  write_file(scratch.file("missing"), "");
  gpio_ioctl_on(missing.device(), GPIO_READ_INPUT1, 0);
  EXPECT_GE(missing.fd, 0);
  const int kept = missing.fd;
  gpio_ioctl_on(missing.device(), GPIO_READ_INPUT1, 0);
  EXPECT_EQ(missing.fd, kept);
  EXPECT_EQ(missing.lock, 0);
}

TEST(GpioDevice, ConcurrentFirstUseOpensOnce) {
  scratch_dir scratch;
  write_file(scratch.file("gpio"), "");
  test_gpio gpio(scratch.file("gpio"));
  const gpio_device device = gpio.device();
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  threads.reserve(8);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      while (!go.load()) {
      }
      for (int i = 0; i < 200; ++i) gpio_ioctl_on(device, GPIO_READ_INPUT0, 0);
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(descriptors_open_on(gpio.path), 1);
  EXPECT_EQ(gpio.lock, 0);
}
