#include "Platform/DirectoryWalker.h"

#include "Platform/RemovalGate.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace hvn {

namespace {

constexpr size_t kBufferSize = 64 * 1024;
// Descriptors held open along the current branch. Beyond that depth an ancestor's descriptor
// is given back and its sub-folders are opened by their path relative to the start folder
// (whose descriptor is always kept), so that a very deep tree cannot exhaust the process's
// descriptors.
constexpr size_t kMaxHeldDescriptors = 64;

constexpr int kOpenFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW;

DirectoryWalker::EntryType typeFromDirent(unsigned char t) {
    switch (t) {
        case DT_REG:
            return DirectoryWalker::EntryType::File;
        case DT_DIR:
            return DirectoryWalker::EntryType::Directory;
        case DT_LNK:
            return DirectoryWalker::EntryType::Symlink;
        default:
            return DirectoryWalker::EntryType::Other;
    }
}

DirectoryWalker::EntryType typeFromMode(mode_t m) {
    if (S_ISREG(m)) return DirectoryWalker::EntryType::File;
    if (S_ISDIR(m)) return DirectoryWalker::EntryType::Directory;
    if (S_ISLNK(m)) return DirectoryWalker::EntryType::Symlink;
    return DirectoryWalker::EntryType::Other;
}

// A folder that could not be opened for one of these reasons is simply not there (any
// more, or not as a folder); other failures make it unreadable.
bool isMissingFolderError(int error) {
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

bool isDotOrDotDot(const char* n) {
    return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0));
}

// The state of one walk: the current path, the pending sub-folders of every folder on the
// branch (names packed into one arena), and one getdents buffer. A folder is read whole
// before any of its sub-folders is opened, so one buffer serves the whole walk.
class Walk {
public:
    explicit Walk(const WalkOptions& options) : options_(options), buffer_(new char[kBufferSize]) {
        path_.reserve(4096);
        arena_.reserve(16 * 1024);
        stack_.reserve(32);
    }
    ~Walk() {
        for (auto& f : stack_) {
            if (f.fd >= 0) ::close(f.fd);
        }
    }
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;

    bool stopRequested() const {
        if (options_.stopFlag && options_.stopFlag->load(std::memory_order_relaxed)) return true;
        return options_.shouldStop && options_.shouldStop();
    }

    // Counts one entry for the progress callback.
    void tick() {
        ++seen_;
        if (options_.progress && options_.progressEvery && seen_ % options_.progressEvery == 0) {
            options_.progress(path_, seen_);
        }
    }

    // Reads the whole folder open at `fd`, calling fn(name, d_type) for every entry but "."
    // and "..". fn returns false to end the reading. Returns false on a read error.
    template <typename Fn>
    bool readFolder(int fd, Fn&& fn) {
        for (;;) {
            ssize_t n = ::getdents64(fd, buffer_.get(), kBufferSize);
            if (n == 0) return true;
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            for (ssize_t pos = 0; pos < n;) {
                auto* d = reinterpret_cast<struct dirent64*>(buffer_.get() + pos);
                pos += d->d_reclen;
                if (isDotOrDotDot(d->d_name)) continue;
                if (!fn(d->d_name, d->d_type)) return true;
            }
        }
    }

    void pushFolder(int fd, int depth) {
        stack_.push_back(Frame{fd, path_.size(), arena_.size(), arena_.size(), arena_.size(), depth});
        if (stack_.size() > kMaxHeldDescriptors + 1) {
            Frame& old = stack_[stack_.size() - 1 - kMaxHeldDescriptors];
            if (old.fd >= 0) {
                ::close(old.fd);
                old.fd = -1;
            }
        }
    }

    void addPending(const char* name) {
        arena_.insert(arena_.end(), name, name + std::strlen(name) + 1);
        stack_.back().namesEnd = arena_.size();
    }

    // Opens the next pending sub-folder of the deepest folder, or pops that folder when it
    // has none left. Returns the new folder's descriptor (path_ extended), -1 when a folder
    // was popped or a sub-folder could not be opened (then `unreadable` is set unless it
    // simply vanished). Returns -2 when the stack is empty.
    int next(bool& unreadable) {
        unreadable = false;
        if (stack_.empty()) return -2;
        Frame& top = stack_.back();
        if (top.cursor >= top.namesEnd) {
            if (top.fd >= 0) ::close(top.fd);
            arena_.resize(top.namesBegin);
            path_.resize(stack_.size() > 1 ? stack_[stack_.size() - 2].pathLen : top.pathLen);
            stack_.pop_back();
            return -1;
        }
        const char* name = arena_.data() + top.cursor;
        size_t len = std::strlen(name);
        top.cursor += len + 1;
        path_.resize(top.pathLen);
        if (path_.empty() || path_.back() != '/') path_ += '/';
        path_.append(name, len);
        int fd;
        if (top.fd >= 0) {
            fd = ::openat(top.fd, name, kOpenFolderFlags);
        } else {
            const char* rel = path_.c_str() + stack_.front().pathLen;
            while (*rel == '/') ++rel;
            fd = ::openat(stack_.front().fd, rel, kOpenFolderFlags);
        }
        if (fd < 0) {
            unreadable = !isMissingFolderError(errno);
            path_.resize(top.pathLen);
            return -1;
        }
        return fd;
    }

    // Walks from the folder open at `fd` (path_ holds its path): readOne(fd, depth) reads
    // each folder reached, adding the sub-folders to enter, and returns false on a read
    // error. Unreadable folders are counted in r; the walk ends early when r.stopped is set.
    template <typename Result, typename ReadOne>
    void run(int fd, Result& r, ReadOne&& readOne) {
        int depth = 0;
        for (;;) {
            if (fd >= 0) {
                pushFolder(fd, depth);
                if (!readOne(fd, depth)) ++r.unreadableFolders;
                if (r.stopped) return;
            }
            bool unreadable = false;
            fd = next(unreadable);
            if (fd == -2) return;
            if (unreadable) ++r.unreadableFolders;
            depth = static_cast<int>(stack_.size());
        }
    }

    struct Frame {
        int fd;
        size_t pathLen;
        size_t namesBegin;
        size_t cursor;
        size_t namesEnd;
        int depth;
    };

    const WalkOptions& options_;
    std::unique_ptr<char[]> buffer_;
    std::string path_;
    std::vector<char> arena_;
    std::vector<Frame> stack_;
    uint64_t seen_ = 0;
};

SizeResult sizeWalk(int rootFd, std::string_view rootPath, const WalkOptions& options) {
    SizeResult r;
    if (rootFd < 0) return r;
    r.opened = true;
    Walk w(options);
    w.path_.assign(rootPath);
    w.run(rootFd, r, [&](int fd, int) {
        ++r.folders;
        return w.readFolder(fd, [&](const char* name, unsigned char type) {
            if (w.stopRequested()) {
                r.stopped = true;
                return false;
            }
            w.tick();
            if (type == DT_REG || type == DT_UNKNOWN || (type == DT_LNK && options.countLinks)) {
                struct ::stat st;
                if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return true;  // vanished
                if (S_ISREG(st.st_mode)) {
                    r.bytes += static_cast<uint64_t>(st.st_size);
                    ++r.files;
                } else if (S_ISLNK(st.st_mode) && options.countLinks) {
                    r.bytes += static_cast<uint64_t>(st.st_size);
                } else if (S_ISDIR(st.st_mode)) {
                    w.addPending(name);
                }
            } else if (type == DT_DIR) {
                w.addPending(name);
            }
            return true;
        });
    });
    return r;
}

}  // namespace

SizeResult DirectoryWalker::totalSize(const std::string& folder, const WalkOptions& options) {
    return totalSizeAt(AT_FDCWD, folder.c_str(), "", options);
}

SizeResult DirectoryWalker::totalSizeAt(int parentFd, const char* name, std::string_view parentPath,
                                        const WalkOptions& options) {
    int fd = ::openat(parentFd, name, kOpenFolderFlags);
    if (fd < 0) {
        SizeResult r;
        if (!isMissingFolderError(errno)) r.unreadableFolders = 1;
        return r;
    }
    if (parentPath.empty()) return sizeWalk(fd, name, options);
    std::string path(parentPath);
    if (path.back() != '/') path += '/';
    path += name;
    return sizeWalk(fd, path, options);
}

std::string DirectoryWalker::Entry::path() const {
    std::string p(folder_);
    if (p.empty() || p.back() != '/') p += '/';
    p.append(name_);
    return p;
}

const struct ::stat* DirectoryWalker::Entry::stat() const {
    if (!statDone_) {
        statDone_ = true;
        // name_ views a NUL-terminated d_name of the listing buffer.
        statOk_ = ::fstatat(fd_, name_.data(), &st_, AT_SYMLINK_NOFOLLOW) == 0;
    }
    return statOk_ ? &st_ : nullptr;
}

DirectoryWalker::VisitResult DirectoryWalker::visitEntries(const std::string& folder, bool recursive,
                                                           const Visitor& visitor,
                                                           const WalkOptions& options) {
    VisitResult r;
    int fd = options.noLinksOnPath
                 ? openFolderWithoutLinks(folder, O_RDONLY)
                 : ::open(folder.c_str(), options.followStartLink ? O_RDONLY | O_DIRECTORY | O_CLOEXEC : kOpenFolderFlags);
    if (fd < 0) {
        if (!isMissingFolderError(errno)) r.unreadableFolders = 1;
        return r;
    }
    r.opened = true;
    Walk w(options);
    w.path_ = folder;
    w.run(fd, r, [&](int folderFd, int depth) {
        return w.readFolder(folderFd, [&](const char* name, unsigned char type) {
            if (w.stopRequested()) {
                r.stopped = true;
                return false;
            }
            w.tick();
            Entry e;
            e.folder_ = w.path_;
            e.name_ = name;
            e.depth_ = depth;
            e.fd_ = folderFd;
            if (type == DT_UNKNOWN) {
                if (!e.stat()) return true;  // vanished
                e.type_ = typeFromMode(e.st_.st_mode);
            } else {
                e.type_ = typeFromDirent(type);
            }
            ++r.entries;
            Visit v = visitor(e);
            if (v == Visit::Stop) {
                r.stopped = true;
                return false;
            }
            if (recursive && v == Visit::Continue && e.type_ == EntryType::Directory) w.addPending(name);
            return true;
        });
    });
    return r;
}

}  // namespace hvn
