// The guest clock mode: inside the ARM test guest the simulator sets the
// machine's own wall clock instead of preloading libfaketime, so that static
// daemons and 64-bit time calls see the scenario's clock too. It must never
// set a real machine's clock, so it runs only where the guest's init left
// its marker.
#pragma once

#include <string>

#include "simulator/fake_clock.h"
#include "simulator/scenario.h"

/// Written by the guest's init: this boot's id, on a tmpfs.
inline constexpr const char* GUEST_MARKER_PATH = "/run/dormix-test-guest";
/// On the guest kernel's command line, put there by the stage that boots it.
inline constexpr const char* GUEST_BOOT_WORD = "dormix.test_guest=1";

/// What tells a test guest from any other machine.
struct guest_facts {
  std::string kernel_command_line;  // /proc/cmdline
  std::string boot_id;              // /proc/sys/kernel/random/boot_id
  bool marker_found = false;
  std::string marker;  // the marker's content
  bool marker_on_tmpfs = false;
  bool marker_owned_by_root = false;
  std::string init_command_line;  // /proc/1/cmdline, arguments separated by blanks
};

/// Why this machine's wall clock must not be set, or "" in a test guest: the
/// kernel was booted with GUEST_BOOT_WORD, pid 1 is the guest's /init, and
/// the marker is a root-owned file on a tmpfs holding this boot's id.
std::string guest_clock_refusal(const guest_facts& facts);

/// Reads the facts of this machine.
guest_facts read_guest_facts();

/// Starts the process that holds a frozen guest clock in its second (a
/// thread cannot: the run leaves for new namespaces, which a threaded process
/// cannot do). Call before entering them, in the run's process; the holder
/// dies with it.
bool start_clock_holder(std::string* reason);

/// Sets the scenario's clock: the machine's own wall clock when guest is
/// true, libfaketime's otherwise. A frozen guest clock is held in its second
/// until the next setting.
bool set_scenario_clock(bool guest, const clock_setting& clock, fake_clock* model,
                        std::string* reason);
