#include "simulator/guest_clock.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr const char* BOOT_ID = "0b6e4f42-9a4e-4c55-8b7e-3f0f2a1c9d10\n";

// What the test guest shows: every check holds.
guest_facts test_guest() {
  guest_facts facts;
  facts.kernel_command_line = "console=ttyAMA0 quiet panic=-1 dormix.test_guest=1";
  facts.boot_id = BOOT_ID;
  facts.marker_found = true;
  facts.marker = BOOT_ID;
  facts.marker_on_tmpfs = true;
  facts.marker_owned_by_root = true;
  facts.init_command_line = "/bin/sh /init";
  return facts;
}

TEST(GuestClockTest, OnlyTheTestGuestMaySetItsClock) {
  EXPECT_EQ(guest_clock_refusal(test_guest()), "");
  struct change {
    const char* what;
    std::function<void(guest_facts*)> apply;
    const char* refusal_part;
  };
  const change changes[] = {
      {"host kernel command line",
       [](guest_facts* f) { f->kernel_command_line = "BOOT_IMAGE=/vmlinuz root=/dev/sda1 ro"; },
       "not booted with"},
      {"boot word as a prefix of another",
       [](guest_facts* f) { f->kernel_command_line = "quiet dormix.test_guest=10"; },
       "not booted with"},
      {"boot word inside another",
       [](guest_facts* f) { f->kernel_command_line = "quiet xdormix.test_guest=1"; },
       "not booted with"},
      {"systemd as pid 1", [](guest_facts* f) { f->init_command_line = "/sbin/init splash"; },
       "pid 1"},
      {"unreadable pid 1", [](guest_facts* f) { f->init_command_line = ""; }, "pid 1"},
      {"no marker", [](guest_facts* f) { f->marker_found = false; }, "no /run/dormix-test-guest"},
      {"marker on a disk", [](guest_facts* f) { f->marker_on_tmpfs = false; }, "tmpfs"},
      {"marker owned by a user", [](guest_facts* f) { f->marker_owned_by_root = false; },
       "root-owned"},
      {"marker of an earlier boot",
       [](guest_facts* f) { f->marker = "5d2c0c1e-0000-4000-8000-000000000000\n"; },
       "this boot's id"},
      {"empty marker", [](guest_facts* f) { f->marker = ""; }, "this boot's id"},
      {"unreadable boot id",
       [](guest_facts* f) {
         f->boot_id = "";
         f->marker = "";
       },
       "this boot's id"},
  };
  for (const change& c : changes) {
    guest_facts facts = test_guest();
    c.apply(&facts);
    const std::string refusal = guest_clock_refusal(facts);
    EXPECT_NE(refusal.find(c.refusal_part), std::string::npos) << c.what << ": " << refusal;
  }
}

}  // namespace
