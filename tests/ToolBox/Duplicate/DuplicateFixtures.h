// Helpers of the duplicate finder's tests: file contents that differ where the lazy
// fingerprint does not look, and a search run to its end with every notification recorded.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "HVN/Code/ToolBox/Duplicate/THDuplicationHelper.h"

namespace dupes_test {

// length bytes of a pattern that depends on seed, so two seeds give different contents.
std::string pattern(size_t length, uint32_t seed);
// The same contents with one byte changed at offset.
std::string withByteChanged(std::string contents, size_t offset);

struct Group {
    uint64_t size = 0;
    std::vector<std::string> files;  // sorted
};

struct SearchRecord {
    std::map<std::string, Group> groups;  // by hash, the last report of each
    size_t groupNotifications = 0;
    size_t finishedNotifications = 0;
    bool finishedWasLast = false;
    std::vector<std::string> progressPaths;
};

// Runs engine.startSearch() with a serial notification queue of its own, waits for the end
// and returns what was posted.
SearchRecord runSearch(THDuplicationHelper& engine);

// The sorted path lists of the groups, for comparisons.
std::vector<std::vector<std::string>> fileLists(const SearchRecord& record);

}  // namespace dupes_test
