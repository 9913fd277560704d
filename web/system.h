// The page's view of the router: every system call of the page goes through
// a web_platform, which tests replace; router_web_platform is the real one,
// put together from the files of one job each that it includes.
#pragma once

#include <stddef.h>
#include <sys/types.h>
#include <time.h>

#include "analysis/field_view.h"
#include "analysis/findings.h"
#include "daemon/time_zone.h"
#include "web/daemon_process.h"
#include "web/files.h"
#include "web/host_names.h"
#include "web/secret.h"
#include "web/settings_file.h"
#include "web/status_tool.h"
#include "web/trust.h"

/// The page's view of the router. Every call gets context, so that tests
/// script the router; router_web_platform is the real one.
struct web_platform {
  void* context;
  const char* (*environment)(void* context, const char* name);
  bool (*read_body)(void* context, char* out, size_t length);
  long (*read_settings)(void* context, char* out, size_t size);
  secret_state (*load_secret)(void* context, bool may_create, unsigned char secret[SECRET_SIZE],
                              char* why, size_t why_size);
  bool (*remote_user_switched_off)(void* context);
  bool (*is_router_host)(void* context, const char* host);
  /// Why the page cannot save (no write access, others can change the file
  /// or its directories), empty when it can.
  void (*save_obstacle)(void* context, char* why, size_t why_size);
  void (*trust_findings)(void* context, check_findings* findings);
  /// Takes the lock that orders saves, waiting a bounded time.
  bool (*lock_settings)(void* context);
  void (*unlock_settings)(void* context);
  bool (*replace_settings)(void* context, const char* data, size_t size, char* why,
                           size_t why_size);
  pid_t (*running_daemon)(void* context);
  void (*restart_daemon)(void* context, restart_outcome* outcome);
  /// The status tool's "ports" output into out[STATUS_OUTPUT_SIZE]; false
  /// when it gave none.
  bool (*status_ports)(void* context, char* out);
  /// dormix-lpm's configuration file into out[LPM_CONFIG_MAX + 1]; null
  /// when there is none.
  const char* (*lpm_config_text)(void* context, char* out);
  time_t (*wall_clock)(void* context);
  /// Chooses the daemon's time zone, as it chooses it, for local times.
  time_zone_choice (*use_time_zone)(void* context);
  void (*pause_milliseconds)(void* context, int milliseconds);
  field_platform field;  // the binary inputs, for the view of the router now
};

/// The router itself, with the page's fixed paths.
web_platform router_web_platform();
