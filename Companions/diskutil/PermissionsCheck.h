// The permission check of a home folder tree: ownership and modes that let another user
// read private keys or change the owner's files.
//
// The owner is the owner of the home folder. A problem is one of
// - an item of the tree (a file, folder, pipe or socket) that another user owns ("User
//   differs");
// - a file or folder that others may write to: world-writable, or group-writable when its
//   group is not the owner's private group (a group of the owner's name that is the owner's
//   primary group); folders with the sticky bit are exempt ("Permissions differ");
// - the home folder itself group- or world-writable;
// - ~/.ssh or ~/.gnupg open to the group or others (should be rwx for the owner only);
// - a private key in ~/.ssh (a file named id_* but not *.pub, or "identity", or whose first
//   bytes hold a "PRIVATE KEY-----" header) open to the group or others.
// The fix of a mode only takes bits away.
//
// The walk never follows a symbolic link (links are not checked: Linux cannot change a
// link's mode), never leaves the home folder's mount (mount identifiers), skips device
// nodes, opens each folder through its parent's descriptor, and goes depth first through an
// explicit stack, names of a folder in byte order. A folder that cannot be read is skipped
// with a line on the error stream.
//
// The repair mends each problem on a descriptor of the very item that was checked (O_PATH,
// never following a link, checked by device and inode): chmod through /proc/self/fd, chown
// (only when running as root) through AT_EMPTY_PATH. A file with several hard links that the
// owner does not own is reported but never changed (it may be a link to a system file).
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

namespace diskutil {

struct PermissionsOptions {
    std::string home;       // the home folder (an absolute path)
    bool repair = false;    // mend what is found
    bool mayChown = false;  // repairs may change owners (running as root)
};

struct PermissionsOutcome {
    bool started = false;  // false: the home folder could not be opened (error written)
    long problems = 0;     // problem lines written
    long repaired = 0;     // problems mended
    long notRepaired = 0;  // problems left as they are
};

// Walks the tree, writing one line per problem to `out` (and, when repairing, one line per
// repair or failed repair after it) and skipped folders to `err`. Lines end with a line
// feed; paths are escaped so that every report is one line.
PermissionsOutcome checkPermissions(const PermissionsOptions& options, FILE* out, FILE* err);

}  // namespace diskutil
