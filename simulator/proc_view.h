// What the host's /proc shows of the daemon: its pid outside the run's pid
// namespace, its open descriptors and its zombie children.
#pragma once

#include <string>
#include <vector>

/// The pid, in this process's namespace, of the process that is ns_pid in
/// the namespace of init_pid; -1 when not found.
long host_pid_for(long ns_pid, long init_pid);

/// Whether pid still runs this program: forked, not yet replaced by exec.
bool runs_this_program(long pid);

/// How many descriptors pid holds open; -1 when they cannot be read.
int count_descriptors(long pid);

/// pid's open descriptors with their targets, "0=/dev/null, 1=pipe:[42]".
std::string descriptor_listing(long pid);

/// Children of parent that are zombies now.
std::vector<long> zombie_children(long parent);
