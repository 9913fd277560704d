// Who besides root could change the files the page relies on.
#pragma once

#include <stddef.h>

#include "analysis/findings.h"

/// An installer creates this file (root's, writable by root only) for a
/// server that authenticates in a way that leaves REMOTE_USER empty.
inline constexpr const char* WEB_NO_USER_SWITCH_PATH = "/opt/dormix/etc/web.no-remote-user";
inline constexpr int WEB_WHY_SIZE = 512;

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
