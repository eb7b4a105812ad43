#include "HVN/Code/Public/ReomveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "HVN/Code/Public/HVNAuthorization.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Bundle.h"
#include "Platform/DaemonConnection.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/RemovalGate.h"
#include "Platform/Roots.h"
#include "Platform/Shredder.h"

namespace {

constexpr size_t kRemovePacing = 5000;
constexpr size_t kLipoPacing = 50;

// Set after the first installation attempt made for each request kind; never reset in a
// run (except by the test hook).
std::atomic<bool> removeInstallTried{false};
std::atomic<bool> lipoInstallTried{false};
std::atomic<bool> serverInstallTried{false};

std::mutex sleepMutex;
ReomveFile::SleepFunction sleepHook;

void pause(double seconds) {
    ReomveFile::SleepFunction f;
    {
        std::lock_guard lock(sleepMutex);
        f = sleepHook;
    }
    if (f) {
        f(seconds);
    } else {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
}

std::string systemErrorText(int error) {
    return std::system_category().message(error);
}

// The daemon's root object when it answers selector, else null.
std::shared_ptr<hvn::DaemonObject> reachableDaemon(const char* selector) {
    auto daemon = hvn::DaemonConnection::rootProxyForName(hvn::kDaemonConnectionName);
    if (daemon && daemon->respondsToSelector(selector)) return daemon;
    return nullptr;
}

enum class PrivilegedOutcome { Worked, Failed, Canceled };

// Marks every request as not removed, with the reason.
void allNotRemoved(const std::vector<hvn::RemovalBatch::Request>& batch, const std::string& reason,
                   std::map<std::string, std::string>* notRemoved) {
    if (!notRemoved) return;
    for (const auto& r : batch) notRemoved->emplace(r.path, reason);
}

// Runs the bundle's HVNRemove over the batch with administrator rights: one prompt for the
// whole batch, the paths on its standard input, one outcome per path on its output.
PrivilegedOutcome privilegedRemove(const std::vector<hvn::RemovalBatch::Request>& batch, bool rewrite,
                                   std::map<std::string, std::string>* notRemoved) {
    std::string helper = hvn::Bundle::executableFolder() + "/HVNRemove";
    if (hvn::Bundle::executableFolder().empty() || access(helper.c_str(), X_OK) != 0) {
        std::string reason = "the privileged removal helper " + helper + " is missing";
        hvn::Log::write("Error: " + reason);
        allNotRemoved(batch, reason, notRemoved);
        return PrivilegedOutcome::Failed;
    }
    std::vector<std::string> args{"--home", hvn::Roots::home(), "--root", hvn::Roots::system()};
    if (rewrite) args.push_back("--rewrite");
    const hvn::Authorization& authorization = HVNAuthorization::shareAuthorization().authorizationRef();
    hvn::Authorization::Result r =
        authorization.executeWithPrivileges(helper, args, hvn::RemovalBatch::encodeRequests(batch));
    if (r.canceled()) {
        hvn::Log::write(std::string("Error: ") + hvn::kUserCanceledMessage);
        return PrivilegedOutcome::Canceled;
    }
    if (!r.succeeded()) {
        hvn::Log::writef("Error: %d", r.exitStatus);
        if (!r.errorMessage.empty()) hvn::Log::write(r.errorMessage);
        allNotRemoved(batch, "the privileged removal did not run: " +
                                 (r.errorMessage.empty() ? "status " + std::to_string(r.exitStatus) : r.errorMessage),
                      notRemoved);
        return PrivilegedOutcome::Failed;
    }
    auto outcomes = hvn::RemovalBatch::decodeOutcomes(r.output);
    if (!outcomes) {
        hvn::Log::write("Error: the privileged removal helper gave an answer that cannot be read");
        allNotRemoved(batch, "the privileged removal gave no readable answer", notRemoved);
        return PrivilegedOutcome::Failed;
    }
    std::map<std::string, const hvn::RemovalBatch::Outcome*> byPath;
    for (const auto& o : *outcomes) byPath[o.path] = &o;
    bool all = true;
    for (const auto& req : batch) {
        auto it = byPath.find(req.path);
        if (it == byPath.end()) {
            all = false;
            if (notRemoved) notRemoved->emplace(req.path, "the privileged removal did not report it");
            continue;
        }
        const auto& o = *it->second;
        if (o.status == hvn::RemovalStatus::Failed || o.status == hvn::RemovalStatus::Refused) {
            all = false;
            if (notRemoved) (*notRemoved)[req.path] = o.reason;
        }
    }
    return all ? PrivilegedOutcome::Worked : PrivilegedOutcome::Failed;
}

}  // namespace

bool ReomveFile::HVNRemoveFileAtPath(const std::string& path, std::string* error) {
    hvn::RemovalResult r = removeItem(path);
    if (!r.removed() && error) *error = r.error;
    return r.removed();
}

hvn::RemovalResult ReomveFile::removeItem(const std::string& path, const std::optional<hvn::FileIdentity>& foundIn,
                                          const hvn::RemovalGate* gate,
                                          const std::optional<hvn::ListedItem>& listed) {
    if (HVNCommonFunction::isShredderFile()) return shredItem(path, foundIn, gate, listed);
    hvn::RemovalOptions options;
    options.foundIn = foundIn;
    options.gate = gate;
    options.listed = listed;
    return hvn::FileManager::removeItem(path, options);
}

bool ReomveFile::removeFile(const std::string& path) {
    if (!hvn::FileManager::isDeletableFileAtPath(path)) return false;
    return hvn::FileManager::removeItemAtPath(path);
}

bool ReomveFile::fileShredder(const std::string& path) {
    return shredItemAtPath(path, nullptr);
}

bool ReomveFile::shredItemAtPath(const std::string& path, std::string* error) {
    hvn::RemovalResult r = shredItem(path);
    if (!r.removed() && error) *error = r.error;
    return r.removed();
}

hvn::RemovalResult ReomveFile::shredItem(const std::string& path, const std::optional<hvn::FileIdentity>& foundIn,
                                         const hvn::RemovalGate* gate,
                                         const std::optional<hvn::ListedItem>& listed) {
    hvn::RemovalOptions options;
    options.foundIn = foundIn;
    options.gate = gate;
    options.listed = listed;
    options.beforeUnlinkFile = hvn::Shredder::overwriteForRemoval;
    if (hvn::FileManager::fileExistsAtPath(path, nullptr, false) && !hvn::FileManager::isDeletableFileAtPath(path)) {
        // Nothing is overwritten that could not be removed afterwards; the gate still has
        // its say, so that a refusal stays a refusal.
        std::optional<hvn::RemovalGate> own;
        if (!gate) own.emplace(hvn::RemovalGate::forCurrentRoots());
        hvn::RemovalGate::Admission a = (gate ? *gate : *own).admit(path, foundIn);
        if (a.status() == hvn::RemovalGate::Admission::Status::Refused) {
            return {hvn::RemovalStatus::Refused, a.reason()};
        }
        return {hvn::RemovalStatus::Failed, "Could not remove " + path + ": " + systemErrorText(EACCES)};
    }
    return hvn::FileManager::removeItem(path, options);
}

bool ReomveFile::removeSystemFile(const std::vector<std::string>& paths, bool rewrite) {
    std::vector<hvn::RemovalBatch::Request> batch;
    batch.reserve(paths.size());
    for (const auto& p : paths) batch.push_back({p, std::nullopt});
    return removeSystemFile(batch, rewrite, nullptr);
}

bool ReomveFile::removeSystemFile(const std::vector<hvn::RemovalBatch::Request>& requests, bool rewrite,
                                  std::map<std::string, std::string>* notRemoved) {
    // The gate, as this user: what it refuses is never handed to root.
    hvn::RemovalGate gate = hvn::RemovalGate::forCurrentRoots();
    std::vector<hvn::RemovalBatch::Request> batch;
    batch.reserve(requests.size());
    for (const auto& r : requests) {
        hvn::RemovalGate::Admission a = gate.admit(r.path, r.foundIn);
        if (a.status() == hvn::RemovalGate::Admission::Status::Refused) {
            hvn::Log::write(a.reason());
            if (notRemoved) (*notRemoved)[r.path] = a.reason();
        } else {
            batch.push_back(r);
        }
    }
    if (batch.empty()) return true;

    for (int attempt = 0; attempt < 2; ++attempt) {
        if (auto daemon = reachableDaemon(hvn::kRemoveFileSelector)) {
            // What the daemon's gate refuses at once stays, with its reason; the rest is under way.
            for (auto& [path, reason] : daemon->removeFileFoundIn(batch, rewrite)) {
                if (notRemoved) (*notRemoved)[path] = reason;
            }
            if (batch.size() > kRemovePacing) {
                pause(static_cast<double>(batch.size() / kRemovePacing) * (rewrite ? 2 : 1));
            }
            return true;
        }
        if (removeInstallTried.load() || attempt > 0) break;
        if (HVNAuthorization::installDaemon()) return false;
        removeInstallTried = true;
        pause(1);
    }
    // The daemon stays out of reach: the helper, as root, under one prompt. Paths it could
    // not remove are reported; a cancelled prompt removed nothing.
    return privilegedRemove(batch, rewrite, notRemoved) != PrivilegedOutcome::Canceled;
}

bool ReomveFile::removeFileWithPrivileges(const std::string& path) {
    hvn::RemovalGate::Admission a = hvn::RemovalGate::forCurrentRoots().admit(path);
    if (a.status() == hvn::RemovalGate::Admission::Status::Refused) {
        hvn::Log::write(a.reason());
        return false;
    }
    return privilegedRemove({{path, std::nullopt}}, false, nullptr) == PrivilegedOutcome::Worked;
}

bool ReomveFile::lipoWithPrivileges(const std::vector<std::string>& paths) {
    // Nothing to thin needs no daemon, and no installation.
    if (paths.empty()) return true;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (auto daemon = reachableDaemon(hvn::kLipoAppSelector)) {
            daemon->lipoApp(paths);
            if (paths.size() > kLipoPacing) pause(static_cast<double>(paths.size() / kLipoPacing));
            return true;
        }
        if (lipoInstallTried.load() || attempt > 0) return true;
        if (HVNAuthorization::installDaemon()) return false;
        lipoInstallTried = true;
        pause(1);
    }
    return true;
}

bool ReomveFile::setServerDisable(const std::string& plistPath, bool disable) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (auto daemon = reachableDaemon(hvn::kSetServerDisableSelector)) {
            return daemon->setServerDisable(plistPath, disable);
        }
        if (serverInstallTried.load() || attempt > 0) return false;
        if (HVNAuthorization::installDaemon()) return false;
        serverInstallTried = true;
        pause(1);
    }
    return false;
}

void ReomveFile::stopClearSystemFile() {
    if (auto daemon = reachableDaemon(hvn::kStopRemoveSelector)) daemon->stopRemove();
}

ReomveFile::SleepFunction ReomveFile::setSleepFunction(SleepFunction sleep) {
    std::lock_guard lock(sleepMutex);
    SleepFunction old = std::move(sleepHook);
    sleepHook = std::move(sleep);
    return old;
}

void ReomveFile::resetInstallationFlags() {
    removeInstallTried = false;
    lipoInstallTried = false;
    serverInstallTried = false;
}
