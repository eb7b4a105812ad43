// The application search: every installed application (a metadata query for application
// bundles over the application folders of the system and of the home folder, with a
// one-level listing of those folders when the query finds nothing), and the Internet
// plug-ins, preference panes and widgets (one-level listings of their folders).
//
// Threads: searchApplications() and searchOtherTypeApp() return at once; the work runs on
// background threads that write only this object's lists. done() turns true when the
// applications are known; readers block in waitFinish() until then. Every accessor may be
// called from any thread and returns a snapshot of the list (the items themselves are
// shared: do not change them, change a copy()).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HVN/Code/Public/ScanAndDeleteApp/HVNAppItem.h"

namespace hvn {
class MetadataQuery;
class MetadataItem;
}  // namespace hvn

class HVNSearchApplications {
public:
    // The process-wide search; created on first use, never destroyed.
    static HVNSearchApplications& shareHVNSearchApplications();

    // A search of its own (tests, tools). Destroying it stops its query and waits for
    // its threads.
    HVNSearchApplications();
    ~HVNSearchApplications();
    HVNSearchApplications(const HVNSearchApplications&) = delete;
    HVNSearchApplications& operator=(const HVNSearchApplications&) = delete;

    // Starts the application query over applicationScopes(); when it has gathered, the
    // results become items on a background thread (the walk of useQueueScanApp() when
    // there is none), then doing() turns false and done() true. Ignored while a search is
    // running; a later call searches again (done() is false until it ends).
    void searchApplications();
    // Searches plug-ins, then preference panes, then widgets on a background thread
    // (searchBackground). Ignored while that search is running.
    void searchOtherTypeApp();

    // Returns when done() is true. Starts the application search first when it was never
    // started, so that a reader cannot wait for a search that nobody runs.
    void waitFinish();
    // Returns when the plug-ins, preference panes and widgets are known (starting their
    // search first when it was never started).
    void waitOtherTypeFinish();

    bool doing() const { return doing_.load(); }
    bool done() const { return done_.load(); }
    bool otherTypeDone() const { return otherDone_.load(); }

    // Every application found (allTheApplicationPath).
    HVNAppItemList allApplications() const;
    // The applications without system applications (isSystemApp) and without those that
    // lie inside another application bundle (a folder above them has the extension "app").
    HVNAppItemList allApp() const;
    HVNAppItemList fileterSystemAppAndContentApp() const;
    HVNAppItemList plugIn() const;
    HVNAppItemList widgets() const;
    HVNAppItemList preferences() const;
    // "allTheApplicationPath" -> allApp(), "preferences", "widgets", "plugIn".
    std::map<std::string, HVNAppItemList> returnAllKindsOfAppData() const;

    // The search scopes, in order: "/Applications" under the system root, then in the home
    // folder "Applications", "Library/Input Methods", "Downloads", "Desktop", "Documents",
    // "Public".
    static std::vector<std::string> applicationScopes();

    // An item from the metadata of path: name = display name without extension, appSize
    // = kMDItemFSSize, or "%f" of folderSizeAtPath2() when it is missing (a plain folder),
    // 0 or 102; bundleID = kMDItemCFBundleIdentifier; no executable name;
    // lastUseDate = kMDItemFSContentChangeDate. Never null; a missing path gives an item
    // with its name, path and a size of "0.000000".
    static HVNAppItemPtr appItem(const std::string& path);
    // An item from the bundle's information dictionary (CFBundleIdentifier,
    // CFBundleExecutable, CFBundleShortVersionString; empty when the dictionary is missing
    // or corrupt): isSystemApp and isSystemAppString "YES" when the identifier begins with
    // "com.apple.", else "NO"; appSize as sizeTextForItem(); lastUseDate = the modification
    // date (none when the item is gone). Never null.
    static HVNAppItemPtr commonAppitem(const std::string& path);

    // Step 3 of the search: each scope folder listed one level deep; every entry whose
    // extension is "app" (any case) and that is a folder becomes an item through
    // commonAppitem(). Folders that cannot be listed contribute nothing.
    static HVNAppItemList useQueueScanApp(const std::vector<std::string>& scopes);
    // The other kinds: each folder listed one level deep; an entry counts when it is
    // readable, its extension contains key (case-sensitive) and it is neither an alias file
    // nor a symbolic link; it becomes an item through commonAppitem().
    static HVNAppItemList search(const std::vector<std::string>& folders, const std::string& key);

    // Sum of the lstat sizes of every item below path, folders included, links not
    // followed; for a path that is not a folder its own lstat size; 0 when it does not
    // exist. Unreadable folders add their own entry size only.
    static double folderSizeAtPath2(const std::string& path);
    // The lstat size; 0 on failure.
    static int64_t fileSizeAtPath(const std::string& path);
    // True when the item is a symbolic link or a Finder alias file (a data-fork alias, or
    // a file whose Finder information carries the alias flag).
    static bool isSymbolLink(const std::string& path);
    // The size text of an item: its own size as an integer text, or "%f" of
    // folderSizeAtPath2() when it is a folder (whose own size is that of the folder entry,
    // 102 bytes on the original file system), when its size is exactly 102, or when it
    // cannot be examined.
    static std::string sizeTextForItem(const std::string& path);

private:
    void getAppInfo(const std::vector<hvn::MetadataItem>& results);
    void searchBackground();
    HVNAppItemPtr itemFromMetadata(const hvn::MetadataItem& result) const;

    mutable std::mutex mutex_;  // guards the lists
    HVNAppItemList allTheApplicationPath_;
    HVNAppItemList plugIn_;
    HVNAppItemList widgets_;
    HVNAppItemList preferences_;

    std::mutex controlMutex_;  // serialises starting and stopping
    std::unique_ptr<hvn::MetadataQuery> query_;
    std::thread otherThread_;
    std::atomic<bool> started_{false};
    std::atomic<bool> otherStarted_{false};
    std::atomic<bool> otherDoing_{false};
    std::atomic<bool> doing_{false};
    std::atomic<bool> done_{false};
    std::atomic<bool> otherDone_{false};
};
