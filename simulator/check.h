// Judges a run against the scenario's expectations and the invariants that
// hold for every run.
#pragma once

#include <string>
#include <vector>

#include "simulator/record.h"
#include "simulator/scenario.h"

struct verdict {
  bool held;
  std::string label;    // the expectation as written, with its line
  std::string finding;  // what was seen
};

/// One verdict per expectation, in scenario order.
std::vector<verdict> check_expectations(const scenario& s, const run_record& record);

/// Checks what every run must show: log messages from "dormix" with the
/// daemon's pid at daemon.notice, and tools started with exactly descriptors
/// 0-2 on /dev/null (the status tool's stdout a pipe), or with the lists a
/// scenario gives instead.
std::vector<verdict> check_invariants(
    const run_record& record, const std::string& lpm_descriptors = "0=null 1=null 2=null",
    const std::string& status_descriptors = "0=null 1=pipe 2=null");

/// Splits a syslog datagram "<PRI>Mmm dd hh:mm:ss ident[pid]: message".
bool parse_syslog(const std::string& datagram, int* priority, std::string* ident, long* pid,
                  std::string* message);
