// The leftover scan (module 16): files and folders named after software (reverse-domain
// names such as com.example.tool.plist) that no installed application claims, in the
// folders of the rule database's "Broken Preferences" rows, plus stray items of the users'
// crash report folders.
//
// The folders: each relative row path joined with the home folder, then with the system
// root (getAppLeftOverPathes). They go on a stack (the last is listed first). For each entry
// N of a folder F, in name order:
// - skipped: "org.postgresql.postgres.plist", "org.cups.printers.plist", names containing
//   "corvane" or "com.apple" (ignoring case), names beginning with ".", entries that do not
//   exist, and symbolic links (removing a link removes nothing of a program, and what it
//   points to is not this scan's to judge; links are not walked into either);
// - a name beginning with "com.", "org." or "net." is a candidate;
// - any other name: a folder that nobody claims is walked (its contents are examined, the
//   folder itself is not offered); inside a crash report folder (F contains "CrashReporter",
//   ignoring case, and lies in a user's home: below the home folder, or with "Users/" in its
//   path) the entry is a candidate as well;
// - a candidate is offered unless it is claimed or its owner cannot be decided.
// Every folder is listed once (device and inode).
//
// Claiming (matchAppNameWithFile), for each application in turn: N contains the
// application's executable name or bundle identifier, or the application's name contains N
// (ignoring case; an empty executable name or identifier claims nothing); or, while no piece
// has matched yet, a piece of N after its first "." equals a piece of the bundle identifier
// after its first "." (upper-cased). com.example.tool.plist is thus claimed by
// com.example.Tool. The running applications' bundle identifiers (and executable names)
// claim as well, so that a program running from outside the searched folders keeps its
// files.
//
// Undecidable owners (isOwnerUndecidable): an application whose information could not be
// read has neither a bundle identifier nor an executable name, so any file could be its own.
// Such an application holds on to every name that contains its name once spaces, "-", "_"
// and "." are left out of both, ignoring case (the application "Tool Box" holds
// com.example.ToolBox.plist and com.toolbox.helper.plist). Those names are neither offered
// nor walked. With no known application at all (an empty list, or a search that found
// nothing), no owner can be decided: nothing is offered and a line is logged.
//
// Result nodes, in the order found: name = N, dirPath = F, filePath = F/N, fileSize = the
// entry's own size (getFileSizeByPath), icon = the item's icon, isCheck YES, foundIn = F.
//
// Threads: runs on a scanner queue thread and blocks it until the shared application search
// has finished (unless setApplications() was called). "PathUpdate" (object: the path) is
// posted for each folder listed and finishScan(nodes, 16) is delivered on that thread. A
// cancelled scan reports nothing. Exceptions are caught in main() and logged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "HVN/Code/Public/ScanAndDeleteApp/HVNAppItem.h"
#include "Platform/OperationQueue.h"

class HVNAppLeftoverCleanner : public hvn::Operation {
public:
    static constexpr int32_t kModule = 16;

    // relativePaths: the rows' folder paths relative to a root ("Library/Preferences"); a
    // leading "/" or "~/" is dropped.
    HVNAppLeftoverCleanner(HVNScanResultDelegate* delegate, std::vector<std::string> relativePaths);

    HVNScanResultDelegate* delegate = nullptr;  // not owned; may be null
    std::vector<std::string> relativePaths;

    // The applications to judge by instead of the shared application search's (tests).
    void setApplications(HVNAppItemList applications) { applications_ = std::move(applications); }

    // Scans unless cancelled; exceptions are caught and logged.
    void main() override;
    // The scan (see the file comment); sends finishScan(nodes, 16) when it ran to the end.
    void scanAppLeftOver();
    // For each row, in order: the home folder joined with it, then the system root joined
    // with it.
    std::vector<std::string> getAppLeftOverPathes() const;
    // True when an application of appItems claims the entry name (see the file comment);
    // false at once when the operation is cancelled.
    bool matchAppNameWithFile(const std::string& name, const HVNAppItemList& appItems) const;
    // True when an application of appItems without bundle identifier and executable name
    // may own the entry name (see the file comment).
    static bool isOwnerUndecidable(const std::string& name, const HVNAppItemList& appItems);
    // The running applications (Platform/Workspace.h) with a bundle identifier, as items
    // that carry only bundleID and executableString (the executable's file name).
    static HVNAppItemList runningApplicationClaimants();

private:
    std::optional<HVNAppItemList> applications_;
};
