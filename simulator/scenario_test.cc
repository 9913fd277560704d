#include "simulator/scenario.h"
#include "simulator/scenario_text.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

const char* const MINIMAL = "duration 2\nsettings missing\n";

TEST(ScenarioParser, RejectsMalformedScenariosWithTheLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"settings missing\n", "x.scn:0: missing 'duration SECONDS'"},
      {"duration 2\n", "x.scn:0: missing 'settings'"},
      {"duration 2\nsettings\nA=1\n", "x.scn:4: block not closed"},
      {"duration 2\nsettings missing\ninput 0 1\n", "x.scn:3: input levels need a 'needs gpio'"},
      {"duration 2\nsettings missing\nat 1 clock 2024-01-01 09:00:00\n", "x.scn:3: a clock needs"},
      {"needs faketime\nduration 2\nsettings missing\nclock 2024-13-01 09:00:00\n",
       "x.scn:4: expected: clock"},
      {"duration 2\nsettings missing\nat 1 signal FOO\n", "x.scn:3: expected: signal"},
      {"duration 2\nsettings missing\nat x signal TERM\n", "x.scn:3: expected: at SECONDS"},
      {"duration 2\nsettings missing\nexpect count 3..1 lpm\n", "x.scn:3: expected: count"},
      {"duration 2\nsettings missing\nexpect lpm within 2 1\n", "x.scn:3: bad window end"},
      {"duration 2\nsettings missing\nexpect never fds-at-most 3\n",
       "x.scn:3: fds-at-most takes no count"},
      {"duration 2\nsettings missing\nexpect gpio-read 2\n", "x.scn:3: no such input"},
      {"duration 2\nsettings missing\nexpect gpio-read 0 on\n", "x.scn:3: gpio-read takes"},
      {"duration 2\nsettings missing\nexpect status ok\n", "x.scn:3: expected: status [fail]"},
      {"duration 2\nsettings missing\nexpect lpm each cycle\n",
       "x.scn:3: each cycle needs a count"},
      {"duration 2\nsettings missing\nexpect count 1 gpio-read 0 each cycle\n",
       "x.scn:3: level requests mark the cycles"},
      {"duration 2\nsettings missing\nexpect lpm within 1 2 after\n", "x.scn:3: after what?"},
      {"duration 2\nsettings missing\nexpect lpm within 1 2 after wobble\n",
       "x.scn:3: unknown expectation"},
      {"duration 2\nsettings missing\nexpect lpm within 1 2 after status since x\n",
       "x.scn:3: bad since"},
      {"duration 2\nsettings missing\nexpect lpm within -1 2\n", "x.scn:3: bad window start"},
      {"duration 2\nsettings missing\nexpect lpm within 1 2 after 0 status\n",
       "x.scn:3: events are counted from 1"},
      {"duration 2\nsettings missing\nexpect fds-at-most 5 within 0 1 after lpm\n",
       "x.scn:3: samples are not timed after an event"},
      {"duration 2\nsettings missing\nexpect lpm within 0 1 after action probe\n",
       "x.scn:3: expected: action input|clock|status|lpm|signal"},
      {"duration 2\nsettings missing\nexpect action clock\n", "x.scn:3: actions are only anchors"},
      {"duration 2\nsettings missing\nexpect wobble\n", "x.scn:3: unknown expectation"},
      {"duration 2\nsettings missing\nneeds wifi\n", "x.scn:3: unknown need"},
      {"duration 2\nsettings\n  A=\\q\nend\n", "x.scn:3: bad escape"},
      {"duration 2\nsettings missing\nlpm sleep 1 exit 300\n", "x.scn:3: expected: lpm sleep"},
      {"duration 2\nsettings missing\ntool-descriptors sh 0=null\n",
       "x.scn:3: expected: tool-descriptors"},
      {"duration 2\nsettings missing\nclock-speed 10\n", "x.scn:3: clock-speed needs"},
      {"duration 2\nsettings missing\ngpio-holder 2\n", "x.scn:3: expected: gpio-holder"},
      {"needs faketime\nduration 2\nsettings missing\nclock-speed 1\n",
       "x.scn:4: expected: clock-speed"},
      {"needs faketime\nclock-speed 10\nduration 2\nsettings missing\n"
       "at 1 clock 2024-01-01 09:00:00\n",
       "x.scn:5: a clock cannot be set during a run with clock-speed"},
  };
  for (const auto& c : cases) {
    scenario s;
    std::string error;
    EXPECT_FALSE(parse_scenario(c.text, "dir/x.scn", &s, &error)) << c.text;
    EXPECT_EQ(error.find(std::string("dir/") + c.error), 0U) << c.text << " gave " << error;
  }
}

TEST(ScenarioParser, ReadsBlocksStateAndTimeline) {
  const char* text =
      "title Demo\n"
      "needs gpio faketime\n"
      "timezone CET-1\n"
      "duration 5.5\n"
      "clock 2024-03-09 23:59:58 frozen\n"
      "settings crlf\n"
      "  # not a comment inside a block\n"
      "  KEY=\"1\n"
      "end\n"
      "section ports\n"
      "  Binary Input 0: on\n"
      "end\n"
      "input 1 fail EIO\n"
      "status big\n"
      "lpm sleep 1.5 exit 3\n"
      "tool-descriptors lpm none\n"
      "tool-descriptors status 1=pipe 2=null\n"
      "gpio-holder\n"
      "at 3 input 0 1\n"
      "at 1 signal SIGTERM\n";
  scenario s;
  std::string error;
  ASSERT_TRUE(parse_scenario(text, "/a/demo.scn", &s, &error)) << error;
  EXPECT_EQ(s.name, "demo");
  EXPECT_EQ(s.title, "Demo");
  EXPECT_TRUE(s.needs_gpio && s.needs_faketime);
  EXPECT_EQ(s.timezone, "CET-1");
  EXPECT_DOUBLE_EQ(s.duration, 5.5);
  EXPECT_TRUE(s.has_clock && s.clock.frozen);
  EXPECT_EQ(s.clock.local_time, "2024-03-09 23:59:58");
  EXPECT_EQ(s.settings, "# not a comment inside a block\r\nKEY=\"1\r\n");
  ASSERT_EQ(s.section_names.size(), 1U);
  EXPECT_EQ(s.section_texts[0], "Binary Input 0: on\n");
  EXPECT_EQ(s.read_errors[1], 5);
  EXPECT_EQ(s.status_mode, "big");
  EXPECT_DOUBLE_EQ(s.lpm_seconds, 1.5);
  EXPECT_EQ(s.lpm_exit, 3);
  EXPECT_EQ(s.lpm_descriptors, "");
  EXPECT_EQ(s.status_descriptors, "1=pipe 2=null");
  EXPECT_TRUE(s.gpio_holder);
  ASSERT_EQ(s.actions.size(), 2U);
  EXPECT_DOUBLE_EQ(s.actions[0].at, 1);  // sorted by time
  EXPECT_EQ(s.actions[0].change.number, SIGTERM);
  EXPECT_EQ(s.actions[1].change.kind, change_kind::input_level);
  EXPECT_EQ(s.actions[1].change.number, 1);
}

TEST(ScenarioParser, ReadsExpectationForms) {
  std::string text = std::string(MINIMAL) +
                     "expect lpm -b -i 3600 within 1 2.5\n"
                     "expect never lpm within 3 end\n"
                     "expect count 5..10 status within 2 12\n"
                     "expect count 1 gpio-open\n"
                     "expect count 2.. lpm\n"
                     "expect log Router does not go to sleep mode, without rules for wake up.\n"
                     "expect log \"stopped\"\n"
                     "expect fds-at-most 7 within 1 2\n"
                     "expect lpm -b within 6 7.5 after gpio-read 0 1 since 3.4\n"
                     "expect never log within it within 0 end after log within\n"
                     "expect count 1 lpm -i 60 each cycle within 2 end\n"
                     "expect never gpio-read 0 within -4.9 0 after 19 status\n";
  scenario s;
  std::string error;
  ASSERT_TRUE(parse_scenario(text, "x.scn", &s, &error)) << error;
  ASSERT_EQ(s.expectations.size(), 12U);
  const expectation* e = s.expectations.data();
  EXPECT_EQ(e[0].match.arguments, (std::vector<std::string>{"-b", "-i", "3600"}));
  EXPECT_EQ(e[0].min_count, 1);
  EXPECT_EQ(e[0].max_count, -1);
  EXPECT_DOUBLE_EQ(e[0].to, 2.5);
  EXPECT_TRUE(e[1].match.any_arguments);
  EXPECT_EQ(e[1].max_count, 0);
  EXPECT_LT(e[1].to, 0);
  EXPECT_EQ(e[2].min_count, 5);
  EXPECT_EQ(e[2].max_count, 10);
  EXPECT_EQ(e[3].max_count, 1);
  EXPECT_EQ(e[4].max_count, -1);
  EXPECT_EQ(e[5].match.arguments[0],
            "Router does not go to sleep mode, without rules for wake up.");
  EXPECT_EQ(e[6].match.arguments[0], "stopped");
  EXPECT_EQ(e[7].match.what, expect_what::fds_at_most);
  EXPECT_EQ(e[7].match.number, 7);
  EXPECT_FALSE(e[7].anchored);
  EXPECT_EQ(e[8].match.arguments, (std::vector<std::string>{"-b"}));
  EXPECT_TRUE(e[8].anchored);
  EXPECT_DOUBLE_EQ(e[8].from, 6);
  EXPECT_DOUBLE_EQ(e[8].to, 7.5);
  EXPECT_EQ(e[8].after.what, expect_what::gpio_read);
  EXPECT_EQ(e[8].after.number, 0);
  EXPECT_EQ(e[8].after.answer, "1");
  EXPECT_DOUBLE_EQ(e[8].since, 3.4);
  EXPECT_EQ(e[8].after_nth, 1);
  // Only the last "within" opens the window.
  EXPECT_EQ(e[9].match.arguments[0], "within it");
  EXPECT_EQ(e[9].after.arguments[0], "within");
  EXPECT_LT(e[9].to, 0);
  EXPECT_TRUE(e[10].each_cycle);
  EXPECT_FALSE(e[9].each_cycle);
  EXPECT_EQ(e[10].match.arguments, (std::vector<std::string>{"-i", "60"}));
  EXPECT_DOUBLE_EQ(e[11].from, -4.9);
  EXPECT_EQ(e[11].after_nth, 19);
  EXPECT_EQ(e[11].after.what, expect_what::status);
}

TEST(ScenarioParser, ExpandsEscapes) {
  const struct {
    const char* in;
    const char* out;
    bool ok;
  } cases[] = {
      {"A=1\\r", "A=1\r", true},      {"a\\\\b", "a\\b", true},  {"\\x41\\t", "A\t", true},
      {"\\{3:ab}c", "abababc", true}, {"\\{0:x}", "", true},     {"\\x4", "", false},
      {"\\{3ab}", "", false},         {"trailing\\", "", false}, {"\\x00", "", false},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(expand_escapes(c.in, &out), c.ok) << c.in;
    if (c.ok) {
      EXPECT_EQ(out, c.out) << c.in;
    }
  }
}

}  // namespace
