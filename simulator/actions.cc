// The scenario's actions carried out on the simulated router: levels, the
// wall clock, signals, the fake tools' behaviour, probes.
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "simulator/guest_clock.h"
#include "simulator/lines.h"
#include "simulator/run_state.h"

void run_state::apply(const timed_action& action) {
  const std::vector<std::string>& w = action.words;
  const std::string verb = w[0];
  std::string text = join_words(w);
  if (verb == "input") {
    const int input = atoi(w[1].c_str());
    if (w[2] == "fail") {
      levels.error[input] = errno_from_name(w[3]);
      text = "input " + w[1] + ": the driver fails with " + w[3];
    } else {
      levels.error[input] = 0;
      levels.level[input] = atoi(w[2].c_str());
      text = "input " + w[1] + " goes to level " + w[2];
    }
  } else if (verb == "clock") {
    std::string reason;
    clock_setting setting{w[1] + " " + w[2], w.size() == 4};
    if (set_scenario_clock(options.guest_clock, setting, &clock, &reason)) {
      text = "wall clock set to " + setting.local_time + (setting.frozen ? " (frozen)" : "");
    } else {
      failed_setup = true;
      text = "wall clock not set to " + setting.local_time + ": " + reason;
    }
  } else if (verb == "signal") {
    const int number = signal_from_name(w[1]);
    const long target = signal_target();
    text = std::string("SIG") + sigabbrev_np(number) + " sent to the daemon";
    if (target <= 0 || kill(static_cast<pid_t>(target), number) != 0)
      text += " (failed: no daemon)";
  } else if (verb == "status") {
    set_status_mode(w[1]);
    text = w[1] == "ok"     ? "status tool answers normally"
           : w[1] == "fail" ? "status tool fails from now on"
                            : "status tool prints more than 64 KiB from now on";
  } else if (verb == "lpm") {
    set_lpm_behaviour(atof(w[2].c_str()), w.size() == 5 ? atoi(w[4].c_str()) : 0);
    text = "lpm now blocks " + w[2] + " s" + (w.size() == 5 ? " and exits with " + w[4] : "");
  } else if (verb == "probe") {
    sample(true);
    return;
  }
  sim_event& event = add(event_kind::action, text);
  show(event, "scenario", text);
}
