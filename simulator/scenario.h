// A scenario for the simulated router: what the router looks like, what
// happens while the daemon runs, and what the daemon must do.
#pragma once

#include <string>
#include <vector>

#include "datetime/date_time.h"

inline constexpr int SIM_INPUT_COUNT = 2;

enum class expect_what {
  lpm,          // a run of the low-power tool, optionally with exact arguments
  log,          // a syslog message with this text
  status,       // a run of the status tool
  gpio_open,    // an open of /dev/gpio
  gpio_read,    // a level request for one input
  exit_status,  // the daemon ended with this exit status
  fds_at_most,  // the daemon's open descriptors, on every sample
  no_zombies,   // no child of the daemon stays a zombie
  action,       // a scenario action: only windows are timed after it
};

/// The events an expectation is about: "lpm -b", "log started", "gpio-read 0 1", ...
struct event_pattern {
  expect_what what;
  std::vector<std::string> arguments;  // lpm arguments, the log message or the action's verb
  bool any_arguments;                  // lpm without arguments matches every run
  long number;                         // input, exit status or descriptor limit
  std::string answer;                  // gpio-read: the level; status: "fail"; "": any
};

struct expectation {
  int line;
  std::string text;  // as written, for the report
  event_pattern match;
  long min_count;
  long max_count;  // -1: no upper bound
  double from;
  double to;  // < 0: the end of the run
  // "within FROM TO after [N] WHAT [since S]": the window counts from the
  // first (Nth) event matching after at S seconds or later, not from the
  // daemon's start; FROM may then be negative, for the stretch before it.
  // What the daemon does in reply to what it saw is then timed from when it
  // saw it, however long a busy machine took to get it there.
  bool anchored;
  event_pattern after;
  long after_nth;  // "after N WHAT": from the Nth such event, 1 for the first
  double since;
  // "each cycle": the count holds for each of the daemon's cycles in the
  // window, from one of its level requests for input 0 to the next.
  bool each_cycle;
};

/// The wall clock seen by the daemon: a local date and time, running on
/// from the moment it is set, or frozen there.
struct clock_setting {
  std::string local_time;  // "YYYY-MM-DD HH:MM:SS" as written
  date_time fields;        // local_time read
  bool frozen;
};

/// What a state change changes. The same words set the state at the start
/// and, after "at SECONDS", during the run; signal and probe only then.
enum class change_kind {
  input_level,  // input N LEVEL
  input_fails,  // input N fail ERRNO
  clock,        // clock YYYY-MM-DD HH:MM:SS [frozen]
  status,       // status ok|fail|big
  lpm,          // lpm sleep SECONDS [exit CODE]
  signal,       // signal NAME
  probe,        // probe
};

struct state_change {
  change_kind kind;
  int input;                // input_level, input_fails
  int number;               // the level, the errno, the lpm exit code or the signal
  double seconds;           // how long lpm blocks
  std::string status_mode;  // ok, fail or big
  clock_setting clock;
};

/// Something the scenario changes at a moment of the run.
struct timed_action {
  double at;  // seconds since the daemon started
  int line;
  state_change change;
};

struct scenario {
  std::string path;
  std::string name;  // file name without directory and extension
  std::string title;
  bool needs_faketime = false;
  bool needs_gpio = false;
  bool timezone_given = false;
  // OpenWrt's layout: /etc/TZ holds etc_tz's line, there is no
  // /etc/localtime, and TZ is unset unless a timezone line sets it.
  bool has_etc_tz = false;
  std::string timezone = "UTC";
  std::string etc_tz;
  bool has_clock = false;
  clock_setting clock{};
  bool settings_present = true;
  std::string settings;
  std::vector<std::string> section_names;
  std::vector<std::string> section_texts;
  std::string status_mode = "ok";  // ok, fail or big
  double lpm_seconds = 0;
  int lpm_exit = 0;
  int levels[SIM_INPUT_COUNT] = {0, 0};
  int read_errors[SIM_INPUT_COUNT] = {0, 0};  // errno to answer with, 0 for none
  double duration = -1;
  // What each tool must be started with, as the fake tools list it.
  std::string lpm_descriptors = "0=null 1=null 2=null";
  std::string status_descriptors = "0=null 1=pipe 2=null";
  // libfaketime speed-up of the daemon's clocks, monotonic included; 0: real speed.
  int clock_speed = 0;
  // Another process of the router keeps /dev/gpio open from the start to the
  // end of the run, as dormix-check --watch does beside the daemon.
  bool gpio_holder = false;
  std::vector<timed_action> actions;  // in time order
  std::vector<expectation> expectations;
};

/// Reads a scenario from text. Returns false and describes the first problem
/// in error ("file:line: what") when the text is not a valid scenario.
bool parse_scenario(const std::string& text, const std::string& path, scenario* result,
                    std::string* error);

/// Whether the daemon is started with TZ in its environment.
bool scenario_sets_tz(const scenario& s);

/// The zone the daemon uses, in which the scenario's clock lines are read.
std::string scenario_zone(const scenario& s);

/// Reads and parses a scenario file.
bool load_scenario(const std::string& path, scenario* result, std::string* error);

/// The word a state change of this kind starts with: "input", "clock", ...
/// A run records it with each action it carries out.
const char* change_verb(change_kind kind);

/// Reads the words of a state change, e.g. {"input", "0", "1"}; timed: after
/// "at SECONDS". Returns false with what is wrong in error.
bool parse_state_change(const std::vector<std::string>& words, bool timed, state_change* change,
                        std::string* error);

/// Reads an "expect ..." line, given as its words. Returns false with what is
/// wrong in error.
bool parse_expectation(const std::vector<std::string>& words, expectation* e, std::string* error);
