#include "Platform/ListedItem.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace hvn {

std::optional<ListedItem> ListedItem::of(const std::string& path) {
    return ofEntry(AT_FDCWD, path.c_str());
}

std::optional<ListedItem> ListedItem::ofEntry(int dirFd, const char* name) {
    struct stat st {};
    int flags = AT_SYMLINK_NOFOLLOW;
    if (*name == '\0') flags |= AT_EMPTY_PATH;
    if (fstatat(dirFd, name, &st, flags) != 0) return std::nullopt;
    ListedItem item;
    item.identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    item.size = static_cast<uint64_t>(st.st_size);
    item.modifiedSeconds = st.st_mtim.tv_sec;
    item.modifiedNanoseconds = st.st_mtim.tv_nsec;
    item.isDirectory = S_ISDIR(st.st_mode);
    return item;
}

std::string ListedItem::changeOfEntry(int dirFd, const char* name) const {
    std::optional<ListedItem> now = ofEntry(dirFd, name);
    if (!now) return "it is no longer there";
    if (now->identity != identity || now->isDirectory != isDirectory) {
        return "it has been replaced since it was listed";
    }
    if (isDirectory) return {};
    if (now->size != size || now->modifiedSeconds != modifiedSeconds ||
        now->modifiedNanoseconds != modifiedNanoseconds) {
        return "it has changed since it was listed";
    }
    return {};
}

std::string ListedItem::changeOf(const std::string& path) const {
    return changeOfEntry(AT_FDCWD, path.c_str());
}

}  // namespace hvn
