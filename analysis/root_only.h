// Files the daemon trusts, running as root: the settings file and the two
// tools it runs. Whoever else can change one of them, or a directory above
// it, can make root run their commands.
#pragma once

#include <sys/types.h>

#include "analysis/findings.h"
#include "device/trust_walk.h"

inline constexpr const char* WARN_WRITABLE = "writable-by-others";
inline constexpr int WRITE_RISK_SIZE = 96;

/// Who besides root can change a file or directory with this owner and
/// mode, as text ("owned by user 1000, writable by its group"), into
/// out[WRITE_RISK_SIZE]. Returns false, leaving out empty, when only root can.
bool write_risk(uid_t owner, mode_t mode, char out[WRITE_RISK_SIZE]);

/// The walk from a path up to "/" that the checks look through, handed in
/// by the caller's edge: walk_to_root on the router.
using trust_walk = void (*)(const char* path, walk_start start, walk_visitor visit, void* context);

/// Checks path (links resolved) and every directory above it, as walk
/// shows them, and adds a warning, on line 0, for each that someone other
/// than root can change. role names the file for the message, e.g. "the
/// low-power tool", and consequence says what changing it allows, e.g.
/// "have root run their commands". Returns the number of warnings added.
int check_root_only(const char* path, const char* role, const char* consequence, trust_walk walk,
                    check_findings* findings);

/// Adds a warning for each of the settings file, the low-power tool and the
/// status tool (and each directory above them) that someone other than root
/// can change. Returns the number added.
int check_trusted_files(const char* settings_path, trust_walk walk, check_findings* findings);
