// One scan request: a folder or file to look at, with an optional key word that entry
// names must contain, the tick state given to what it yields, and the recursion flag.
#pragma once

#include <memory>
#include <optional>
#include <string>

struct HVNScanInputObject {
    std::string path;                // "~" already replaced by the home folder
    std::optional<std::string> key;  // when set, only names containing it are reported
    bool isCheck = false;
    bool recursion = false;          // YES: descend and report files; NO: direct entries
    // A rule's own folder may be a symbolic link (to where the user moved it); a folder the
    // program found on disk (a trash) must be the real folder, never a link.
    bool followLink = true;
};

using HVNScanInputObjectPtr = std::shared_ptr<HVNScanInputObject>;
