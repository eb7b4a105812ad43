// The duplicate finder's search folder list: an ordered array of dictionaries
// {"path": absolute folder path, "state": "1"}, kept as a property list in
// "<Application Support>/<bundle name>/UserPathSetting/DuplicationPathSetting.plist"
// (the Application Support folder of the home, the main bundle's name without its
// extension). Class operations; any thread, but the list has no lock of its own: the page
// that owns it reads and writes it from the main thread.
#pragma once

#include <string>

#include "Platform/Value.h"

class DuplicationPathSetting {
public:
    DuplicationPathSetting() = delete;

    // The property list file of the current home and bundle.
    static std::string filePath();
    // The stored list, entries that are no dictionary with a text "path" left out; when the
    // file is missing, unreadable or the list is empty, the one entry {"state": "1", "path":
    // the home folder}.
    static hvn::Array loadFilePathArray();
    // Replaces the stored list with the whole array (creating the folders on the way). The
    // file is written beside and renamed over the old one, so a reader sees the old list or
    // the new one and a failed write leaves the old list. False with errorText on failure.
    static bool saveFilePathArray(const hvn::Array& list, std::string* errorText = nullptr);
    // An entry of the list.
    static hvn::Value entryForPath(const std::string& path);
};
