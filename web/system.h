// The page's system calls: the settings file, its secret, the lock, the
// clock, the daemon, its init script and the status tool. Everything here
// touches the router; the decisions are made elsewhere, and reach the
// router through a web_platform, which tests replace.
#pragma once

#include <stddef.h>
#include <sys/types.h>
#include <time.h>

#include "analysis/field_view.h"
#include "analysis/findings.h"
#include "daemon/time_zone.h"

inline constexpr const char* WEB_SECRET_PATH = "/opt/dormix/etc/web.secret";
/// An installer creates this file (root's, writable by root only) for a
/// server that authenticates in a way that leaves REMOTE_USER empty.
inline constexpr const char* WEB_NO_USER_SWITCH_PATH = "/opt/dormix/etc/web.no-remote-user";
inline constexpr const char* INIT_SCRIPT_PATH = "/etc/init.d/dormix";
inline constexpr const char* DAEMON_PID_PATH = "/run/dormix.pid";
inline constexpr int SECRET_SIZE = 32;
inline constexpr size_t SETTINGS_MAX_SIZE = 65536;
inline constexpr int OUTCOME_SIZE = 2048;
/// A web server gives up on a CGI program after about a minute: every wait
/// of the page ends well before.
inline constexpr int BODY_TIMEOUT_SECONDS = 10;
inline constexpr int LOCK_TIMEOUT_SECONDS = 10;
inline constexpr int STATUS_TIMEOUT_SECONDS = 5;
inline constexpr int RESTART_TIMEOUT_SECONDS = 20;
inline constexpr int WEB_WHY_SIZE = 512;

/// Reads the whole file into out[size]; returns its length, or -1 with
/// errno set (EFBIG when it does not fit).
long read_whole_file(const char* path, char* out, size_t size);

/// A clock in whole seconds that only goes forward, for deadlines; tests
/// give one that jumps.
struct deadline_clock {
  void* context;
  int (*seconds)(void* context);
};

/// The monotonic clock.
deadline_clock monotonic_clock();

/// Reads exactly length bytes from fd into out, giving up when the clock
/// reaches timeout_seconds after the start. False when the input ended
/// early, failed or was too slow.
bool read_exactly_until(int fd, char* out, size_t length, const deadline_clock& clock,
                        int timeout_seconds);

enum class secret_state {
  loaded,
  made,  // missing (or short) and made by this call
  missing,
  unusable
};

/// The secret that keys the form tokens, at path. A missing one is made
/// when may_create (a POST; a GET changes nothing): written whole to a
/// temporary file, then linked into place, so that no reader ever sees a
/// part of it. One that a crash of an older version left short is made
/// anew the same way. Opened without blocking: a FIFO is refused.
secret_state load_secret_at(const char* path, bool may_create, unsigned char secret[SECRET_SIZE],
                            char* why, size_t why_size);

/// Who other than root could change the file at path (empty when nobody
/// can), each finding after "; ": the path as written and, past any
/// symbolic link, the path it leads to, each with every directory above it.
void trust_problem(const char* path, char* why, size_t why_size);

/// The trust_problem of path as a warning (line 0) in findings, for a link's
/// own directories, which the checker's warnings, following links, skip.
/// Returns the number added.
int link_trust_findings(const char* path, const char* role, check_findings* findings);

/// Whether the installer's switch file exists as a regular file that only
/// root can change, by itself and by its directories.
bool switch_file_trusted(const char* path);

/// Where a save writes: the file that path leads to, past symbolic links,
/// or path itself when it does not exist (out[PATH_MAX]).
void settings_target(const char* path, char* out, size_t size);

/// Why this process cannot replace path (empty when it can): no write access
/// to the file or its directory.
void write_obstacle(const char* path, char* why, size_t why_size);

/// Takes the lock that orders saves of the settings file: returns the
/// descriptor that holds it (closing it releases the lock), or -1 when the
/// clock reached timeout_seconds after the start first.
int lock_settings_directory(const char* path, const deadline_clock& clock, int timeout_seconds);

/// Removes the temporary files that a save killed before its rename left
/// beside path. Only under the lock, which every save holds.
void remove_stale_temporaries(const char* path);

/// Replaces path with data: a temporary file in the same directory with the
/// old file's owner and mode, written and synced, renamed over path, and the
/// directory synced. Returns false with what failed in why.
bool replace_settings_file(const char* path, const char* data, size_t size, char* why,
                           size_t why_size);

/// What /proc tells of a process, for finding the daemon.
struct process_facts {
  const char* comm;  // /proc/PID/comm, with its line feed
  const char* stat;  // /proc/PID/stat
  const char* exe;   // where /proc/PID/exe leads, or null when unreadable
};

/// Whether the process is the daemon: named dormix, leader of a session of
/// its own (the daemon calls setsid), and, where it can be seen, running a
/// program named dormix, not a shell running the init script of that name.
bool is_daemon_process(pid_t pid, const process_facts& facts);

/// Whether exe, where /proc/PID/exe leads, is a program named dormix, or
/// one that was, deleted since it started (an upgrade replaced it).
bool runs_daemon_program(const char* exe);

/// The running daemon's pid, or 0: from the init script's pid file, else
/// the first process that is_daemon_process.
pid_t running_daemon();

enum class restart_result { done, failed, timed_out, not_run };

struct restart_outcome {
  restart_result result;
  int status;  // the script's exit status when done or failed
  char output[OUTCOME_SIZE];
};

/// Runs script with "restart" (no shell) in a session of its own, with
/// SIGPIPE ignored and its output in a memory file rather than a pipe to
/// this process: a web server that kills the page, or its process group,
/// leaves the restart to finish. A script still running after
/// timeout_seconds has its whole process group killed.
void run_restart(const char* script, int timeout_seconds, restart_outcome* outcome);

/// Runs tool "-v" section with nothing of the request in its environment,
/// and collects its output into out[size] (NUL-terminated). Returns false
/// when it failed, or did not end within timeout_seconds, when its process
/// group is killed.
bool run_status_tool(const char* tool, const char* section, int timeout_seconds, char* out,
                     size_t size);

/// Whether host (from Host, without its port) is one of this router's own
/// names or addresses: its host name, localhost, or an address of one of
/// its interfaces.
bool router_host_name(const char* host);

inline constexpr int STATUS_OUTPUT_SIZE = 4096;

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
