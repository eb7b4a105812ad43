// File manager queries and removal: attributes, existence, the access tests of this
// process's effective user, folder listings, the package test, display names, and a
// recursive removal that never follows a symbolic link.
// Every function may be called from any thread; none keeps state between calls.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/ListedItem.h"
#include "Platform/RemovalGate.h"
#include "Platform/Value.h"

namespace hvn {

enum class FileType {
    Regular,
    Directory,
    SymbolicLink,
    CharacterSpecial,
    BlockSpecial,
    Socket,
    Fifo,
    Unknown
};

// The file type of a stat mode.
FileType fileTypeOfMode(mode_t mode);

struct FileAttributes {
    int64_t size = 0;  // logical length in bytes (a link's own length for a link)
    FileType type = FileType::Unknown;
    Date modificationDate;
    Date accessDate;
    Date statusChangeDate;
    Date creationDate;         // birth time where the file system records it, else the modification date
    uint32_t permissions = 0;  // the mode's permission bits (07777)
    uid_t ownerID = 0;
    gid_t groupID = 0;
    uint64_t linkCount = 0;
    uint64_t device = 0;
    uint64_t inode = 0;

    bool isSymbolicLink() const { return type == FileType::SymbolicLink; }
    bool isDirectory() const { return type == FileType::Directory; }
    bool isRegularFile() const { return type == FileType::Regular; }
};

// One entry of a folder listing; the type comes from the listing when the file system
// gives it and from lstat otherwise (Unknown when that failed, e.g. the entry vanished).
struct DirectoryEntry {
    std::string name;
    FileType type = FileType::Unknown;
};

namespace FileManager {

// The attributes of the item at path. A final symbolic link is not followed (the link's
// own attributes) unless traverseLink is true. nullopt with errorText ("<path>: <system
// error text>") when the item cannot be examined.
std::optional<FileAttributes> attributesOfItemAtPath(const std::string& path,
                                                     std::string* errorText = nullptr,
                                                     bool traverseLink = false);

// True when an item exists at path. With traverseLink (the default) a final symbolic link is
// followed, so a broken link does not exist; without it the link itself counts. isDirectory
// (optional) is set to whether the item found is a folder.
bool fileExistsAtPath(const std::string& path, bool* isDirectory = nullptr, bool traverseLink = true);

// Access tests for the effective user (faccessat with AT_EACCESS; a final link is followed).
bool isReadableFileAtPath(const std::string& path);
bool isWritableFileAtPath(const std::string& path);
bool isExecutableFileAtPath(const std::string& path);
// True when this process may delete the item at path: the item exists (a final link is not
// followed), its parent folder is writable and searchable, and, when the parent has the
// sticky bit, the effective user is root or owns the item or the parent.
bool isDeletableFileAtPath(const std::string& path);

// The names of the entries of a folder ("." and ".." excepted, hidden names included),
// sorted by byte value. nullopt with errorText when the folder cannot be listed. A final
// symbolic link is followed (a link to a folder lists that folder).
std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(const std::string& path,
                                                                  std::string* errorText = nullptr);
// The same listing with entry types, in the folder's own order (no sorting), for walks.
std::optional<std::vector<DirectoryEntry>> entriesOfDirectoryAtPath(const std::string& path,
                                                                    std::string* errorText = nullptr);

// True when the item is a folder (not a link) whose extension is one of the package
// extensions of macOS (app, bundle, framework, plugin, kext, prefPane, wdgt, ...), compared
// ignoring ASCII case.
bool isPackageAtPath(const std::string& path);
bool isPackageExtension(const std::string& extension);

// The name shown for an item: its last path component, without the extension for an
// application bundle (".app") folder, with ":" shown as "/".
std::string displayNameAtPath(const std::string& path);

// Last path component and the extension after its last "." ("" when none, or when the
// only "." starts the name).
std::string lastPathComponent(const std::string& path);
std::string pathExtension(const std::string& path);

// Creates a folder (and its parents when withIntermediates). Succeeds when it already
// exists as a folder. False with errorText otherwise.
bool createDirectoryAtPath(const std::string& path, bool withIntermediates, std::string* errorText = nullptr);

// Called by removeItemAtPath before each regular file is unlinked, with the folder that
// holds it (an open descriptor), its name there and its full path (for messages).
// Returning false keeps the file (errorText goes into the removal's error) and the
// removal goes on with the other entries.
using BeforeUnlinkFile =
    std::function<bool(int folderFd, const char* name, const std::string& path, std::string* errorText)>;

// How a removal ended.
enum class RemovalStatus {
    Removed,  // the item is gone
    Missing,  // nothing was at the path
    Failed,   // something could not be removed with this process's rights; another route may try
    Refused,  // the removal gate refused the item, or a mount below it: final, never to be retried
};

struct RemovalResult {
    RemovalStatus status = RemovalStatus::Failed;
    // "Could not remove <path>: <system error text>" (plus how many other failures), or the
    // gate's "Refusing to remove <path>: <reason>"; empty when removed.
    std::string error;
    bool removed() const { return status == RemovalStatus::Removed; }
};

struct RemovalOptions {
    BeforeUnlinkFile beforeUnlinkFile;
    // The folder the item was found in; a parent that is another folder now is refused.
    std::optional<FileIdentity> foundIn;
    // The gate to ask; null asks RemovalGate::forCurrentRoots().
    const RemovalGate* gate = nullptr;
    // What the user was shown of the item; an item that is no longer that one is refused
    // ("it has changed since it was listed") and left in place.
    std::optional<ListedItem> listed;
};

// Removes the item at path, a folder with everything inside it, after the removal gate
// (Platform/RemovalGate.h) has admitted it for the current roots.
// - Never follows a symbolic link: the parent is resolved without links, a link as the item
//   is removed as a link, links inside a folder are removed as links, and the walk works on
//   open folder descriptors, so a folder replaced by a link during the walk is not entered.
// - Never enters another mount below the item (mount identifiers, read once per folder): what
//   lies behind a mount stays, and the removal is then Refused.
// - Keeps going past entries it cannot remove (Failed, with the first error and a count).
// Deep trees use an explicit stack and a bounded number of open descriptors.
RemovalResult removeItem(const std::string& path, const RemovalOptions& options = {});

// removeItem() as a yes or no: true when the item was removed; false with errorText
// otherwise (also when it did not exist).
bool removeItemAtPath(const std::string& path, std::string* errorText = nullptr,
                      const BeforeUnlinkFile& beforeUnlinkFile = nullptr);

// Total logical length in bytes of the non-folder entries below a folder (hidden ones
// included, links counted by their own length and never followed). Folders that cannot be
// read add nothing. Explicit stack, no recursion. 0 when path is not a folder.
int64_t directorySize(const std::string& path);

}  // namespace FileManager

using FileManager::RemovalOptions;
using FileManager::RemovalResult;
using FileManager::RemovalStatus;

}  // namespace hvn
