#include "simulator/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    words.push_back(line.substr(start, i - start));
  }
  return words;
}

std::string trim(const std::string& text) {
  size_t start = text.find_first_not_of(" \t\r");
  if (start == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(start, end - start + 1);
}

bool parse_number(const std::string& word, double* value) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double parsed = strtod(word.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed < 0) return false;
  *value = parsed;
  return true;
}

bool parse_integer(const std::string& word, long* value) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long parsed = strtol(word.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *value = parsed;
  return true;
}

bool parse_input(const std::string& word, int* input) {
  long n = 0;
  if (!parse_integer(word, &n) || n < 0 || n >= SIM_INPUT_COUNT) return false;
  *input = static_cast<int>(n);
  return true;
}

// "COUNT", "MIN..MAX" or "MIN.."
bool parse_count(const std::string& word, long* min_count, long* max_count) {
  size_t dots = word.find("..");
  if (dots == std::string::npos) {
    if (!parse_integer(word, min_count) || *min_count < 0) return false;
    *max_count = *min_count;
    return true;
  }
  if (!parse_integer(word.substr(0, dots), min_count) || *min_count < 0) return false;
  std::string upper = word.substr(dots + 2);
  if (upper.empty()) {
    *max_count = -1;
    return true;
  }
  return parse_integer(upper, max_count) && *max_count >= *min_count;
}

struct parser {
  const std::string& path;
  scenario* result;
  std::string* error;
  int line_number = 0;

  bool fail(const std::string& what) {
    *error = path + ":" + std::to_string(line_number) + ": " + what;
    return false;
  }
};

// Words of a state change, shared by the initial state and timed actions.
// Checks them and notes what the scenario needs.
bool check_change(parser* p, const std::vector<std::string>& w, bool timed) {
  scenario* s = p->result;
  const std::string& verb = w[0];
  if (verb == "input") {
    int input = 0;
    if (w.size() < 3 || !parse_input(w[1], &input)) {
      return p->fail("expected: input 0|1 LEVEL, or input 0|1 fail ERRNO");
    }
    if (w[2] == "fail") {
      if (w.size() != 4 || errno_from_name(w[3]) == 0)
        return p->fail("expected an errno name, e.g. EIO");
      if (!timed) s->read_errors[input] = errno_from_name(w[3]);
    } else {
      long level = 0;
      if (w.size() != 3 || !parse_integer(w[2], &level) || level < 0 || level > 0x7fffffff) {
        return p->fail("a level is a number from 0 to 2147483647");
      }
      if (!timed) s->levels[input] = static_cast<int>(level);
    }
    if (!s->needs_gpio) return p->fail("input levels need a 'needs gpio' line before them");
    return true;
  }
  if (verb == "clock") {
    if (w.size() < 3 || w.size() > 4 || !valid_local_time(w[1] + " " + w[2]) ||
        (w.size() == 4 && w[3] != "frozen")) {
      return p->fail("expected: clock YYYY-MM-DD HH:MM:SS [frozen]");
    }
    if (!s->needs_faketime) return p->fail("a clock needs a 'needs faketime' line before it");
    if (!timed) {
      s->has_clock = true;
      s->clock = clock_setting{w[1] + " " + w[2], w.size() == 4};
    }
    return true;
  }
  if (verb == "status") {
    if (w.size() != 2 || (w[1] != "ok" && w[1] != "fail" && w[1] != "big")) {
      return p->fail("expected: status ok|fail|big");
    }
    if (!timed) s->status_mode = w[1];
    return true;
  }
  if (verb == "lpm") {
    double seconds = 0;
    long code = 0;
    bool ok = w.size() >= 3 && w[1] == "sleep" && parse_number(w[2], &seconds);
    if (ok && w.size() == 5)
      ok = w[3] == "exit" && parse_integer(w[4], &code) && code >= 0 && code < 256;
    if (!ok || (w.size() != 3 && w.size() != 5))
      return p->fail("expected: lpm sleep SECONDS [exit CODE]");
    if (!timed) {
      s->lpm_seconds = seconds;
      s->lpm_exit = static_cast<int>(code);
    }
    return true;
  }
  if (timed && verb == "signal") {
    if (w.size() != 2 || signal_from_name(w[1]) == 0)
      return p->fail("expected: signal TERM|INT|QUIT|HUP|...");
    return true;
  }
  if (timed && verb == "probe") {
    if (w.size() != 1) return p->fail("probe takes no arguments");
    return true;
  }
  return p->fail("unknown " + std::string(timed ? "action" : "line") + " '" + verb + "'");
}

bool parse_expectation(parser* p, const std::string& line, std::vector<std::string> w) {
  expectation e{};
  e.line = p->line_number;
  e.text = trim(line);
  e.min_count = 1;
  e.max_count = -1;
  e.from = 0;
  e.to = -1;
  w.erase(w.begin());
  if (w.size() >= 3 && w[w.size() - 3] == "within") {
    if (!parse_number(w[w.size() - 2], &e.from)) return p->fail("bad window start");
    const std::string& to = w[w.size() - 1];
    if (to != "end" && (!parse_number(to, &e.to) || e.to < e.from))
      return p->fail("bad window end");
    w.resize(w.size() - 3);
  }
  bool counted = false;
  if (!w.empty() && w[0] == "never") {
    e.min_count = e.max_count = 0;
    counted = true;
    w.erase(w.begin());
  } else if (w.size() >= 2 && w[0] == "count") {
    if (!parse_count(w[1], &e.min_count, &e.max_count))
      return p->fail("expected: count N, N..M or N..");
    counted = true;
    w.erase(w.begin(), w.begin() + 2);
  }
  if (w.empty()) return p->fail("expect what?");
  const std::string what = w[0];
  w.erase(w.begin());
  if (what == "lpm") {
    e.what = expect_what::lpm;
    e.any_arguments = w.empty();
    e.arguments = w;
  } else if (what == "log") {
    e.what = expect_what::log;
    std::string message;
    for (const std::string& word : w) message += (message.empty() ? "" : " ") + word;
    if (message.size() >= 2 && message.front() == '"' && message.back() == '"') {
      message = message.substr(1, message.size() - 2);
    }
    if (message.empty()) return p->fail("expected: log MESSAGE");
    e.arguments.push_back(message);
  } else if (what == "status" || what == "gpio-open") {
    e.what = what == "status" ? expect_what::status : expect_what::gpio_open;
    if (!w.empty()) return p->fail(what + " takes no arguments");
  } else if (what == "gpio-read" || what == "exit" || what == "fds-at-most") {
    e.what = what == "gpio-read" ? expect_what::gpio_read
             : what == "exit"    ? expect_what::exit_status
                                 : expect_what::fds_at_most;
    if (w.size() != 1 || !parse_integer(w[0], &e.number) || e.number < 0) {
      return p->fail(what + " takes one number");
    }
    if (e.what == expect_what::gpio_read && e.number >= SIM_INPUT_COUNT)
      return p->fail("no such input");
  } else if (what == "no-zombies") {
    e.what = expect_what::no_zombies;
    if (!w.empty()) return p->fail("no-zombies takes no arguments");
  } else {
    return p->fail("unknown expectation '" + what + "'");
  }
  if (counted && (e.what == expect_what::fds_at_most || e.what == expect_what::no_zombies)) {
    return p->fail(what + " takes no count");
  }
  p->result->expectations.push_back(e);
  return true;
}

// "etc-tz TEXT": the rest of the line is /etc/TZ's line.
bool parse_etc_tz(parser* p, const std::string& body) {
  const std::string text = trim(body.substr(6));
  if (text.empty()) return p->fail("expected: etc-tz TEXT");
  p->result->has_etc_tz = true;
  p->result->etc_tz = text;
  return true;
}

}  // namespace

bool scenario_sets_tz(const scenario& s) { return s.timezone_given || !s.has_etc_tz; }

std::string scenario_zone(const scenario& s) { return scenario_sets_tz(s) ? s.timezone : s.etc_tz; }

bool expand_escapes(const std::string& line, std::string* out) {
  out->clear();
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\') {
      out->push_back(line[i]);
      continue;
    }
    if (++i >= line.size()) return false;
    switch (line[i]) {
      case '\\':
        out->push_back('\\');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case 't':
        out->push_back('\t');
        break;
      case 'x': {
        if (i + 2 >= line.size()) return false;
        std::string hex = line.substr(i + 1, 2);
        char* end = nullptr;
        long value = strtol(hex.c_str(), &end, 16);
        if (hex.size() != 2 || *end != '\0' || value == 0) return false;
        out->push_back(static_cast<char>(value));
        i += 2;
        break;
      }
      case '{': {
        size_t colon = line.find(':', i);
        size_t close = line.find('}', i);
        if (colon == std::string::npos || close == std::string::npos || colon > close) return false;
        long times = 0;
        if (!parse_integer(line.substr(i + 1, colon - i - 1), &times) || times < 0 ||
            times > 1000000) {
          return false;
        }
        std::string piece = line.substr(colon + 1, close - colon - 1);
        for (long k = 0; k < times; ++k) out->append(piece);
        i = close;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

bool valid_local_time(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
  if (sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &year, &month, &day, &hour, &minute,
             &second, &used) != 6) {
    return false;
  }
  return static_cast<size_t>(used) == text.size() && text.size() == 19 && year >= 1970 &&
         month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59 &&
         second <= 60;
}

int errno_from_name(const std::string& name) {
  static const struct {
    const char* name;
    int value;
  } names[] = {{"EIO", EIO},     {"ENODEV", ENODEV}, {"ENOTTY", ENOTTY}, {"EINVAL", EINVAL},
               {"EBUSY", EBUSY}, {"EAGAIN", EAGAIN}, {"EINTR", EINTR},   {"EPERM", EPERM},
               {"ENXIO", ENXIO}, {"EFAULT", EFAULT}, {"ENOSYS", ENOSYS}, {"EACCES", EACCES}};
  for (const auto& entry : names) {
    if (name == entry.name) return entry.value;
  }
  return 0;
}

int signal_from_name(const std::string& name) {
  std::string bare = name.rfind("SIG", 0) == 0 ? name.substr(3) : name;
  static const struct {
    const char* name;
    int value;
  } names[] = {{"TERM", SIGTERM}, {"INT", SIGINT},   {"QUIT", SIGQUIT}, {"HUP", SIGHUP},
               {"USR1", SIGUSR1}, {"USR2", SIGUSR2}, {"KILL", SIGKILL}, {"PIPE", SIGPIPE},
               {"ALRM", SIGALRM}, {"CHLD", SIGCHLD}, {"STOP", SIGSTOP}, {"CONT", SIGCONT}};
  for (const auto& entry : names) {
    if (bare == entry.name) return entry.value;
  }
  return 0;
}

bool parse_scenario(const std::string& text, const std::string& path, scenario* result,
                    std::string* error) {
  parser p{path, result, error};
  result->path = path;
  size_t slash = path.find_last_of('/');
  result->name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = result->name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) result->name.resize(dot);

  enum { top, in_settings, in_section } block = top;
  bool crlf = false;
  bool seen_settings = false;
  std::string block_text;
  size_t position = 0;
  while (position <= text.size()) {
    size_t newline = text.find('\n', position);
    if (newline == std::string::npos) newline = text.size();
    std::string line = text.substr(position, newline - position);
    position = newline + 1;
    ++p.line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();

    if (block != top) {
      std::string body = trim(line);
      if (body == "end") {
        if (block == in_settings) {
          result->settings = block_text;
        } else {
          result->section_texts.push_back(block_text);
        }
        block = top;
        continue;
      }
      if (line.find_first_not_of(" \t") == std::string::npos) continue;
      std::string expanded;
      size_t indent = line.find_first_not_of(" \t");
      if (!expand_escapes(line.substr(indent), &expanded)) return p.fail("bad escape in this line");
      block_text += expanded + (block == in_settings && crlf ? "\r\n" : "\n");
      continue;
    }

    std::string body = trim(line);
    if (body.empty() || body[0] == '#') continue;
    std::vector<std::string> w = split_words(body);
    const std::string& verb = w[0];
    if (verb == "title") {
      result->title = trim(body.substr(5));
    } else if (verb == "needs") {
      for (size_t i = 1; i < w.size(); ++i) {
        if (w[i] == "faketime") {
          result->needs_faketime = true;
        } else if (w[i] == "gpio") {
          result->needs_gpio = true;
        } else {
          return p.fail("unknown need '" + w[i] + "' (faketime, gpio)");
        }
      }
    } else if (verb == "timezone") {
      if (w.size() != 2) return p.fail("expected: timezone TZ");
      result->timezone = w[1];
      result->timezone_given = true;
    } else if (verb == "etc-tz") {
      if (!parse_etc_tz(&p, body)) return false;
    } else if (verb == "duration") {
      if (w.size() != 2 || !parse_number(w[1], &result->duration) || result->duration <= 0) {
        return p.fail("expected: duration SECONDS");
      }
    } else if (verb == "settings") {
      if (seen_settings) return p.fail("settings given twice");
      seen_settings = true;
      if (w.size() == 2 && w[1] == "missing") {
        result->settings_present = false;
        continue;
      }
      if (w.size() > 2 || (w.size() == 2 && w[1] != "crlf"))
        return p.fail("expected: settings [crlf|missing]");
      crlf = w.size() == 2;
      block_text.clear();
      block = in_settings;
    } else if (verb == "section") {
      if (w.size() != 2 || w[1].find('/') != std::string::npos || w[1][0] == '.') {
        return p.fail("expected: section NAME");
      }
      result->section_names.push_back(w[1]);
      block_text.clear();
      block = in_section;
    } else if (verb == "tool-descriptors") {
      if (w.size() < 3 || (w[1] != "lpm" && w[1] != "status"))
        return p.fail("expected: tool-descriptors lpm|status none|FD=KIND...");
      std::string list;
      for (size_t i = 2; i < w.size(); ++i) {
        if (w[i] != "none") list += (list.empty() ? "" : " ") + w[i];
      }
      (w[1] == "lpm" ? result->lpm_descriptors : result->status_descriptors) = list;
    } else if (verb == "clock-speed") {
      long speed = 0;
      if (w.size() != 2 || !parse_integer(w[1], &speed) || speed < 2 || speed > 1000)
        return p.fail("expected: clock-speed N (2 to 1000)");
      if (!result->needs_faketime)
        return p.fail("clock-speed needs a 'needs faketime' line before it");
      result->clock_speed = static_cast<int>(speed);
    } else if (verb == "at") {
      timed_action action{0, {}, p.line_number};
      if (w.size() < 3 || !parse_number(w[1], &action.at))
        return p.fail("expected: at SECONDS ACTION");
      action.words.assign(w.begin() + 2, w.end());
      if (!check_change(&p, action.words, true)) return false;
      result->actions.push_back(action);
    } else if (verb == "expect") {
      if (!parse_expectation(&p, body, w)) return false;
    } else if (!check_change(&p, w, false)) {
      return false;
    }
  }
  if (block != top) return p.fail("block not closed with 'end'");
  p.line_number = 0;
  if (result->duration <= 0) return p.fail("missing 'duration SECONDS'");
  if (!seen_settings) return p.fail("missing 'settings' (use 'settings missing' for no file)");
  // libfaketime counts a speed-up from each process's start, so a clock set
  // during the run would not show what the simulator expects.
  for (const timed_action& action : result->actions) {
    if (result->clock_speed != 0 && action.words[0] == "clock") {
      p.line_number = action.line;
      return p.fail("a clock cannot be set during a run with clock-speed");
    }
  }
  if (result->clock_speed != 0 && result->has_clock && result->clock.frozen)
    return p.fail("a frozen clock cannot run faster");
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
