// What a tool showed the user of an item: its identity, size and modification time. A tool
// keeps one per listed entry and checks it again right before the item is trashed or
// deleted, so that a file that was replaced, rewritten or touched since the list was made
// is left in place and reported instead of removed.
//
// A folder is compared by identity only: its size and modification time follow its
// contents, which the tools remove whole. Threads: any.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Platform/RemovalGate.h"

namespace hvn {

struct ListedItem {
    FileIdentity identity;
    uint64_t size = 0;
    int64_t modifiedSeconds = 0;
    int64_t modifiedNanoseconds = 0;
    bool isDirectory = false;

    bool operator==(const ListedItem&) const = default;

    // The item at path as it is now, a final symbolic link not followed; nullopt when
    // nothing is there or it cannot be examined.
    static std::optional<ListedItem> of(const std::string& path);
    // The entry `name` of the folder open at dirFd (O_PATH descriptors work too).
    static std::optional<ListedItem> ofEntry(int dirFd, const char* name);

    // "" when the entry `name` of the folder open at dirFd is still this item; otherwise
    // why it is not ("it has changed since it was listed", "it is no longer there").
    std::string changeOfEntry(int dirFd, const char* name) const;
    // The same for the item at path (a final symbolic link not followed).
    std::string changeOf(const std::string& path) const;
};

}  // namespace hvn
