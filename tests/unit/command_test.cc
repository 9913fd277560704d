#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/command.h"
#include "test_support.h"

namespace {

std::string descriptor_target(int fd) {
  char target[4096] = "";
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t got = readlink(link.c_str(), target, sizeof target - 1);
  if (got > 0) target[got] = '\0';
  return target;
}

bool is_open(int fd) { return fcntl(fd, F_GETFD) >= 0; }

// The command probe: DORMIX_COMMAND_PROBE names it where it is not the one
// built beside this program (ctest sets it; under qemu-user it names a script
// that starts the probe emulated).
std::string command_probe() {
  const char* named = getenv("DORMIX_COMMAND_PROBE");
  if (named != nullptr) return named;
  char self[4096] = "";
  const ssize_t got = readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string path(self, got > 0 ? static_cast<size_t>(got) : 0);
  return path.substr(0, path.find_last_of('/') + 1) + "command_probe";
}

bool child_fds_are_reset() {
  return child_fds[0] == -1 && child_fds[1] == -1 && child_fds[2] == -1;
}

class CommandTest : public ::testing::Test {
 protected:
  // Runs the probe and returns what it reported.
  std::string probe() {
    const std::string report = scratch.file("report");
    EXPECT_EQ(run_command(command_probe().c_str(), report.c_str(), nullptr), 0);
    return read_file(report);
  }
  scratch_dir scratch;
};

}  // namespace

TEST_F(CommandTest, ChildGetsDevNullAndNothingElse) {
  // Descriptors the parent holds open without close-on-exec must not leak.
  const int high = fcntl(0, F_DUPFD, 700);
  ASSERT_GE(high, 700);
  const std::string report = probe();
  close(high);
  EXPECT_EQ(report, "argc 2\nfd 0 /dev/null\nfd 1 /dev/null\nfd 2 /dev/null\n");
  EXPECT_TRUE(child_fds_are_reset());
}

TEST_F(CommandTest, StdoutRedirections) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_GT(ends[1], 2);

  set_child_stdout(ends[1]);
  const std::string into_pipe = probe();
  EXPECT_NE(into_pipe.find("fd 1 pipe:"), std::string::npos) << into_pipe;
  EXPECT_FALSE(is_open(ends[1])) << "the parent's copy of the write end stays open";
  EXPECT_TRUE(child_fds_are_reset());
  close(ends[0]);

  set_child_stdout(1);
  EXPECT_NE(probe().find("fd 1 " + descriptor_target(1) + "\n"), std::string::npos);
  EXPECT_TRUE(is_open(1));

  set_child_stdout(2);
  EXPECT_NE(probe().find("fd 1 /dev/null\n"), std::string::npos);

  set_child_stdout(0);
  EXPECT_TRUE(child_fds_are_reset());
}

TEST_F(CommandTest, ArgumentsAreCappedAt62) {
  const std::string report = scratch.file("report");
  std::vector<std::string> extra;
  // Appended rather than "a" + std::to_string(i): g++ 12 at -O3 reports a
  // false -Wrestrict overlap for the latter.
  for (int i = 0; i < 70; ++i) extra.push_back(std::string("a").append(std::to_string(i)));
  auto arg = [&](int i) { return extra[static_cast<size_t>(i)].c_str(); };
  // The report path is argument 1, so 61 more fit.
  EXPECT_EQ(
      run_command(command_probe().c_str(), report.c_str(), arg(0), arg(1), arg(2), arg(3), arg(4),
                  arg(5), arg(6), arg(7), arg(8), arg(9), arg(10), arg(11), arg(12), arg(13),
                  arg(14), arg(15), arg(16), arg(17), arg(18), arg(19), arg(20), arg(21), arg(22),
                  arg(23), arg(24), arg(25), arg(26), arg(27), arg(28), arg(29), arg(30), arg(31),
                  arg(32), arg(33), arg(34), arg(35), arg(36), arg(37), arg(38), arg(39), arg(40),
                  arg(41), arg(42), arg(43), arg(44), arg(45), arg(46), arg(47), arg(48), arg(49),
                  arg(50), arg(51), arg(52), arg(53), arg(54), arg(55), arg(56), arg(57), arg(58),
                  arg(59), arg(60), arg(61), arg(62), arg(63), arg(64), nullptr),
      0);
  EXPECT_EQ(read_file(report).substr(0, 8), "argc 63\n");
}

TEST_F(CommandTest, ResultIsTheRawWaitStatus) {
  EXPECT_EQ(run_command("/bin/sh", "-c", "exit 0", nullptr), 0);
  EXPECT_EQ(run_command("/bin/sh", "-c", "exit 3", nullptr), 768);
  EXPECT_EQ(run_command("/nonexistent/tool", nullptr), 256) << "a failed exec exits with 1";
  const int killed = run_command("/bin/sh", "-c", "kill -TERM $$", nullptr);
  EXPECT_TRUE(WIFSIGNALED(killed));
}

TEST_F(CommandTest, FailedForkStillResetsRedirections) {
  // A child process of the test, without root's exemption and with no
  // processes allowed, makes fork fail for real.
  const pid_t tester = fork();
  ASSERT_GE(tester, 0);
  if (tester == 0) {
    if (getuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      if (nobody == nullptr || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
        _exit(10);
      }
    }
    const rlimit none{0, 0};
    if (setrlimit(RLIMIT_NPROC, &none) != 0) _exit(11);
    int ends[2];
    if (pipe(ends) != 0) _exit(12);
    set_child_stdout(ends[1]);
    if (run_command("/bin/true", nullptr) != -1) _exit(13);
    if (!child_fds_are_reset()) _exit(14);
    if (is_open(ends[1])) _exit(15);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(tester, &status, 0), tester);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
