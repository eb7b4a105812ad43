#include "HVN/Code/Public/HVNAuthorization.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "Platform/Bundle.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/Roots.h"

namespace fs = std::filesystem;

HVNAuthorization& HVNAuthorization::shareAuthorization() {
    // Never released: the authorization lives as long as the process.
    static HVNAuthorization* shared = new HVNAuthorization();
    return *shared;
}

HVNAuthorization::HVNAuthorization() {
    hvn::Log::write("AuthorizationCreate");
}

bool HVNAuthorization::installDaemon() {
    hvn::Log::write("installDaemon start");
    const hvn::Authorization& authorization = shareAuthorization().authorizationRef();

    std::string daemon = hvn::Bundle::pathForResource("HVNDaemon", "");
    // The build puts the bundle's programs beside the application.
    if (daemon.empty() && !hvn::Bundle::executableFolder().empty() &&
        access((hvn::Bundle::executableFolder() + "/HVNDaemon").c_str(), X_OK) == 0) {
        daemon = hvn::Bundle::executableFolder() + "/HVNDaemon";
    }
    std::string daemonPlist = hvn::Bundle::pathForResource("com.corvane.HVNDaemon", "plist");
    std::string script = hvn::Bundle::pathForResource("copy", "sh");

    hvn::Authorization::Result result;
    if (!daemon.empty() && !daemonPlist.empty() && !script.empty()) {
        std::string caches = hvn::Roots::homePath("Library/Caches");
        std::string daemonCopy = caches + "/HVNDaemon";
        std::string plistCopy = caches + "/com.corvane.HVNDaemon.plist";
        auto removeCopies = [&] {
            hvn::FileManager::removeItemAtPath(daemonCopy);
            hvn::FileManager::removeItemAtPath(plistCopy);
        };
        removeCopies();
        std::string error;
        std::error_code ec;
        if (!hvn::FileManager::createDirectoryAtPath(caches, true, &error) ||
            !fs::copy_file(daemon, daemonCopy, fs::copy_options::overwrite_existing, ec) ||
            !fs::copy_file(daemonPlist, plistCopy, fs::copy_options::overwrite_existing, ec)) {
            hvn::Log::write("installDaemon: could not copy the daemon files: " + (ec ? ec.message() : error));
            removeCopies();
            return false;
        }
        // Arguments go to the shell as separate words, so blanks in the paths need no escaping.
        // The script starts the daemon for the user asking.
        result = authorization.executeWithPrivileges(
            "/bin/sh", {script, daemonCopy, plistCopy, std::to_string(getuid())});
        removeCopies();
    } else {
        hvn::Log::write(
            "installDaemon: the bundle holds no daemon; asking for the administrator authorization only");
        result = authorization.executeWithPrivileges("/bin/true", {});
    }

    if (result.canceled()) {
        hvn::Log::write(std::string("installDaemon: ") + hvn::kUserCanceledMessage);
        return true;
    }
    if (!result.succeeded()) {
        hvn::Log::write("installDaemon failed: status " + std::to_string(result.exitStatus) + " " +
                        result.errorMessage);
    }
    return false;
}
