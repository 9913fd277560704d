// The daemon's time zone in words, for the checker's report and the page.
#pragma once

#include "daemon/time_zone.h"

/// The zone as people read it, once it is in use: TZ's value for the TZ and
/// /etc/TZ sources, else "/etc/localtime" when it exists, or "UTC".
const char* time_zone_text(const time_zone_choice& choice);

/// Where the zone came from: "TZ", "/etc/TZ" or "default" (the C library's).
const char* time_zone_source_name(time_zone_source source);
