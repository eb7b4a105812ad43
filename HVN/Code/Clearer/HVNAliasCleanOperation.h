// The "Shortcut Clean" scan (module 15): walks the user's usual folders for Finder alias
// files whose target is gone or lies in a trash, and hands them to its delegate once.
//
// The walk goes depth first through a stack of folders (the last search root first), lists
// each folder's entries in listing order and posts "PathUpdate" (object: the folder's path)
// for every folder it lists. Application bundles and frameworks (extension "app" or
// "framework") are not entered, symbolic links are neither entered nor candidates, and a
// folder met a second time (a bind mount of an ancestor), known by device and inode, is not
// walked again. A candidate is a regular file that hvn::Alias::isAliasFile() accepts.
//
// Threads: runs on an operation queue thread; finishScan() is delivered on that thread. A
// cancel during the walk hands back nothing; a cancel while the candidates are tested hands
// back the broken aliases found so far. Unreadable folders and files are skipped. Any
// exception is caught in main(); the delegate then hears nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "Platform/OperationQueue.h"

class HVNAliasCleanOperation : public hvn::Operation {
public:
    static constexpr int32_t kModule = 15;

    HVNAliasCleanOperation() = default;
    explicit HVNAliasCleanOperation(HVNScanResultDelegate* delegate, int32_t module = kModule)
        : delegate(delegate), module(module) {}

    HVNScanResultDelegate* delegate = nullptr;  // not owned; may be null
    int32_t module = kModule;
    std::atomic<bool> done{false};  // YES once the result has been handed back

    // The search roots, in this order: /Applications below the system root, then the home
    // folder's Applications, Downloads, Desktop, Documents, Pictures, Music, Movies,
    // MailCore and Public.
    static std::vector<std::string> searchRoots();

    // Walks the search roots unless cancelled; exceptions are caught and dropped (logged).
    void main() override;
    // The walk over `roots`; ends with searchFinished() with the candidates unless cancelled.
    void useQueueScanApp(const std::vector<std::string>& roots);
    // Tests each alias file in order and sends the broken ones as nodes (name, folder, path,
    // size, icon, ticked, module) to the delegate with finishScan(nodes, module); then sets
    // done. Stops testing when cancelled and hands back what was found so far.
    void searchFinished(const std::vector<std::string>& paths);

    // True when the file is an alias file whose target resolves (following alias chains)
    // to an existing item outside every trash: a path containing "/.Trash" (macOS trashes,
    // the freedesktop volume trashes .Trash/$uid and .Trash-$uid) or inside the home trash
    // (hvn::Trash::homeTrashDir()).
    bool isValidAliasForPath(const std::string& path) const;
    // The resolved target of the alias file, or nullopt when it does not resolve.
    std::optional<std::string> getAliasForPath(const std::string& path) const;
};
