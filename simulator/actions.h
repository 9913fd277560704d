// The scenario's actions carried out on the simulated router.
#pragma once

#include "simulator/run_state.h"

/// Carries out one action and shows it on the timeline.
void apply_action(run_state* r, const timed_action& action);

/// Sets the wall clock the scenario starts with, as an action of the run:
/// call it once the run's time counts, just before the daemon's start, so
/// that windows can be timed after it. Returns false with the reason.
bool set_starting_clock(run_state* r, std::string* reason);
