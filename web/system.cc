#include "web/system.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "analysis/root_only.h"
#include "board/lpm_config.h"
#include "device/binary_input.h"
#include "device/monotonic.h"
#include "device/status.h"
#include "device/trust_walk.h"

namespace {

int clock_monotonic_seconds(void* /*context*/) { return monotonic_seconds(); }

// What the router's side of the page keeps for the length of a request;
// all zero at start, so that it takes no room in the program file.
struct router_side {
  bool locked;
  int lock_fd;
  char* zone_environment[ENVIRONMENT_CAPACITY * 8];
};
router_side router;

const char* router_environment(void* /*context*/, const char* name) { return getenv(name); }

// The page's look at the inputs reads levels, the clock and the device
// only: which inputs exist comes from its one run of the status tool
// (answer_request), so the device code's own runs of the tool are never
// asked for, and not linked.
const char* router_ports_unasked(void* /*context*/) { return nullptr; }
int router_presence_unasked(void* /*context*/, int /*n*/) { return 0; }
int router_input_level(void* /*context*/, int n) { return binary_input_read(n); }
bool router_gpio_exists(void* /*context*/) { return gpio_device_present(); }

field_platform router_page_field_platform() {
  return field_platform{nullptr,
                        router_ports_unasked,
                        router_presence_unasked,
                        router_input_level,
                        clock_monotonic_seconds,
                        router_gpio_exists};
}

bool router_read_body(void* /*context*/, char* out, size_t length) {
  return read_exactly_until(0, out, length, monotonic_clock(), BODY_TIMEOUT_SECONDS);
}

void router_settings_target(char out[PATH_MAX]) { settings_target(SETTINGS_PATH, out, PATH_MAX); }

long router_read_settings(void* /*context*/, char* out, size_t size) {
  return read_whole_file(SETTINGS_PATH, out, size);
}

secret_state router_load_secret(void* /*context*/, bool may_create,
                                unsigned char secret[SECRET_SIZE], char* why, size_t why_size) {
  return load_secret_at(WEB_SECRET_PATH, may_create, secret, why, why_size);
}

bool router_switched_off(void* /*context*/) { return switch_file_trusted(WEB_NO_USER_SWITCH_PATH); }

bool router_is_host(void* /*context*/, const char* host) { return router_host_name(host); }

void router_save_obstacle(void* /*context*/, char* why, size_t why_size) {
  char target[PATH_MAX];
  router_settings_target(target);
  write_obstacle(target, why, why_size);
  if (why[0] != '\0') return;
  char problem[WEB_WHY_SIZE];
  trust_problem(SETTINGS_PATH, problem, sizeof problem);
  if (problem[0] == '\0') return;
  snprintf(why, why_size,
           "%s: whoever can change it can decide when the router sleeps and when it wakes, and "
           "the daemon runs as root",
           problem);
}

void router_trust_findings(void* /*context*/, check_findings* findings) {
  check_trusted_files(SETTINGS_PATH, walk_to_root, findings);
  link_trust_findings(SETTINGS_PATH, "the settings file", findings);
}

bool router_lock(void* /*context*/) {
  router.lock_fd = lock_settings_directory(SETTINGS_PATH, monotonic_clock(), LOCK_TIMEOUT_SECONDS);
  router.locked = router.lock_fd >= 0;
  return router.locked;
}

void router_unlock(void* /*context*/) {
  if (router.locked) close(router.lock_fd);
  router.locked = false;
}

bool router_replace(void* /*context*/, const char* data, size_t size, char* why, size_t why_size) {
  // A link is followed: the daemon reads what it leads to.
  char target[PATH_MAX];
  router_settings_target(target);
  remove_stale_temporaries(target);
  return replace_settings_file(target, data, size, why, why_size);
}

pid_t router_running_daemon(void* /*context*/) { return running_daemon(); }

void router_restart(void* /*context*/, restart_outcome* outcome) {
  run_restart(INIT_SCRIPT_PATH, RESTART_TIMEOUT_SECONDS, outcome);
}

bool router_status_ports(void* /*context*/, char* out) {
  return run_status_tool(STATUS_TOOL_PATH, "ports", STATUS_TIMEOUT_SECONDS, out,
                         STATUS_OUTPUT_SIZE);
}

const char* router_lpm_config(void* /*context*/, char* out) { return read_lpm_config_file(out); }

time_t router_wall_clock(void* /*context*/) { return time(nullptr); }

// The C library looks TZ up again at every local time conversion, and the
// page makes hundreds of them: first in the environment, it is found at
// once however many variables the web server passed. The first TZ stays
// the first, so the lookup's answer is the same.
void put_zone_first(char** environment) {
  for (char** entry = environment; *entry != nullptr; ++entry) {
    if (strncmp(*entry, "TZ=", 3) != 0) continue;
    char* const zone = *entry;
    for (; entry != environment; --entry) entry[0] = entry[-1];
    environment[0] = zone;
    return;
  }
}

time_zone_choice router_time_zone(void* /*context*/) {
  const time_zone_choice choice =
      use_system_time_zone(router.zone_environment, ENVIRONMENT_CAPACITY * 8);
  put_zone_first(environ);
  return choice;
}

void router_pause(void* /*context*/, int milliseconds) {
  usleep(static_cast<useconds_t>(milliseconds) * 1000);
}

}  // namespace

web_platform router_web_platform() {
  web_platform platform{};
  platform.environment = router_environment;
  platform.read_body = router_read_body;
  platform.read_settings = router_read_settings;
  platform.load_secret = router_load_secret;
  platform.remote_user_switched_off = router_switched_off;
  platform.is_router_host = router_is_host;
  platform.save_obstacle = router_save_obstacle;
  platform.trust_findings = router_trust_findings;
  platform.lock_settings = router_lock;
  platform.unlock_settings = router_unlock;
  platform.replace_settings = router_replace;
  platform.running_daemon = router_running_daemon;
  platform.restart_daemon = router_restart;
  platform.status_ports = router_status_ports;
  platform.lpm_config_text = router_lpm_config;
  platform.wall_clock = router_wall_clock;
  platform.use_time_zone = router_time_zone;
  platform.pause_milliseconds = router_pause;
  platform.field = router_page_field_platform();
  return platform;
}
