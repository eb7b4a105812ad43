// The removal service: in-process removal (plain or shredding, after the "Insight Clean"
// setting), and the privileged routes for what this process may not remove: a batch
// handed to the privileged daemon, falling back to `/bin/rm` with administrator rights.
// It also forwards binary thinning and launchd job switching to the daemon.
//
// Every removal refuses the system root, the home folder and the folders directly inside
// either, and never follows a symbolic link below the parent folder of the path it is
// given (a link is removed as a link).
//
// Threads: any thread but the main one. The privileged operations block the caller during
// the administrator prompt, the 1-second pause after installing the daemon and the pacing
// waits after large hand-overs.
#pragma once

#include <functional>
#include <string>
#include <vector>

class ReomveFile {
public:
    ReomveFile() = delete;

    // Removes the item at path: shredding it when the shredding setting is on, plainly
    // otherwise. True when the item is gone; false with error ("... <path>: <system error
    // text>") otherwise. error may be null.
    static bool HVNRemoveFileAtPath(const std::string& path, std::string* error);
    // Removes the item when this process may delete it (isDeletableFileAtPath); false,
    // without trying, when it may not, and when anything could not be removed.
    static bool removeFile(const std::string& path);
    // Overwrites every regular file of the item in place with its own length of bytes,
    // flushes it to disk, and removes it; folders are shredded file by file. A file with
    // other hard links is unlinked without being overwritten (its data stays reachable
    // through its other names). True when everything was overwritten and removed; an item
    // that cannot be overwritten is kept and makes the result false.
    static bool fileShredder(const std::string& path);
    // fileShredder with the error text of the first failure.
    static bool shredItemAtPath(const std::string& path, std::string* error);

    // Hands the whole batch to the privileged daemon (isWrite = rewrite); then, past 5000
    // paths, waits (count / 5000) seconds, doubled with rewrite. An unreachable daemon is
    // installed once per run (then a 1-second pause and one more try); when it stays
    // unreachable, the paths are removed with `/bin/rm -rf` with administrator rights,
    // under one prompt (rewrite is not honoured there).
    // True when the batch was handed over or removed by `rm`; false when the user cancelled
    // the administrator prompt, or when the batch held protected paths (they are dropped,
    // the others still handled). An empty batch is true at once.
    static bool removeSystemFile(const std::vector<std::string>& paths, bool rewrite);
    // Runs `/bin/rm -rf --one-file-system -- path` with administrator rights. True when it ended with status
    // 0; a non-zero status is logged as "Error: %d".
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
