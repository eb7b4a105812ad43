// Workspace: the running applications. On Linux a running application is a process from
// /proc whose executable lies inside an ".app" bundle, identified by that bundle's
// Info.plist (CFBundleIdentifier), or a browser process known by its executable name
// ("firefox", "chrome", "chromium", "opera", ...) mapped to the browser's bundle identifier.
// A program with many processes counts once: a process whose parent runs the same
// executable is a helper of that instance, not an instance of its own.
// Every function may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace hvn::Workspace {

struct RunningApplication {
    int pid = 0;
    std::string bundleIdentifier;
    std::string bundlePath;      // the ".app" folder; empty for a browser known by name
    std::string executablePath;  // the process's executable
};

// The running applications in process-identifier order. Processes that cannot be read
// (gone, other users' under hidepid) are left out; an unreadable /proc gives an empty list.
std::vector<RunningApplication> runningApplications();

// The bundle identifier that a browser's executable name stands for ("firefox" ->
// "org.mozilla.firefox"); empty for any other name.
std::string bundleIdentifierForProcessName(const std::string& executableName);

// The ".app" bundle folder holding an executable path (the innermost one), or empty when
// the path lies in no bundle.
std::string bundlePathForExecutable(const std::string& executablePath);

// Tests: replaces what runningApplications() returns; nullopt restores the real list.
void setRunningApplicationsForTesting(std::optional<std::vector<RunningApplication>> applications);

}  // namespace hvn::Workspace
