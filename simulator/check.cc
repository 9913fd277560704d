#include "simulator/check.h"

#include <sys/wait.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "simulator/lines.h"

namespace {

constexpr int LOG_DAEMON_NOTICE = 3 * 8 + 5;

std::string seconds_text(double t) {
  char text[32];
  snprintf(text, sizeof text, "%.2f", t);
  return text;
}

// The stretch of the run an expectation looks at, in seconds since start.
struct window {
  double from;
  double to;
};

bool inside(const window& w, double t) { return t >= w.from && t <= w.to; }

bool matches(const event_pattern& p, const sim_event& event) {
  switch (p.what) {
    case expect_what::lpm:
      return event.kind == event_kind::lpm_start &&
             (p.any_arguments || event.text == join_words(p.arguments));
    case expect_what::log:
      return event.kind == event_kind::log && event.text == p.arguments[0];
    case expect_what::status:
      return event.kind == event_kind::status_run && (p.answer.empty() || event.number == 1);
    case expect_what::gpio_open:
      return event.kind == event_kind::gpio_open;
    case expect_what::gpio_read:
      return event.kind == event_kind::gpio_read && event.number == p.number &&
             (p.answer.empty() || event.detail == p.answer);
    case expect_what::exit_status:
      return event.kind == event_kind::daemon_exit && WIFEXITED(static_cast<int>(event.number)) &&
             WEXITSTATUS(static_cast<int>(event.number)) == p.number;
    case expect_what::action:
      return event.kind == event_kind::action && event.detail == p.arguments[0];
    default:
      return false;
  }
}

// The window of e in this run; false when its anchor never happened.
bool window_of(const expectation& e, const run_record& record, window* w, double* anchor_t) {
  double origin = 0;
  if (e.anchored) {
    // In time order, whatever order the reports came in.
    std::vector<double> anchors;
    for (const sim_event& event : record.events) {
      if (event.t >= e.since && matches(e.after, event)) anchors.push_back(event.t);
    }
    if (static_cast<long>(anchors.size()) < e.after_nth) return false;
    std::sort(anchors.begin(), anchors.end());
    origin = anchors[static_cast<size_t>(e.after_nth - 1)];
  }
  *anchor_t = origin;
  *w = window{origin + e.from, e.to < 0 ? record.end : origin + e.to};
  return true;
}

std::string count_wanted(const expectation& e) {
  if (e.max_count < 0) return "at least " + std::to_string(e.min_count);
  if (e.min_count == e.max_count) return std::to_string(e.min_count);
  return std::to_string(e.min_count) + " to " + std::to_string(e.max_count);
}

bool counted_enough(const expectation& e, long count) {
  return count >= e.min_count && (e.max_count < 0 || count <= e.max_count);
}

// "each cycle": the daemon's level requests for input 0 mark its cycles, and
// each stretch between two of them in the window must hold the count. A busy
// machine makes the cycles longer, not their content different.
verdict check_each_cycle(const expectation& e, const run_record& record, const window& w) {
  std::vector<double> marks;
  for (const sim_event& event : record.events) {
    if (event.kind == event_kind::gpio_read && event.number == 0 && inside(w, event.t))
      marks.push_back(event.t);
  }
  std::sort(marks.begin(), marks.end());
  if (marks.size() < 2) return verdict{false, "", "no cycles: input 0 was not read twice"};
  for (size_t i = 1; i < marks.size(); ++i) {
    long count = 0;
    for (const sim_event& event : record.events) {
      count += matches(e.match, event) && event.t > marks[i - 1] && event.t < marks[i];
    }
    if (!counted_enough(e, count)) {
      return verdict{false, "",
                     "seen " + std::to_string(count) + "x in the cycle from " +
                         seconds_text(marks[i - 1]) + " to " + seconds_text(marks[i]) +
                         "; wanted " + count_wanted(e)};
    }
  }
  return verdict{true, "", std::to_string(marks.size() - 1) + " cycles, each as wanted"};
}

verdict check_samples(const expectation& e, const run_record& record) {
  verdict v{true, "", ""};
  const window w{e.from, e.to < 0 ? record.end : e.to};
  int used = 0;
  int worst = -1;
  double worst_t = 0;
  for (const process_sample& sample : record.samples) {
    if (!inside(w, sample.t)) continue;
    const int value =
        e.match.what == expect_what::fds_at_most ? sample.descriptors : sample.zombies;
    if (value < 0) continue;
    ++used;
    if (value > worst) {
      worst = value;
      worst_t = sample.t;
    }
  }
  if (used == 0) return verdict{false, "", "no samples of the daemon in the window"};
  if (e.match.what == expect_what::fds_at_most) {
    v.held = worst <= e.match.number;
    v.finding = "at most " + std::to_string(worst) + " open (at " + seconds_text(worst_t) + ", " +
                std::to_string(used) + " samples)";
  } else {
    v.held = worst == 0;
    v.finding = worst == 0 ? std::to_string(used) + " samples without lingering zombies"
                           : std::to_string(worst) + " zombie children at " + seconds_text(worst_t);
  }
  return v;
}

}  // namespace

std::vector<verdict> check_expectations(const scenario& s, const run_record& record) {
  std::vector<verdict> verdicts;
  for (const expectation& e : s.expectations) {
    verdict v{true, "line " + std::to_string(e.line) + ": " + e.text, ""};
    if (e.match.what == expect_what::fds_at_most || e.match.what == expect_what::no_zombies) {
      verdict sampled = check_samples(e, record);
      v.held = sampled.held;
      v.finding = sampled.finding;
      verdicts.push_back(v);
      continue;
    }
    window w{};
    double anchor_t = 0;
    if (!window_of(e, record, &w, &anchor_t)) {
      v.held = false;
      v.finding = "the event the window is timed after never came";
      verdicts.push_back(v);
      continue;
    }
    if (e.each_cycle) {
      const verdict cycles = check_each_cycle(e, record, w);
      v.held = cycles.held;
      v.finding = cycles.finding;
      verdicts.push_back(v);
      continue;
    }
    long count = 0;
    std::string times;
    for (const sim_event& event : record.events) {
      if (!matches(e.match, event) || !inside(w, event.t)) continue;
      ++count;
      if (count <= 4) times += (times.empty() ? "" : ", ") + seconds_text(event.t);
    }
    v.held = counted_enough(e, count);
    v.finding = "seen " + std::to_string(count) + "x";
    if (!times.empty()) v.finding += " at " + times + (count > 4 ? ", ..." : "");
    if (e.anchored) v.finding += "; timed after " + seconds_text(anchor_t);
    if (!v.held) v.finding += "; wanted " + count_wanted(e);
    verdicts.push_back(v);
  }
  return verdicts;
}

std::vector<verdict> check_invariants(const run_record& record, const std::string& lpm_descriptors,
                                      const std::string& status_descriptors) {
  std::vector<verdict> verdicts;
  verdict log{true, "log messages come from dormix[daemon pid] at daemon.notice", ""};
  int messages = 0;
  for (const sim_event& event : record.events) {
    if (event.kind != event_kind::log) continue;
    ++messages;
    const std::string wanted = "dormix " + std::to_string(LOG_DAEMON_NOTICE);
    if (log.held && (event.detail != wanted || event.pid != record.daemon_pid)) {
      log.held = false;
      log.finding = "at " + seconds_text(event.t) + ": '" + event.text +
                    "' came as ident and priority '" + event.detail + "', pid " +
                    std::to_string(event.pid);
    }
  }
  if (log.held) log.finding = std::to_string(messages) + " messages";
  // The daemon always logs "started": none at all means the capture is broken.
  if (messages == 0) {
    log.held = false;
    log.finding = "no message was captured";
  }
  verdicts.push_back(log);

  const bool usual =
      lpm_descriptors == "0=null 1=null 2=null" && status_descriptors == "0=null 1=pipe 2=null";
  verdict fds{true,
              usual
                  ? "tools get only descriptors 0-2, on /dev/null (status stdout: a pipe)"
                  : "lpm gets [" + lpm_descriptors + "], status gets [" + status_descriptors + "]",
              ""};
  int runs = 0;
  for (const sim_event& event : record.events) {
    const bool lpm = event.kind == event_kind::lpm_start;
    if (!lpm && event.kind != event_kind::status_run) continue;
    ++runs;
    const std::string& wanted = lpm ? lpm_descriptors : status_descriptors;
    if (fds.held && event.detail != wanted) {
      fds.held = false;
      fds.finding =
          "at " + seconds_text(event.t) + ", " + (lpm ? "lpm" : "status") + " got: " + event.detail;
    }
  }
  if (fds.held) fds.finding = std::to_string(runs) + " tool runs";
  verdicts.push_back(fds);
  return verdicts;
}

bool parse_syslog(const std::string& datagram, int* priority, std::string* ident, long* pid,
                  std::string* message) {
  // glibc: "<PRI>" then a 15-character time stamp and a blank.
  if (datagram.size() < 3 || datagram[0] != '<') return false;
  size_t close = datagram.find('>');
  if (close == std::string::npos) return false;
  *priority = atoi(datagram.substr(1, close - 1).c_str());
  size_t tag = close + 1 + 16;
  if (tag > datagram.size()) return false;
  size_t colon = datagram.find(": ", tag);
  if (colon == std::string::npos) return false;
  std::string name = datagram.substr(tag, colon - tag);
  *pid = -1;
  size_t bracket = name.find('[');
  if (bracket != std::string::npos && name.back() == ']') {
    *pid = atol(name.substr(bracket + 1).c_str());
    name.resize(bracket);
  }
  *ident = name;
  *message = datagram.substr(colon + 2);
  while (!message->empty() && (message->back() == '\n' || message->back() == '\0'))
    message->pop_back();
  return true;
}
