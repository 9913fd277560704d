#include "simulator/check.h"

#include <sys/wait.h>
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

bool in_window(const expectation& e, double t, double end) {
  return t >= e.from && t <= (e.to < 0 ? end : e.to);
}

bool matches(const expectation& e, const sim_event& event) {
  switch (e.what) {
    case expect_what::lpm:
      return event.kind == event_kind::lpm_start &&
             (e.any_arguments || event.text == join_words(e.arguments));
    case expect_what::log:
      return event.kind == event_kind::log && event.text == e.arguments[0];
    case expect_what::status:
      return event.kind == event_kind::status_run;
    case expect_what::gpio_open:
      return event.kind == event_kind::gpio_open;
    case expect_what::gpio_read:
      return event.kind == event_kind::gpio_read && event.number == e.number;
    case expect_what::exit_status:
      return event.kind == event_kind::daemon_exit && WIFEXITED(static_cast<int>(event.number)) &&
             WEXITSTATUS(static_cast<int>(event.number)) == e.number;
    default:
      return false;
  }
}

std::string count_wanted(const expectation& e) {
  if (e.max_count < 0) return "at least " + std::to_string(e.min_count);
  if (e.min_count == e.max_count) return std::to_string(e.min_count);
  return std::to_string(e.min_count) + " to " + std::to_string(e.max_count);
}

verdict check_samples(const expectation& e, const run_record& record) {
  verdict v{true, "", ""};
  int used = 0;
  int worst = -1;
  double worst_t = 0;
  for (const process_sample& sample : record.samples) {
    if (!in_window(e, sample.t, record.end)) continue;
    const int value = e.what == expect_what::fds_at_most ? sample.descriptors : sample.zombies;
    if (value < 0) continue;
    ++used;
    if (value > worst) {
      worst = value;
      worst_t = sample.t;
    }
  }
  if (used == 0) return verdict{false, "", "no samples of the daemon in the window"};
  if (e.what == expect_what::fds_at_most) {
    v.held = worst <= e.number;
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
    if (e.what == expect_what::fds_at_most || e.what == expect_what::no_zombies) {
      verdict sampled = check_samples(e, record);
      v.held = sampled.held;
      v.finding = sampled.finding;
      verdicts.push_back(v);
      continue;
    }
    long count = 0;
    std::string times;
    for (const sim_event& event : record.events) {
      if (!matches(e, event) || !in_window(e, event.t, record.end)) continue;
      ++count;
      if (count <= 4) times += (times.empty() ? "" : ", ") + seconds_text(event.t);
    }
    v.held = count >= e.min_count && (e.max_count < 0 || count <= e.max_count);
    v.finding = "seen " + std::to_string(count) + "x";
    if (!times.empty()) v.finding += " at " + times + (count > 4 ? ", ..." : "");
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
