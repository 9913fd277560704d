// The page's system calls: the settings file, its secret, the daemon and
// its init script. Everything here touches the router; the decisions are
// made elsewhere.
#pragma once

#include <stddef.h>
#include <sys/types.h>

inline constexpr const char* WEB_SECRET_PATH = "/opt/dormix/etc/web.secret";
/// An installer creates this file (root's, writable by root only) for a
/// server that authenticates in a way that leaves REMOTE_USER empty.
inline constexpr const char* WEB_NO_USER_SWITCH_PATH = "/opt/dormix/etc/web.no-remote-user";
inline constexpr const char* INIT_SCRIPT_PATH = "/etc/init.d/dormix";
inline constexpr const char* DAEMON_PID_PATH = "/run/dormix.pid";
inline constexpr int SECRET_SIZE = 32;
inline constexpr size_t SETTINGS_MAX_SIZE = 65536;
inline constexpr int OUTCOME_SIZE = 2048;

/// Reads the whole file into out[size]; returns its length, or -1 with
/// errno set (EFBIG when it does not fit).
long read_whole_file(const char* path, char* out, size_t size);

/// The secret that keys the form tokens, created on first use when this
/// process may. Returns false with the reason in why.
bool load_secret(unsigned char secret[SECRET_SIZE], char* why, size_t why_size);

/// Whether the installer's switch file exists, owned by root and writable by
/// root only.
bool remote_user_switched_off();

/// Why this process cannot replace path (empty when it can): no write access
/// to the file or its directory.
void write_obstacle(const char* path, char* why, size_t why_size);

/// Holds the lock that orders saves of the settings file; released at exit.
bool lock_settings_directory(const char* path);

/// Removes the temporary files that a save killed before its rename left
/// beside path. Only under the lock, which every save holds.
void remove_stale_temporaries(const char* path);

/// Replaces path with data: a temporary file in the same directory with the
/// old file's owner and mode, written and synced, renamed over path, and the
/// directory synced. Returns false with what failed in why.
bool replace_settings_file(const char* path, const char* data, size_t size, char* why,
                           size_t why_size);

/// The running daemon's pid, or 0: from the init script's pid file, else
/// the first process named "dormix".
pid_t running_daemon();

/// Runs the init script with "restart" (no shell), collecting its output
/// into out; returns its exit status, or -1 when it could not run.
int restart_daemon(char* out, size_t size);
