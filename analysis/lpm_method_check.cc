#include "analysis/lpm_method_check.h"

#include "analysis/key_lines.h"
#include "board/lpm_config.h"

void check_lpm_method(check_report* report, const char* lpm_config_text) {
  if (lpm_config_text == nullptr || report->config.sleep_delay_enabled == 0) return;
  lpm_config lpm{};
  char error[256];
  if (!read_lpm_config(lpm_config_text, &lpm, error, sizeof error)) return;
  if (!lpm_method_returns(lpm.method)) return;
  add_warning(&report->findings, report_key_line(*report, "MOD_DORMIX_SLEEP_DELAY0_ENABLED"),
              WARN_DELAY_RETURNS,
              "the delay rule is on and %s is set to \"method=%s\", after which the router wakes "
              "with the daemon still running: the delay has passed, so the rule puts the router "
              "to sleep again on the first cycle after every wake (use method=poweroff, or "
              "another sleep rule)",
              LPM_CONFIG_PATH, lpm_method_name(lpm.method));
}
