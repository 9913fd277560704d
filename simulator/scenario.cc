// A scenario file read line by line: its directives, its settings and
// section blocks, and the checks over the whole.
#include "simulator/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "simulator/scenario_text.h"

namespace {

using words = std::vector<std::string>;

struct parser {
  const std::string& path;
  scenario* result;
  std::string* error;
  int line_number = 0;
  enum { top, in_settings, in_section } block = top;
  bool crlf = false;  // settings lines end with CR LF
  bool seen_settings = false;
  std::string block_text{};

  bool fail(const std::string& what) {
    *error = path + ":" + std::to_string(line_number) + ": " + what;
    return false;
  }
};

// The file name without directory and extension.
std::string name_of(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

// A line of a settings or section block, or the "end" that closes it.
bool read_block_line(parser* p, const std::string& line) {
  if (trim(line) == "end") {
    if (p->block == parser::in_settings) {
      p->result->settings = p->block_text;
    } else {
      p->result->section_texts.push_back(p->block_text);
    }
    p->block = parser::top;
    return true;
  }
  size_t indent = line.find_first_not_of(" \t");
  if (indent == std::string::npos) return true;
  std::string expanded;
  if (!expand_escapes(line.substr(indent), &expanded)) return p->fail("bad escape in this line");
  p->block_text += expanded + (p->block == parser::in_settings && p->crlf ? "\r\n" : "\n");
  return true;
}

// What a change needs declared before it, or "".
std::string missing_need(const scenario& s, const state_change& change) {
  const bool input =
      change.kind == change_kind::input_level || change.kind == change_kind::input_fails;
  if (input && !s.needs_gpio) return "input levels need a 'needs gpio' line before them";
  if (change.kind == change_kind::clock && !s.needs_faketime)
    return "a clock needs a 'needs faketime' line before it";
  return "";
}

bool read_change(parser* p, const words& w, bool timed, state_change* change) {
  std::string what;
  if (!parse_state_change(w, timed, change, &what)) return p->fail(what);
  what = missing_need(*p->result, *change);
  return what.empty() || p->fail(what);
}

// A state change at the top level: the router's state at the start.
bool read_start_state(parser* p, const words& w) {
  state_change change;
  if (!read_change(p, w, false, &change)) return false;
  scenario* s = p->result;
  if (change.kind == change_kind::input_level) s->levels[change.input] = change.number;
  if (change.kind == change_kind::input_fails) s->read_errors[change.input] = change.number;
  if (change.kind == change_kind::status) s->status_mode = change.status_mode;
  if (change.kind == change_kind::clock) {
    s->has_clock = true;
    s->clock = change.clock;
  }
  if (change.kind == change_kind::lpm) {
    s->lpm_seconds = change.seconds;
    s->lpm_exit = change.number;
  }
  return true;
}

bool read_title(parser* p, const words& /*w*/, const std::string& body) {
  p->result->title = trim(body.substr(5));
  return true;
}

bool read_needs(parser* p, const words& w, const std::string& /*body*/) {
  for (size_t i = 1; i < w.size(); ++i) {
    if (w[i] == "faketime") {
      p->result->needs_faketime = true;
    } else if (w[i] == "gpio") {
      p->result->needs_gpio = true;
    } else {
      return p->fail("unknown need '" + w[i] + "' (faketime, gpio)");
    }
  }
  return true;
}

bool read_timezone(parser* p, const words& w, const std::string& /*body*/) {
  if (w.size() != 2) return p->fail("expected: timezone TZ");
  p->result->timezone = w[1];
  p->result->timezone_given = true;
  return true;
}

// "etc-tz TEXT": the rest of the line is /etc/TZ's line.
bool read_etc_tz(parser* p, const words& /*w*/, const std::string& body) {
  const std::string text = trim(body.substr(6));
  if (text.empty()) return p->fail("expected: etc-tz TEXT");
  p->result->has_etc_tz = true;
  p->result->etc_tz = text;
  return true;
}

bool read_duration(parser* p, const words& w, const std::string& /*body*/) {
  double& duration = p->result->duration;
  if (w.size() != 2 || !parse_number(w[1], &duration) || duration <= 0) {
    return p->fail("expected: duration SECONDS");
  }
  return true;
}

bool read_settings(parser* p, const words& w, const std::string& /*body*/) {
  if (p->seen_settings) return p->fail("settings given twice");
  p->seen_settings = true;
  if (w.size() == 2 && w[1] == "missing") {
    p->result->settings_present = false;
    return true;
  }
  if (w.size() > 2 || (w.size() == 2 && w[1] != "crlf"))
    return p->fail("expected: settings [crlf|missing]");
  p->crlf = w.size() == 2;
  p->block_text.clear();
  p->block = parser::in_settings;
  return true;
}

bool read_section(parser* p, const words& w, const std::string& /*body*/) {
  if (w.size() != 2 || w[1].find('/') != std::string::npos || w[1][0] == '.') {
    return p->fail("expected: section NAME");
  }
  p->result->section_names.push_back(w[1]);
  p->block_text.clear();
  p->block = parser::in_section;
  return true;
}

bool read_tool_descriptors(parser* p, const words& w, const std::string& /*body*/) {
  if (w.size() < 3 || (w[1] != "lpm" && w[1] != "status"))
    return p->fail("expected: tool-descriptors lpm|status none|FD=KIND...");
  std::string list;
  for (size_t i = 2; i < w.size(); ++i) {
    if (w[i] != "none") list += (list.empty() ? "" : " ") + w[i];
  }
  (w[1] == "lpm" ? p->result->lpm_descriptors : p->result->status_descriptors) = list;
  return true;
}

bool read_clock_speed(parser* p, const words& w, const std::string& /*body*/) {
  long speed = 0;
  if (w.size() != 2 || !parse_integer(w[1], &speed) || speed < 2 || speed > 1000)
    return p->fail("expected: clock-speed N (2 to 1000)");
  if (!p->result->needs_faketime)
    return p->fail("clock-speed needs a 'needs faketime' line before it");
  p->result->clock_speed = static_cast<int>(speed);
  return true;
}

bool read_gpio_holder(parser* p, const words& w, const std::string& /*body*/) {
  if (w.size() != 1) return p->fail("expected: gpio-holder");
  p->result->gpio_holder = true;
  return true;
}

bool read_timed_action(parser* p, const words& w, const std::string& /*body*/) {
  timed_action action{0, p->line_number, {}};
  if (w.size() < 3 || !parse_number(w[1], &action.at))
    return p->fail("expected: at SECONDS ACTION");
  if (!read_change(p, words(w.begin() + 2, w.end()), true, &action.change)) return false;
  p->result->actions.push_back(action);
  return true;
}

bool read_expect(parser* p, const words& w, const std::string& body) {
  expectation e{};
  e.line = p->line_number;
  e.text = body;
  std::string what;
  if (!parse_expectation(words(w.begin() + 1, w.end()), &e, &what)) return p->fail(what);
  p->result->expectations.push_back(e);
  return true;
}

// A line outside blocks: a directive, or the state at the start.
bool read_top_line(parser* p, const std::string& line) {
  using reader = bool (*)(parser*, const words&, const std::string&);
  static const struct {
    const char* verb;
    reader read;
  } directives[] = {
      {"title", read_title},
      {"needs", read_needs},
      {"timezone", read_timezone},
      {"etc-tz", read_etc_tz},
      {"duration", read_duration},
      {"settings", read_settings},
      {"section", read_section},
      {"tool-descriptors", read_tool_descriptors},
      {"clock-speed", read_clock_speed},
      {"gpio-holder", read_gpio_holder},
      {"at", read_timed_action},
      {"expect", read_expect},
  };
  const std::string body = trim(line);
  if (body.empty() || body[0] == '#') return true;
  const words w = split_words(body);
  for (const auto& directive : directives) {
    if (w[0] == directive.verb) return directive.read(p, w, body);
  }
  return read_start_state(p, w);
}

// The checks over the whole scenario, once every line is read.
bool check_whole(parser* p) {
  scenario* s = p->result;
  if (p->block != parser::top) return p->fail("block not closed with 'end'");
  p->line_number = 0;
  if (s->duration <= 0) return p->fail("missing 'duration SECONDS'");
  if (!p->seen_settings) return p->fail("missing 'settings' (use 'settings missing' for no file)");
  // libfaketime counts a speed-up from each process's start, so a clock set
  // during the run would not show what the simulator expects.
  for (const timed_action& action : s->actions) {
    if (s->clock_speed != 0 && action.change.kind == change_kind::clock) {
      p->line_number = action.line;
      return p->fail("a clock cannot be set during a run with clock-speed");
    }
  }
  if (s->clock_speed != 0 && s->has_clock && s->clock.frozen)
    return p->fail("a frozen clock cannot run faster");
  return true;
}

}  // namespace

bool scenario_sets_tz(const scenario& s) { return s.timezone_given || !s.has_etc_tz; }

std::string scenario_zone(const scenario& s) { return scenario_sets_tz(s) ? s.timezone : s.etc_tz; }

bool parse_scenario(const std::string& text, const std::string& path, scenario* result,
                    std::string* error) {
  parser p{path, result, error};
  result->path = path;
  result->name = name_of(path);
  size_t position = 0;
  while (position <= text.size()) {
    size_t newline = text.find('\n', position);
    if (newline == std::string::npos) newline = text.size();
    std::string line = text.substr(position, newline - position);
    position = newline + 1;
    ++p.line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!(p.block == parser::top ? read_top_line(&p, line) : read_block_line(&p, line)))
      return false;
  }
  if (!check_whole(&p)) return false;
  std::stable_sort(result->actions.begin(), result->actions.end(),
                   [](const timed_action& a, const timed_action& b) { return a.at < b.at; });
  return true;
}

bool load_scenario(const std::string& path, scenario* result, std::string* error) {
  FILE* file = fopen(path.c_str(), "r");
  if (file == nullptr) {
    *error = path + ": " + strerror(errno);
    return false;
  }
  std::string text;
  char buffer[4096];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  fclose(file);
  return parse_scenario(text, path, result, error);
}
