// Finder alias files copied to this system: recognising them, reading the target they store
// and resolving that target to a path here.
//
// Three kinds are read:
// - data-fork aliases: the file starts with "book\0\0\0\0mark\0\0\0\0" and holds bookmark data
//   (a raw bookmark blob, "book" + size + 0x10040000 + header size 48, is read as well);
// - classic aliases: an `alis` resource in the file's resource fork together with the alias
//   flag (0x8000) of its FinderInfo, both taken from the extended attributes
//   (user.com.apple.ResourceFork, user.com.apple.FinderInfo) or from an AppleDouble file
//   "._<name>" beside the file;
// - bookmark data embedding a classic record (key 0xFE00) when it stores no path itself.
//
// The parsers work on byte spans: they never read outside the span, allocate only for texts
// taken from it, and follow every chain of offsets with a bound and loop detection. Bad
// input gives nullopt and an error text, never a crash. Every function may be called from
// any thread; none keeps state between calls.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace hvn::Alias {

using Bytes = std::span<const uint8_t>;

// At most this many alias files are read by one resolution, the first one included.
inline constexpr int kMaxChainHops = 16;
// Files (data forks, AppleDouble files) and extended attributes larger than this are not read.
inline constexpr size_t kMaxAliasBytes = 16u << 20;

// What an alias stores about its target.
struct Record {
    enum class Kind { Bookmark, Classic };
    Kind kind = Kind::Bookmark;
    std::string path;         // the stored absolute target path ("/" joined components)
    std::string volumePath;   // mount point of the target's volume on the machine it was made on, or ""
    std::string volumeName;   // or ""
    std::string volumeUUID;   // or "" (bookmarks only)
    bool bootVolume = false;  // the bookmark says the volume was the start-up disk
};

// --- Byte-level parsers ---

// True when the bytes begin like a data-fork alias file or a bookmark blob.
bool hasBookmarkMagic(Bytes bytes);
// Reads a data-fork alias file or a bookmark blob: the target path from key 0x1004, the
// volume path, name, UUID and boot flag from 0x2002, 0x2010, 0x2011 and 0x2030, through the
// chain of tables of contents (the first table naming a key wins). A bookmark without
// 0x1004 but with an embedded classic record (0xFE00) takes the path from that record.
// nullopt with error when the header, a table, or the path is malformed or out of bounds.
std::optional<Record> parseBookmarkData(Bytes bytes, std::string* error = nullptr);

// Reads a classic `alis` record (big-endian, version 2 or 3): the path from tags 19 (mount
// point) and 18 (path on the volume), the volume name from tag 15 or the fixed part.
// nullopt with error when the record is malformed or stores no POSIX path.
std::optional<Record> parseAlisRecord(Bytes bytes, std::string* error = nullptr);

// The data of the `alis` resource of a resource fork (ID 0 when there are several, else the
// first), as a span inside `fork`. nullopt with error when the fork is malformed or has none.
std::optional<Bytes> findAliasResource(Bytes fork, std::string* error = nullptr);

// The resource fork (entry 2) and FinderInfo (entry 9) of an AppleDouble (or AppleSingle)
// file, as spans inside `bytes`; an entry the file lacks is nullopt. The whole result is
// nullopt with error when the header is not AppleDouble or an entry lies outside the file.
struct AppleDoubleEntries {
    std::optional<Bytes> resourceFork;
    std::optional<Bytes> finderInfo;
};
std::optional<AppleDoubleEntries> parseAppleDouble(Bytes bytes, std::string* error = nullptr);

// True when 32 bytes of FinderInfo (at least the first 10) carry the alias flag 0x8000.
bool finderInfoMarksAlias(Bytes finderInfo);

// --- Files ---

// The value of an extended attribute of the file (a final link not followed): nullopt when
// it is absent, unsupported, unreadable or larger than kMaxAliasBytes. Absent ones are
// normal and not logged.
std::optional<std::string> readExtendedAttribute(const std::string& path, const std::string& name);

// True when the item at path is a regular file (not a symbolic link) that is a data-fork
// alias, or that has an `alis` resource and the FinderInfo alias flag (from its extended
// attributes or its "._" AppleDouble file). A file in neither format is not an alias.
bool isAliasFile(const std::string& path);

// The record of the alias file at path. nullopt when it is not an alias file (isAlias false)
// or when it is one whose data cannot be read (isAlias true, error says why).
std::optional<Record> readAliasFile(const std::string& path, bool* isAlias = nullptr,
                                    std::string* error = nullptr);

// The path here of a record's target: when the stored volume is not the start-up disk and
// the stored path lies on it, the volume path is swapped for the mount point of a volume of
// the same UUID (mount table and /dev/disk/by-uuid) or name (the workspace's removable
// media, /media/$USER/<name>, /run/media/$USER/<name>, /media/<name>, /Volumes/<name>, all
// below the system root), the first of them under which the target exists; the path is
// then located with hvn::Roots::locateStoredPath. Whether the target exists is not checked
// beyond choosing among the volumes.
std::string locateTarget(const Record& record);

// The outcome of resolving an alias file.
struct Resolution {
    bool wasAlias = false;              // the file is an alias file
    std::optional<std::string> target;  // the final target here, when it exists
    std::string error;                  // why there is no target ("" when there is one)
    bool resolved() const { return target.has_value(); }
};

// Resolves the alias file at path: reads it, locates its target (locateTarget) and, when
// the target is itself an alias file, follows it, at most kMaxChainHops aliases in all.
// Succeeds only when the final target exists (lstat). A file that is no alias, unreadable
// data, a missing target, a loop (an alias met twice, known by device and inode) and a
// chain that is too long are errors, each written to the log.
Resolution resolve(const std::string& path);

}  // namespace hvn::Alias
