// Switching a launchd job off or on for the daemon: its property list is rewritten with the
// program path changed (hvn::LaunchdJob::switchedProgram).
//
// Threads: any; callers serialise switches of the same file.
#pragma once

#include <string>

#include "Platform/RemovalGate.h"

namespace hvndaemon {

// Switches the job of the property list at path off (disable) or on. The path must pass the
// removal gate and be a regular file (a symbolic link is refused, never followed) holding a
// property-list dictionary that names a program. The list is written back in its own format
// (binary or XML) through a temporary file in the same folder that gets the original's owner
// and mode and is renamed over it; a file that changed meanwhile is left alone. True when the
// job is now in the asked state (also when it already was: nothing is written then); false
// with errorText otherwise, the file unchanged.
bool switchJob(const hvn::RemovalGate& gate, const std::string& path, bool disable, std::string* errorText);

}  // namespace hvndaemon
