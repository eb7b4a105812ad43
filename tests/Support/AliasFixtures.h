// Finder alias files for tests: bookmark data and data-fork alias files with given target
// components and volume keys, classic `alis` records in a resource fork kept in an
// AppleDouble "._" file or in the extended attributes, and chains of aliases.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hvn::test {

// Lays out the data section of bookmark data: records at 4-byte boundaries, tables of
// contents, and the offset of the first table at the start. Offsets are relative to the
// section, as in the format.
class BookmarkBuilder {
public:
    BookmarkBuilder();
    uint32_t addRecord(uint32_t type, const std::string& payload);
    uint32_t addString(const std::string& s) { return addRecord(0x0101, s); }
    uint32_t addArray(const std::vector<uint32_t>& elementOffsets);
    // A table with (key, record offset) entries, no next table; the first one added becomes
    // the first table.
    uint32_t addToc(const std::vector<std::pair<uint32_t, uint32_t>>& entries, uint32_t id = 1);
    void setNextToc(uint32_t toc, uint32_t next);
    void setFirstToc(uint32_t toc);

    const std::string& section() const { return section_; }
    // "book" + total size + 0x10040000 + header size 48, then the section.
    std::string bookmark() const;
    // "book\0\0\0\0mark\0\0\0\0", the section's start (56) at bytes 16 and 20, its length at 24.
    std::string aliasFile() const;

private:
    std::string section_;
    bool hasToc_ = false;
};

struct BookmarkSpec {
    std::vector<std::string> components;  // 0x1004 (left out when withPath is false)
    bool withPath = true;
    std::optional<std::string> volumePath;    // 0x2002
    std::optional<std::string> volumeName;    // 0x2010
    std::optional<std::string> volumeUUID;    // 0x2011
    std::optional<bool> bootVolume;           // 0x2030
    std::optional<std::string> embeddedAlis;  // 0xFE00, raw bytes
    bool volumeInSecondToc = false;           // the volume keys in a second table
};

// The components of an absolute path ("/a/b" -> {"a", "b"}).
std::vector<std::string> pathComponents(const std::string& absolutePath);
BookmarkSpec bookmarkTo(const std::string& absolutePath);

std::string bookmarkData(const BookmarkSpec& spec);
std::string dataForkAlias(const BookmarkSpec& spec);

struct AlisSpec {
    int version = 2;
    std::optional<std::string> posixPath;                      // tag 18, relative to the volume
    std::optional<std::string> mountPoint = std::string("/");  // tag 19
    std::string volumeName = "Macintosh HD";                   // fixed part (version 2) and tag 15
    std::string targetName;                                    // fixed part (version 2) and tag 14
};
// A classic alias to an absolute path on the start-up disk.
AlisSpec alisTo(const std::string& absolutePath, int version = 2);
std::string alisRecord(const AlisSpec& spec);

struct Resource {
    uint32_t type = 0x616C6973;  // 'alis'
    int16_t id = 0;
    std::string data;
};
std::string resourceFork(const std::vector<Resource>& resources);
// 32 bytes of FinderInfo: type 'alis', creator 'MACS', flags 0x8000 (or 0 when !aliasFlag).
std::string aliasFinderInfo(bool aliasFlag = true);
// An AppleDouble file with the entries given (FinderInfo 9, resource fork 2).
std::string appleDouble(const std::optional<std::string>& resourceFork,
                        const std::optional<std::string>& finderInfo);

// Files. Each creates the folders it needs and returns the alias file's path.
// A data-fork alias at `path` to the absolute target (as stored; see hvn::Roots::locateStoredPath).
std::string writeDataForkAlias(const std::string& path, const std::string& target);
// A data fork of a few bytes and "._<name>" beside it holding the record and the alias flag.
std::string writeClassicAliasAppleDouble(const std::string& path, const AlisSpec& spec);
// The record and the flag as user.com.apple.* extended attributes; false when the file
// system refuses user extended attributes.
bool writeClassicAliasXattr(const std::string& path, const AlisSpec& spec);
bool userXattrsSupported(const std::string& folder);

// Data-fork aliases folder/chain-0 -> folder/chain-1 -> ... -> folder/chain-(n-1) -> target;
// their paths in that order.
std::vector<std::string> writeAliasChain(const std::string& folder, int n, const std::string& target);

}  // namespace hvn::test
