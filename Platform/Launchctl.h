// Loading and unloading the user's launch agents, as `launchctl load` and `launchctl unload`
// do, without a launchd: a loaded agent is a running process of this user.
//
// An agent's property list names its program ("Program", or the first element of
// "ProgramArguments") and its "Label". A process belongs to an agent when it runs that
// program's file, or when it carries the agent's label in its environment
// (XPC_SERVICE_NAME, which load() sets as launchd does), so an agent whose list now names
// another copy of its program is still recognised by the copy that runs.
//
// Only processes of the calling user are ever looked at or signalled, and never this
// process. Threads: any; unload() blocks while the processes end.
#pragma once

#include <string>

namespace hvn::Launchctl {

// Reads the agent's property list (a final symbolic link is not followed) and, unless a
// process of this user already belongs to the agent, starts its program detached, in a
// session of its own, with the arguments of "ProgramArguments" after the first and
// XPC_SERVICE_NAME set to the label. True when the agent runs (started now or before).
// False with errorText, starting nothing, when the list is missing, unreadable or corrupt,
// names no absolute program, names a program that is not executable, or has "Disabled" set.
bool load(const std::string& plistPath, std::string* errorText = nullptr);

// Reads the agent's property list and stops this user's processes that belong to it:
// SIGTERM, then, for any still running after the grace period, SIGKILL. True when none of
// them runs any more (also when none ran). False with errorText when the list is missing,
// unreadable or corrupt (nothing is signalled), or when a process could not be stopped.
bool unload(const std::string& plistPath, std::string* errorText = nullptr);

// The seconds unload() waits after SIGTERM before it sends SIGKILL (default 5).
void setStopGracePeriod(double seconds);

}  // namespace hvn::Launchctl
