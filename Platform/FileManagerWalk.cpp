// The folder walks of the file manager: listings with types, the recursive removal and the
// folder size. All of them read folders with getdents64 on descriptors opened with
// O_NOFOLLOW, so no symbolic link below the starting point is ever followed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <system_error>

#include "Platform/FileManager.h"
#include "Platform/Roots.h"

namespace hvn::FileManager {

namespace {

constexpr size_t kReadBufferSize = 64 * 1024;
// Descriptors held open at once by one removal; deeper folders are closed and reopened
// through ".." (checked by device and inode) when the walk comes back up.
constexpr size_t kMaxOpenFolders = 48;

std::string systemErrorText(int error) { return std::system_category().message(error); }

struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

FileType typeOfDirentType(unsigned char t) {
    switch (t) {
        case DT_REG: return FileType::Regular;
        case DT_DIR: return FileType::Directory;
        case DT_LNK: return FileType::SymbolicLink;
        case DT_CHR: return FileType::CharacterSpecial;
        case DT_BLK: return FileType::BlockSpecial;
        case DT_SOCK: return FileType::Socket;
        case DT_FIFO: return FileType::Fifo;
        default: return FileType::Unknown;
    }
}

FileType typeOfMode(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFREG: return FileType::Regular;
        case S_IFDIR: return FileType::Directory;
        case S_IFLNK: return FileType::SymbolicLink;
        case S_IFCHR: return FileType::CharacterSpecial;
        case S_IFBLK: return FileType::BlockSpecial;
        case S_IFSOCK: return FileType::Socket;
        case S_IFIFO: return FileType::Fifo;
        default: return FileType::Unknown;
    }
}

// Reads every entry of an open folder ("." and ".." left out). Entries whose type the
// file system does not give are Unknown. Returns 0 or the errno of the failed read.
int readEntries(int fd, std::vector<DirectoryEntry>& out, std::vector<char>& buffer) {
    buffer.resize(kReadBufferSize);
    for (;;) {
        long n = syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return 0;
        for (long off = 0; off < n;) {
            auto* e = reinterpret_cast<LinuxDirent64*>(buffer.data() + off);
            off += e->d_reclen;
            const char* name = e->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
            out.push_back(DirectoryEntry{name, typeOfDirentType(e->d_type)});
        }
    }
}

FileType lstatType(int folderFd, const char* name) {
    struct stat st {};
    if (fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return FileType::Unknown;
    return typeOfMode(st.st_mode);
}

// Splits "a/b/c//" into the folder "a/b" and the name "c"; "c" gives ".", "/c" gives "/".
void splitPath(const std::string& path, std::string& folder, std::string& name) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    std::string p = path.substr(0, end);
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = p;
        return;
    }
    name = p.substr(slash + 1);
    size_t folderEnd = slash;
    while (folderEnd > 0 && p[folderEnd - 1] == '/') --folderEnd;
    folder = folderEnd == 0 ? "/" : p.substr(0, folderEnd);
}

// True when path is a root or directly inside one, comparing the path with each root both
// as configured and as resolved on disk (so a link to the home folder met on the way
// does not hide that the real target is protected).
bool isProtectedLocation(const std::string& realPath) {
    if (Roots::isProtectedPath(realPath)) return true;
    std::string p = Roots::normalize(realPath);
    std::string parent = p.substr(0, p.rfind('/'));
    if (parent.empty()) parent = "/";
    for (const std::string& root : {Roots::home(), Roots::system()}) {
        char resolved[PATH_MAX];
        if (!realpath(root.c_str(), resolved)) continue;
        std::string r = resolved;
        if (p == r || parent == r) return true;
    }
    return false;
}

std::string descriptorPath(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return {};
    return std::string(target, static_cast<size_t>(n));
}

class ErrorList {
public:
    void add(const std::string& path, int error) { addText("Could not remove " + path + ": " + systemErrorText(error)); }
    void addText(const std::string& text) {
        if (count_++ == 0) first_ = text;
    }
    bool empty() const { return count_ == 0; }
    std::string text() const {
        if (count_ <= 1) return first_;
        return first_ + " (and " + std::to_string(count_ - 1) + " more)";
    }

private:
    std::string first_;
    size_t count_ = 0;
};

struct Frame {
    std::string name;  // name in the parent folder
    dev_t device = 0;
    ino_t inode = 0;
    int fd = -1;       // -1 while closed to bound the open descriptors
    std::vector<DirectoryEntry> entries;
    size_t next = 0;
    bool failed = false;  // something inside could not be removed
};

class TreeRemover {
public:
    TreeRemover(int baseFd, std::string basePath, const BeforeUnlinkFile& before, ErrorList& errors)
        : baseFd_(baseFd), basePath_(std::move(basePath)), before_(before), errors_(errors) {}

    ~TreeRemover() {
        for (Frame& f : stack_) {
            if (f.fd >= 0) close(f.fd);
        }
    }

    // Removes the folder `name` of the base folder and everything in it.
    void run(const std::string& name, dev_t device) {
        device_ = device;
        int error = push(baseFd_, name);
        if (error != 0) {
            failedToOpen(baseFd_, name, error);
            return;
        }
        while (!stack_.empty()) {
            Frame& top = stack_.back();
            if (top.next < top.entries.size()) {
                handleEntry(top, top.entries[top.next++]);
            } else if (!finishTop()) {
                return;
            }
        }
    }

private:
    std::string pathOf(const std::string& entryName) const {
        std::string p = basePath_ == "/" ? "" : basePath_;
        for (const Frame& f : stack_) p += "/" + f.name;
        return p + "/" + entryName;
    }

    std::string framePath() const {
        std::string p = basePath_ == "/" ? "" : basePath_;
        for (const Frame& f : stack_) p += "/" + f.name;
        return p;
    }

    // Opens the folder `name` of parentFd without following a link, reads it whole and
    // pushes it. Returns 0 or the errno.
    int push(int parentFd, const std::string& name) {
        int fd = openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return errno;
        struct stat st {};
        if (fstat(fd, &st) != 0) {
            int error = errno;
            close(fd);
            return error;
        }
        if (st.st_dev != device_) {
            close(fd);
            return EXDEV;
        }
        Frame f;
        f.name = name;
        f.device = st.st_dev;
        f.inode = st.st_ino;
        f.fd = fd;
        int error = readEntries(fd, f.entries, buffer_);
        if (error != 0) {
            close(fd);
            return error;
        }
        stack_.push_back(std::move(f));
        boundOpenDescriptors();
        return 0;
    }

    void boundOpenDescriptors() {
        if (++openCount_ <= kMaxOpenFolders) return;
        for (Frame& f : stack_) {
            if (f.fd >= 0) {
                close(f.fd);
                f.fd = -1;
                --openCount_;
                return;
            }
        }
    }

    void markFailed() {
        if (!stack_.empty()) stack_.back().failed = true;
        else rootFailed_ = true;
    }

    // A sub-folder that could not be opened: a link or file now stands there (remove it as
    // such), or it cannot be read (remove it only if it is empty).
    void failedToOpen(int parentFd, const std::string& name, int error) {
        std::string path = pathOf(name);
        if (error == ELOOP || error == ENOTDIR) {
            if (unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT) return;
            error = errno;
        } else if (error == ENOENT) {
            return;
        } else if (error == EXDEV) {
            errors_.addText("Could not remove " + path + ": another file system is mounted there");
            markFailed();
            return;
        } else if (unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0) {
            return;
        }
        errors_.add(path, error);
        markFailed();
    }

    void handleEntry(Frame& top, DirectoryEntry& entry) {
        FileType type = entry.type;
        if (type == FileType::Unknown) type = lstatType(top.fd, entry.name.c_str());
        if (type == FileType::Directory) {
            int error = push(top.fd, entry.name);
            // `top` may have moved when the stack grew; look it up again.
            if (error != 0) failedToOpen(stack_.back().fd, entry.name, error);
            return;
        }
        if (type == FileType::Regular && before_) {
            std::string text;
            std::string path = pathOf(entry.name);
            if (!before_(top.fd, entry.name.c_str(), path, &text)) {
                errors_.addText(text.empty() ? "Could not remove " + path : text);
                top.failed = true;
                return;
            }
        }
        if (unlinkat(top.fd, entry.name.c_str(), 0) == 0 || errno == ENOENT) return;
        int error = errno;
        if (error == EISDIR && entry.type != FileType::Directory) {
            // It became a folder since the listing: take it as one.
            entry.type = FileType::Directory;
            --top.next;
            return;
        }
        errors_.add(pathOf(entry.name), error);
        top.failed = true;
    }

    // Removes the finished top folder from its parent. False when the walk must stop
    // because the tree moved under it.
    bool finishTop() {
        Frame done = std::move(stack_.back());
        stack_.pop_back();
        --openCount_;
        int parentFd = baseFd_;
        if (!stack_.empty()) {
            Frame& parent = stack_.back();
            if (parent.fd < 0) {
                int fd = openat(done.fd, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                struct stat st {};
                if (fd < 0 || fstat(fd, &st) != 0 || st.st_dev != parent.device || st.st_ino != parent.inode) {
                    if (fd >= 0) close(fd);
                    close(done.fd);
                    errors_.addText("Could not remove " + framePath() + ": the folder was moved during removal");
                    for (Frame& f : stack_) f.failed = true;
                    rootFailed_ = true;
                    return false;
                }
                parent.fd = fd;
                ++openCount_;
            }
            parentFd = parent.fd;
        }
        close(done.fd);
        std::string donePath = framePath() + "/" + done.name;
        if (unlinkat(parentFd, done.name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) return true;
        int error = errno;
        if (!done.failed) errors_.add(donePath, error);
        markFailed();
        return true;
    }

    int baseFd_;
    std::string basePath_;
    const BeforeUnlinkFile& before_;
    ErrorList& errors_;
    dev_t device_ = 0;
    std::vector<Frame> stack_;
    size_t openCount_ = 0;
    bool rootFailed_ = false;
    std::vector<char> buffer_;
};

}  // namespace

std::optional<std::vector<DirectoryEntry>> entriesOfDirectoryAtPath(const std::string& path,
                                                                    std::string* errorText) {
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (errorText) *errorText = path + ": " + systemErrorText(errno);
        return std::nullopt;
    }
    std::vector<DirectoryEntry> entries;
    std::vector<char> buffer;
    int error = readEntries(fd, entries, buffer);
    if (error == 0) {
        for (DirectoryEntry& e : entries) {
            if (e.type == FileType::Unknown) e.type = lstatType(fd, e.name.c_str());
        }
    }
    close(fd);
    if (error != 0) {
        if (errorText) *errorText = path + ": " + systemErrorText(error);
        return std::nullopt;
    }
    return entries;
}

bool removeItemAtPath(const std::string& path, std::string* errorText, const BeforeUnlinkFile& beforeUnlinkFile) {
    auto fail = [&](const std::string& text) {
        if (errorText) *errorText = text;
        return false;
    };
    if (path.empty()) return fail("Could not remove an empty path");
    std::string folder, name;
    splitPath(path, folder, name);
    if (name == "." || name == ".." || name == "/") {
        return fail("Could not remove " + path + ": " + systemErrorText(EINVAL));
    }
    if (Roots::isProtectedPath(path)) {
        return fail("Refusing to remove " + path + ": the system root, the home folder and the folders directly inside them are never removed");
    }
    int baseFd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (baseFd < 0) return fail("Could not remove " + path + ": " + systemErrorText(errno));
    struct FdCloser {
        int fd;
        ~FdCloser() { close(fd); }
    } closer{baseFd};

    std::string realFolder = descriptorPath(baseFd);
    if (!realFolder.empty() && isProtectedLocation((realFolder == "/" ? "" : realFolder) + "/" + name)) {
        return fail("Refusing to remove " + path + " (" + (realFolder == "/" ? "" : realFolder) + "/" + name +
                    "): the system root, the home folder and the folders directly inside them are never removed");
    }

    struct stat st {};
    if (fstatat(baseFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return fail("Could not remove " + path + ": " + systemErrorText(errno));
    }
    ErrorList errors;
    if (S_ISDIR(st.st_mode)) {
        TreeRemover remover(baseFd, folder, beforeUnlinkFile, errors);
        remover.run(name, st.st_dev);
    } else {
        std::string text;
        if (S_ISREG(st.st_mode) && beforeUnlinkFile && !beforeUnlinkFile(baseFd, name.c_str(), path, &text)) {
            errors.addText(text.empty() ? "Could not remove " + path : text);
        } else if (unlinkat(baseFd, name.c_str(), 0) != 0) {
            errors.add(path, errno);
        }
    }
    if (errors.empty()) return true;
    return fail(errors.text());
}

int64_t directorySize(const std::string& path) {
    std::vector<std::string> stack;
    stack.reserve(100);
    stack.push_back(path);
    std::vector<DirectoryEntry> entries;
    std::vector<char> buffer;
    int64_t total = 0;
    while (!stack.empty()) {
        std::string folder = std::move(stack.back());
        stack.pop_back();
        int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        entries.clear();
        readEntries(fd, entries, buffer);  // a folder that fails half-way adds what was read
        std::string prefix = folder == "/" ? "/" : folder + "/";
        for (const DirectoryEntry& e : entries) {
            if (e.type == FileType::Directory) {
                stack.push_back(prefix + e.name);
                continue;
            }
            struct stat st {};
            if (fstatat(fd, e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                stack.push_back(prefix + e.name);
            } else {
                total += static_cast<int64_t>(st.st_size);
            }
        }
        close(fd);
    }
    return total;
}

}  // namespace hvn::FileManager
