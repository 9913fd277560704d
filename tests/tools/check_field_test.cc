// The checker in the field: what it makes of the router's inputs over a
// scripted run, and who besides root can change the files the daemon trusts.
#include <gtest/gtest.h>

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "analysis/field_view.h"
#include "analysis/root_only.h"
#include "daemon/controller.h"
#include "device/trust_walk.h"

namespace {

// A router whose status output, presence, levels and clock the test sets.
struct scripted_router {
  const char* ports;  // null: the status tool gives no answer
  bool present[BINARY_INPUT_COUNT];
  int level[BINARY_INPUT_COUNT];
  int monotonic;
  int reads;
  int sleeps;
};

scripted_router& router_of(void* context) { return *static_cast<scripted_router*>(context); }
const char* scripted_ports(void* context) { return router_of(context).ports; }
int scripted_present(void* context, int n) { return router_of(context).present[n] ? 1 : 0; }
int scripted_read(void* context, int n) {
  ++router_of(context).reads;
  return router_of(context).level[n];
}
int scripted_monotonic(void* context) { return router_of(context).monotonic; }
bool scripted_gpio(void* /*context*/) { return true; }
int scripted_time_of_day(void* /*context*/) { return 0; }
int scripted_sleep(void* context, const wake_params& /*params*/) {
  return ++router_of(context).sleeps;
}

field_platform platform_for(scripted_router* router) {
  return field_platform{router,        scripted_ports,     scripted_present,
                        scripted_read, scripted_monotonic, scripted_gpio};
}

TEST(CheckField, AMatchHoldsAsTheDaemonCountsIt) {
  sleep_config config{};
  config.sleep_bin_enabled[0] = 1;
  config.sleep_bin_state[0] = 1;
  config.sleep_bin_second[0] = 3;
  struct step {
    int monotonic;
    bool present;
    int level;
    bool matches;
    bool held;
  };
  // One row per look; a hold of 3 s, counted from the first matching look.
  // While the status tool fails the input counts as absent, and the daemon's
  // hold goes on behind its back.
  const step steps[] = {
      {100, true, 0, false, false},  {101, true, 1, true, false},  {103, true, 1, true, false},
      {104, true, 1, true, true},    {105, true, 0, false, false}, {105, true, 1, true, false},
      {106, false, 1, false, false}, {108, true, 1, true, true},
  };
  scripted_router router{"Binary Input 0: on\n", {true, false}, {0, 0}, 100, 0, 0};
  const controller_platform daemon{&router,          scripted_time_of_day, scripted_monotonic,
                                   scripted_present, scripted_read,        scripted_sleep};
  controller_state daemon_state{};
  controller_start(&daemon_state, config, daemon);
  field_view previous{};
  bool first = true;
  for (const step& s : steps) {
    SCOPED_TRACE(s.monotonic);
    router.monotonic = s.monotonic;
    router.present[0] = s.present;
    router.level[0] = s.level;
    field_view view{};
    observe_field(config, platform_for(&router), first ? nullptr : &previous, &view);
    EXPECT_EQ(view.inputs[0].matches, s.matches);
    EXPECT_EQ(view.inputs[0].held, s.held);
    const int sleeps = router.sleeps;
    controller_cycle(&daemon_state, config, daemon);
    EXPECT_EQ(view.inputs[0].held, router.sleeps > sleeps) << "the daemon disagrees";
    previous = view;
    first = false;
  }
}

TEST(CheckField, StatusLinesAboutBinaryInputs) {
  char lines[FIELD_STATUS_SIZE];
  binary_input_lines("WAN: up\nBinary Input 0: on\nLAN: up\nBinary Input 1: off", lines,
                     sizeof lines);
  EXPECT_STREQ(lines, "Binary Input 0: on\nBinary Input 1: off\n");
  binary_input_lines("WAN: up\n", lines, sizeof lines);
  EXPECT_STREQ(lines, "");
  scripted_router silent{nullptr, {false, false}, {0, 0}, 0, 0, 0};
  field_view view{};
  observe_field(sleep_config{}, platform_for(&silent), nullptr, &view);
  EXPECT_FALSE(view.status_answered);
  EXPECT_EQ(silent.reads, 0) << "an absent input was read";
}

TEST(CheckRootOnly, WhoBesidesRootCanChangeAFile) {
  struct row {
    uid_t owner;
    mode_t mode;
    const char* risk;
  };
  const row rows[] = {
      {0, 0755, ""},
      {0, 0644, ""},
      {0, 01755, ""},
      {0, 0775, "writable by its group"},
      {0, 0757, "writable by everyone"},
      {0, 01777, "writable by its group and by everyone"},
      {1000, 0755, "owned by user 1000"},
      {1000, 0666, "owned by user 1000, writable by its group and by everyone"},
  };
  for (const row& r : rows) {
    char risk[WRITE_RISK_SIZE];
    EXPECT_EQ(write_risk(r.owner, r.mode, risk), r.risk[0] != '\0');
    EXPECT_STREQ(risk, r.risk);
  }
}

// The walk's first step: the link's target, the link itself, or the link
// followed; every step after it is a directory, up to "/".
TEST(CheckRootOnly, TheWalkStartsWhereItIsAskedTo) {
  char base[] = "/tmp/dormix-walk-XXXXXX";
  ASSERT_NE(mkdtemp(base), nullptr);
  char resolved_base[PATH_MAX];
  ASSERT_NE(realpath(base, resolved_base), nullptr);
  const std::string target = std::string(resolved_base) + "/target";
  const std::string link = std::string(resolved_base) + "/link";
  FILE* file = fopen(target.c_str(), "w");
  ASSERT_NE(file, nullptr);
  fclose(file);
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  struct row {
    walk_start start;
    const std::string& first;
    bool first_is_link;
  };
  const row rows[] = {{walk_start::resolved, target, false},
                      {walk_start::link_itself, link, true},
                      {walk_start::followed, link, false}};
  for (const row& r : rows) {
    std::vector<std::pair<std::string, bool>> steps;
    walk_to_root(
        link.c_str(), r.start,
        [](const walk_step& step, void* context) {
          static_cast<std::vector<std::pair<std::string, bool>>*>(context)->emplace_back(
              step.path, step.is_link);
        },
        &steps);
    ASSERT_GE(steps.size(), 3U);
    EXPECT_EQ(steps.front(), std::make_pair(r.first, r.first_is_link));
    EXPECT_EQ(steps[1].first, resolved_base);
    EXPECT_EQ(steps.back().first, "/");
  }
  unlink(link.c_str());
  unlink(target.c_str());
  rmdir(base);
}

TEST(CheckRootOnly, TheFileAndEveryDirectoryAboveIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to own the files as root";
  char base[] = "/tmp/dormix-root-only-XXXXXX";
  ASSERT_NE(mkdtemp(base), nullptr);
  const std::string open_dir = std::string(base) + "/open";
  const std::string tool = open_dir + "/lpm";
  ASSERT_EQ(chmod(base, 0755), 0);
  ASSERT_EQ(mkdir(open_dir.c_str(), 0755), 0);
  ASSERT_EQ(chmod(open_dir.c_str(), 0777), 0);
  FILE* file = fopen(tool.c_str(), "w");
  ASSERT_NE(file, nullptr);
  fclose(file);
  ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
  ASSERT_EQ(chown(tool.c_str(), 1000, 0), 0);

  static check_findings findings;
  findings = check_findings{};
  check_root_only(tool.c_str(), "the low-power tool", "have root run their commands", walk_to_root,
                  &findings);
  std::string all;
  for (int i = 0; i < findings.warning_count; ++i)
    all += std::string(findings.warnings[i].text) + "\n";
  EXPECT_NE(all.find(tool + " (the low-power tool) is owned by user 1000 (mode 0755)"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find(open_dir + ", a directory above " + tool +
                     " (the low-power tool), is writable by its group and by everyone (mode 0777)"),
            std::string::npos)
      << all;
  EXPECT_EQ(all.find(std::string(base) + ", a directory"), std::string::npos) << all;

  // A missing file: its directories, where it could be created, still count.
  findings = check_findings{};
  const std::string missing = open_dir + "/status";
  EXPECT_GE(check_root_only(missing.c_str(), "the status tool", "x", walk_to_root, &findings), 1);
  EXPECT_NE(std::string(findings.warnings[0].text).find(open_dir + ", a directory above"),
            std::string::npos);

  unlink(tool.c_str());
  rmdir(open_dir.c_str());
  rmdir(base);
}

}  // namespace
