// The process-wide administrator authorization, the installation of the privileged daemon,
// and the launch agents that start the two companion programs of the bundle at login: the
// menu-bar program HVNMenu and the update program HVNUpdate.
//
// The shared object holds the authorization that runs single commands with root rights
// (the privileged `rm`). On this platform no right is acquired in advance: each privileged
// command goes through the system's prompt (polkit may remember the answer for a while).
#pragma once

#include <string>

#include "Platform/Authorization.h"

class HVNAuthorization {
public:
    // The shared object, created on first use (logging "AuthorizationCreate") and kept
    // until the process ends. Thread-safe.
    static HVNAuthorization& shareAuthorization();

    // The authorization reference (it follows HALVORN_AUTH and the effective user).
    const hvn::Authorization& authorizationRef() const { return authorizationRef_; }

    // Installs the privileged daemon with administrator rights: copies the bundle's
    // "HVNDaemon" and "com.corvane.HVNDaemon.plist" into ~/Library/Caches, runs the
    // bundle's install script "copy.sh" with both paths as root, and deletes the copies
    // whatever happened. When the bundle does not ship the daemon yet, only the
    // administrator authorization is asked for.
    // Returns true only when the user cancelled the administrator prompt; false when it
    // was installed or failed for another reason. Blocks the calling thread until the user
    // answers; never call it on the main thread.
    static bool installDaemon();

    // Launch agents. Their property lists lie in Library/LaunchAgents below the home folder;
    // the companions are the bundle resources "HVNMenu.app" and "HVNUpdate.app", each with its
    // executable Contents/MacOS/<name>. Failed writes, copies and launchctl calls are logged
    // and otherwise ignored: the next start repeats the checks. An agent list that is a
    // symbolic link or no regular file is never written through or replaced. Main thread
    // (start-up); they do not block but for stopping a running menu-bar program.

    // The version written into the menu-bar agent's list: 1.
    static int menubarVersion();
    // True when the menu-bar agent's list exists with a "Program" equal to menuBarProgramPath()
    // and a "Version" that, as an integer, is at least menubarVersion(). Creates a missing
    // Library/LaunchAgents folder first (and is then false).
    static bool checkForHVNMenuBar();
    // Writes the menu-bar agent's list ("Label", "Program", "KeepAlive" YES, "Version")
    // atomically, then unloads and loads it, so the menu-bar program runs from this bundle
    // now and at every login. Writes nothing when the bundle holds no HVNMenu executable.
    static void installHVNMenuBar();
    // Writes the update agent's list ("Label", "Program", "Disabled" NO, "OnDemand" NO,
    // "KeepAlive" NO, "LaunchOnlyOnce" YES) atomically into the bundle's resource folder, or,
    // when that cannot be written, into Library/Caches/<bundle identifier> below the home
    // folder. Returns the path written; empty when neither could be written.
    static std::string createUpdateplist();
    // Writes the update list (createUpdateplist), copies it to destination (never over an
    // existing item) and, only when the copy succeeded, loads the list that was written (the
    // copy createUpdateplist returned, not the destination).
    static void installUpdatePlistToLaunchAgent(const std::string& destination);
    // Checks the update agent once per start: creates a missing Library/LaunchAgents (when
    // that fails, opens HVNUpdate at once); when the update list exists, opens HVNUpdate and
    // keeps the list when its "Program" is updateProgramPath(), else deletes it through the
    // removal service (only a regular file or a link) and installs it again.
    static void checkUpdatePlist();

    // The paths the checks use: the agents' lists and the companions' bundles and programs in
    // the current main bundle.
    static std::string launchAgentsPath();
    static std::string menuBarPlistPath();
    static std::string updatePlistPath();
    static std::string menuBarApplicationPath();
    static std::string menuBarProgramPath();
    static std::string updateApplicationPath();
    static std::string updateProgramPath();

    HVNAuthorization(const HVNAuthorization&) = delete;
    HVNAuthorization& operator=(const HVNAuthorization&) = delete;

private:
    HVNAuthorization();

    hvn::Authorization authorizationRef_;
};
