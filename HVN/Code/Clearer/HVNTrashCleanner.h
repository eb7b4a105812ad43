// The trash scanner's two ends: it finds the trash folders (the start-up disk's and those of
// the mounted removable volumes) and turns them into scan requests for the path-rule file
// scanner (module 9); afterwards it regroups that scanner's flat result into one group node
// per trash.
//
// Trash folders:
// - Start-up disk ("Macintosh HD", image "iconDisk"): the home folder's own ".Trash" folder
//   (a macOS-like home; exactly that name, never a look-alike such as ".TrashKeep") and the
//   freedesktop home trash ($XDG_DATA_HOME/Trash, whose files/ folder holds the entries).
// - Each removable volume (image "iconUDISK", named after the last component of its mount
//   point): every per-user folder of a macOS ".Trashes" folder, the files/ folder of the
//   freedesktop trashes $topdir/.Trash/$uid (only inside a sticky, non-link .Trash) and
//   $topdir/.Trash-$uid of this user. A volume is taken only when its trash folder is
//   readable and writable by this user.
// Trash folders, and the per-user folders inside them, are real folders: a symbolic link in
// their place is ignored, and their scan requests are marked not to follow links.
//
// Cleaning a trash entry (the clean manager's rule for module 9): remove the entry (its
// dirPath joined with its name), then each path of its removePaths. An entry of a
// freedesktop trash carries in removePaths the path of its info/<name>.trashinfo record
// (only when that record existed at scan time), which must go with the entry; remove it
// after the entry, so that an interrupted clean never leaves an entry without its record.
// A path that no longer exists counts as removed. Afterwards dropStaleDirectorySizes()
// tidies the trashes' size caches.
//
// Threads: getTrashPaths() is called when a disk scan starts, getTrashesByScanResult() when
// the scan reports, possibly on different threads; the cached list is guarded.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScanInputObject.h"
#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "HVN/Code/Clearer/HVNTrashItem.h"

class HVNTrashCleanner {
public:
    // The shared instance (never released).
    static HVNTrashCleanner& shareTrashCleanner();

    HVNTrashCleanner() = default;
    HVNTrashCleanner(const HVNTrashCleanner&) = delete;
    HVNTrashCleanner& operator=(const HVNTrashCleanner&) = delete;

    // When YES, the next getAllTrashItemsWithOutScanFiles() looks for the trashes again
    // instead of reusing the cached list (and clears the flag).
    bool isTrashUpdate = false;
    int64_t module = 0;

    // The cached list of trashes, or a new one (start-up disk first, then the removable
    // volumes in the workspace's order), cached.
    std::vector<HVNTrashItemPtr> getAllTrashItemsWithOutScanFiles();
    // The cached list as it stands (empty before the first search).
    std::vector<HVNTrashItemPtr> trashItems();

    // Looks for the trashes again (so that every disk scan sees the volumes mounted at its
    // start) and returns the scan requests: one per scanned folder of each trash (no key, no
    // recursion, not ticked). Items without a trash folder give no request.
    std::vector<HVNScanInputObjectPtr> getTrashPaths();

    // One group per trash of the cached list, in list order: name = volume name, dirPath =
    // trash folder, icon = the trash's image, ticked, size = the sum of its entries, children
    // = the result nodes found in one of its scanned folders (each ticked; entries of
    // freedesktop trashes get their .trashinfo in removePaths). A node goes to the first
    // trash that claims it; nodes whose name begins with "." are left out. A trash with no
    // entry gives no group.
    HVNNodeList getTrashesByScanResult(const HVNNodeList& scanResult);

    // After a clean of module 9: drops from the directorysizes cache of every freedesktop
    // trash of the cached list the lines of items that are gone. False when a cache could
    // not be rewritten (logged); the trash itself is not touched.
    bool dropStaleDirectorySizes();

    HVNTrashItemPtr getMainHDTrashItem();
    std::vector<HVNTrashItemPtr> getMountedVolumeTrasheItems();
    // The trash of one volume (or of the home folder with isMainHD), its folders by their
    // real location; an item with an empty trashRootDir when none is found.
    HVNTrashItemPtr getTrashItemForVolumne(const std::string& volume, bool isMainHD);
    static HVNTrashItemPtr getTrashItemWithPath(const std::string& path, const std::string& volumneName,
                                                const std::string& icon,
                                                std::optional<std::vector<std::string>> subTrashDir);

private:
    HVNTrashItemPtr trashItemForVolumne(const std::string& volume, bool isMainHD);

    std::mutex mutex_;
    std::vector<HVNTrashItemPtr> trashItems_;
    bool hasList_ = false;
};
