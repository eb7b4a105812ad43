#include "Platform/RemovalGate.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>

#include "Platform/Roots.h"

namespace hvn {

namespace {

std::string systemErrorText(int error) {
    return std::system_category().message(error);
}

// The components of an absolute path; false when it is not absolute or holds "." or "..".
bool splitComponents(const std::string& path, std::vector<std::string>& parts) {
    if (path.empty() || path[0] != '/') return false;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        if (j > i) {
            std::string part = path.substr(i, j - i);
            if (part == "." || part == "..") return false;
            parts.push_back(std::move(part));
        }
        i = j + 1;
    }
    return true;
}

std::optional<FileIdentity> identityOf(const std::string& path, bool followLink) {
    struct stat st {};
    int rc = followLink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (rc != 0) return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

std::string realPathOf(const std::string& path) {
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) return {};
    return buffer;
}

std::string parentOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

void addUnique(std::vector<FileIdentity>& list, const std::optional<FileIdentity>& id) {
    if (id && std::find(list.begin(), list.end(), *id) == list.end()) list.push_back(*id);
}

// Adds every folder above path (path itself excluded), following links in each prefix.
void addAncestors(std::vector<FileIdentity>& list, const std::string& path) {
    std::string p = Roots::normalize(path);
    while (p != "/" && !p.empty() && p != ".") {
        p = parentOf(p);
        addUnique(list, identityOf(p, true));
    }
}

std::string refusalText(const std::string& path, const std::string& why) {
    return "Refusing to remove " + path + ": " + why;
}

}  // namespace

bool ItemStatus::isDirectory() const {
    return S_ISDIR(mode);
}

bool ItemStatus::isSymbolicLink() const {
    return S_ISLNK(mode);
}

std::optional<ItemStatus> itemStatusAt(int dirFd, const char* name) {
    struct statx sx {};
    int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;
    if (!name || !*name) {
        name = "";
        flags |= AT_EMPTY_PATH;
    }
    if (::statx(dirFd, name, flags, STATX_TYPE | STATX_MODE | STATX_INO | STATX_MNT_ID, &sx) != 0) {
        return std::nullopt;
    }
    ItemStatus s;
    s.identity = FileIdentity{static_cast<uint64_t>(makedev(sx.stx_dev_major, sx.stx_dev_minor)), sx.stx_ino};
    s.mode = sx.stx_mode;
    // Without mount identifiers (kernels before 5.8) the device stands in for them.
    s.mountId = (sx.stx_mask & STATX_MNT_ID) ? sx.stx_mnt_id : s.identity.device;
    s.mountRoot = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return s;
}

int openFolderWithoutLinks(const std::string& absolutePath, int flags) {
    if (absolutePath.empty() || absolutePath[0] != '/') {
        errno = EINVAL;
        return -1;
    }
    struct open_how how {};
    how.flags = static_cast<uint64_t>(flags | O_DIRECTORY | O_CLOEXEC);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd = ::syscall(SYS_openat2, AT_FDCWD, absolutePath.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    if (errno != ENOSYS && errno != EPERM) return -1;

    // No openat2: walk the components one by one without following any of them.
    std::vector<std::string> parts;
    if (!splitComponents(absolutePath, parts)) {
        errno = EINVAL;
        return -1;
    }
    int cur = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (cur < 0) return -1;
    for (const std::string& part : parts) {
        int next = ::openat(cur, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            int error = errno;
            struct stat st {};
            if (error == ENOTDIR && ::fstatat(cur, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode)) {
                error = ELOOP;
            }
            ::close(cur);
            errno = error;
            return -1;
        }
        ::close(cur);
        cur = next;
    }
    int out = ::openat(cur, ".", flags | O_DIRECTORY | O_CLOEXEC);
    int error = errno;
    ::close(cur);
    errno = error;
    return out;
}

RemovalGate RemovalGate::forCurrentRoots() {
    return RemovalGate({Roots::system(), Roots::home()});
}

RemovalGate::RemovalGate(const std::vector<std::string>& roots) {
    std::vector<std::string> all{"/"};
    all.insert(all.end(), roots.begin(), roots.end());
    for (const std::string& root : all) {
        if (root.empty()) continue;
        std::string real = realPathOf(root);
        if (!real.empty()) {
            addUnique(roots_, identityOf(real, true));
            addAncestors(ancestors_, real);
        }
        // A root named through a link: the link and the folders above it are kept too.
        addUnique(ancestors_, identityOf(root, false));
        addAncestors(ancestors_, root);
    }
}

RemovalGate::Admission::Admission(Admission&& other) noexcept {
    *this = std::move(other);
}

RemovalGate::Admission& RemovalGate::Admission::operator=(Admission&& other) noexcept {
    if (this != &other) {
        if (parentFd_ >= 0) ::close(parentFd_);
        status_ = other.status_;
        parentFd_ = other.parentFd_;
        other.parentFd_ = -1;
        name_ = std::move(other.name_);
        reason_ = std::move(other.reason_);
        entry_ = other.entry_;
        parent_ = other.parent_;
    }
    return *this;
}

RemovalGate::Admission::~Admission() {
    if (parentFd_ >= 0) ::close(parentFd_);
}

bool RemovalGate::isRoot(const FileIdentity& id) const {
    return std::find(roots_.begin(), roots_.end(), id) != roots_.end();
}

bool RemovalGate::isRootOrAncestor(const FileIdentity& id) const {
    return isRoot(id) || std::find(ancestors_.begin(), ancestors_.end(), id) != ancestors_.end();
}

RemovalGate::Admission RemovalGate::admit(const std::string& path,
                                          const std::optional<FileIdentity>& foundIn) const {
    Admission a;
    using S = Admission::Status;
    auto refuse = [&](const std::string& why) {
        a.status_ = S::Refused;
        a.reason_ = refusalText(path, why);
        return std::move(a);
    };
    auto fail = [&](int error) {
        a.status_ = S::Failed;
        a.reason_ = "Could not remove " + path + ": " + systemErrorText(error);
        return std::move(a);
    };

    std::vector<std::string> parts;
    if (!splitComponents(path, parts)) return refuse("the path is not absolute or holds \".\" or \"..\"");
    if (parts.empty()) return refuse("the system root is never removed");
    a.name_ = parts.back();
    std::string parentPath;
    for (size_t i = 0; i + 1 < parts.size(); ++i) parentPath += "/" + parts[i];
    if (parentPath.empty()) parentPath = "/";

    int fd = openFolderWithoutLinks(parentPath, O_PATH);
    if (fd < 0) {
        int error = errno;
        if (error == ELOOP) return refuse("a folder on its path is a symbolic link");
        if (error == ENOENT || error == ENOTDIR) {
            a.status_ = S::Gone;
            return a;
        }
        return fail(error);
    }
    a.parentFd_ = fd;

    auto parent = itemStatusAt(fd, "");
    if (!parent) return fail(errno);
    a.parent_ = *parent;
    if (foundIn && parent->identity != *foundIn) {
        return refuse("the folder it was found in has been replaced since the scan");
    }
    auto entry = itemStatusAt(fd, a.name_.c_str());
    if (!entry) {
        if (errno == ENOENT) {
            a.status_ = S::Gone;
            return a;
        }
        return fail(errno);
    }
    a.entry_ = *entry;
    if (isRootOrAncestor(entry->identity)) {
        return refuse("the system root, the home folder and the folders that hold them are never removed");
    }
    if (isRoot(parent->identity)) {
        return refuse("nothing directly inside the system root or the home folder is removed");
    }
    if (entry->mountRoot || entry->mountId != parent->mountId) {
        return refuse("it is a mount point");
    }
    a.status_ = S::Admitted;
    return a;
}

std::string RemovalGate::refusalForScanFolder(const std::string& requestPath, std::string* realPath) const {
    std::string real = realPathOf(requestPath);
    if (realPath) *realPath = real;
    if (real.empty()) return {};
    auto id = identityOf(real, true);
    if (!id) return {};
    if (isRootOrAncestor(*id)) return "it is the system root, the home folder or a folder that holds them";
    auto parent = identityOf(parentOf(real), true);
    if (parent && isRoot(*parent)) {
        auto own = identityOf(requestPath, false);
        bool finalLink = own && *own != *id;
        std::string textualParent = realPathOf(parentOf(Roots::normalize(requestPath)));
        if (finalLink || textualParent != parentOf(real)) {
            return "a symbolic link leads it to a folder directly inside the system root or the home folder";
        }
    }
    return {};
}

}  // namespace hvn
