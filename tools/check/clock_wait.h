// The init scripts' wait for a wall clock that can be trusted: it ends on the
// first sign that the clock has been set, or at its bound.
#pragma once

#include <stdint.h>

#include "tools/check/exit_status.h"

/// Touched by the NTP hotplug handler that the archives ship
/// (/etc/hotplug.d/ntp/25-dormix) when the NTP client steps the clock or
/// reaches a stratum; it holds the boot id of the boot it was written in.
inline constexpr const char* NTP_MARK_PATH = "/var/state/dormix-ntp-synced";

/// The kernel sets STA_UNSYNC again at its next second when the maximum error
/// has reached this (NTP_PHASE_LIMIT, in microseconds).
inline constexpr int64_t KERNEL_MAX_ERROR_LIMIT_US = 16000000;

/// What ended a wait, or that it goes on.
enum class clock_wait_end { waiting, ntp_event, kernel_synchronised, clock_stepped, bound_reached };

/// Everything the wait looks at, read by the edge once per look.
struct clock_signals {
  bool ntp_marked;       // NTP_MARK_PATH holds this boot's id
  bool kernel_unsync;    // adjtimex: STA_UNSYNC set (or adjtimex failed)
  int64_t max_error_us;  // adjtimex: the maximum error
  bool clock_stepped;    // the wall clock was set since the wait began
  int64_t now_ms;        // monotonic
  int64_t deadline_ms;   // monotonic
};

/// The first of the signals that says the clock is set, in the order of the
/// enum; the bound when none does and the deadline has come.
clock_wait_end clock_wait_decide(const clock_signals& signals);

/// Whether the hotplug handler's mark is this boot's: a mark left by an
/// earlier boot on a /var that survives reboots says nothing about this one.
bool ntp_mark_is_this_boot(const char* mark, const char* boot_id);

/// The system calls behind the wait, so that tests can script them.
struct clock_edge {
  void* context;
  int64_t (*monotonic_ms)(void* context);
  bool (*ntp_marked)(void* context);
  // Fills the kernel's STA_UNSYNC and maximum error; false when adjtimex fails.
  bool (*kernel_state)(void* context, bool* unsync, int64_t* max_error_us);
  // Waits up to timeout_ms for a step of the wall clock; true when one came.
  bool (*wait_for_step)(void* context, int64_t timeout_ms);
};

/// Runs the wait to its end against the edge, looking at the mark and the
/// kernel at least once a second; the time it took goes to waited_ms.
clock_wait_end clock_wait_run(const clock_edge& edge, uint32_t bound_seconds, int64_t* waited_ms);

/// The verdict line, without the program's name: which signal ended the wait
/// and after how long.
void clock_wait_verdict(clock_wait_end end, uint32_t bound_seconds, int64_t waited_ms, char* line,
                        int size);

/// The edge on this machine: CLOCK_MONOTONIC, adjtimex, a timerfd that is
/// cancelled when the wall clock is set, and NTP_MARK_PATH. The timerfd is
/// armed here, before the first look, so that no step is missed; without it
/// (Linux before 3.0) the wait only looks once a second. Close when done.
clock_edge clock_edge_open();
void clock_edge_close(const clock_edge& edge);

/// dormix-wait-clock SECONDS [PROGRAM [ARGUMENT...]] (the arguments after
/// the command): waits until the clock is set or SECONDS have passed, then
/// runs PROGRAM in its place, or exits 0 (set) or 1 (not).
int run_clock_wait(const command_name& name, int count, char** arguments);
