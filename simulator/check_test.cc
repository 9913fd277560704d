#include "simulator/check.h"

#include <gtest/gtest.h>

namespace {

scenario parsed(const std::string& expectations) {
  scenario s;
  std::string error;
  EXPECT_TRUE(parse_scenario("duration 9\nsettings missing\n" + expectations, "t.scn", &s, &error))
      << error;
  return s;
}

sim_event event(double t, event_kind kind, const std::string& text, const std::string& detail = "",
                long number = 0, long pid = 7) {
  return sim_event{t, kind, text, detail, number, pid};
}

run_record sample_run() {
  run_record r;
  r.daemon_pid = 7;
  r.end = 9;
  r.events = {
      event(0.01, event_kind::log, "started", "dormix 29"),
      event(0.02, event_kind::status_run, "-v ports", "0=null 1=pipe 2=null"),
      event(0.03, event_kind::gpio_open, "read-write"),
      event(0.04, event_kind::gpio_read, "input 0", "0", 0),
      event(1.0, event_kind::action, "wall clock set to 2024-05-01 08:59:58", "clock"),
      event(1.2, event_kind::gpio_read, "input 0", "1", 0),
      event(2.2, event_kind::gpio_read, "input 0", "1", 0),
      event(2.5, event_kind::status_run, "-v ports", "0=null 1=pipe 2=null", 1),
      event(2.7, event_kind::gpio_read, "input 0", "1", 0),
      event(3.2, event_kind::lpm_start, "-b -i 3600", "0=null 1=null 2=null"),
      event(5.2, event_kind::lpm_end, "0"),
      event(5.3, event_kind::lpm_start, "-b -i 3600", "0=null 1=null 2=null"),
      event(7.9, event_kind::action, "SIGTERM sent to the daemon", "signal"),
      event(8.0, event_kind::log, "stopped", "dormix 29"),
      event(8.0, event_kind::daemon_exit, "exit status 0", "", 0),
  };
  r.samples = {{1, 5, 0}, {2, 6, 0}, {3, 5, 1}};
  return r;
}

TEST(Expectations, JudgeCountsWindowsAndArguments) {
  const struct {
    const char* line;
    bool held;
  } cases[] = {
      {"expect lpm -b -i 3600 within 3 4", true},
      {"expect lpm -b -i 3600 within 3.3 5.2", false},
      {"expect lpm -b within 0 end", false},  // arguments must match exactly
      {"expect count 2 lpm", true},
      {"expect count 3.. lpm", false},
      {"expect count 1..1 lpm within 5 end", true},
      {"expect never lpm within 0 3.1", true},
      {"expect never lpm", false},
      {"expect log started within 0 0.5", true},
      {"expect log stopped within 0 7", false},
      {"expect count 2 status", true},
      {"expect count 1 status fail within 2.5 2.5", true},
      {"expect never status fail within 0 2.4", true},
      {"expect count 1 gpio-open", true},
      {"expect exit 0", true},
      {"expect exit 1", false},
      {"expect fds-at-most 6", true},
      {"expect fds-at-most 5", false},
      {"expect fds-at-most 5 within 2.5 end", true},
      {"expect no-zombies within 0 2", true},
      {"expect no-zombies", false},
      {"expect no-zombies within 4 end", false},  // no samples there
      {"expect gpio-read 0 1 within 0 1.2", true},
      {"expect gpio-read 0 1 within 0 1.1", false},  // only level 0 was read by then
      // Timed from the first read that saw level 1 (1.2 s), or from the first
      // at or after "since".
      {"expect lpm -b -i 3600 within 1.9 2.1 after gpio-read 0 1", true},
      {"expect lpm -b -i 3600 within 2.1 3 after gpio-read 0 1", false},
      {"expect never lpm within 0 1.9 after gpio-read 0 1", true},
      {"expect lpm -b -i 3600 within 0.9 1.1 after gpio-read 0 1 since 2", true},
      {"expect lpm -b -i 3600 within 1.9 2.1 after gpio-read 0 1 since 2", false},
      {"expect count 1 lpm within 0 2 after lpm", true},
      {"expect lpm within 0.6 0.8 after status fail", true},
      {"expect lpm within 0 0.6 after status fail", false},
      {"expect count 2 lpm within 0 end after gpio-read 0", true},
      {"expect never lpm within 0 end after gpio-read 1", false},  // never read
      // From the Nth match (the third read at 2.2 s), and before it.
      {"expect lpm -b -i 3600 within 0.9 1.1 after 3 gpio-read 0", true},
      {"expect lpm -b -i 3600 within 0.9 1.1 after 2 gpio-read 0", false},
      {"expect lpm within 0 end after 5 gpio-read 0", false},  // only four
      {"expect lpm within 0 0.6 after 2 gpio-read 0 1 since 2", true},
      {"expect count 1 lpm within 0 end after 2 lpm", true},
      {"expect count 1 gpio-read 0 within -0.4 0 after status fail", true},
      {"expect never gpio-read 0 within -0.2 0 after status fail", true},
      {"expect count 2 lpm within -3 0 after 2 lpm", true},  // the anchor included
      // The reads of input 0 at 0.04, 1.2, 2.2 and 2.7 s mark three cycles.
      {"expect count 0 lpm each cycle within 0 2.5", true},
      {"expect count 0..1 status each cycle", true},
      {"expect count 1 status each cycle", false},
      {"expect count 0 status each cycle within 1 end", false},         // the run at 2.5 s
      {"expect count 1 lpm each cycle within 0 end after lpm", false},  // no reads after it
      // Timed from the scenario's actions: the clock set at 1.0 s, the signal at 7.9 s.
      {"expect lpm -b -i 3600 within 0 2.2 after action clock", true},
      {"expect lpm -b -i 3600 within 0 2.1 after action clock", false},
      {"expect log stopped within 0 0.1 after action signal", true},
      {"expect exit 0 within 0 0.05 after action signal", false},
      {"expect lpm within 0 end after action clock since 1.1", false},  // set only before
      {"expect lpm within 0 end after action input", false},            // no input changed
  };
  for (const auto& c : cases) {
    std::vector<verdict> verdicts =
        check_expectations(parsed(std::string(c.line) + "\n"), sample_run());
    ASSERT_EQ(verdicts.size(), 1U);
    EXPECT_EQ(verdicts[0].held, c.held) << c.line << ": " << verdicts[0].finding;
  }
}

TEST(Invariants, CatchForeignLogsAndLeakedDescriptors) {
  EXPECT_TRUE(check_invariants(sample_run())[0].held);
  EXPECT_TRUE(check_invariants(sample_run())[1].held);

  run_record wrong_pid = sample_run();
  wrong_pid.events[13].pid = 8;
  EXPECT_FALSE(check_invariants(wrong_pid)[0].held);

  run_record wrong_priority = sample_run();
  wrong_priority.events[0].detail = "dormix 27";
  EXPECT_FALSE(check_invariants(wrong_priority)[0].held);

  run_record leaked = sample_run();
  leaked.events[9].detail = "0=null 1=null 2=null 3=socket";
  EXPECT_FALSE(check_invariants(leaked)[1].held);

  run_record status_on_null = sample_run();
  status_on_null.events[1].detail = "0=null 1=null 2=null";
  status_on_null.events[7].detail = "0=null 1=null 2=null";
  EXPECT_FALSE(check_invariants(status_on_null)[1].held);

  // A scenario that says what the tools get replaces the usual lists.
  EXPECT_TRUE(
      check_invariants(status_on_null, "0=null 1=null 2=null", "0=null 1=null 2=null")[1].held);
  EXPECT_FALSE(check_invariants(sample_run(), "", "1=pipe")[1].held);
}

TEST(Syslog, SplitsGlibcDatagrams) {
  int priority = 0;
  long pid = 0;
  std::string ident, message;
  ASSERT_TRUE(
      parse_syslog("<29>Mar  9 23:59:58 dormix[12]: started", &priority, &ident, &pid, &message));
  EXPECT_EQ(priority, 29);
  EXPECT_EQ(ident, "dormix");
  EXPECT_EQ(pid, 12);
  EXPECT_EQ(message, "started");
  ASSERT_TRUE(parse_syslog("<13>Mar 10 01:02:03 tool: a: b", &priority, &ident, &pid, &message));
  EXPECT_EQ(ident, "tool");
  EXPECT_EQ(pid, -1);
  EXPECT_EQ(message, "a: b");
  EXPECT_FALSE(parse_syslog("no priority", &priority, &ident, &pid, &message));
}

}  // namespace
