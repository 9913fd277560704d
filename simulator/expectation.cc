// "expect [never | count N | count N..M | count N..] WHAT [each cycle]
//         [within FROM TO|end [after [N] WHAT [since S]]]" read into an expectation.
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

// "within FROM TO|end [after [N] WHAT [since S]]" at the end of w, taken off;
// the anchor's words go to anchor_words.
bool take_window(words* w, expectation* e, words* anchor_words, std::string* error) {
  const size_t n = w->size();
  size_t at = n;
  for (size_t i = 0; i + 3 <= n; ++i) {
    if ((*w)[i] == "within" && (i + 3 == n || (*w)[i + 3] == "after")) at = i;
  }
  if (at == n) return true;
  e->anchored = at + 3 < n;
  // An anchored window may open before its anchor, "within -5 0": the stretch
  // that led up to the event, however late a busy machine brought it.
  const std::string& from = (*w)[at + 1];
  const bool before_anchor = e->anchored && from.size() > 1 && from[0] == '-';
  if (!parse_number(before_anchor ? from.substr(1) : from, &e->from))
    return fail(error, "bad window start");
  if (before_anchor) e->from = -e->from;
  const std::string& to = (*w)[at + 2];
  if (to != "end" && (!parse_number(to, &e->to) || e->to < e->from))
    return fail(error, "bad window end");
  if (e->anchored) {
    anchor_words->assign(w->begin() + static_cast<long>(at) + 4, w->end());
    const size_t m = anchor_words->size();
    if (m >= 2 && (*anchor_words)[m - 2] == "since") {
      if (!parse_number((*anchor_words)[m - 1], &e->since)) return fail(error, "bad since");
      anchor_words->resize(m - 2);
    }
    if (anchor_words->empty()) return fail(error, "after what?");
  }
  w->resize(at);
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
bool read_log_message(const words& arguments, event_pattern* p, std::string* error) {
  std::string message = join_words(arguments);
  if (message.size() >= 2 && message.front() == '"' && message.back() == '"') {
    message = message.substr(1, message.size() - 2);
  }
  if (message.empty()) return fail(error, "expected: log MESSAGE");
  p->arguments.push_back(message);
  return true;
}

// gpio-read N [LEVEL]
bool read_gpio_read(const std::string& what, const words& arguments, event_pattern* p,
                    std::string* error) {
  long level = 0;
  if (arguments.empty() || arguments.size() > 2 || !parse_integer(arguments[0], &p->number) ||
      p->number < 0 ||
      (arguments.size() == 2 && (!parse_integer(arguments[1], &level) || level < 0))) {
    return fail(error, what + " takes an input and optionally a level");
  }
  if (arguments.size() == 2) p->answer = std::to_string(level);
  return p->number < SIM_INPUT_COUNT || fail(error, "no such input");
}

// action VERB: a state change the scenario makes; a probe records none.
bool read_action(const words& arguments, event_pattern* p, std::string* error) {
  static const change_kind recorded[] = {change_kind::input_level, change_kind::clock,
                                         change_kind::status, change_kind::lpm,
                                         change_kind::signal};
  for (change_kind kind : recorded) {
    if (arguments.size() == 1 && arguments[0] == change_verb(kind)) {
      p->arguments = arguments;
      return true;
    }
  }
  return fail(error, "expected: action input|clock|status|lpm|signal");
}

// WHAT and its arguments.
bool read_what(const std::string& what, const words& arguments, event_pattern* p,
               std::string* error) {
  static const struct {
    const char* name;
    expect_what what;
    bool takes_number;
  } plain[] = {{"gpio-open", expect_what::gpio_open, false},
               {"no-zombies", expect_what::no_zombies, false},
               {"exit", expect_what::exit_status, true},
               {"fds-at-most", expect_what::fds_at_most, true}};
  p->answer.clear();
  if (what == "lpm") {
    p->what = expect_what::lpm;
    p->any_arguments = arguments.empty();
    p->arguments = arguments;
    return true;
  }
  if (what == "log") {
    p->what = expect_what::log;
    return read_log_message(arguments, p, error);
  }
  if (what == "status") {
    p->what = expect_what::status;
    if (arguments.empty()) return true;
    p->answer = arguments[0];
    return (arguments.size() == 1 && p->answer == "fail") || fail(error, "expected: status [fail]");
  }
  if (what == "gpio-read") {
    p->what = expect_what::gpio_read;
    return read_gpio_read(what, arguments, p, error);
  }
  if (what == "action") {
    p->what = expect_what::action;
    return read_action(arguments, p, error);
  }
  for (const auto& entry : plain) {
    if (what != entry.name) continue;
    p->what = entry.what;
    if (!entry.takes_number) return arguments.empty() || fail(error, what + " takes no arguments");
    return (arguments.size() == 1 && parse_integer(arguments[0], &p->number) && p->number >= 0) ||
           fail(error, what + " takes one number");
  }
  return fail(error, "unknown expectation '" + what + "'");
}

bool sampled(expect_what what) {
  return what == expect_what::fds_at_most || what == expect_what::no_zombies;
}

}  // namespace

bool parse_expectation(const words& words_after_expect, expectation* e, std::string* error) {
  words w = words_after_expect;
  e->min_count = 1;
  e->max_count = -1;
  e->from = 0;
  e->to = -1;
  e->anchored = false;
  e->after_nth = 1;
  e->since = 0;
  e->each_cycle = false;
  bool counted = false;
  words anchor;
  if (!take_window(&w, e, &anchor, error) || !take_count(&w, e, &counted, error)) return false;
  if (w.size() >= 2 && w[w.size() - 2] == "each" && w.back() == "cycle") {
    if (!counted) return fail(error, "each cycle needs a count");
    e->each_cycle = true;
    w.resize(w.size() - 2);
  }
  if (w.empty()) return fail(error, "expect what?");
  const std::string what = w[0];
  if (!read_what(what, words(w.begin() + 1, w.end()), &e->match, error)) return false;
  if (counted && sampled(e->match.what)) return fail(error, what + " takes no count");
  // The scenario's own actions happen as written: they only time windows.
  if (e->match.what == expect_what::action) return fail(error, "actions are only anchors");
  if (e->each_cycle && e->match.what == expect_what::gpio_read)
    return fail(error, "level requests mark the cycles");
  if (!e->anchored) return true;
  // "after 3 status": the third such event. Faults injected by call count
  // begin and end at a given event of the daemon's, whenever that comes.
  if (anchor.size() >= 2 && parse_integer(anchor[0], &e->after_nth)) {
    if (e->after_nth < 1) return fail(error, "events are counted from 1");
    anchor.erase(anchor.begin());
  }
  if (!read_what(anchor[0], words(anchor.begin() + 1, anchor.end()), &e->after, error))
    return false;
  if (sampled(e->match.what) || sampled(e->after.what))
    return fail(error, "samples are not timed after an event");
  return true;
}
