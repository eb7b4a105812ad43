// The uninstaller's operations: the support files of an application (found by its bundle
// identifier and executable name in the usual Library folders and in the per-user
// temporary folders), their display items, and their removal.
// Class operations only; any thread (they block on the file system and, for removal, on
// the privileged route).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HVN/Code/Public/ScanAndDeleteApp/HVNAppItem.h"

class HVNDeleteSelectedApp {
public:
    HVNDeleteSelectedApp() = delete;

    // The paths to remove for an item, the item's own path last, without repeats. Every path
    // is given under the real locations of the home folder and the system root (see
    // realRootPath), so that the removal gate, which follows no symbolic link, admits them
    // when the home folder is reached through a link.
    // Without an executable name or a usable bundle identifier (one with a "." between two
    // non-empty parts), only the item's own path. Otherwise the entries found by
    // getCommonFilesByBundleAndKeyWords() in relatedFolders(), then those found by
    // getPrivateByBundleAndKeyWords() below "/private/var/folders" (system root).
    static std::vector<std::string> deleteFiles(const HVNAppItem& item);

    // One display item per path: name = last component without extension, path, appSize
    // (HVNSearchApplications::sizeTextForItem), image = the path's icon, or the item's
    // when the path gives none.
    static HVNAppItemList FileAttribute(const std::vector<std::string>& paths, const HVNAppItem& item);

    // The entries, one level deep in each folder of paths (in order; folders that cannot
    // be listed give nothing), whose name contains bundleID, or contains word followed by
    // "_", or equals word (case-sensitive). An empty bundleID or word takes no part; an
    // entry that is itself one of the folders searched is never taken.
    static std::vector<std::string> getCommonFilesByBundleAndKeyWords(const std::string& bundleID,
                                                                      const std::string& word,
                                                                      const std::vector<std::string>& paths);
    // Depth-first walk below root: an entry whose name contains bundleID and that is
    // readable is taken and not entered; any other entry that is a folder (not a link) is
    // entered. Unreadable folders give nothing. Empty for an empty bundleID.
    static std::vector<std::string> getPrivateByBundleAndKeyWords(const std::string& bundleID,
                                                                  const std::string& root);

    // Removes the paths: each one the file manager reports deletable goes through
    // ReomveFile::removeItem; those that are not deletable, or whose removal failed, go in
    // one batch through ReomveFile::removeSystemFile (rewrite false). What the removal gate
    // refuses is never handed on. A path that no longer exists counts as removed. True when
    // every path is gone; false for an empty list, when something was refused or left, or
    // when the privileged route was cancelled.
    static bool canRemoveAppFiles(const std::vector<std::string>& paths);

    // The folders searched for an application's files: in the home folder "Library",
    // "Library/Preferences", "Library/Caches", "Library/Containers",
    // "Library/Application Support/CrashReporter", "Library/Application Support",
    // "Library/Saved Application State", "Library/LaunchAgents", "Library/Logs/CrashReporter",
    // "Library/Logs", "Library/Logs/DiagnosticReports"; then under the system root "/Library",
    // "/Library/StartupItems", "/Library/LaunchDaemons", "/Library/LaunchAgents",
    // "/Library/Application Support", "/Library/Documentation/Applications". Each is named
    // under the real location of its root (symbolic links of the root resolved once; the
    // folders below it are taken as they are).
    static std::vector<std::string> relatedFolders();
    // path with the home folder or the system root at its start (as the environment names
    // them) replaced by that root's real location; normalised. Any other absolute path is
    // only normalised; a relative one is returned as it is.
    static std::string realRootPath(const std::string& path);
    // True when a bundle identifier is fit to match file names: a "." between two
    // non-empty parts ("com.example.Editor"); a one-word identifier would match far too much.
    static bool isUsableBundleIdentifier(const std::string& bundleID);

    static double folderSizeAtPath2(const std::string& path);
    static int64_t fileSizeAtPath(const std::string& path);
};
