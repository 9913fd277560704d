// The words of a state change read into a state_change: the same at the
// start of a scenario and after "at SECONDS".
#include <csignal>
#include <cstring>

#include "simulator/scenario.h"
#include "simulator/scenario_text.h"

namespace {

using words = std::vector<std::string>;

bool fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
}

// The number from 1 up to below end that name_of names name, or 0.
int number_named(const std::string& name, int end, const char* (*name_of)(int)) {
  for (int number = 1; number < end; ++number) {
    const char* known = name_of(number);
    if (known != nullptr && name == known) return number;
  }
  return 0;
}

// "EIO", "ENODEV", ...
int errno_from_name(const std::string& name) { return number_named(name, 256, strerrorname_np); }

// "TERM", "SIGTERM", "INT", ...
int signal_from_name(const std::string& name) {
  return number_named(name.rfind("SIG", 0) == 0 ? name.substr(3) : name, NSIG, sigabbrev_np);
}

// input N LEVEL, input N fail ERRNO
bool parse_input_change(const words& w, state_change* change, std::string* error) {
  long input = 0;
  if (w.size() < 3 || !parse_integer(w[1], &input) || input < 0 || input >= SIM_INPUT_COUNT) {
    return fail(error, "expected: input 0|1 LEVEL, or input 0|1 fail ERRNO");
  }
  change->input = static_cast<int>(input);
  if (w[2] == "fail") {
    change->kind = change_kind::input_fails;
    change->number = w.size() == 4 ? errno_from_name(w[3]) : 0;
    return change->number != 0 || fail(error, "expected an errno name, e.g. EIO");
  }
  long level = 0;
  if (w.size() != 3 || !parse_integer(w[2], &level) || level < 0 || level > 0x7fffffff) {
    return fail(error, "a level is a number from 0 to 2147483647");
  }
  change->kind = change_kind::input_level;
  change->number = static_cast<int>(level);
  return true;
}

// clock YYYY-MM-DD HH:MM:SS [frozen]
bool parse_clock_change(const words& w, state_change* change, std::string* error) {
  clock_setting& clock = change->clock;
  if (w.size() >= 3) clock.local_time = w[1] + " " + w[2];
  if (w.size() < 3 || w.size() > 4 || !parse_date_time(clock.local_time.c_str(), &clock.fields) ||
      (w.size() == 4 && w[3] != "frozen")) {
    return fail(error, "expected: clock YYYY-MM-DD HH:MM:SS [frozen]");
  }
  clock.frozen = w.size() == 4;
  change->kind = change_kind::clock;
  return true;
}

// status ok|fail|big
bool parse_status_change(const words& w, state_change* change, std::string* error) {
  if (w.size() != 2 || (w[1] != "ok" && w[1] != "fail" && w[1] != "big")) {
    return fail(error, "expected: status ok|fail|big");
  }
  change->kind = change_kind::status;
  change->status_mode = w[1];
  return true;
}

// lpm sleep SECONDS [exit CODE]
bool parse_lpm_change(const words& w, state_change* change, std::string* error) {
  long code = 0;
  bool ok = w.size() >= 3 && w[1] == "sleep" && parse_number(w[2], &change->seconds);
  if (ok && w.size() == 5)
    ok = w[3] == "exit" && parse_integer(w[4], &code) && code >= 0 && code < 256;
  if (!ok || (w.size() != 3 && w.size() != 5))
    return fail(error, "expected: lpm sleep SECONDS [exit CODE]");
  change->kind = change_kind::lpm;
  change->number = static_cast<int>(code);
  return true;
}

// signal NAME
bool parse_signal_change(const words& w, state_change* change, std::string* error) {
  change->number = w.size() == 2 ? signal_from_name(w[1]) : 0;
  if (change->number == 0) return fail(error, "expected: signal TERM|INT|QUIT|HUP|...");
  change->kind = change_kind::signal;
  return true;
}

bool parse_probe_change(const words& w, state_change* change, std::string* error) {
  if (w.size() != 1) return fail(error, "probe takes no arguments");
  change->kind = change_kind::probe;
  return true;
}

}  // namespace

const char* change_verb(change_kind kind) {
  switch (kind) {
    case change_kind::input_level:
    case change_kind::input_fails:
      return "input";
    case change_kind::clock:
      return "clock";
    case change_kind::status:
      return "status";
    case change_kind::lpm:
      return "lpm";
    case change_kind::signal:
      return "signal";
    case change_kind::probe:
      return "probe";
  }
  return "";
}

bool parse_state_change(const words& w, bool timed, state_change* change, std::string* error) {
  using reader = bool (*)(const words&, state_change*, std::string*);
  static const struct {
    const char* verb;
    reader read;
    bool only_timed;
  } verbs[] = {{"input", parse_input_change, false},   {"clock", parse_clock_change, false},
               {"status", parse_status_change, false}, {"lpm", parse_lpm_change, false},
               {"signal", parse_signal_change, true},  {"probe", parse_probe_change, true}};
  *change = state_change{};
  for (const auto& verb : verbs) {
    if (w[0] == verb.verb && (timed || !verb.only_timed)) return verb.read(w, change, error);
  }
  return fail(error, "unknown " + std::string(timed ? "action" : "line") + " '" + w[0] + "'");
}
