#include "Platform/Shredder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>
#include <system_error>
#include <vector>

namespace hvn::Shredder {

namespace {

std::string systemErrorText(int error) {
    return std::system_category().message(error);
}

const std::vector<char>& pattern() {
    thread_local std::vector<char> p = [] {
        std::vector<char> bytes(64 * 1024);
        std::mt19937_64 random{std::random_device{}()};
        for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
            uint64_t v = random();
            std::memcpy(bytes.data() + i, &v, 8);
        }
        return bytes;
    }();
    return p;
}

// Writes the pattern over [from, to) of fd. 0 or the errno.
int overwriteRange(int fd, off_t from, off_t to) {
    const std::vector<char>& bytes = pattern();
    while (from < to) {
        size_t chunk = static_cast<size_t>(std::min<off_t>(to - from, static_cast<off_t>(bytes.size())));
        ssize_t n = ::pwrite(fd, bytes.data(), chunk, from);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        from += n;
    }
    return 0;
}

std::function<void(const std::string&)>& afterPassHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

}  // namespace

void setAfterPassHookForTesting(std::function<void(const std::string& path)> hook) {
    afterPassHook() = std::move(hook);
}

bool mayUnlink(int folderFd, const char* name) {
    if (::faccessat(folderFd, ".", W_OK | X_OK, AT_EACCESS) != 0) return false;
    struct stat folder {};
    if (::fstat(folderFd, &folder) != 0) return false;
    if (!(folder.st_mode & S_ISVTX)) return true;
    uid_t me = ::geteuid();
    if (me == 0 || folder.st_uid == me) return true;
    struct stat item {};
    return ::fstatat(folderFd, name, &item, AT_SYMLINK_NOFOLLOW) == 0 && item.st_uid == me;
}

bool overwriteForRemoval(int folderFd, const char* name, const std::string& path, std::string* errorText) {
    auto fail = [&](const std::string& why) {
        if (errorText) *errorText = "Could not overwrite " + path + ": " + why;
        return false;
    };
    // Nothing is overwritten that could not be removed afterwards.
    if (!mayUnlink(folderFd, name)) return fail(systemErrorText(EACCES));
    int fd = ::openat(folderFd, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(systemErrorText(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat before {};
    if (::fstat(fd, &before) != 0) return fail(systemErrorText(errno));
    if (!S_ISREG(before.st_mode) || before.st_nlink > 1) return true;

    const off_t length = before.st_size;
    off_t pos = 0;
    while (pos < length) {
        off_t data = ::lseek(fd, pos, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) break;  // only a hole is left
            return fail(systemErrorText(errno));
        }
        if (data >= length) break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0) return fail(systemErrorText(errno));
        hole = std::min(hole, length);
        if (int error = overwriteRange(fd, data, hole)) return fail(systemErrorText(error));
        pos = hole;
    }
    if (::fsync(fd) != 0) return fail(systemErrorText(errno));
    if (afterPassHook()) afterPassHook()(path);

    struct stat after {};
    struct stat named {};
    if (::fstat(fd, &after) != 0) return fail(systemErrorText(errno));
    if (after.st_size != length) return fail("it changed while it was being overwritten; it is kept");
    if (::fstatat(folderFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != after.st_dev ||
        named.st_ino != after.st_ino) {
        return fail("another file took its place while it was being overwritten; it is kept");
    }
    return true;
}

}  // namespace hvn::Shredder
