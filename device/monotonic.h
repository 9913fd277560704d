#pragma once

/// Whole seconds of CLOCK_MONOTONIC, or -1 when the clock cannot be read.
int monotonic_seconds();
