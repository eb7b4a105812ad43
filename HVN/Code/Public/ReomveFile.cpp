#include "HVN/Code/Public/ReomveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include "HVN/Code/Public/HVNAuthorization.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/DaemonConnection.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/Roots.h"

namespace {

constexpr size_t kRemovePacing = 5000;
constexpr size_t kLipoPacing = 50;
// Bytes of paths per privileged `rm`, well below the argument limit of exec.
constexpr size_t kMaxRmArgumentBytes = 96 * 1024;

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

// Overwrites one regular file in place with random bytes of its own length and flushes
// it. A file with other hard links keeps its data (it is only unlinked afterwards).
// True when the entry `name` of the open folder may be unlinked by this process: the folder
// is writable and searchable, and under the sticky bit the entry or the folder is ours.
bool mayUnlink(int folderFd, const char* name) {
    if (faccessat(folderFd, ".", W_OK | X_OK, AT_EACCESS) != 0) return false;
    struct stat folder {};
    if (fstat(folderFd, &folder) != 0) return false;
    if (!(folder.st_mode & S_ISVTX)) return true;
    uid_t me = geteuid();
    struct stat item {};
    if (me == 0 || folder.st_uid == me) return true;
    return fstatat(folderFd, name, &item, AT_SYMLINK_NOFOLLOW) == 0 && item.st_uid == me;
}

bool overwriteFile(int folderFd, const char* name, const std::string& path, std::string* errorText) {
    // Nothing is overwritten that could not be removed afterwards.
    if (!mayUnlink(folderFd, name)) {
        *errorText = "Could not remove " + path + ": " + systemErrorText(EACCES);
        return false;
    }
    int fd = openat(folderFd, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *errorText = "Could not overwrite " + path + ": " + systemErrorText(errno);
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        *errorText = "Could not overwrite " + path + ": " + systemErrorText(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode) || st.st_nlink > 1) return true;

    thread_local std::vector<char> pattern = [] {
        std::vector<char> p(64 * 1024);
        std::mt19937_64 random{std::random_device{}()};
        for (size_t i = 0; i + 8 <= p.size(); i += 8) {
            uint64_t v = random();
            std::memcpy(p.data() + i, &v, 8);
        }
        return p;
    }();
    const int64_t length = st.st_size;
    int64_t done = 0;
    while (done < length) {
        size_t chunk =
            static_cast<size_t>(std::min<int64_t>(length - done, static_cast<int64_t>(pattern.size())));
        ssize_t n = pwrite(fd, pattern.data(), chunk, done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *errorText = "Could not overwrite " + path + ": " + systemErrorText(n < 0 ? errno : EIO);
            return false;
        }
        done += n;
    }
    if (fsync(fd) != 0) {
        *errorText = "Could not overwrite " + path + ": " + systemErrorText(errno);
        return false;
    }
    return true;
}

enum class PrivilegedOutcome { Removed, Failed, Canceled };

// Runs `/bin/rm -rf --one-file-system --` over the paths with administrator rights, in as few commands as
// the argument limit allows. Stops at a cancelled prompt.
PrivilegedOutcome privilegedRemove(const std::vector<std::string>& paths) {
    const hvn::Authorization& authorization = HVNAuthorization::shareAuthorization().authorizationRef();
    PrivilegedOutcome outcome = PrivilegedOutcome::Removed;
    size_t i = 0;
    while (i < paths.size()) {
        std::vector<std::string> args{"-rf", "--one-file-system", "--"};
        size_t bytes = 0;
        while (i < paths.size() && (args.size() == 3 || bytes + paths[i].size() + 1 <= kMaxRmArgumentBytes)) {
            bytes += paths[i].size() + 1;
            args.push_back(paths[i++]);
        }
        hvn::Authorization::Result r = authorization.executeWithPrivileges("/bin/rm", args);
        if (r.canceled()) {
            hvn::Log::write(std::string("Error: ") + hvn::kUserCanceledMessage);
            return PrivilegedOutcome::Canceled;
        }
        if (!r.succeeded()) {
            hvn::Log::writef("Error: %d", r.exitStatus);
            if (!r.errorMessage.empty()) hvn::Log::write(r.errorMessage);
            outcome = PrivilegedOutcome::Failed;
        }
    }
    return outcome;
}

// Drops the protected paths (logging each); returns false when any was dropped.
bool withoutProtectedPaths(const std::vector<std::string>& paths, std::vector<std::string>& kept) {
    bool allKept = true;
    kept.reserve(paths.size());
    for (const auto& p : paths) {
        if (p.empty() || hvn::Roots::isProtectedPath(p)) {
            hvn::Log::write("Refusing to remove " + p + ": protected folder");
            allKept = false;
        } else {
            kept.push_back(p);
        }
    }
    return allKept;
}

}  // namespace

bool ReomveFile::HVNRemoveFileAtPath(const std::string& path, std::string* error) {
    std::string text;
    bool ok = HVNCommonFunction::isShredderFile() ? shredItemAtPath(path, &text)
                                                  : hvn::FileManager::removeItemAtPath(path, &text);
    if (!ok && error) *error = text;
    return ok;
}

bool ReomveFile::removeFile(const std::string& path) {
    if (!hvn::FileManager::isDeletableFileAtPath(path)) return false;
    return hvn::FileManager::removeItemAtPath(path);
}

bool ReomveFile::fileShredder(const std::string& path) {
    return shredItemAtPath(path, nullptr);
}

bool ReomveFile::shredItemAtPath(const std::string& path, std::string* error) {
    std::string text;
    bool ok;
    if (!hvn::Roots::isProtectedPath(path) && hvn::FileManager::fileExistsAtPath(path, nullptr, false) &&
        !hvn::FileManager::isDeletableFileAtPath(path)) {
        // Nothing is overwritten that could not be removed afterwards.
        text = "Could not remove " + path + ": " + systemErrorText(EACCES);
        ok = false;
    } else {
        ok = hvn::FileManager::removeItemAtPath(path, &text, overwriteFile);
    }
    if (!ok && error) *error = text;
    return ok;
}

bool ReomveFile::removeSystemFile(const std::vector<std::string>& paths, bool rewrite) {
    std::vector<std::string> batch;
    bool allKept = withoutProtectedPaths(paths, batch);
    if (batch.empty()) return allKept;

    for (int attempt = 0; attempt < 2; ++attempt) {
        if (auto daemon = reachableDaemon(hvn::kRemoveFileSelector)) {
            daemon->removeFile(batch, rewrite);
            if (batch.size() > kRemovePacing) {
                pause(static_cast<double>(batch.size() / kRemovePacing) * (rewrite ? 2 : 1));
            }
            return allKept;
        }
        if (removeInstallTried.load() || attempt > 0) break;
        if (HVNAuthorization::installDaemon()) return false;
        removeInstallTried = true;
        pause(1);
    }
    // The daemon stays out of reach: `rm` with administrator rights. Failures of single
    // paths are ignored, a cancelled prompt is not.
    if (privilegedRemove(batch) == PrivilegedOutcome::Canceled) return false;
    return allKept;
}

bool ReomveFile::removeFileWithPrivileges(const std::string& path) {
    if (path.empty() || hvn::Roots::isProtectedPath(path)) {
        hvn::Log::write("Refusing to remove " + path + ": protected folder");
        return false;
    }
    return privilegedRemove({path}) == PrivilegedOutcome::Removed;
}

bool ReomveFile::lipoWithPrivileges(const std::vector<std::string>& paths) {
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
