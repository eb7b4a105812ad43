// The one check that decides whether a path may be removed, thinned or rewritten. Every
// route that changes user files asks it: the in-process removal, the privileged helper run
// through the administrator authorization, and the daemon. A refusal is final: the caller
// reports the entry as not removed, with the reason, and never hands it to another route.
//
// A path is admitted when
// - it is absolute and has no "." or ".." component (repeated slashes are ignored);
// - its parent folder, resolved component by component from "/" without following any
//   symbolic link, exists and, when the caller knows it, is the very folder the entry was
//   found in (device and inode);
// - the entry is not a mount point (its mount identifier is its parent's; statx
//   STATX_MNT_ID, so a bind mount of the same device is seen too);
// - the entry is none of the protected folders, compared by device and inode, never by
//   text: the real "/", the system root, the home folder, any ancestor of these, and any
//   item directly inside "/", the system root or the home folder.
// The walk below an admitted folder must not enter another mount: the removal compares each
// folder's mount identifier with the admitted entry's (see FileManager::removeItem).
//
// Threads: any. A gate is a snapshot of the protections at the time it was made.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hvn {

struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// What statx tells of one item (a final link not followed).
struct ItemStatus {
    FileIdentity identity;
    uint64_t mountId = 0;
    bool mountRoot = false;  // the item is the root of a mount (STATX_ATTR_MOUNT_ROOT)
    uint32_t mode = 0;
    bool isDirectory() const;
    bool isSymbolicLink() const;
};

// statx of `name` in the folder open at dirFd (AT_FDCWD for a path); an empty name means
// the descriptor itself. nullopt with errno set when it fails.
std::optional<ItemStatus> itemStatusAt(int dirFd, const char* name);

// Opens a folder by absolute path for reading, failing with ELOOP when any component of the
// path is a symbolic link (openat2 RESOLVE_NO_SYMLINKS, or a component-wise walk where the
// kernel lacks it). flags are added to O_DIRECTORY | O_CLOEXEC (O_RDONLY or O_PATH).
// Returns the descriptor or -1 with errno.
int openFolderWithoutLinks(const std::string& absolutePath, int flags);

class RemovalGate {
public:
    // The protections of the current roots (hvn::Roots::home(), hvn::Roots::system()) and
    // of the real "/".
    static RemovalGate forCurrentRoots();
    // The protections of the given roots (plus the real "/"); a root that does not exist
    // protects nothing.
    explicit RemovalGate(const std::vector<std::string>& roots);

    // The outcome of admit(). Admitted: an open descriptor of the parent folder (O_PATH),
    // the entry's name and status, for the caller's *at() calls. Gone: nothing is at the
    // path (as good as removed). Refused: final, with the reason. Failed: the check itself
    // could not be made with this process's rights (a folder on the way cannot be
    // searched); another route may try, through this same gate.
    class Admission {
    public:
        enum class Status { Admitted, Gone, Refused, Failed };

        Admission() = default;
        Admission(Admission&& other) noexcept;
        Admission& operator=(Admission&& other) noexcept;
        ~Admission();

        Status status() const { return status_; }
        bool admitted() const { return status_ == Status::Admitted; }
        // The reason of a refusal or failure ("Refusing to remove <path>: ..." or "Could not
        // remove <path>: ...").
        const std::string& reason() const { return reason_; }
        int parentFd() const { return parentFd_; }
        const std::string& name() const { return name_; }
        const ItemStatus& entry() const { return entry_; }
        const ItemStatus& parent() const { return parent_; }

    private:
        friend class RemovalGate;
        Status status_ = Status::Failed;
        int parentFd_ = -1;
        std::string name_;
        std::string reason_;
        ItemStatus entry_;
        ItemStatus parent_;
    };

    // Checks path (see the file comment). foundIn, when given, is the folder the entry was
    // found in; a parent that is another folder now is refused.
    Admission admit(const std::string& path, const std::optional<FileIdentity>& foundIn = std::nullopt) const;

    // The refusal text for a folder a scan would list and offer the entries of, "" when it
    // may be scanned: a protected root or an ancestor of one is refused, and so is a folder
    // directly inside a root that the request reaches through a symbolic link (its final
    // component, or its parent resolving elsewhere). realPath receives the resolved folder.
    std::string refusalForScanFolder(const std::string& requestPath, std::string* realPath) const;

    bool isRootOrAncestor(const FileIdentity& id) const;
    bool isRoot(const FileIdentity& id) const;

private:
    std::vector<FileIdentity> roots_;
    std::vector<FileIdentity> ancestors_;
};

}  // namespace hvn
