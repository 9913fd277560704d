#include "simulator/summary.h"

#include <cstdio>
#include <vector>

#include "simulator/check.h"

bool report_verdicts(const scenario& s, const run_record& record, bool failed_setup, bool quiet,
                     int results_fd) {
  std::vector<verdict> verdicts = check_expectations(s, record);
  std::vector<verdict> invariants =
      check_invariants(record, s.lpm_descriptors, s.status_descriptors);
  bool passed = !failed_setup;
  int status_runs = 0, gpio_opens = 0, gpio_reads = 0;
  for (const sim_event& event : record.events) {
    status_runs += event.kind == event_kind::status_run;
    gpio_opens += event.kind == event_kind::gpio_open;
    gpio_reads += event.kind == event_kind::gpio_read;
  }
  if (!quiet) printf("expectations:\n");
  for (const std::vector<verdict>* list : {&verdicts, &invariants}) {
    for (const verdict& v : *list) {
      passed = passed && v.held;
      if (!quiet || !v.held) {
        printf("  %-4s  %s  (%s)\n", v.held ? "ok" : "FAIL", v.label.c_str(), v.finding.c_str());
      }
    }
  }
  printf(
      "%s  %s  (%zu expectations, %.1f s; status tool ran %d times, /dev/gpio opened %d times, %d "
      "level requests)\n",
      passed ? "PASS" : "FAIL", s.name.c_str(), verdicts.size(), record.end, status_runs,
      gpio_opens, gpio_reads);
  fflush(stdout);
  if (results_fd >= 0) {
    dprintf(results_fd, "figures %s %.1f %d %d %d\n", s.name.c_str(), record.end, status_runs,
            gpio_opens, gpio_reads);
  }
  return passed;
}
