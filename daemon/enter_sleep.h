// Entering sleep: the low-power tool's run, or the log line when nothing
// could wake the router.
#pragma once

#include "daemon/wakeup.h"

/// Works out the wake-up and runs the low-power tool, waiting for it; logs
/// the no-wake-rule message instead when nothing could wake the router.
/// Returns the tool's wait status, 0 when it was not run, -1 on failure.
int enter_sleep(const wake_params& params);
