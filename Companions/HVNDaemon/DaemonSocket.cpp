#include "Companions/HVNDaemon/DaemonSocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace hvndaemon {

namespace {

std::string systemText(int error) {
    return std::system_category().message(error);
}

bool fail(std::string* errorText, const std::string& text) {
    if (errorText) *errorText = text;
    return false;
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool socketAddress(const std::string& path, sockaddr_un& addr) {
    addr = {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    path.copy(addr.sun_path, path.size());
    return true;
}

// True when a daemon still answers on the socket at path.
bool someoneListens(const sockaddr_un& addr) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool listening = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return listening;
}

// Opens (creating it when missing) the folder `name` in parentFd as a real folder of root's
// with mode 0755.
int ownFolder(int parentFd, const std::string& name, const std::string& path, std::string* errorText) {
    if (::mkdirat(parentFd, name.c_str(), 0755) != 0 && errno != EEXIST) {
        fail(errorText, "cannot create " + path + ": " + systemText(errno));
        return -1;
    }
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        fail(errorText, path + " is not a folder (" + systemText(errno) + "); leaving it as it is");
        return -1;
    }
    if (::fchown(fd, 0, 0) != 0 || ::fchmod(fd, 0755) != 0) {
        fail(errorText, "cannot make " + path + " root's: " + systemText(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::optional<DaemonSocket> DaemonSocket::open(const std::string& path, uid_t owner, gid_t group,
                                               std::string* errorText) {
    sockaddr_un addr{};
    if (path.empty() || path[0] != '/' || !socketAddress(path, addr)) {
        fail(errorText, "the socket path " + path + " is not absolute or too long");
        return std::nullopt;
    }
    const std::string folder = parentOf(path);
    const std::string above = parentOf(folder);
    const std::string folderName = folder.substr(folder.rfind('/') + 1);
    const std::string name = path.substr(path.rfind('/') + 1);
    if (folder == "/" || folderName.empty() || name.empty()) {
        fail(errorText, "the socket path " + path + " has no folder of its own");
        return std::nullopt;
    }

    if (::mkdir(above.c_str(), 0755) != 0 && errno != EEXIST) {
        fail(errorText, "cannot create " + above + ": " + systemText(errno));
        return std::nullopt;
    }
    const int aboveFd = ::open(above.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (aboveFd < 0) {
        fail(errorText, above + " is not a folder: " + systemText(errno));
        return std::nullopt;
    }
    const int folderFd = ownFolder(aboveFd, folderName, folder, errorText);
    ::close(aboveFd);
    if (folderFd < 0) return std::nullopt;

    DaemonSocket s;
    s.folderFd_ = folderFd;
    s.name_ = name;

    struct stat st {};
    if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            fail(errorText, path + " exists and is not a socket; leaving it as it is");
            return std::nullopt;
        }
        if (someoneListens(addr)) {
            fail(errorText, "another daemon already serves " + path);
            return std::nullopt;
        }
        if (::unlinkat(folderFd, name.c_str(), 0) != 0 && errno != ENOENT) {
            fail(errorText, "cannot remove the stale socket " + path + ": " + systemText(errno));
            return std::nullopt;
        }
    } else if (errno != ENOENT) {
        fail(errorText, "cannot look at " + path + ": " + systemText(errno));
        return std::nullopt;
    }

    s.fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s.fd_ < 0) {
        fail(errorText, "cannot create a socket: " + systemText(errno));
        return std::nullopt;
    }
    // The socket file is born 0600, so that no one else can connect before its owner is set.
    const mode_t oldMask = ::umask(0177);
    const int bound = ::bind(s.fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    const int bindError = errno;
    ::umask(oldMask);
    if (bound != 0) {
        fail(errorText, "cannot bind " + path + ": " + systemText(bindError));
        return std::nullopt;
    }
    if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISSOCK(st.st_mode)) {
        fail(errorText, "the socket " + path + " vanished after it was made");
        return std::nullopt;
    }
    s.inode_ = st.st_ino;
    s.device_ = st.st_dev;
    if (::fchownat(folderFd, name.c_str(), owner, group, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fchmodat(folderFd, name.c_str(), 0600, 0) != 0) {
        fail(errorText, "cannot give " + path + " to its user: " + systemText(errno));
        return std::nullopt;
    }
    if (::listen(s.fd_, 64) != 0) {
        fail(errorText, "cannot listen on " + path + ": " + systemText(errno));
        return std::nullopt;
    }
    return s;
}

DaemonSocket::DaemonSocket(DaemonSocket&& other) noexcept
    : fd_(other.fd_),
      folderFd_(other.folderFd_),
      name_(std::move(other.name_)),
      inode_(other.inode_),
      device_(other.device_) {
    other.fd_ = -1;
    other.folderFd_ = -1;
    other.inode_ = 0;
}

DaemonSocket::~DaemonSocket() {
    close();
}

void DaemonSocket::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (folderFd_ >= 0) {
        struct stat st {};
        if (inode_ != 0 && ::fstatat(folderFd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISSOCK(st.st_mode) && st.st_ino == inode_ && st.st_dev == device_) {
            ::unlinkat(folderFd_, name_.c_str(), 0);
        }
        ::close(folderFd_);
        folderFd_ = -1;
    }
}

}  // namespace hvndaemon
