// The process-wide administrator authorization and the installation of the privileged
// daemon.
//
// The shared object holds the authorization that runs single commands with root rights
// (the privileged `rm`). On this platform no right is acquired in advance: each privileged
// command goes through the system's prompt (polkit may remember the answer for a while).
#pragma once

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

    HVNAuthorization(const HVNAuthorization&) = delete;
    HVNAuthorization& operator=(const HVNAuthorization&) = delete;

private:
    HVNAuthorization();

    hvn::Authorization authorizationRef_;
};
