// Folder size for the scanners and tools.
#pragma once

#include <cstdint>
#include <string>

class Addation {
public:
    Addation() = delete;

    // Total logical length in bytes of everything below folder: an iterative walk (no
    // recursion) that counts hidden entries, never follows a symbolic link (a link adds its
    // own length) and adds nothing for a folder it cannot read. 0 when folder is not a
    // folder. Any thread; no cancellation.
    static int64_t directorySize(const std::string& folder);
};
