// Fuzz target: the controller's rules against properties stated apart from
// its code. The input becomes a settings record, the world at start and a
// sequence of cycles (time of day, monotonic second with repeats, jumps and
// wraps, presence and level of each input), run through controller_start and
// controller_cycle on a scripted platform.
//
// The platform tells which rule asked for sleep from the order of the
// controller's calls within a cycle: the time rule reads the time of day,
// the delay rule the monotonic clock, each input rule its presence (and
// level and clock) before it enters sleep, in this order, input 0 before 1.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "daemon/controller.h"

namespace {

constexpr uint32_t SECONDS_PER_DAY = 86400;
constexpr size_t MAX_CYCLES = 400;

void expect(bool holds, const char* what) {
  if (holds) return;
  fprintf(stderr, "controller_fuzz: %s\n", what);
  abort();
}

// Reads the input front to back; an exhausted input reads as zeros.
struct byte_reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;

  bool empty() const { return at >= size; }
  uint8_t byte() { return at < size ? data[at++] : 0; }
  uint32_t word() {
    uint32_t value = 0;
    for (int k = 0; k < 4; ++k) value = value << 8U | byte();
    return value;
  }
  // Mostly small numbers; 0xff announces a full 32-bit one.
  uint32_t small_or_wide() {
    const uint8_t first = byte();
    return first == 0xff ? word() : first;
  }
};

// What the world looks like on one cycle.
struct cycle_script {
  int time_of_day;
  int32_t monotonic;
  bool present[BINARY_INPUT_COUNT];
  int level[BINARY_INPUT_COUNT];
};

enum class rule { none, time, delay, input0, input1 };

// A sleep request as the platform saw it: in which cycle, after which calls.
struct firing {
  size_t cycle;
  rule by;
  wake_params params;
};

// The scripted router: answers from the script, follows the order of calls
// and records every sleep request.
struct scripted_world {
  const cycle_script* now = nullptr;  // null while starting
  cycle_script at_start{};
  size_t cycle = 0;
  rule phase = rule::none;
  std::vector<firing> firings;
};

scripted_world& world_of(void* context) { return *static_cast<scripted_world*>(context); }

const cycle_script& current(const scripted_world& world) {
  return world.now != nullptr ? *world.now : world.at_start;
}

int scripted_seconds_of_day(void* context) {
  scripted_world& world = world_of(context);
  world.phase = rule::time;
  return current(world).time_of_day;
}

int scripted_monotonic(void* context) {
  scripted_world& world = world_of(context);
  if (world.phase == rule::none || world.phase == rule::time) world.phase = rule::delay;
  return current(world).monotonic;
}

int scripted_present(void* context, int n) {
  scripted_world& world = world_of(context);
  expect(n >= 0 && n < BINARY_INPUT_COUNT, "presence asked for an input that cannot exist");
  world.phase = n == 0 ? rule::input0 : rule::input1;
  return current(world).present[n] ? 1 : 0;
}

int scripted_read(void* context, int n) {
  scripted_world& world = world_of(context);
  expect(world.now != nullptr, "a level was read while starting");
  expect(world.phase == (n == 0 ? rule::input0 : rule::input1),
         "a level was read without asking for the input's presence first");
  return current(world).level[n];
}

int scripted_enter_sleep(void* context, const wake_params& params) {
  scripted_world& world = world_of(context);
  expect(world.now != nullptr, "sleep was entered while starting");
  expect(world.phase != rule::none, "sleep was entered before any rule looked at the world");
  for (const firing& earlier : world.firings) {
    expect(earlier.cycle != world.cycle || earlier.by != world.phase,
           "one rule asked for sleep twice in a cycle");
  }
  world.firings.push_back(firing{world.cycle, world.phase, params});
  return 0;
}

int32_t signed_difference(int32_t later, int32_t earlier) {
  return static_cast<int32_t>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
}

sleep_config read_config(byte_reader* in) {
  sleep_config config{};
  const uint8_t flags = in->byte();
  config.enabled = 1;
  config.sleep_time_enabled = flags & 1U;
  config.sleep_delay_enabled = (flags >> 1U) & 1U;
  config.sleep_bin_enabled[0] = (flags >> 2U) & 1U;
  config.sleep_bin_enabled[1] = (flags >> 3U) & 1U;
  config.wakeup_bin_enabled = (flags >> 4U) & 1U;
  config.wakeup_delay_enabled = (flags >> 5U) & 1U;
  config.wakeup_time_enabled = (flags >> 6U) & 1U;
  // Mostly a time within the day; the top flag lets any value through.
  const bool any_time = (flags >> 7U) != 0;
  config.sleep_time_hour = in->small_or_wide() % (any_time ? UINT32_MAX : 24U);
  config.sleep_time_minute = in->small_or_wide() % (any_time ? UINT32_MAX : 60U);
  config.sleep_delay_second = in->small_or_wide();
  for (int n = 0; n < BINARY_INPUT_COUNT; ++n) {
    config.sleep_bin_state[n] = in->small_or_wide();
    config.sleep_bin_second[n] = in->small_or_wide();
  }
  config.wakeup_delay_second = in->word();
  config.wakeup_time_hour = in->small_or_wide();
  config.wakeup_time_minute = in->small_or_wide();
  return config;
}

// A second of the day, the leap second included.
int read_time_of_day(byte_reader* in) {
  uint32_t value = 0;
  for (int k = 0; k < 3; ++k) value = value << 8U | in->byte();
  return static_cast<int>(value % (SECONDS_PER_DAY + 1U));
}

// Each cycle takes two bytes (and a few more for jumps): presence, levels and
// how the monotonic clock moves; then how the wall clock moves.
cycle_script next_cycle(const cycle_script& before, byte_reader* in) {
  cycle_script next = before;
  const uint8_t world = in->byte();
  const uint8_t clocks = in->byte();
  next.present[0] = (world & 1U) != 0;
  next.present[1] = (world & 2U) != 0;
  next.level[0] = static_cast<int>((world >> 2U) & 3U);
  next.level[1] = static_cast<int>((world >> 4U) & 3U);
  uint32_t step = 0;
  switch ((world >> 6U) & 3U) {
    case 0:
      break;  // the same second again
    case 1:
      step = 1;
      break;
    case 2:
      step = in->byte();
      break;
    default:
      step = in->word();
      break;  // any jump, wrapping included
  }
  next.monotonic = static_cast<int32_t>(static_cast<uint32_t>(before.monotonic) + step);
  switch (clocks & 3U) {
    case 0:
    case 1: {  // the wall clock follows, past midnight to 0
      const uint32_t seconds = (static_cast<uint32_t>(before.time_of_day) + step) % SECONDS_PER_DAY;
      next.time_of_day =
          before.time_of_day >= 0 && static_cast<uint32_t>(before.time_of_day) < SECONDS_PER_DAY
              ? static_cast<int>(seconds)
              : before.time_of_day;
      break;
    }
    case 2:  // the clock is set
      next.time_of_day = read_time_of_day(in);
      break;
    default:
      next.time_of_day = static_cast<int>(in->word());
      break;
  }
  if ((clocks & 4U) != 0) next.level[0] = static_cast<int>(in->small_or_wide());
  if ((clocks & 8U) != 0) next.level[1] = static_cast<int>(in->small_or_wide());
  return next;
}

// The properties, checked after each cycle against what the platform saw.
struct property_checker {
  const sleep_config& config;
  int32_t start_monotonic;
  int32_t sleep_time;  // seconds of the day, hour * 3600 + minute * 60 as 32 bits
  bool configured[BINARY_INPUT_COUNT];
  bool time_fired_since_decrease = false;
  int previous_time_of_day = 0;
  // Monotonic readings of the cycles on which each input has matched since
  // it last looked and did not match.
  std::vector<int32_t> stretch[BINARY_INPUT_COUNT];

  bool fired(const std::vector<firing>& firings, size_t cycle, rule by) const {
    for (const firing& f : firings) {
      if (f.cycle == cycle && f.by == by) return true;
    }
    return false;
  }

  void check_time_rule(const cycle_script& now, size_t cycle, bool fired_now) {
    if (cycle > 0 && now.time_of_day < previous_time_of_day) time_fired_since_decrease = false;
    previous_time_of_day = now.time_of_day;
    if (!fired_now) return;
    expect(config.sleep_time_enabled != 0, "the time rule fired while disabled");
    expect(now.time_of_day >= sleep_time, "the time rule fired before the sleep time");
    expect(!time_fired_since_decrease,
           "the time rule fired twice without the time of day going back between");
    time_fired_since_decrease = true;
  }

  void check_delay_rule(const cycle_script& now, bool fired_now) const {
    const bool due =
        config.sleep_delay_enabled != 0 && signed_difference(now.monotonic, start_monotonic) >
                                               static_cast<int32_t>(config.sleep_delay_second);
    expect(fired_now == due, fired_now ? "the delay rule fired before the delay had passed"
                                       : "the delay rule did not fire after the delay");
  }

  void check_input_rule(const cycle_script& now, int n, bool looked_at, bool fired_now) {
    const int32_t hold =
        config.sleep_bin_second[n] == 0 ? 1 : static_cast<int32_t>(config.sleep_bin_second[n]);
    if (looked_at) {
      const bool matches = configured[n] && config.sleep_bin_enabled[n] != 0 &&
                           static_cast<uint32_t>(now.level[n]) == config.sleep_bin_state[n];
      if (matches) {
        stretch[n].push_back(now.monotonic);
      } else {
        stretch[n].clear();
      }
    }
    if (!fired_now) return;
    expect(looked_at, "an input rule fired on a cycle that did not look at its input");
    expect(!stretch[n].empty(), "an input rule fired without its level");
    bool held_long_enough = false;
    for (int32_t reading : stretch[n]) {
      held_long_enough = held_long_enough || signed_difference(now.monotonic, reading) >= hold;
    }
    expect(held_long_enough, "an input rule fired before its level had held for the hold");
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  byte_reader in{data, size};
  const sleep_config config = read_config(&in);
  scripted_world world;
  const uint8_t present_at_start = in.byte();
  world.at_start.present[0] = (present_at_start & 1U) != 0;
  world.at_start.present[1] = (present_at_start & 2U) != 0;
  world.at_start.time_of_day = read_time_of_day(&in);
  world.at_start.monotonic = static_cast<int32_t>(in.word());

  const controller_platform platform{
      &world,           scripted_seconds_of_day, scripted_monotonic,
      scripted_present, scripted_read,           scripted_enter_sleep};
  controller_state state{};
  controller_start(&state, config, platform);

  property_checker checker{
      config,
      world.at_start.monotonic,
      static_cast<int32_t>(config.sleep_time_hour * 3600U + config.sleep_time_minute * 60U),
      {world.at_start.present[0], world.at_start.present[0] && world.at_start.present[1]},
      false,
      0,
      {}};
  cycle_script now = world.at_start;
  for (size_t cycle = 0; cycle < MAX_CYCLES && !in.empty(); ++cycle) {
    now = next_cycle(now, &in);
    world.now = &now;
    world.cycle = cycle;
    world.phase = rule::none;
    controller_cycle(&state, config, platform);

    checker.check_time_rule(now, cycle, checker.fired(world.firings, cycle, rule::time));
    checker.check_delay_rule(now, checker.fired(world.firings, cycle, rule::delay));
    const bool looked_at[BINARY_INPUT_COUNT] = {now.present[0], now.present[0] && now.present[1]};
    checker.check_input_rule(now, 0, looked_at[0],
                             checker.fired(world.firings, cycle, rule::input0));
    checker.check_input_rule(now, 1, looked_at[1],
                             checker.fired(world.firings, cycle, rule::input1));
  }

  for (const firing& f : world.firings) {
    const wake_params& first = world.firings.front().params;
    expect(f.params.wake_bin == first.wake_bin &&
               f.params.wake_delay_enabled == first.wake_delay_enabled &&
               f.params.wake_delay_second == first.wake_delay_second &&
               f.params.wake_time_enabled == first.wake_time_enabled &&
               f.params.wake_hour == first.wake_hour && f.params.wake_minute == first.wake_minute,
           "two firings passed different wake-up records");
    expect(static_cast<uint32_t>(f.params.wake_bin) == config.wakeup_bin_enabled &&
               static_cast<uint32_t>(f.params.wake_delay_enabled) == config.wakeup_delay_enabled &&
               f.params.wake_delay_second == config.wakeup_delay_second &&
               static_cast<uint32_t>(f.params.wake_time_enabled) == config.wakeup_time_enabled &&
               static_cast<uint32_t>(f.params.wake_hour) == config.wakeup_time_hour &&
               static_cast<uint32_t>(f.params.wake_minute) == config.wakeup_time_minute,
           "a firing passed other wake-up values than the settings hold");
  }
  return 0;
}
