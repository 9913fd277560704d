#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>
#include <atomic>
#include <string>
#include <thread>
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

void forget_gpio_device() {
  if (gpio_fd >= 0) close(gpio_fd);
  gpio_fd = -1;
}

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
  for (const row& r : rows) {
    status_cache = status_cache_record{};
    write_file(scratch.file("output"), r.output);
    EXPECT_EQ(binary_input_present_from(tool.c_str(), 0), r.input0) << r.what;
    EXPECT_EQ(binary_input_present_from(tool.c_str(), 1), r.input1) << r.what;
  }
}

TEST(BinaryInputRead, UnknownInputsOpenNothing) {
  forget_gpio_device();
  EXPECT_EQ(binary_input_read(5), 0);
  EXPECT_EQ(binary_input_read(-1), 0);
  EXPECT_EQ(gpio_fd, -1);
}

TEST(BinaryInputRead, FailuresReadAsLevelZero) {
  forget_gpio_device();
  scratch_dir scratch;
  // A regular file answers both requests with an error.
  const std::string device = scratch.file("gpio");
  write_file(device, "");
  EXPECT_EQ(gpio_ioctl_at(device.c_str(), GPIO_READ_INPUT0, 0), -1);
  EXPECT_GE(gpio_fd, 0);
  EXPECT_EQ(binary_input_read(0), 0);
  EXPECT_EQ(binary_input_read(1), 0);
  forget_gpio_device();
  EXPECT_EQ(gpio_ioctl_at(scratch.file("missing").c_str(), GPIO_READ_INPUT1, 0), -1);
  EXPECT_EQ(gpio_fd, -1);
  // A failed open is tried again on the next use, and the device kept then.
  write_file(scratch.file("missing"), "");
  gpio_ioctl_at(scratch.file("missing").c_str(), GPIO_READ_INPUT1, 0);
  EXPECT_GE(gpio_fd, 0);
  const int kept = gpio_fd;
  gpio_ioctl_at(device.c_str(), GPIO_READ_INPUT1, 0);
  EXPECT_EQ(gpio_fd, kept);
  forget_gpio_device();
}

TEST(GpioDevice, ConcurrentFirstUseOpensOnce) {
  forget_gpio_device();
  scratch_dir scratch;
  const std::string device = scratch.file("gpio");
  write_file(device, "");
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      while (!go.load()) {
      }
      for (int i = 0; i < 200; ++i) gpio_ioctl_at(device.c_str(), GPIO_READ_INPUT0, 0);
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(descriptors_open_on(device), 1);
  EXPECT_EQ(__atomic_load_n(&gpio_lock, __ATOMIC_SEQ_CST), 0);
  forget_gpio_device();
}
