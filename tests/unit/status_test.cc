#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <string>

#include "device/status.h"
#include "test_support.h"

namespace {

std::string scan(const std::string& text, const char* key) {
  char value[STATUS_VALUE_MAX + 1];
  return status_scan(text.c_str(), key, value) ? value : "N/A";
}

}  // namespace

TEST(StatusScan, FindsTheFirstLineThatBeginsWithTheKey) {
  struct row {
    const char* what;
    std::string text;
    const char* key;
    std::string expected;
  };
  const std::string two_inputs = "Binary Input 0: off\nBinary Input 1: on\n";
  const row rows[] = {
      {"numbered key", two_inputs, "Binary Input 1", "on"},
      {"unnumbered key is a prefix of the first line", two_inputs, "Binary Input", "off"},
      {"value that reads N/A", "Binary Input: N/A\n", "Binary Input", "N/A"},
      {"empty value", "Binary Input: \n", "Binary Input", "N/A"},
      {"value at the end of the text without a line feed", "Name: x", "Name", "x"},
      {"blanks and CR stay in the value", "Name:  x \r\n", "Name", " x \r"},
      {"127 characters", "Name: " + std::string(127, 'v') + "\n", "Name", std::string(127, 'v')},
      {"128 characters", "Name: " + std::string(128, 'v') + "\n", "Name", "N/A"},
      {"no separator in the line, one in the next", "Name=x\nOther: y\n", "Name", "N/A"},
      {"separator found later in the same line", "Name:x: y\n", "Name", "y"},
      {"key is case-sensitive", "name: x\n", "Name", "N/A"},
      {"missing key", "Other: y\n", "Name", "N/A"},
      {"later lines are reached", "A: 1\nB: 2\nC: 3", "C", "3"},
      {"empty text", "", "Name", "N/A"},
      {"separator only at the very end", "Name: ", "Name", "N/A"},
  };
  for (const row& r : rows) EXPECT_EQ(scan(r.text, r.key), r.expected) << r.what;
}

namespace {

// A status tool that logs each run, prints the file "output" and fails while
// the file "fail" exists; the cache and its clock belong to the test.
class StatusToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(tool(),
               "#!/bin/sh\n"
               "d=$(dirname \"$0\")\n"
               "echo \"$*\" >> \"$d/runs\"\n"
               "[ -e \"$d/fail\" ] && exit 1\n"
               "cat \"$d/output\"\n",
               true);
    write_file(scratch.file("output"), "Binary Input 0: on\nUptime: 5\n");
    tool_path = tool();
  }
  std::string tool() const { return scratch.file("status"); }
  int runs() const { return count_lines(scratch.file("runs")); }
  std::string get(const char* section, const char* key) {
    return status_get_with(&cache, source(), section, key);
  }
  status_source source() {
    return status_source{tool_path.c_str(),
                         [](void* context) { return *static_cast<int*>(context); }, &now};
  }
  scratch_dir scratch;
  std::string tool_path;
  status_cache_record cache{};
  int now = 1000;  // the cache's clock, in whole seconds
};

}  // namespace

TEST_F(StatusToolTest, CachedOutputServesCallsWithinASecond) {
  for (int i = 0; i < 20; ++i) EXPECT_EQ(get("ports", "Binary Input 0"), "on");
  EXPECT_EQ(get("ports", "Uptime"), "5");
  EXPECT_EQ(runs(), 1);
  EXPECT_EQ(read_file(scratch.file("runs")), "-v ports\n");
}

TEST_F(StatusToolTest, ExpiredOutputIsFetchedAgain) {
  EXPECT_EQ(get("ports", "Uptime"), "5");
  now += 2;
  write_file(scratch.file("output"), "Uptime: 7\n");
  EXPECT_EQ(get("ports", "Uptime"), "7");
  EXPECT_EQ(runs(), 2);
}

TEST_F(StatusToolTest, FreshThroughTheNextSecond) {
  EXPECT_EQ(get("ports", "Uptime"), "5");
  EXPECT_EQ(cache.expires, 1001);
  now = 1001;
  get("ports", "Uptime");
  EXPECT_EQ(runs(), 1) << "expires == now is still fresh";
  now = 1002;
  get("ports", "Uptime");
  EXPECT_EQ(runs(), 2) << "expires < now is stale";
  EXPECT_EQ(cache.expires, 1003) << "the new output expires a second after its fetch";
}

TEST_F(StatusToolTest, StaleOutputIsNoFallback) {
  EXPECT_EQ(get("ports", "Uptime"), "5");
  now += 2;
  write_file(scratch.file("fail"), "");
  EXPECT_EQ(get("ports", "Uptime"), "N/A");
}

TEST_F(StatusToolTest, FailedRunsAreNeverCached) {
  write_file(scratch.file("fail"), "");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(get("ports", "Uptime"), "N/A");
  EXPECT_EQ(runs(), 3);
  std::remove(scratch.file("fail").c_str());
  EXPECT_EQ(get("ports", "Uptime"), "5");
  EXPECT_EQ(runs(), 4);
}

TEST_F(StatusToolTest, FailedRunKeepsTheCachedSection) {
  write_file(scratch.file("output"), "Other: 1\nUptime: 5\n");
  EXPECT_EQ(get("ports", "Uptime"), "5");
  write_file(scratch.file("fail"), "");
  EXPECT_EQ(get("system", "Uptime"), "N/A");
  EXPECT_EQ(get("ports", "Uptime"), "5");
  EXPECT_EQ(runs(), 2);
}

TEST_F(StatusToolTest, SectionsTakeTurnsInTheCache) {
  get("ports", "Uptime");
  get("system", "Uptime");
  get("ports", "Uptime");
  EXPECT_EQ(runs(), 3);
}

TEST_F(StatusToolTest, OverlongSectionNameNeverMatchesTheCache) {
  const std::string section(40, 's');
  get(section.c_str(), "Uptime");
  get(section.c_str(), "Uptime");
  EXPECT_EQ(runs(), 2);
  EXPECT_EQ(std::string(cache.section), section.substr(0, 31));
}

TEST_F(StatusToolTest, OutputLargerThanAPipeIsDrainedAndCut) {
  // 200 KiB would block a tool whose output is read only after it exits.
  std::string big = "Uptime: 5\n" + std::string(4096, 'x') + "\nLate: 1\n";
  big += std::string(200 * 1024, 'y');
  write_file(scratch.file("output"), big);
  EXPECT_EQ(get("ports", "Uptime"), "5");
  EXPECT_EQ(get("ports", "Late"), "N/A") << "only the first 4095 bytes are scanned";
  EXPECT_EQ(strlen(cache.output), static_cast<size_t>(STATUS_OUTPUT_MAX));
}

TEST_F(StatusToolTest, OutputOfExactlyTheBufferIsKept) {
  const std::string line = "Last: 1";
  write_file(scratch.file("output"),
             std::string(STATUS_OUTPUT_MAX - line.size() - 1, 'x') + "\n" + line);
  EXPECT_EQ(get("ports", "Last"), "1");
}

TEST_F(StatusToolTest, BackgroundChildHoldingThePipeDoesNotHang) {
  write_file(tool(),
             "#!/bin/sh\n"
             "d=$(dirname \"$0\")\n"
             "sleep 30 &\n"
             "echo $! > \"$d/background\"\n"
             "echo 'Uptime: 9'\n",
             true);
  const time_t before = time(nullptr);
  EXPECT_EQ(get("ports", "Uptime"), "9");
  EXPECT_LT(time(nullptr) - before, 20);
  const std::string background = read_file(scratch.file("background"));
  if (!background.empty()) kill(std::stoi(background), SIGKILL);
}

TEST_F(StatusToolTest, MissingToolIsNotAvailable) {
  tool_path = "/nonexistent/status";
  EXPECT_EQ(get("ports", "Uptime"), "N/A");
}
