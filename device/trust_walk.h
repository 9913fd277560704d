// The walk from a path up to "/" that shows who may change it: the owner
// and mode of the path and of every directory above it.
#pragma once

#include <sys/types.h>

/// How the walk looks at its first step; every directory above it is
/// looked at through its links.
enum class walk_start {
  resolved,     ///< links resolved first, as a program that opens the path sees it
  link_itself,  ///< the path itself, a link as a link
  followed,     ///< the path through its links, named as given
};

/// One step of the walk that could be looked at: path is the step's own
/// name, start the first step's.
struct walk_step {
  const char* path;
  const char* start;
  bool is_start;
  bool is_link;
  uid_t owner;
  mode_t mode;
};

using walk_visitor = void (*)(const walk_step& step, void* context);

/// Calls visit for path and each directory above it, up to "/", in that
/// order; a step that cannot be looked at (missing, or in no reach) is
/// passed over.
void walk_to_root(const char* path, walk_start start, walk_visitor visit, void* context);
