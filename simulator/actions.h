// The scenario's actions carried out on the simulated router.
#pragma once

#include "simulator/run_state.h"

/// Carries out one action and shows it on the timeline.
void apply_action(run_state* r, const timed_action& action);
