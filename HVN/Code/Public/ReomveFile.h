// The removal service: in-process removal (plain or shredding, after the "Insight Clean"
// setting), and the privileged routes for what this process may not remove: a batch
// handed to the privileged daemon, falling back to `/bin/rm` with administrator rights.
// It also forwards binary thinning and launchd job switching to the daemon.
//
// Every route asks the removal gate (Platform/RemovalGate.h) first: the in-process removal
// here, the privileged helper HVNRemove as root, and the daemon. A path the gate refuses is
// reported as not removed with the reason and never handed to another route.
//
// Threads: any thread but the main one. The privileged operations block the caller during
// the administrator prompt, the 1-second pause after installing the daemon and the pacing
// waits after large hand-overs.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Platform/FileManager.h"
#include "Platform/ListedItem.h"
#include "Platform/RemovalBatch.h"

class ReomveFile {
public:
    ReomveFile() = delete;

    // Removes the item at path: shredding it when the shredding setting is on, plainly
    // otherwise. True when the item is gone; false with error ("... <path>: <system error
    // text>") otherwise. error may be null.
    static bool HVNRemoveFileAtPath(const std::string& path, std::string* error);
    // The same with its outcome: Refused (final) is told apart from Failed (the privileged
    // route may try). foundIn is the folder the item was found in, when known; gate is the
    // removal gate to ask (null: one for the current roots). listed, when given, is what the
    // user was shown: an item that is no longer that one is Refused and left in place.
    static hvn::RemovalResult removeItem(const std::string& path,
                                         const std::optional<hvn::FileIdentity>& foundIn = std::nullopt,
                                         const hvn::RemovalGate* gate = nullptr,
                                         const std::optional<hvn::ListedItem>& listed = std::nullopt);
    // Puts the regular file withItemAtPath in the place of the regular file target in one
    // rename, so that target is either replaced whole or left untouched. Both paths are put
    // to the removal gate first; both must be regular files (not links, not folders) on the
    // same file system, and not the same file. Removed when target now holds what
    // withItemAtPath held (withItemAtPath is gone); Refused (final, with the reason) for a
    // path the gate refuses or one that breaks these rules; Missing when either is not
    // there; Failed, with the system's error text, when the rename itself failed.
    static hvn::RemovalResult replaceItemAtPath(const std::string& target, const std::string& withItemAtPath);
    // Removes the item when this process may delete it (isDeletableFileAtPath); false,
    // without trying, when it may not, and when anything could not be removed.
    static bool removeFile(const std::string& path);
    // Overwrites the allocated data of every regular file of the item in place, flushes it
    // to disk, and removes it; folders are shredded file by file (Platform/Shredder.h). A
    // file with other hard links is unlinked without being overwritten (its data stays
    // reachable through its other names). True when everything was overwritten and removed;
    // an item that cannot be overwritten, or changed meanwhile, is kept and makes the
    // result false.
    static bool fileShredder(const std::string& path);
    // fileShredder with the error text of the first failure.
    static bool shredItemAtPath(const std::string& path, std::string* error);
    static hvn::RemovalResult shredItem(const std::string& path,
                                        const std::optional<hvn::FileIdentity>& foundIn = std::nullopt,
                                        const hvn::RemovalGate* gate = nullptr,
                                        const std::optional<hvn::ListedItem>& listed = std::nullopt);

    // Hands the whole batch to the privileged daemon (isWrite = rewrite); then, past 5000
    // paths, waits (count / 5000) seconds, doubled with rewrite. An unreachable daemon is
    // installed once per run (then a 1-second pause and one more try); when it stays
    // unreachable, the bundle's HVNRemove helper removes the batch as root under one
    // administrator prompt (overwriting files first with rewrite).
    // Every path is first put to the removal gate here: refused paths are never handed on.
    // True when the batch was handed over or worked through (some paths may still be left:
    // see the other overload); false when the user cancelled the administrator prompt, in
    // which case nothing was removed. An empty batch is true at once.
    static bool removeSystemFile(const std::vector<std::string>& paths, bool rewrite);
    // The same for requests that may carry the folder each was found in. notRemoved (may be
    // null) receives path -> reason for every path known to be still there: refused here,
    // or failed or refused by the helper or by the daemon's gate. The daemon tells only what
    // it refused at once; the rest it was handed counts as removed.
    static bool removeSystemFile(const std::vector<hvn::RemovalBatch::Request>& batch, bool rewrite,
                                 std::map<std::string, std::string>* notRemoved);
    // Removes one path through the privileged helper (the administrator prompt). True when
    // it was removed; a helper that ends with a non-zero status is logged as "Error: %d".
    static bool removeFileWithPrivileges(const std::string& path);
    // Hands the executables to the daemon for thinning; past 50 paths, waits (count / 50)
    // seconds. False only when the user cancelled the daemon installation.
    static bool lipoWithPrivileges(const std::vector<std::string>& paths);
    // The daemon's answer to switching the launchd job of plistPath off (disable) or on;
    // false when the daemon cannot be reached or the installation was cancelled.
    static bool setServerDisable(const std::string& plistPath, bool disable);
    // Asks the daemon to stop a removal under way, when it can be reached.
    static void stopClearSystemFile();

    // Test hooks. The pauses and pacing waits go through the sleep function (seconds);
    // an empty function restores the real sleep. Returns the previous one.
    using SleepFunction = std::function<void(double seconds)>;
    static SleepFunction setSleepFunction(SleepFunction sleep);
    // Clears the once-per-run installation flags.
    static void resetInstallationFlags();
};
