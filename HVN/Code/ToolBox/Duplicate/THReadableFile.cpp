#include "HVN/Code/ToolBox/Duplicate/THReadableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {
constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
}

THReadableFile::~THReadableFile() {
    close();
}

THReadableFile::THReadableFile(THReadableFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), device_(other.device_), inode_(other.inode_) {}

THReadableFile& THReadableFile::operator=(THReadableFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        device_ = other.device_;
        inode_ = other.inode_;
    }
    return *this;
}

bool THReadableFile::open(const std::string& path, std::string* error) {
    close();
    return finishOpen(::open(path.c_str(), kOpenFlags), path, error);
}

bool THReadableFile::openAt(int folderFd, const char* name, const std::string& pathForMessages,
                            std::string* error) {
    close();
    return finishOpen(::openat(folderFd, name, kOpenFlags), pathForMessages, error);
}

bool THReadableFile::finishOpen(int fd, const std::string& path, std::string* error) {
    if (fd < 0) {
        if (error) *error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int e = S_ISREG(st.st_mode) || st.st_mode == 0 ? errno : 0;
        ::close(fd);
        if (error) *error = path + ": " + (e ? std::strerror(e) : "not a regular file");
        return false;
    }
    fd_ = fd;
    size_ = static_cast<uint64_t>(st.st_size);
    device_ = static_cast<uint64_t>(st.st_dev);
    inode_ = static_cast<uint64_t>(st.st_ino);
    return true;
}

void THReadableFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

ssize_t THReadableFile::readAt(void* buffer, size_t length, uint64_t offset) const {
    size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < length) {
        ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}
