// The path-rule file scanner: one operation per junk category whose candidates are given as
// folder rules (caches, logs, browser data, trash, iOS data, downloads). It walks the rule
// folders of its requests, builds one result node per entry (grouped by name in the cache
// modules 0 and 1) and hands the finished list to its delegate once with finishScan().
//
// A request's path is resolved to its real location first, and every node names its item
// through that location (no link on the way) with the identity of the folder it was found
// in. A request that resolves to a root (the system root, the home folder) or a folder
// holding one, or that a link leads to a folder directly inside a root, yields nothing; so
// does a request marked not to follow links whose path is a link. Sub-folders are opened
// without following any link on their path, and a recursive walk never enters another mount.
//
// Without recursion each direct entry of a rule folder is one node, a sub-folder sized
// whole; with recursion every file below the folder is one node. Names beginning with "."
// are not reported (their bytes still count in a reported folder's size). Symbolic links
// found in a rule folder are never followed: a link is reported as itself with its own
// length, and links inside a folder being sized add nothing. A request path that is itself
// a link to a folder is scanned as that folder (the rule names the location), unless the
// request says otherwise.
//
// Threads: runs on an operation queue thread; "PathUpdate" (object: the path as
// std::string) and finishScan() are delivered on that thread. A cancelled operation ends at
// the next entry (also inside a folder-size walk) and reports nothing. Any exception during
// the scan is caught in main(); the delegate then hears nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "HVN/Code/Clearer/HVNScanInputObject.h"
#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "Platform/OperationQueue.h"
#include "Platform/RemovalGate.h"

class HVNScanFileOperation : public hvn::Operation {
public:
    // The not-found value of the two searches.
    static constexpr int64_t kNotFound = INT64_MAX;

    // What the icon choice needs of an installed application.
    struct Application {
        std::string path;  // the application bundle
        std::string executableString;
        std::string bundleID;
    };

    HVNScanFileOperation(std::vector<HVNScanInputObjectPtr> inputObjs, int32_t module,
                         HVNScanResultDelegate* delegate);

    std::vector<HVNScanInputObjectPtr> inputObjs;
    int32_t module;
    HVNScanResultDelegate* delegate;  // not owned; may be null

    // Replaces the browser-cache rules ("Broswer Chahe" rows, paths already absolute) that the
    // scan would otherwise read once from HVNCommonFunction::broswerChahePath() (module 1).
    void setBrowserCacheRows(std::vector<HVNScanInputObjectPtr> rows);
    // Replaces the installed applications that the icon choice (modules 0 to 3) would
    // otherwise take from the shared application search.
    void setApplications(std::vector<Application> applications);

    // Scans unless cancelled; exceptions are caught and dropped (logged).
    void main() override;
    // The scan; sends finishScan(results, module) when it ran to the end.
    void scanFiles();

    // Logical bytes below a folder (links and their targets not counted); the sum so far
    // when the operation is cancelled during the walk; 0 for a path that is no folder.
    int64_t directorySize(const std::string& path);

    // Index of the first row whose path equals `path` exactly, else kNotFound.
    static int64_t searchPathInBrowserCache(const std::vector<HVNScanInputObjectPtr>& rows,
                                            const std::string& path);
    // Index of the first node whose name equals `name`, else kNotFound.
    static int64_t searchObjectInArray(const std::string& name, const HVNNodeList& array);

    // Appends one plain node (folder, name, size, icon, tick).
    void addScanObj(HVNNodeList& result, const std::string& dirPath, const std::string& name,
                    int64_t fileSize, bool isCheck);
    // Appends a node, or, when a top-level node of the same name exists, makes that node a
    // group (first call: its own entry becomes its first child and its dirPath is cleared)
    // and adds the entry as a child and its size to the group's size.
    void addScanCacheObj(HVNNodeList& result, const std::string& dirPath, const std::string& name,
                         int64_t fileSize, bool isCheck);

private:
    struct FoldedApplication {
        Application app;
        std::string fileName;        // last component of app.path
        std::string foldedFileName;  // case-folded, for the "contains" test
        std::string foldedExecutable;
    };

    void addNode(HVNNodeList& result, const std::string& dirPath, const std::string& name, int64_t fileSize,
                 bool isCheck, bool isDir, const std::optional<hvn::FileIdentity>& foundIn);
    void addCacheNode(HVNNodeList& result, const std::string& dirPath, const std::string& name,
                      int64_t fileSize, bool isCheck, bool isDir, const std::optional<hvn::FileIdentity>& foundIn);
    std::optional<std::string> startOfRequest(const HVNScanInputObject& request, const hvn::RemovalGate& gate) const;
    std::string iconPathFor(const std::string& dirPath, const std::string& name, bool isDir);
    const std::vector<FoldedApplication>& applications();
    // The applications of the shared application search (its list as it stands).
    static std::vector<Application> installedApplications();
    const std::vector<HVNScanInputObjectPtr>& browserCacheRows();
    int64_t findByName(const HVNNodeList& result, const std::string& name);
    void postPathUpdate(const std::string& path) const;
    // Reports the entries of one browser-cache folder except the one named like the row's key.
    bool scanBrowserCacheFolder(HVNNodeList& result, const std::string& folder, const std::string& keep,
                                bool isCheck, int parentFd, const std::string& name);
    int64_t directorySizeAt(int folderFd, const std::string& folder, const std::string& name);

    std::optional<std::vector<HVNScanInputObjectPtr>> browserRows_;
    std::optional<std::vector<Application>> applicationsOverride_;
    std::optional<std::vector<FoldedApplication>> folded_;
    // Name index of the result list being built (first node of each name).
    const HVNNodeList* indexedList_ = nullptr;
    size_t indexedCount_ = 0;
    std::unordered_map<std::string, size_t> nameIndex_;
};
