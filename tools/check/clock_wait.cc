#include "tools/check/clock_wait.h"

#include <stdio.h>
#include <string.h>

namespace {

// The mark and the kernel are looked at this often; a step of the wall clock
// ends the wait as it happens.
constexpr int64_t LOOK_MS = 1000;

bool has_ended(clock_wait_end end) { return end != clock_wait_end::waiting; }

// The line's end: a mark file or boot id may end in a newline or not.
size_t line_length(const char* text) { return strcspn(text, "\n"); }

}  // namespace

clock_wait_end clock_wait_decide(const clock_signals& signals) {
  if (signals.ntp_marked) return clock_wait_end::ntp_event;
  // With the maximum error at its limit the kernel sets STA_UNSYNC again at
  // its next second: busybox ntpd clears the flag without lowering it.
  if (!signals.kernel_unsync && signals.max_error_us < KERNEL_MAX_ERROR_LIMIT_US) {
    return clock_wait_end::kernel_synchronised;
  }
  if (signals.clock_stepped) return clock_wait_end::clock_stepped;
  return signals.now_ms >= signals.deadline_ms ? clock_wait_end::bound_reached
                                               : clock_wait_end::waiting;
}

bool ntp_mark_is_this_boot(const char* mark, const char* boot_id) {
  const size_t length = line_length(boot_id);
  return length > 0 && line_length(mark) == length && strncmp(mark, boot_id, length) == 0;
}

clock_wait_end clock_wait_run(const clock_edge& edge, uint32_t bound_seconds, int64_t* waited_ms) {
  const int64_t started = edge.monotonic_ms(edge.context);
  clock_signals signals{};
  signals.deadline_ms = started + static_cast<int64_t>(bound_seconds) * 1000;
  signals.now_ms = started;
  for (;;) {
    signals.ntp_marked = edge.ntp_marked(edge.context);
    if (!edge.kernel_state(edge.context, &signals.kernel_unsync, &signals.max_error_us)) {
      signals.kernel_unsync = true;
    }
    const clock_wait_end end = clock_wait_decide(signals);
    if (has_ended(end)) {
      *waited_ms = signals.now_ms - started;
      return end;
    }
    const int64_t left = signals.deadline_ms - signals.now_ms;
    signals.clock_stepped = edge.wait_for_step(edge.context, left < LOOK_MS ? left : LOOK_MS);
    signals.now_ms = edge.monotonic_ms(edge.context);
  }
}

void clock_wait_verdict(clock_wait_end end, uint32_t bound_seconds, int64_t waited_ms, char* line,
                        int size) {
  const char* reason = "";
  switch (end) {
    case clock_wait_end::ntp_event:
      reason = "the clock is synchronised: the NTP client reported it";
      break;
    case clock_wait_end::kernel_synchronised:
      reason = "the clock is synchronised: the kernel reports it";
      break;
    case clock_wait_end::clock_stepped:
      reason = "the clock is set: it was stepped during the wait";
      break;
    case clock_wait_end::bound_reached:
    case clock_wait_end::waiting:
      snprintf(line, static_cast<size_t>(size),
               "the clock is not synchronised after %u s: going on with the clock as it is",
               bound_seconds);
      return;
  }
  snprintf(line, static_cast<size_t>(size), "%s (waited %lld.%03lld s)", reason,
           static_cast<long long>(waited_ms / 1000), static_cast<long long>(waited_ms % 1000));
}
