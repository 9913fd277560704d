#include <gtest/gtest.h>

#include <vector>

#include "daemon/controller.h"

namespace {

// A scripted router: the tests set the clocks and levels, the controller's
// calls are counted and its sleep requests recorded.
struct scripted_router {
  int time_of_day = 0;
  int monotonic = 1000;
  // Added to the monotonic clock after each read: the second read in a cycle
  // may land in the next second.
  std::vector<int> monotonic_steps;
  int present_mask = 0;  // bit n set: input n exists
  int levels[2] = {0, 0};
  int level_reads[2] = {0, 0};
  int presence_queries = 0;
  int sleeps = 0;
  std::vector<int64_t> last_wake;  // the six wake-up values of the last sleep
};

scripted_router& router_of(void* context) { return *static_cast<scripted_router*>(context); }

int scripted_seconds_of_day(void* context) { return router_of(context).time_of_day; }
int scripted_monotonic_seconds(void* context) {
  scripted_router& router = router_of(context);
  const int now = router.monotonic;
  if (!router.monotonic_steps.empty()) {
    router.monotonic += router.monotonic_steps.front();
    router.monotonic_steps.erase(router.monotonic_steps.begin());
  }
  return now;
}
int scripted_present(void* context, int n) {
  scripted_router& router = router_of(context);
  ++router.presence_queries;
  return (router.present_mask >> n) & 1;
}
int scripted_read(void* context, int n) {
  scripted_router& router = router_of(context);
  ++router.level_reads[n];
  return router.levels[n];
}
int recorded_sleep(void* context, const wake_params& params) {
  scripted_router& router = router_of(context);
  ++router.sleeps;
  router.last_wake = {params.wake_bin,          params.wake_delay_enabled, params.wake_delay_second,
                      params.wake_time_enabled, params.wake_hour,          params.wake_minute};
  return 0;
}

controller_platform scripted(scripted_router* router) {
  return controller_platform{router,           scripted_seconds_of_day, scripted_monotonic_seconds,
                             scripted_present, scripted_read,           recorded_sleep};
}

constexpr int at(int hour, int minute, int second = 0) {
  return hour * 3600 + minute * 60 + second;
}

class ControllerTest : public ::testing::Test {
 protected:
  void start() { controller_start(&state, config, scripted(&router)); }

  // Runs one cycle and tells whether it asked for sleep (how many times).
  int cycle() {
    const int before = router.sleeps;
    controller_cycle(&state, config, scripted(&router));
    return router.sleeps - before;
  }

  scripted_router router{};
  sleep_config config{};
  controller_state state{};
};

}  // namespace

TEST_F(ControllerTest, SleepTimeOfDayArithmeticWrapsLikeUnsigned) {
  EXPECT_EQ(sleep_time_of_day(9, 0), at(9, 0));
  EXPECT_EQ(sleep_time_of_day(25, 0), 90000);
  EXPECT_EQ(sleep_time_of_day(0, 4294967295U), -60);
  EXPECT_EQ(sleep_time_of_day(1193047, 0), 1904);  // wraps back into the day
  EXPECT_EQ(sleep_time_of_day(596524, 0), -2147480896);
  EXPECT_EQ(elapsed_seconds(INT32_MIN, INT32_MAX), 1);
  EXPECT_EQ(elapsed_seconds(5, -1), 6);
}

TEST_F(ControllerTest, TimeOfDayRuleArming) {
  struct row {
    const char* what;
    uint32_t hour, minute;
    int started_at;
    std::vector<int> cycles;    // time of day seen by each cycle
    std::vector<int> expected;  // sleeps requested by each cycle
  };
  const row rows[] = {
      {"started before the sleep time fires once",
       9,
       0,
       at(8, 0),
       {at(8, 59, 59), at(9, 0), at(9, 0), at(10, 0)},
       {0, 1, 0, 0}},
      {"started after the sleep time waits for midnight",
       9,
       0,
       at(10, 0),
       {at(10, 0), at(23, 59, 59), at(0, 0), at(8, 59), at(9, 0, 1), at(9, 0, 2)},
       {0, 0, 0, 0, 1, 0}},
      {"started at exactly the sleep time waits a day",
       9,
       0,
       at(9, 0),
       {at(9, 0), at(9, 0, 1)},
       {0, 0}},
      {"sleep time 00:00 fires after the wrap",
       0,
       0,
       at(12, 0),
       {at(12, 0), at(23, 59, 59), at(0, 0), at(0, 0, 1)},
       {0, 0, 1, 0}},
      {"clock set back after firing re-arms at once",
       9,
       0,
       at(8, 0),
       {at(9, 0), at(9, 30), at(9, 10), at(9, 20)},
       {1, 0, 1, 0}},
      {"clock set back to before the sleep time re-arms for later",
       9,
       0,
       at(8, 0),
       {at(9, 0), at(8, 0), at(9, 0)},
       {1, 0, 1}},
      {"hour 25 never fires",
       25,
       0,
       at(8, 0),
       {at(12, 0), at(23, 59, 59), at(0, 0), at(23, 0)},
       {0, 0, 0, 0}},
      {"wrapped negative sleep time fires whenever armed",
       0,
       4294967295U,
       at(8, 0),
       {at(8, 0), at(9, 0), at(0, 0), at(0, 0, 1)},
       {0, 0, 1, 0}},
  };
  for (const row& r : rows) {
    SetUp();
    config = sleep_config{};
    state = controller_state{};
    config.sleep_time_enabled = 1;
    config.sleep_time_hour = r.hour;
    config.sleep_time_minute = r.minute;
    router.time_of_day = r.started_at;
    start();
    for (size_t i = 0; i < r.cycles.size(); ++i) {
      router.time_of_day = r.cycles[i];
      EXPECT_EQ(cycle(), r.expected[i]) << r.what << ", cycle " << i;
    }
  }
}

TEST_F(ControllerTest, DisabledTimeOfDayRuleNeverFires) {
  config.sleep_time_hour = 9;
  router.time_of_day = at(8, 0);
  start();
  for (int tod : {at(9, 0), at(0, 0), at(9, 0)}) {
    router.time_of_day = tod;
    EXPECT_EQ(cycle(), 0);
  }
}

TEST_F(ControllerTest, SleepGetsTheWakeUpSettingsInOrder) {
  config.sleep_delay_enabled = 1;
  config.wakeup_bin_enabled = 2;
  config.wakeup_delay_enabled = 3;
  config.wakeup_delay_second = 4000000000U;
  config.wakeup_time_enabled = 5;
  config.wakeup_time_hour = 6;
  config.wakeup_time_minute = 7;
  start();
  router.monotonic += 1;
  ASSERT_EQ(cycle(), 1);
  EXPECT_EQ(router.last_wake, (std::vector<int64_t>{2, 3, 4000000000LL, 5, 6, 7}));
}

TEST_F(ControllerTest, DelayRule) {
  struct row {
    const char* what;
    uint32_t delay;
    std::vector<int> elapsed;  // seconds since start seen by each cycle
    std::vector<int> expected;
  };
  const row rows[] = {
      {"fires once the delay has strictly passed, then every cycle",
       5,
       {0, 4, 5, 6, 7},
       {0, 0, 0, 1, 1}},
      {"zero delay fires at the next whole second", 0, {0, 0, 1, 1}, {0, 0, 1, 1}},
      {"delay negative as signed fires at once", 2147483648U, {0, 0}, {1, 1}},
      {"largest positive delay waits", 2147483647U, {0, 100000}, {0, 0}},
  };
  for (const row& r : rows) {
    SetUp();
    config = sleep_config{};
    state = controller_state{};
    config.sleep_delay_enabled = 1;
    config.sleep_delay_second = r.delay;
    start();
    const int start_mono = router.monotonic;
    for (size_t i = 0; i < r.elapsed.size(); ++i) {
      router.monotonic = start_mono + r.elapsed[i];
      EXPECT_EQ(cycle(), r.expected[i]) << r.what << ", cycle " << i;
    }
  }
}

TEST_F(ControllerTest, DelayRuleAcrossTheCounterWrap) {
  config.sleep_delay_enabled = 1;
  config.sleep_delay_second = 10;
  router.monotonic = INT32_MAX - 5;
  start();
  router.monotonic = INT32_MIN + 3;  // 9 s later
  EXPECT_EQ(cycle(), 0);
  router.monotonic = INT32_MIN + 5;  // 11 s later
  EXPECT_EQ(cycle(), 1);
}

TEST_F(ControllerTest, SeveralRulesFireInOneCycle) {
  config.sleep_time_enabled = 1;
  config.sleep_time_hour = 9;
  config.sleep_delay_enabled = 1;
  router.time_of_day = at(8, 0);
  start();
  router.time_of_day = at(9, 0);
  router.monotonic += 1;
  EXPECT_EQ(cycle(), 2);
}

TEST_F(ControllerTest, NothingEnabledTouchesNoInput) {
  start();
  router.monotonic += 100;
  EXPECT_EQ(cycle(), 0);
  EXPECT_EQ(router.level_reads[0] + router.level_reads[1], 0);
}

namespace {

class InputRuleTest : public ControllerTest {
 protected:
  void configure(int n, uint32_t level, uint32_t hold_seconds) {
    config.sleep_bin_enabled[n] = 1;
    config.sleep_bin_state[n] = level;
    config.sleep_bin_second[n] = hold_seconds;
  }
  // Cycles once per whole second from the present monotonic second on, with
  // the level of input 0 taken from levels; returns the sleeps per cycle.
  std::vector<int> run_seconds(const std::vector<int>& levels) {
    std::vector<int> sleeps;
    for (int level : levels) {
      router.levels[0] = level;
      sleeps.push_back(cycle());
      router.monotonic += 1;
    }
    return sleeps;
  }
};

}  // namespace

TEST_F(InputRuleTest, HoldMustLastAFullStretch) {
  router.present_mask = 1;
  configure(0, 1, 3);
  start();
  EXPECT_EQ(run_seconds({1, 1, 1, 1, 1, 1}), (std::vector<int>{0, 0, 0, 1, 1, 1}));
  // Losing the level for one cycle starts the count again.
  EXPECT_EQ(run_seconds({0, 1, 1, 0, 1, 1, 1, 1}), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 1}));
}

TEST_F(InputRuleTest, TypicalEventFiresAfterTenSeconds) {
  router.present_mask = 1;
  configure(0, 1, 10);
  start();
  std::vector<int> levels(12, 1);
  const std::vector<int> sleeps = run_seconds(levels);
  EXPECT_EQ(std::vector<int>(sleeps.begin(), sleeps.begin() + 10), std::vector<int>(10, 0));
  EXPECT_EQ(sleeps[10], 1);
  EXPECT_EQ(sleeps[11], 1);
}

TEST_F(InputRuleTest, HoldOfZeroMeansOneSecond) {
  router.present_mask = 1;
  configure(0, 1, 0);
  start();
  EXPECT_EQ(state.triggers[0].hold, 1);
  router.levels[0] = 1;
  EXPECT_EQ(cycle(), 0);
  router.monotonic += 1;
  EXPECT_EQ(cycle(), 1);
}

TEST_F(InputRuleTest, SecondClockReadDecidesOnTheFirstEvaluation) {
  router.present_mask = 1;
  configure(0, 1, 0);
  start();
  router.levels[0] = 1;
  router.monotonic_steps = {1};  // the second changes between the two reads
  EXPECT_EQ(cycle(), 1);
}

TEST_F(InputRuleTest, NegativeHoldFiresAtOnce) {
  router.present_mask = 1;
  configure(0, 0, 2147483648U);
  start();
  EXPECT_EQ(run_seconds({0, 0, 1, 0}), (std::vector<int>{1, 1, 0, 1}));
}

TEST_F(InputRuleTest, InputOneOnlyBehindInputZero) {
  router.present_mask = 2;  // input 1 without input 0
  configure(0, 1, 1);
  configure(1, 1, 1);
  start();
  router.levels[1] = 1;
  router.monotonic += 5;
  router.presence_queries = 0;
  EXPECT_EQ(cycle(), 0);
  EXPECT_EQ(router.presence_queries, 1);
  EXPECT_EQ(router.level_reads[1], 0);
}

TEST_F(InputRuleTest, BothInputsFireSeparately) {
  router.present_mask = 3;
  configure(0, 1, 2);
  configure(1, 0, 1);
  start();
  router.levels[0] = 1;
  router.levels[1] = 0;
  EXPECT_EQ(cycle(), 0);
  router.monotonic += 1;
  EXPECT_EQ(cycle(), 1);
  router.monotonic += 1;
  EXPECT_EQ(cycle(), 2);
}

TEST_F(InputRuleTest, DisabledInputIsNeverRead) {
  router.present_mask = 3;
  configure(0, 0, 1);
  config.sleep_bin_enabled[0] = 0;
  start();
  router.monotonic += 10;
  EXPECT_EQ(cycle(), 0);
  EXPECT_EQ(router.level_reads[0], 0);
  EXPECT_FALSE(state.triggers[0].active);
}

TEST_F(InputRuleTest, InputAppearingAfterStartStaysOff) {
  // Input 1's settings were read, but it was absent when the triggers were set up.
  router.present_mask = 1;
  configure(0, 1, 100);
  configure(1, 1, 5);
  start();
  router.present_mask = 3;
  router.levels[1] = 1;
  router.monotonic += 50;
  EXPECT_EQ(cycle(), 0);
  router.monotonic += 50;
  EXPECT_EQ(cycle(), 0);
  EXPECT_EQ(router.level_reads[1], 0);
}
