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

#include "Platform/DirectoryWalker.h"
#include "Platform/FileManager.h"
#include "Platform/RemovalGate.h"

namespace hvn::FileManager {

namespace {

constexpr size_t kReadBufferSize = 64 * 1024;
// Descriptors held open at once by one removal; deeper folders are closed and reopened
// through ".." (checked by device and inode) when the walk comes back up.
constexpr size_t kMaxOpenFolders = 48;

std::string systemErrorText(int error) {
    return std::system_category().message(error);
}

struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

FileType typeOfDirentType(unsigned char t) {
    switch (t) {
        case DT_REG:
            return FileType::Regular;
        case DT_DIR:
            return FileType::Directory;
        case DT_LNK:
            return FileType::SymbolicLink;
        case DT_CHR:
            return FileType::CharacterSpecial;
        case DT_BLK:
            return FileType::BlockSpecial;
        case DT_SOCK:
            return FileType::Socket;
        case DT_FIFO:
            return FileType::Fifo;
        default:
            return FileType::Unknown;
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
    return fileTypeOfMode(st.st_mode);
}

class ErrorList {
public:
    void add(const std::string& path, int error) {
        addText("Could not remove " + path + ": " + systemErrorText(error));
    }
    void addText(const std::string& text) {
        if (count_++ == 0) first_ = text;
    }
    // A mount met below the item: the whole removal becomes a refusal, reported first.
    void addRefusal(const std::string& text) {
        if (refusal_.empty()) refusal_ = text;
        ++count_;
    }
    bool empty() const { return count_ == 0; }
    bool refused() const { return !refusal_.empty(); }
    std::string text() const {
        const std::string& first = refusal_.empty() ? first_ : refusal_;
        if (count_ <= 1) return first;
        return first + " (and " + std::to_string(count_ - 1) + " more)";
    }

private:
    std::string first_;
    std::string refusal_;
    size_t count_ = 0;
};

// One open folder of a walk: its entries, read whole when it was opened, and how far the
// walk has gone through them.
struct Frame {
    std::string name;  // name in the parent folder
    FileIdentity identity;
    int fd = -1;  // -1 while closed to bound the open descriptors
    std::vector<DirectoryEntry> entries;
    size_t next = 0;
    bool failed = false;  // something inside could not be removed
};

// The folders from the start of a walk down to the current one. Only the deepest
// kMaxOpenFolders stay open; a closed folder is reopened through ".." of its child when
// the walk comes back to it, and must then still be the same folder (device and inode).
class FrameStack {
public:
    FrameStack() = default;
    FrameStack(const FrameStack&) = delete;
    FrameStack& operator=(const FrameStack&) = delete;
    ~FrameStack() {
        for (Frame& f : frames_) {
            if (f.fd >= 0) close(f.fd);
        }
    }

    bool empty() const { return frames_.empty(); }
    Frame& top() { return frames_.back(); }
    const std::vector<Frame>& frames() const { return frames_; }

    // Opens the folder `name` of parentFd without following a link, reads it whole and
    // pushes it. A folder of another mount than mountId is refused (EXDEV); with an
    // expected identity, another folder is refused (ESTALE). Returns 0 or the errno. May
    // move the frames (references to them become invalid).
    int push(int parentFd, const std::string& name, uint64_t mountId,
             const std::optional<FileIdentity>& expected = std::nullopt) {
        int fd = openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return errno;
        auto status = itemStatusAt(fd, "");
        if (!status) {
            int error = errno;
            close(fd);
            return error;
        }
        if (status->mountId != mountId || status->mountRoot) {
            close(fd);
            return EXDEV;
        }
        if (expected && status->identity != *expected) {
            close(fd);
            return ESTALE;
        }
        Frame f;
        f.name = name;
        f.identity = status->identity;
        f.fd = fd;
        int error = readEntries(fd, f.entries, buffer_);
        if (error != 0) {
            close(fd);
            return error;
        }
        frames_.push_back(std::move(f));
        // The open frames are always the deepest ones: close the shallowest open one.
        if (frames_.size() - firstOpen_ > kMaxOpenFolders) {
            close(frames_[firstOpen_].fd);
            frames_[firstOpen_++].fd = -1;
        }
        return 0;
    }

    // Pops the top folder into `done` (its descriptor still open, for the caller to close)
    // and makes sure the new top is open. False when the new top could not be reopened as
    // the same folder (the tree moved): the walk must stop.
    bool pop(Frame& done) {
        done = std::move(frames_.back());
        frames_.pop_back();
        if (frames_.size() > firstOpen_) return true;
        if (frames_.empty()) {
            firstOpen_ = 0;
            return true;
        }
        Frame& parent = frames_.back();
        int fd = openat(done.fd, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || fstat(fd, &st) != 0 || st.st_dev != parent.identity.device ||
            st.st_ino != parent.identity.inode) {
            if (fd >= 0) close(fd);
            return false;
        }
        parent.fd = fd;
        firstOpen_ = frames_.size() - 1;
        return true;
    }

    // basePath followed by the names of the frames.
    std::string path(const std::string& basePath) const {
        std::string p = basePath == "/" ? "" : basePath;
        for (const Frame& f : frames_) p += "/" + f.name;
        return p;
    }

private:
    std::vector<Frame> frames_;
    size_t firstOpen_ = 0;  // frames below this index are closed
    std::vector<char> buffer_;
};

class TreeRemover {
public:
    TreeRemover(int baseFd, std::string basePath, const BeforeUnlinkFile& before, ErrorList& errors)
        : baseFd_(baseFd), basePath_(std::move(basePath)), before_(before), errors_(errors) {}

    // Removes the folder `name` of the base folder (admitted as `entry`) and everything in it.
    void run(const std::string& name, const ItemStatus& entry) {
        mountId_ = entry.mountId;
        int error = stack_.push(baseFd_, name, mountId_, entry.identity);
        if (error != 0) {
            failedToOpen(baseFd_, name, error);
            return;
        }
        while (!stack_.empty()) {
            Frame& top = stack_.top();
            if (top.next < top.entries.size()) {
                handleEntry(top.next++);
            } else if (!finishTop()) {
                return;
            }
        }
    }

private:
    std::string pathOf(const std::string& entryName) const {
        return stack_.path(basePath_) + "/" + entryName;
    }

    void markFailed() {
        if (!stack_.empty()) stack_.top().failed = true;
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
            errors_.addRefusal("Refusing to remove " + path + ": another file system is mounted there");
            markFailed();
            return;
        } else if (error == ESTALE) {
            errors_.addText("Could not remove " + path + ": it was replaced during removal");
            markFailed();
            return;
        } else if (unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0) {
            return;
        }
        errors_.add(path, error);
        markFailed();
    }

    void handleEntry(size_t index) {
        Frame& top = stack_.top();
        const std::string name = top.entries[index].name;
        FileType type = top.entries[index].type;
        if (type == FileType::Unknown) type = lstatType(top.fd, name.c_str());
        if (type == FileType::Directory) {
            int parentFd = top.fd;
            int error = stack_.push(parentFd, name, mountId_);
            if (error != 0) failedToOpen(parentFd, name, error);
            return;
        }
        if (type == FileType::Regular && before_) {
            std::string text;
            std::string path = pathOf(name);
            if (!before_(top.fd, name.c_str(), path, &text)) {
                errors_.addText(text.empty() ? "Could not remove " + path : text);
                top.failed = true;
                return;
            }
        }
        if (unlinkat(top.fd, name.c_str(), 0) == 0 || errno == ENOENT) return;
        int error = errno;
        if (error == EISDIR && top.entries[index].type != FileType::Directory) {
            // It became a folder since the listing: take it as one.
            top.entries[index].type = FileType::Directory;
            --top.next;
            return;
        }
        if (error == EBUSY) {
            // A file mounted over this name.
            errors_.addRefusal("Refusing to remove " + pathOf(name) + ": it is a mount point");
        } else {
            errors_.add(pathOf(name), error);
        }
        top.failed = true;
    }

    // Removes the finished top folder from its parent. False when the walk must stop
    // because the tree moved under it.
    bool finishTop() {
        Frame done;
        if (!stack_.pop(done)) {
            close(done.fd);
            errors_.addText("Could not remove " + stack_.path(basePath_) +
                            ": the folder was moved during removal");
            return false;
        }
        close(done.fd);
        int parentFd = stack_.empty() ? baseFd_ : stack_.top().fd;
        if (unlinkat(parentFd, done.name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) return true;
        int error = errno;
        // The folder was moved away and a link or file put in its place: remove that as it is.
        if (error == ENOTDIR && (unlinkat(parentFd, done.name.c_str(), 0) == 0 || errno == ENOENT))
            return true;
        // A folder that kept something already has its error reported.
        if (!done.failed) errors_.add(pathOf(done.name), error);
        markFailed();
        return true;
    }

    int baseFd_;
    std::string basePath_;
    const BeforeUnlinkFile& before_;
    ErrorList& errors_;
    uint64_t mountId_ = 0;
    FrameStack stack_;
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

RemovalResult removeItem(const std::string& path, const RemovalOptions& options) {
    RemovalResult result;
    if (path.empty()) {
        result.error = "Could not remove an empty path";
        return result;
    }
    std::optional<RemovalGate> ownGate;
    if (!options.gate) ownGate.emplace(RemovalGate::forCurrentRoots());
    const RemovalGate& gate = options.gate ? *options.gate : *ownGate;
    RemovalGate::Admission admission = gate.admit(path, options.foundIn);
    switch (admission.status()) {
        case RemovalGate::Admission::Status::Admitted:
            break;
        case RemovalGate::Admission::Status::Gone:
            result.status = RemovalStatus::Missing;
            result.error = "Could not remove " + path + ": " + systemErrorText(ENOENT);
            return result;
        case RemovalGate::Admission::Status::Refused:
            result.status = RemovalStatus::Refused;
            result.error = admission.reason();
            return result;
        case RemovalGate::Admission::Status::Failed:
            result.error = admission.reason();
            return result;
    }
    const int baseFd = admission.parentFd();
    const std::string& name = admission.name();
    if (options.listed) {
        std::string change = options.listed->changeOfEntry(baseFd, name.c_str());
        if (!change.empty()) {
            result.status = RemovalStatus::Refused;
            result.error = "Refusing to remove " + path + ": " + change;
            return result;
        }
    }
    std::string folder = path.substr(0, path.size() - name.size());
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();

    ErrorList errors;
    if (admission.entry().isDirectory()) {
        TreeRemover remover(baseFd, folder, options.beforeUnlinkFile, errors);
        remover.run(name, admission.entry());
    } else {
        std::string text;
        const BeforeUnlinkFile& before = options.beforeUnlinkFile;
        if (S_ISREG(admission.entry().mode) && before && !before(baseFd, name.c_str(), path, &text)) {
            errors.addText(text.empty() ? "Could not remove " + path : text);
        } else if (unlinkat(baseFd, name.c_str(), 0) != 0 && errno != ENOENT) {
            if (errno == EBUSY) {
                errors.addRefusal("Refusing to remove " + path + ": it is a mount point");
            } else {
                errors.add(path, errno);
            }
        }
    }
    if (errors.empty()) {
        result.status = RemovalStatus::Removed;
        return result;
    }
    result.status = errors.refused() ? RemovalStatus::Refused : RemovalStatus::Failed;
    result.error = errors.text();
    return result;
}

bool removeItemAtPath(const std::string& path, std::string* errorText, const BeforeUnlinkFile& beforeUnlinkFile) {
    RemovalOptions options;
    options.beforeUnlinkFile = beforeUnlinkFile;
    RemovalResult r = removeItem(path, options);
    if (!r.removed() && errorText) *errorText = r.error;
    return r.removed();
}

int64_t directorySize(const std::string& path) {
    if (path.empty()) return 0;
    WalkOptions options;
    options.countLinks = true;
    return static_cast<int64_t>(DirectoryWalker::totalSize(path, options).bytes);
}

}  // namespace hvn::FileManager
