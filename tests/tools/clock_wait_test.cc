// The init scripts' wait for the clock: which sign ends it, and when.
#include <gtest/gtest.h>

#include <vector>

#include "tools/check/clock_wait.h"

namespace {

constexpr int64_t AT_LIMIT = KERNEL_MAX_ERROR_LIMIT_US;
constexpr int64_t NEVER = -1;

TEST(ClockWait, TheFirstSignOfASetClockEndsIt) {
  struct row {
    const char* why;
    clock_signals signals;
    clock_wait_end end;
  };
  using end = clock_wait_end;
  // mark, unsync, max error, stepped, now, deadline
  const row rows[] = {
      {"nothing yet", {false, true, AT_LIMIT, false, 500, 2000}, end::waiting},
      {"the hotplug handler's mark", {true, true, AT_LIMIT, false, 500, 2000}, end::ntp_event},
      {"the kernel synchronised",
       {false, false, 100000, false, 500, 2000},
       end::kernel_synchronised},
      {"busybox ntpd's clear flag: the kernel sets it again next second",
       {false, false, AT_LIMIT, false, 500, 2000},
       end::waiting},
      {"a maximum error just below the limit",
       {false, false, AT_LIMIT - 1, false, 500, 2000},
       end::kernel_synchronised},
      {"the flag set, whatever the maximum error",
       {false, true, 0, false, 500, 2000},
       end::waiting},
      {"a step of the wall clock", {false, true, AT_LIMIT, true, 500, 2000}, end::clock_stepped},
      {"the bound", {false, true, AT_LIMIT, false, 2000, 2000}, end::bound_reached},
      {"a bound of 0 answers at once", {false, true, AT_LIMIT, false, 0, 0}, end::bound_reached},
      {"a step at the bound still counts",
       {false, true, AT_LIMIT, true, 2000, 2000},
       end::clock_stepped},
      {"the mark before the kernel", {true, false, 0, true, 500, 2000}, end::ntp_event},
      {"the kernel before the step", {false, false, 0, true, 500, 2000}, end::kernel_synchronised},
  };
  for (const row& r : rows) EXPECT_EQ(clock_wait_decide(r.signals), r.end) << r.why;
}

TEST(ClockWait, OnlyThisBootsMarkCounts) {
  const char* boot = "4f0c2a9e-61b7-4c0e-9d3a-0b1de2f3c4a5\n";
  struct row {
    const char* mark;
    const char* boot_id;
    bool counts;
  };
  const row rows[] = {
      {"4f0c2a9e-61b7-4c0e-9d3a-0b1de2f3c4a5\n", boot, true},
      {"4f0c2a9e-61b7-4c0e-9d3a-0b1de2f3c4a5", boot, true},
      {"0e1d2c3b-61b7-4c0e-9d3a-0b1de2f3c4a5\n", boot, false},  // an earlier boot
      {"4f0c2a9e-61b7", boot, false},
      {"4f0c2a9e-61b7-4c0e-9d3a-0b1de2f3c4a5-and-more", boot, false},
      {"", boot, false},  // touched by another handler, or missing
      {"", "", false},    // no boot id to compare with
  };
  for (const row& r : rows) {
    EXPECT_EQ(ntp_mark_is_this_boot(r.mark, r.boot_id), r.counts) << '"' << r.mark << '"';
  }
}

// A machine whose signs come at set monotonic times; waiting moves its clock.
struct scripted_machine {
  int64_t now;
  int64_t step_at;
  int64_t mark_at;
  int64_t synchronised_at;
  bool adjtimex_fails;
  std::vector<int64_t> waits;
};

scripted_machine& machine_of(void* context) { return *static_cast<scripted_machine*>(context); }
bool has_come(int64_t at, int64_t now) { return at != NEVER && now >= at; }
int64_t scripted_monotonic(void* context) { return machine_of(context).now; }
bool scripted_mark(void* context) {
  return has_come(machine_of(context).mark_at, machine_of(context).now);
}
bool scripted_kernel(void* context, bool* unsync, int64_t* max_error_us) {
  const scripted_machine& machine = machine_of(context);
  if (machine.adjtimex_fails) return false;
  *unsync = !has_come(machine.synchronised_at, machine.now);
  *max_error_us = *unsync ? AT_LIMIT : 0;
  return true;
}
bool scripted_wait(void* context, int64_t timeout_ms) {
  scripted_machine& machine = machine_of(context);
  machine.waits.push_back(timeout_ms);
  const bool stepped = machine.step_at > machine.now && machine.step_at <= machine.now + timeout_ms;
  machine.now = stepped ? machine.step_at : machine.now + timeout_ms;
  return stepped;
}

TEST(ClockWait, EndsAsTheSignComesAndLooksOnceASecond) {
  struct row {
    const char* why;
    uint32_t bound_seconds;
    int64_t step_at;
    int64_t mark_at;
    int64_t synchronised_at;
    bool adjtimex_fails;
    clock_wait_end end;
    int64_t waited_ms;
    std::vector<int64_t> waits;
  };
  using end = clock_wait_end;
  const row rows[] = {
      {"no sign: the bound, the last wait cut to it",
       2,
       NEVER,
       NEVER,
       NEVER,
       false,
       end::bound_reached,
       2000,
       {1000, 1000}},
      {"a step ends the wait as it comes",
       120,
       1250,
       NEVER,
       NEVER,
       false,
       end::clock_stepped,
       1250,
       {1000, 1000}},
      {"the mark is seen at the next look",
       120,
       NEVER,
       1500,
       NEVER,
       false,
       end::ntp_event,
       2000,
       {1000, 1000}},
      {"the kernel at the next look",
       120,
       NEVER,
       NEVER,
       2500,
       false,
       end::kernel_synchronised,
       3000,
       {1000, 1000, 1000}},
      {"already marked: no wait at all", 120, NEVER, 0, NEVER, false, end::ntp_event, 0, {}},
      {"adjtimex failing reads as not synchronised",
       1,
       NEVER,
       NEVER,
       0,
       true,
       end::bound_reached,
       1000,
       {1000}},
      {"a bound of 0: one look", 0, NEVER, NEVER, NEVER, false, end::bound_reached, 0, {}},
  };
  for (const row& r : rows) {
    scripted_machine machine{0, r.step_at, r.mark_at, r.synchronised_at, r.adjtimex_fails, {}};
    const clock_edge edge{&machine, scripted_monotonic, scripted_mark, scripted_kernel,
                          scripted_wait};
    int64_t waited_ms = -1;
    EXPECT_EQ(clock_wait_run(edge, r.bound_seconds, &waited_ms), r.end) << r.why;
    EXPECT_EQ(waited_ms, r.waited_ms) << r.why;
    EXPECT_EQ(machine.waits, r.waits) << r.why;
  }
}

TEST(ClockWait, TheVerdictNamesTheSign) {
  struct row {
    clock_wait_end end;
    int64_t waited_ms;
    const char* line;
  };
  const row rows[] = {
      {clock_wait_end::ntp_event, 1250,
       "the clock is synchronised: the NTP client reported it (waited 1.250 s)"},
      {clock_wait_end::kernel_synchronised, 0,
       "the clock is synchronised: the kernel reports it (waited 0.000 s)"},
      {clock_wait_end::clock_stepped, 61007,
       "the clock is set: it was stepped during the wait (waited 61.007 s)"},
      {clock_wait_end::bound_reached, 120000,
       "the clock is not synchronised after 120 s: going on with the clock as it is"},
  };
  for (const row& r : rows) {
    char line[160];
    clock_wait_verdict(r.end, 120, r.waited_ms, line, sizeof line);
    EXPECT_STREQ(line, r.line);
  }
}

}  // namespace
