// "expect [never | count N | count N..M | count N..] WHAT [within FROM TO|end]"
// read into an expectation.
#include "simulator/lines.h"
#include "simulator/scenario.h"
#include "simulator/scenario_text.h"

namespace {

using words = std::vector<std::string>;

bool fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
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

// "within FROM TO|end" at the end of w, taken off.
bool take_window(words* w, expectation* e, std::string* error) {
  const size_t n = w->size();
  if (n < 3 || (*w)[n - 3] != "within") return true;
  if (!parse_number((*w)[n - 2], &e->from)) return fail(error, "bad window start");
  const std::string& to = (*w)[n - 1];
  if (to != "end" && (!parse_number(to, &e->to) || e->to < e->from))
    return fail(error, "bad window end");
  w->resize(n - 3);
  return true;
}

// "never" or "count ..." at the start of w, taken off; counted tells which.
bool take_count(words* w, expectation* e, bool* counted, std::string* error) {
  *counted = false;
  if (!w->empty() && (*w)[0] == "never") {
    e->min_count = e->max_count = 0;
    *counted = true;
    w->erase(w->begin());
  } else if (w->size() >= 2 && (*w)[0] == "count") {
    if (!parse_count((*w)[1], &e->min_count, &e->max_count))
      return fail(error, "expected: count N, N..M or N..");
    *counted = true;
    w->erase(w->begin(), w->begin() + 2);
  }
  return true;
}

// log MESSAGE, quoted or not
bool read_log_message(const words& arguments, expectation* e, std::string* error) {
  std::string message = join_words(arguments);
  if (message.size() >= 2 && message.front() == '"' && message.back() == '"') {
    message = message.substr(1, message.size() - 2);
  }
  if (message.empty()) return fail(error, "expected: log MESSAGE");
  e->arguments.push_back(message);
  return true;
}

// WHAT and its arguments.
bool read_what(const std::string& what, const words& arguments, expectation* e,
               std::string* error) {
  static const struct {
    const char* name;
    expect_what what;
    bool takes_number;
  } plain[] = {{"status", expect_what::status, false},
               {"gpio-open", expect_what::gpio_open, false},
               {"no-zombies", expect_what::no_zombies, false},
               {"gpio-read", expect_what::gpio_read, true},
               {"exit", expect_what::exit_status, true},
               {"fds-at-most", expect_what::fds_at_most, true}};
  if (what == "lpm") {
    e->what = expect_what::lpm;
    e->any_arguments = arguments.empty();
    e->arguments = arguments;
    return true;
  }
  if (what == "log") {
    e->what = expect_what::log;
    return read_log_message(arguments, e, error);
  }
  for (const auto& entry : plain) {
    if (what != entry.name) continue;
    e->what = entry.what;
    if (!entry.takes_number) return arguments.empty() || fail(error, what + " takes no arguments");
    if (arguments.size() != 1 || !parse_integer(arguments[0], &e->number) || e->number < 0)
      return fail(error, what + " takes one number");
    return e->what != expect_what::gpio_read || e->number < SIM_INPUT_COUNT ||
           fail(error, "no such input");
  }
  return fail(error, "unknown expectation '" + what + "'");
}

}  // namespace

bool parse_expectation(const words& words_after_expect, expectation* e, std::string* error) {
  words w = words_after_expect;
  e->min_count = 1;
  e->max_count = -1;
  e->from = 0;
  e->to = -1;
  bool counted = false;
  if (!take_window(&w, e, error) || !take_count(&w, e, &counted, error)) return false;
  if (w.empty()) return fail(error, "expect what?");
  const std::string what = w[0];
  if (!read_what(what, words(w.begin() + 1, w.end()), e, error)) return false;
  if (counted && (e->what == expect_what::fds_at_most || e->what == expect_what::no_zombies)) {
    return fail(error, what + " takes no count");
  }
  return true;
}
