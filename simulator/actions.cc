// Levels, the wall clock, signals, the fake tools' behaviour and probes, as
// the scenario changes them during the run.
#include "simulator/actions.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "simulator/guest_clock.h"
#include "simulator/observe.h"
#include "simulator/sandbox.h"

namespace {

std::string set_input(run_state* r, const state_change& change) {
  const std::string input = "input " + std::to_string(change.input);
  if (change.kind == change_kind::input_fails) {
    r->levels.error[change.input] = change.number;
    return input + ": the driver fails with " + strerrorname_np(change.number);
  }
  r->levels.error[change.input] = 0;
  r->levels.level[change.input] = change.number;
  return input + " goes to level " + std::to_string(change.number);
}

std::string clock_set_text(const clock_setting& setting) {
  return "wall clock set to " + setting.local_time + (setting.frozen ? " (frozen)" : "");
}

std::string set_clock(run_state* r, const clock_setting& setting) {
  std::string reason;
  if (set_scenario_clock(r->options.guest_clock, setting, &r->clock, &reason)) {
    return clock_set_text(setting);
  }
  r->failed_setup = true;
  return "wall clock not set to " + setting.local_time + ": " + reason;
}

// Recorded once the change is made, so that a window timed after it never
// starts before what the daemon reacts to.
void record_action(run_state* r, change_kind kind, const std::string& text) {
  sim_event& event = r->add(event_kind::action, text, 0, 0, change_verb(kind));
  r->show(event, "scenario", text);
}

std::string send_signal(run_state* r, int number) {
  const long target = r->signal_target();
  std::string text = std::string("SIG") + sigabbrev_np(number) + " sent to the daemon";
  if (target <= 0 || kill(static_cast<pid_t>(target), number) != 0) text += " (failed: no daemon)";
  return text;
}

std::string set_status(const std::string& mode) {
  set_status_mode(mode);
  return mode == "ok"     ? "status tool answers normally"
         : mode == "fail" ? "status tool fails from now on"
                          : "status tool prints more than 64 KiB from now on";
}

std::string set_lpm(const state_change& change) {
  set_lpm_behaviour(change.seconds, change.number);
  char text[96];
  snprintf(text, sizeof text, "lpm now blocks %g s", change.seconds);
  return text + (change.number != 0 ? " and exits with " + std::to_string(change.number) : "");
}

}  // namespace

void apply_action(run_state* r, const timed_action& action) {
  const state_change& change = action.change;
  std::string text;
  switch (change.kind) {
    case change_kind::input_level:
    case change_kind::input_fails:
      text = set_input(r, change);
      break;
    case change_kind::clock:
      text = set_clock(r, change.clock);
      break;
    case change_kind::signal:
      text = send_signal(r, change.number);
      break;
    case change_kind::status:
      text = set_status(change.status_mode);
      break;
    case change_kind::lpm:
      text = set_lpm(change);
      break;
    case change_kind::probe:
      sample_daemon(r, true);
      return;
  }
  record_action(r, change.kind, text);
}

bool set_starting_clock(run_state* r, std::string* reason) {
  if (!set_scenario_clock(r->options.guest_clock, r->s.clock, &r->clock, reason)) return false;
  record_action(r, change_kind::clock, clock_set_text(r->s.clock));
  return true;
}
