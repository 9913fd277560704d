#pragma once

/// Local wall-clock seconds since midnight, 0..86399 (86400 on a leap second).
int seconds_of_day();
