#include "Platform/MoveToTrash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <system_error>

#include "Platform/Roots.h"
#include "Platform/Trash.h"
#include "Platform/Volumes.h"

namespace hvn::Trash {

namespace {

constexpr int kMaxNameAttempts = 10000;

std::string systemErrorText(int error) {
    return std::system_category().message(error);
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

std::string parentOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

// The device of the nearest existing folder at or above path.
std::optional<uint64_t> deviceOfNearestFolder(std::string path) {
    for (;;) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return static_cast<uint64_t>(st.st_dev);
        if (path == "/" || path.empty()) return std::nullopt;
        path = parentOf(path);
    }
}

// The mount point of the mount with this identifier in this process's mount table.
std::optional<std::string> mountPointOf(uint64_t mountId) {
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream text;
    text << in.rdbuf();
    for (const Volumes::MountEntry& m : Volumes::parseMountInfo(text.str())) {
        if (static_cast<uint64_t>(m.mountId) == mountId) return m.mountPoint;
    }
    return std::nullopt;
}

// A folder of ours: made 0700 when missing; it must then be a folder of this user, not a link.
bool ensureOwnFolder(const std::string& path, std::string* why) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        *why = path + ": " + systemErrorText(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        *why = path + ": " + systemErrorText(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        *why = path + " is not a trash folder of this user";
        return false;
    }
    return true;
}

// Creates trashDir (with its parents, for the home trash) and its files/ and info/ folders.
bool ensureTrash(const std::string& trashDir, bool withParents, std::string* why) {
    if (withParents) {
        std::string error;
        if (!FileManager::createDirectoryAtPath(parentOf(trashDir), true, &error)) {
            *why = error;
            return false;
        }
    }
    return ensureOwnFolder(trashDir, why) && ensureOwnFolder(trashDir + "/files", why) &&
           ensureOwnFolder(trashDir + "/info", why);
}

struct TrashChoice {
    std::string dir;
    std::string topdir;  // empty for the home trash (Path= is then absolute)
};

std::optional<TrashChoice> chooseTrash(uint64_t device, uint64_t mountId, std::string* why) {
    std::string home = homeTrashDir();
    if (deviceOfNearestFolder(home) == device) {
        if (!ensureTrash(home, true, why)) return std::nullopt;
        return TrashChoice{home, {}};
    }
    std::optional<std::string> topdir = mountPointOf(mountId);
    if (!topdir) {
        *why = "the volume holding it cannot be found in the mount table";
        return std::nullopt;
    }
    std::string uid = std::to_string(geteuid());
    std::string base = *topdir == "/" ? "" : *topdir;
    std::string admin = base + "/.Trash";
    std::string chosen;
    if (isUsableAdminTrash(admin) && ensureTrash(admin + "/" + uid, false, why)) {
        chosen = admin + "/" + uid;
    } else if (ensureTrash(base + "/.Trash-" + uid, false, why)) {
        chosen = base + "/.Trash-" + uid;
    } else {
        return std::nullopt;
    }
    // A trash on another file system (a mount inside the volume's top folder) would need a copy.
    if (deviceOfNearestFolder(chosen + "/files") != device) {
        *why = "the trash of its volume lies on another file system";
        return std::nullopt;
    }
    return TrashChoice{chosen, *topdir};
}

// name, then "stem.2.ext", "stem.3.ext", ...
std::string candidateName(const std::string& name, int attempt) {
    if (attempt == 0) return name;
    size_t dot = name.rfind('.');
    std::string n = std::to_string(attempt + 1);
    if (dot == std::string::npos || dot == 0) return name + "." + n;
    return name.substr(0, dot) + "." + n + name.substr(dot);
}

std::string deletionDate() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &local);
    return buffer;
}

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string percentEncodePath(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
                    c == '-' || c == '_' || c == '.' || c == '!' || c == '~' || c == '*' || c == '\'' ||
                    c == '(' || c == ')';
        if (keep) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

MoveResult moveItemToTrash(const std::string& path, const MoveOptions& options) {
    MoveResult result;
    std::optional<RemovalGate> ownGate;
    if (!options.gate) ownGate.emplace(RemovalGate::forCurrentRoots());
    const RemovalGate& gate = options.gate ? *options.gate : *ownGate;
    RemovalGate::Admission admission = gate.admit(path, options.foundIn);
    switch (admission.status()) {
        case RemovalGate::Admission::Status::Admitted:
            break;
        case RemovalGate::Admission::Status::Gone:
            result.status = RemovalStatus::Missing;
            result.error = "Could not move " + path + " to the trash: " + systemErrorText(ENOENT);
            return result;
        case RemovalGate::Admission::Status::Refused:
            result.status = RemovalStatus::Refused;
            result.error = admission.reason();
            return result;
        case RemovalGate::Admission::Status::Failed:
            result.error = admission.reason();
            return result;
    }
    const int parentFd = admission.parentFd();
    const std::string& name = admission.name();
    auto refuse = [&](const std::string& why) {
        result.status = RemovalStatus::Refused;
        result.error = "Refusing to move " + path + " to the trash: " + why;
        return result;
    };
    if (options.listed) {
        std::string change = options.listed->changeOfEntry(parentFd, name.c_str());
        if (!change.empty()) return refuse(change);
    }

    std::string why;
    std::optional<TrashChoice> trash =
        chooseTrash(admission.entry().identity.device, admission.entry().mountId, &why);
    if (!trash) return refuse("no trash on its file system (" + why + "); it is not copied elsewhere");

    std::string original = Roots::normalize(path);
    std::string recorded = original;
    if (!trash->topdir.empty()) {
        std::string prefix = trash->topdir == "/" ? "/" : trash->topdir + "/";
        if (original.compare(0, prefix.size(), prefix) == 0) recorded = original.substr(prefix.size());
    }
    std::string info = "[Trash Info]\nPath=" + percentEncodePath(recorded) + "\nDeletionDate=" + deletionDate() + "\n";

    Fd infoFd(::open((trash->dir + "/info").c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    Fd filesFd(::open((trash->dir + "/files").c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!infoFd.ok() || !filesFd.ok()) {
        result.error = "Could not move " + path + " to the trash: " + trash->dir + ": " + systemErrorText(errno);
        return result;
    }
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        std::string candidate = candidateName(name, attempt);
        std::string infoName = candidate + ".trashinfo";
        int fd = ::openat(infoFd.get(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            result.error = "Could not move " + path + " to the trash: " + trash->dir + "/info: " + systemErrorText(errno);
            return result;
        }
        bool written = writeAll(fd, info) && ::fsync(fd) == 0;
        int writeError = errno;
        ::close(fd);
        if (!written) {
            ::unlinkat(infoFd.get(), infoName.c_str(), 0);
            result.error = "Could not move " + path + " to the trash: " + systemErrorText(writeError);
            return result;
        }
        ::fsync(infoFd.get());
        if (::renameat2(parentFd, name.c_str(), filesFd.get(), candidate.c_str(), RENAME_NOREPLACE) == 0) {
            result.status = RemovalStatus::Removed;
            result.trashedPath = trash->dir + "/files/" + candidate;
            result.infoPath = trash->dir + "/info/" + infoName;
            return result;
        }
        int renameError = errno;
        ::unlinkat(infoFd.get(), infoName.c_str(), 0);
        if (renameError == EEXIST) continue;
        if (renameError == ENOENT) {
            result.status = RemovalStatus::Missing;
            result.error = "Could not move " + path + " to the trash: " + systemErrorText(ENOENT);
            return result;
        }
        if (renameError == EXDEV) return refuse("its trash lies on another file system; it is not copied");
        result.error = "Could not move " + path + " to the trash: " + systemErrorText(renameError);
        return result;
    }
    result.error = "Could not move " + path + " to the trash: no free name in " + trash->dir;
    return result;
}

}  // namespace hvn::Trash
