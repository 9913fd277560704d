// The records of a report on a settings file: what the caller found out
// at its edge, and what the daemon would do with the file.
#pragma once

#include <time.h>

#include "analysis/findings.h"
#include "analysis/known_keys.h"
#include "analysis/lpm_call.h"
#include "daemon/time_zone.h"
#include "settings/settings.h"

/// Where the answers about which inputs exist came from.
enum class presence_source {
  option,         // --inputs
  status_tool,    // the router's status tool answered
  status_missing  // the status tool is not there: every input counts as absent
};

/// Which binary inputs exist, as the caller found out at its edge.
struct input_presence_answer {
  presence_source source;
  bool present[BINARY_INPUT_COUNT];
};

/// The method dormix-lpm's configuration file sets, as the caller read it
/// at its edge.
struct lpm_method_answer {
  bool returns;      // the tool returns to the daemon after it
  const char* name;  // as the file spells it
  const char* path;  // the file's
};

struct check_request {
  const char* path;
  time_t at;
  input_presence_answer inputs;
  time_zone_choice zone;  // already handed to the C library
  // dormix-lpm's configuration file, read by the caller; null without one
  // or when it does not read.
  const lpm_method_answer* lpm;
};

struct check_report {
  const char* path;
  time_t at;
  time_zone_choice zone;
  int at_tod;
  known_key keys[KNOWN_KEY_COUNT];
  sleep_config config;
  presence_source presence;
  bool present[BINARY_INPUT_COUNT];
  bool inputs_read[BINARY_INPUT_COUNT];  // whether the daemon reads the input's keys
  check_findings findings;
  int32_t sleep_tod;
  bool time_rule_fires_soon;  // within two days of at
  time_t time_rule_next;
  lpm_call time_rule_call;
  lpm_call call_now;
};
