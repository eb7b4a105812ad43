// Workspace: the running applications. On Linux a running application is a process from
// /proc whose executable lies inside an ".app" bundle, identified by that bundle's
// Info.plist (CFBundleIdentifier), or a browser process known by its executable name
// ("firefox", "chrome", "chromium", "opera", ...) mapped to the browser's bundle identifier.
// A program with many processes counts once: a process whose parent runs the same
// executable is a helper of that instance, not an instance of its own.
// Every function may be called from any thread.
#pragma once

#include <cstdint>
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

// One process of the calling user.
struct UserProcess {
    int pid = 0;
    std::string executablePath;  // /proc/PID/exe, without a " (deleted)" suffix
    uint64_t device = 0;         // of the executable file the process runs
    uint64_t inode = 0;
};

// The live processes of the calling user, in process-identifier order: those whose real and
// effective user ids both equal this process's real user id. Zombies, kernel threads and
// processes that cannot be read are left out; this process is included.
std::vector<UserProcess> processesOfCurrentUser();

// True when the process runs the file at executablePath: the same file (device and inode)
// or, for an executable replaced or removed on disk since it started, the same path.
bool runsExecutable(const UserProcess& process, const std::string& executablePath);

// Opens the application bundle at appPath as the desktop does: when a process of the
// calling user already runs its executable, nothing more happens; otherwise its
// Contents/MacOS/<CFBundleExecutable> (the bundle's name without ".app" when the Info.plist
// names none) is started detached, in a session of its own, with no arguments. True when
// it runs; false with errorText when the bundle has no executable program or it could not
// be started. Any thread.
bool openApplication(const std::string& appPath, std::string* errorText = nullptr);

}  // namespace hvn::Workspace
