#include "analysis/lpm_method_check.h"

#include "analysis/key_lines.h"

void check_lpm_method(check_report* report, const lpm_method_answer* lpm) {
  if (lpm == nullptr || report->config.sleep_delay_enabled == 0 || !lpm->returns) return;
  add_warning(&report->findings, report_key_line(*report, "MOD_DORMIX_SLEEP_DELAY0_ENABLED"),
              WARN_DELAY_RETURNS,
              "the delay rule is on and %s is set to \"method=%s\", after which the router wakes "
              "with the daemon still running: the delay has passed, so the rule puts the router "
              "to sleep again on the first cycle after every wake (use method=poweroff, or "
              "another sleep rule)",
              lpm->path, lpm->name);
}
