// Moving an item into the freedesktop.org trash ("move to trash" of the tools).
//
// The item goes to the home trash when it lies on the home trash's file system, else to the
// trash of its own volume: $topdir/.Trash/$uid when the administrator's $topdir/.Trash is a
// sticky folder and no link, otherwise $topdir/.Trash-$uid (created 0700 when missing). The
// info/<name>.trashinfo file is written first (O_EXCL; a clash picks the next free name),
// then the item is renamed into files/<name> without replacing anything. An item is never
// copied across file systems: one whose trash lies elsewhere stays where it is, and so does
// everything the removal gate refuses or that is no longer what the user was shown.
//
// Threads: any; each call works on its own descriptors.
#pragma once

#include <optional>
#include <string>

#include "Platform/FileManager.h"
#include "Platform/ListedItem.h"
#include "Platform/RemovalGate.h"

namespace hvn::Trash {

struct MoveOptions {
    // The folder the item was found in (see RemovalGate::admit).
    std::optional<FileIdentity> foundIn;
    // What the user was shown of it; an item that has changed since is left in place.
    std::optional<ListedItem> listed;
    // The gate to ask; null asks RemovalGate::forCurrentRoots().
    const RemovalGate* gate = nullptr;
};

struct MoveResult {
    // Removed: the item is in the trash now (trashedPath, infoPath). Missing: nothing was at
    // the path. Refused: final (the gate, a change since it was listed, no trash on its file
    // system). Failed: the move itself failed with this process's rights (error tells why);
    // nothing was left behind in the trash.
    RemovalStatus status = RemovalStatus::Failed;
    std::string trashedPath;
    std::string infoPath;
    std::string error;
    bool moved() const { return status == RemovalStatus::Removed; }
};

MoveResult moveItemToTrash(const std::string& path, const MoveOptions& options = {});

// RFC 2396 percent-encoding of a path for a .trashinfo Path= value: every byte except the
// unreserved characters and "/" becomes %XX.
std::string percentEncodePath(const std::string& path);

}  // namespace hvn::Trash
