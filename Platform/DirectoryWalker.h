// Fast folder walks for the scanners: the total logical size below a folder, and a visitor
// over the entries of a folder (or of a whole tree).
//
// Both walk with descriptors (openat/fstatat relative to the folder being read, getdents64
// into one reused buffer), an explicit stack and no per-entry allocation. Symbolic links
// are never followed: a link is an entry of its own (type Symlink) and is neither counted
// in a size nor descended into. A folder that cannot be opened or read is skipped and
// counted in `unreadableFolders`; an entry that vanishes between the listing and its stat
// is skipped. Every walk may be called from any thread; a walk has no shared state.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace hvn {

// What stops a walk and who hears about its progress. Both stop sources are checked before
// every entry; the progress callback runs on the walking thread every `progressEvery`
// entries (0: never) with the folder being read.
struct WalkOptions {
    const std::atomic<bool>* stopFlag = nullptr;
    std::function<bool()> shouldStop;
    std::function<void(std::string_view folder, uint64_t entriesSeen)> progress;
    uint64_t progressEvery = 4096;
    // visitEntries only: whether a start folder given as a symbolic link is followed.
    bool followStartLink = true;
    // visitEntries only: the start folder is an absolute path that must hold no symbolic
    // link at all (opened with RESOLVE_NO_SYMLINKS; a link anywhere on it fails the walk).
    bool noLinksOnPath = false;
    // totalSize only: symbolic links add their own length (never their target's), as a
    // folder enumeration that reports links as items does.
    bool countLinks = false;
};

struct SizeResult {
    uint64_t bytes = 0;              // sum of st_size of every regular file below the folder
    uint64_t files = 0;              // regular files counted
    uint64_t folders = 0;            // folders read (the start folder included)
    uint64_t unreadableFolders = 0;  // folders skipped because they could not be opened or read
    bool stopped = false;            // the walk ended early on a stop request; `bytes` is partial
    bool opened = false;             // the start folder itself could be opened as a folder
};

class DirectoryWalker {
public:
    DirectoryWalker() = delete;

    // The sum of the logical lengths (st_size) of the regular files below `folder`, at any
    // depth, hidden ones included; folders, links and special files add nothing. `folder`
    // itself is opened without following a final symbolic link (a link is not a folder:
    // the result then has opened == false and bytes == 0).
    static SizeResult totalSize(const std::string& folder, const WalkOptions& options = {});
    // The same for the entry `name` of the folder open at `parentFd` (AT_FDCWD for a path
    // relative to the working folder). `parentPath` only serves the progress callback.
    static SizeResult totalSizeAt(int parentFd, const char* name, std::string_view parentPath,
                                  const WalkOptions& options = {});

    enum class EntryType { File, Directory, Symlink, Other };

    // One entry handed to a visitor. Valid only during the call.
    class Entry {
    public:
        std::string_view folder() const { return folder_; }  // the folder that holds it
        std::string_view name() const { return name_; }
        std::string path() const;  // folder + "/" + name
        EntryType type() const { return type_; }
        bool isDirectory() const { return type_ == EntryType::Directory; }
        int depth() const { return depth_; }  // 0 for the direct entries of the start folder
        // The entry's own metadata (lstat), read on first use; null when the entry vanished.
        const struct ::stat* stat() const;
        // Descriptor of the holding folder, for *at() calls during the visit (do not close).
        int folderFd() const { return fd_; }

    private:
        friend class DirectoryWalker;
        std::string_view folder_;
        std::string_view name_;
        EntryType type_ = EntryType::Other;
        int depth_ = 0;
        int fd_ = -1;
        mutable bool statDone_ = false;
        mutable bool statOk_ = false;
        mutable struct ::stat st_ {};
    };

    enum class Visit {
        Continue,      // go on (and, in a recursive walk, descend into this folder)
        SkipChildren,  // go on without descending into this folder
        Stop           // end the walk
    };
    using Visitor = std::function<Visit(const Entry&)>;

    struct VisitResult {
        uint64_t entries = 0;            // entries handed to the visitor
        uint64_t unreadableFolders = 0;  // folders that could not be opened or read
        bool stopped = false;            // ended by the visitor or by a stop request
        bool opened = false;             // the start folder could be opened
    };

    // Hands every entry of `folder` to the visitor, in listing order ("." and ".." left
    // out); with `recursive`, folders are descended into depth first after their own entry
    // has been visited (a folder's sub-folders are entered after all its entries were
    // visited). The start folder is opened following a final symbolic link when
    // options.followStartLink is set (the default: it is the folder the caller names); links
    // found below it are never followed.
    static VisitResult visitEntries(const std::string& folder, bool recursive, const Visitor& visitor,
                                    const WalkOptions& options = {});
};

}  // namespace hvn
