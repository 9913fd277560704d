// What happened during one run, as the simulator observed it.
#pragma once

#include <string>
#include <vector>

enum class event_kind {
  action,        // a scenario action the simulator carried out
  daemon_start,  // the daemon's command line was started
  log,           // a syslog message
  lpm_start,     // the low-power tool began
  lpm_end,       // the low-power tool returned
  status_run,    // the status tool ran
  gpio_open,     // /dev/gpio was opened
  gpio_read,     // a level request for an input
  daemon_exit,   // the daemon ended; number holds the raw wait status
  output,        // a line the daemon printed on stdout or stderr
  probe,         // descriptor and zombie count on request
  note,          // anything else worth showing
};

struct sim_event {
  double t;  // seconds since the daemon started
  event_kind kind;
  std::string text;    // message, argument list, description
  std::string detail;  // tool descriptors ("0=null 1=pipe 2=null"), log ident and priority
  long number;         // exit status, input, ...; for a status run 1 when it was told to fail
  long pid;
};

/// The daemon's descriptors and lingering zombie children at one moment.
struct process_sample {
  double t;
  int descriptors;  // -1 when they could not be read
  int zombies;      // children that have been zombies for three samples in a row
};

struct run_record {
  std::vector<sim_event> events;
  std::vector<process_sample> samples;
  long daemon_pid = -1;  // as the daemon sees itself (its log messages carry it)
  bool daemon_exited = false;
  double end = 0;  // seconds since start at which the run ended
};
