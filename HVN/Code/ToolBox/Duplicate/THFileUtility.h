// File tests, sizes and the sorting and lookup operations of the duplicate finder's pages.
// Class operations only; stateless; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Value.h"

class THFileUtility {
public:
    THFileUtility() = delete;

    // The item's size in bytes: for a package folder the summed lengths of the files and
    // links inside it (what the metadata index reports); else the length from lstat; when
    // that is 0 or fails, the length found by opening the file and seeking to its end. 0
    // when none of these gives a length.
    static uint64_t fileSizeByPath(const std::string& path);
    // The item's own type (a symbolic link is neither a regular file nor a folder).
    static bool fileIsRegular(const std::string& path);
    static bool fileIsDirectory(const std::string& path);
    // True on systems that predate sheets on open panels (macOS below 10.6). This platform's
    // version numbers are not macOS numbers, so it is never below; when the version cannot
    // be read, logs " get systemVersion Erroer!" and answers false.
    static bool isSystemlowVersion();

    // True when an entry of the folder list (dictionaries with "path") has exactly this path.
    static bool judgeTheSelectedFilePathWithCurrentFilePathArray(const hvn::Array& list,
                                                                 const std::string& currentFilePath);
    // The first entry path of the folder list, with symbolic links resolved, that is the path
    // itself or one of the folders above it (whole path components: "/a/b" is not above
    // "/a/bc"); nullopt when none is.
    static std::optional<std::string> returnPreFilePath(const std::string& path, const hvn::Array& fileArray);

    // A sort descriptor of the result list: key "size", "number" or "name".
    struct SortDescriptor {
        std::string key;
        bool ascending = true;
    };
    // The keys re-ordered by a stable sort on the values they name in the dictionary (each a
    // dictionary with "size", "name" and "list"): "number" compares the count of "list",
    // "size" the integer "size", "name" the length of "name". Ascending puts the largest value
    // first, descending the smallest; equal values keep their order. A key missing from the
    // dictionary counts as 0.
    static std::vector<std::string> olderByTableColum(const SortDescriptor& descriptor,
                                                      const std::vector<std::string>& with,
                                                      const hvn::Dictionary& dictionary);
};
