#include "Companions/diskutil/PermissionsCheck.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "Companions/diskutil/DiskutilText.h"
#include "Platform/RemovalGate.h"
#include "Platform/Roots.h"

namespace diskutil {

namespace {

struct Descriptor {
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd;
};
using DescriptorPtr = std::shared_ptr<Descriptor>;

enum class Place { Home, Tree, PrivateFolder, InPrivateFolder };

struct Item {
    uid_t uid = 0;
    mode_t mode = 0;
    gid_t gid = 0;
    nlink_t links = 0;
    dev_t device = 0;
    ino_t inode = 0;
    uint64_t mountId = 0;
};

// A folder waiting to be walked: its name in the open parent.
struct Pending {
    DescriptorPtr parent;
    std::string name;
    std::string path;
    Place place;
};

// statx of name in dirFd (the descriptor itself for ""), never following a final link.
std::optional<Item> statItem(int dirFd, const char* name) {
    struct statx sx {};
    int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_SYNC_AS_STAT;
    if (!*name) flags |= AT_EMPTY_PATH;
    if (::statx(dirFd, name, flags, STATX_BASIC_STATS | STATX_MNT_ID, &sx) != 0) return std::nullopt;
    Item item;
    item.uid = sx.stx_uid;
    item.gid = sx.stx_gid;
    item.mode = sx.stx_mode;
    item.links = sx.stx_nlink;
    item.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    item.inode = sx.stx_ino;
    // Without mount identifiers (kernels before 5.8) the device stands in for them.
    item.mountId = (sx.stx_mask & STATX_MNT_ID) ? sx.stx_mnt_id : item.device;
    return item;
}

bool endsWith(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Lets a wide walk keep one descriptor per folder on the current path.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

class Checker {
public:
    Checker(const PermissionsOptions& options, FILE* out, FILE* err)
        : options_(options), out_(out), err_(err) {}

    PermissionsOutcome run() {
        raiseDescriptorLimit();
        std::string display = hvn::Roots::normalize(options_.home);
        char* real = ::realpath(options_.home.c_str(), nullptr);
        if (!real) {
            std::fprintf(err_, "Could not open the home folder \"%s\": %s\n", escapeForLine(display).c_str(),
                         std::strerror(errno));
            return outcome_;
        }
        const std::string realHome(real);
        std::free(real);
        const int homeFd = hvn::openFolderWithoutLinks(realHome, O_RDONLY);
        std::optional<Item> home = homeFd >= 0 ? statItem(homeFd, "") : std::nullopt;
        if (!home) {
            std::fprintf(err_, "Could not open the home folder \"%s\": %s\n", escapeForLine(display).c_str(),
                         std::strerror(errno));
            if (homeFd >= 0) ::close(homeFd);
            return outcome_;
        }
        outcome_.started = true;
        auto homeDescriptor = std::make_shared<Descriptor>(homeFd);
        owner_ = home->uid;
        homeMount_ = home->mountId;
        findPrivateGroup();

        checkItem(homeFd, "", display, *home, Place::Home);
        listFolder(homeDescriptor, display, Place::Home);
        while (!stack_.empty()) {
            Pending next = std::move(stack_.back());
            stack_.pop_back();
            const int fd =
                ::openat(next.parent->fd, next.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            next.parent.reset();
            if (fd < 0) {
                skipped(next.path, std::strerror(errno));
                continue;
            }
            auto folder = std::make_shared<Descriptor>(fd);
            std::optional<Item> item = statItem(fd, "");
            if (!item || item->mountId != homeMount_) {
                skipped(next.path, item ? "another file system is mounted there" : std::strerror(errno));
                continue;
            }
            listFolder(folder, next.path, next.place);
        }
        return outcome_;
    }

private:
    void skipped(const std::string& path, const char* why) {
        std::fprintf(err_, "Skipped \"%s\": %s\n", escapeForLine(path).c_str(), why);
    }

    // The owner's private group, when the owner has one (user private groups make
    // group-writable files as safe as owner-writable ones).
    void findPrivateGroup() {
        passwd* pw = ::getpwuid(owner_);
        if (!pw) return;
        const gid_t primary = pw->pw_gid;
        const std::string user = pw->pw_name;
        group* gr = ::getgrgid(primary);
        if (gr && user == gr->gr_name) privateGroup_ = primary;
    }

    void listFolder(const DescriptorPtr& folder, const std::string& path, Place place) {
        std::vector<std::string> names;
        const int listFd = ::openat(folder->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
        if (!dir) {
            if (listFd >= 0) ::close(listFd);
            skipped(path, std::strerror(errno));
            return;
        }
        errno = 0;
        while (dirent* e = ::readdir(dir)) {
            const char* n = e->d_name;
            if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
            names.emplace_back(n);
        }
        if (errno != 0) skipped(path, std::strerror(errno));
        ::closedir(dir);
        std::sort(names.begin(), names.end());

        std::vector<Pending> folders;
        for (const std::string& name : names) {
            const std::string childPath = path == "/" ? "/" + name : path + "/" + name;
            std::optional<Item> item = statItem(folder->fd, name.c_str());
            if (!item) {
                if (errno != ENOENT) skipped(childPath, std::strerror(errno));
                continue;  // gone since the listing
            }
            const mode_t type = item->mode & S_IFMT;
            if (type == S_IFLNK || type == S_IFCHR || type == S_IFBLK) continue;
            if (item->mountId != homeMount_) continue;  // another file system mounted here
            Place childPlace = Place::Tree;
            if (place == Place::PrivateFolder || place == Place::InPrivateFolder) {
                childPlace = Place::InPrivateFolder;
            } else if (place == Place::Home && type == S_IFDIR && (name == ".ssh" || name == ".gnupg")) {
                childPlace = Place::PrivateFolder;
            }
            checkItem(folder->fd, name.c_str(), childPath, *item, childPlace);
            if (type == S_IFDIR) folders.push_back({folder, name, childPath, childPlace});
        }
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) stack_.push_back(std::move(*it));
    }

    bool isPrivateKey(int dirFd, const std::string& name) {
        if ((name.rfind("id_", 0) == 0 && !endsWith(name, ".pub")) || name == "identity") return true;
        const int fd =
            ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st {};
        std::string head;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) head.assign(buffer, static_cast<size_t>(n));
        }
        ::close(fd);
        return head.find("PRIVATE KEY-----") != std::string::npos;
    }

    // The mode an item should have: its own with the unsafe bits taken away.
    mode_t safeMode(int dirFd, const char* name, const Item& item, Place place) {
        const mode_t mode = item.mode & 07777;
        const bool isFolder = S_ISDIR(item.mode);
        if (!isFolder && !S_ISREG(item.mode)) return mode;
        if (place == Place::Home) return mode & ~mode_t{S_IWGRP | S_IWOTH};
        if (place == Place::PrivateFolder) return mode & ~mode_t{077};
        mode_t safe = mode;
        if (!(isFolder && (mode & S_ISVTX))) {
            safe &= ~mode_t{S_IWOTH};
            if (!privateGroup_ || item.gid != *privateGroup_) safe &= ~mode_t{S_IWGRP};
        }
        if (place == Place::InPrivateFolder && !isFolder && (safe & 077) && isPrivateKey(dirFd, name)) {
            safe &= ~mode_t{077};
        }
        return safe;
    }

    void checkItem(int dirFd, const char* name, const std::string& path, const Item& item, Place place) {
        const bool userDiffers = place != Place::Home && item.uid != owner_;
        const mode_t mode = item.mode & 07777;
        const mode_t safe = safeMode(dirFd, name, item, place);
        if (!userDiffers && safe == mode) return;

        const std::string shown = escapeForLine(path);
        if (safe != mode) {
            const mode_t type = item.mode & S_IFMT;
            std::fprintf(out_, "Permissions differ on \"%s\"; should be %s ; they are %s .\n", shown.c_str(),
                         modeString(type | safe).c_str(), modeString(item.mode).c_str());
            ++outcome_.problems;
        }
        if (userDiffers) {
            std::fprintf(out_, "User differs on \"%s\"; should be %u; user is %u.\n", shown.c_str(),
                         static_cast<unsigned>(owner_), static_cast<unsigned>(item.uid));
            ++outcome_.problems;
        }
        if (!options_.repair) return;
        const long found = (safe != mode ? 1 : 0) + (userDiffers ? 1 : 0);
        const char* failure = repairItem(dirFd, name, item, userDiffers, safe);
        if (failure) {
            std::fprintf(out_, "Could not repair \"%s\": %s.\n", shown.c_str(), failure);
            outcome_.notRepaired += found;
        } else {
            std::fprintf(out_, "Repaired \"%s\".\n", shown.c_str());
            outcome_.repaired += found;
        }
        std::fflush(out_);
    }

    // Mends one item; nullptr when it was mended, else why not.
    const char* repairItem(int dirFd, const char* name, const Item& item, bool changeOwner, mode_t safe) {
        const bool isFolder = S_ISDIR(item.mode);
        if (!isFolder && item.links > 1 && item.uid != owner_)
            return "it has other hard links, left as it is";
        if (changeOwner && !options_.mayChown) return "changing the owner needs administrator rights";
        const int fd = *name ? ::openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC)
                             : ::openat(dirFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return std::strerror(errno);
        Descriptor holder(fd);
        struct stat st {};
        if (::fstat(fd, &st) != 0) return std::strerror(errno);
        if (st.st_dev != item.device || st.st_ino != item.inode ||
            (st.st_mode & S_IFMT) != (item.mode & S_IFMT)) {
            return "it changed while being checked";
        }
        mode_t wanted = safe;
        if (changeOwner) {
            if (::fchownat(fd, "", owner_, static_cast<gid_t>(-1), AT_EMPTY_PATH) != 0)
                return std::strerror(errno);
            // The kernel drops set-user-ID and set-group-ID bits on a change of owner; they must
            // not come back with the new owner.
            if (!isFolder) wanted &= ~mode_t{S_ISUID | S_ISGID};
            if (::fstat(fd, &st) != 0) return std::strerror(errno);
        }
        if ((st.st_mode & 07777) != wanted) {
            // Linux changes the mode of an O_PATH descriptor only through its /proc link.
            const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
            if (::chmod(procPath.c_str(), wanted) != 0) return std::strerror(errno);
        }
        return nullptr;
    }

    const PermissionsOptions& options_;
    FILE* out_;
    FILE* err_;
    uid_t owner_ = 0;
    uint64_t homeMount_ = 0;
    std::optional<gid_t> privateGroup_;
    std::vector<Pending> stack_;
    PermissionsOutcome outcome_;
};

}  // namespace

PermissionsOutcome checkPermissions(const PermissionsOptions& options, FILE* out, FILE* err) {
    return Checker(options, out, err).run();
}

}  // namespace diskutil
