// Removing copies of the duplicate finder's groups, to the trash or for good, only while
// each file is still the one the user was shown.
//
// When a group is received, listGroup() notes what each of its files is at that moment
// (identity, size and modification time, Platform/ListedItem.h, and the folder it lies in).
// A file keeps its first note until forgetAll(), so a group that is reported again as it
// grows does not make a changed copy look unchanged. Both removals leave a file that has
// changed since it was noted (or that was never noted) in place and say why; the trash goes
// through hvn::Trash::moveItemToTrash, the permanent removal through ReomveFile::removeItem
// (shredding when that setting is on), both of which put the path to the removal gate.
//
// Threads: any; the notes are guarded by a lock. The removals block on the file system and
// belong off the main thread (ReomveFile's rule).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Platform/FileManager.h"
#include "Platform/ListedItem.h"
#include "Platform/RemovalGate.h"

// How the removal of one file ended.
struct HVNDuplicateOutcome {
    std::string path;
    // Removed: gone (to trashedPath when trashed). Missing: nothing was there any more.
    // Refused: left in place for good (the gate, a change since it was listed, no trash on
    // its file system, no kept copy left). Failed: could not be removed with this process's
    // rights.
    hvn::RemovalStatus status = hvn::RemovalStatus::Failed;
    std::string trashedPath;
    std::string error;  // why it is still there; empty when removed
    bool removed() const { return status == hvn::RemovalStatus::Removed; }
    // True when the path no longer holds the file (removed, or already gone).
    bool gone() const {
        return status == hvn::RemovalStatus::Removed || status == hvn::RemovalStatus::Missing;
    }
};

class HVNDuplicateRemoval {
public:
    struct Note {
        hvn::ListedItem item;
        std::optional<hvn::FileIdentity> foundIn;  // the folder holding it, when it could be read
    };

    // Notes every path of a group that has no note yet; paths that cannot be examined get
    // none (and will not be removed).
    void listGroup(const std::vector<std::string>& paths);
    // Notes one path as it is now (replacing an earlier note); false, with no note, when
    // nothing can be examined there.
    bool listPath(const std::string& path);
    // Sets or (nullopt) drops the note of a path (tests; listings made elsewhere).
    void setNote(const std::string& path, const std::optional<Note>& note);
    std::optional<Note> noteOf(const std::string& path) const;
    // Drops every note (a new search).
    void forgetAll();

    // "" when the file at path is still the one noted; otherwise why not ("it was not
    // listed", "it has changed since it was listed", "it is no longer there").
    std::string changeSinceListed(const std::string& path) const;
    // True when at least one of the paths still holds the file noted for it: the copy that
    // is to stay.
    bool anyIntact(const std::vector<std::string>& paths) const;

    // Moves the file to the trash / removes it for good. gate: null asks one for the current
    // roots.
    HVNDuplicateOutcome moveToTrash(const std::string& path, const hvn::RemovalGate* gate = nullptr) const;
    HVNDuplicateOutcome removeForever(const std::string& path, const hvn::RemovalGate* gate = nullptr) const;
    // The outcome of a file left in place for a reason of the caller's.
    static HVNDuplicateOutcome leftInPlace(const std::string& path, const std::string& why);

private:
    mutable std::mutex mutex_;
    std::map<std::string, Note> notes_;
};
