// Removing one found file of the large-and-old-files tool, to the trash or for good, only
// while it is still the file the user was shown.
//
// When a result entry is made, listEntry() notes what the file was at that moment (its
// identity, size and modification time, Platform/ListedItem.h). Both removals check the
// file against that note first and leave a file that has changed since (or that was never
// noted) in place, reporting why; then the trash goes through hvn::Trash::moveItemToTrash
// and the permanent removal through ReomveFile::removeItem, both of which put the path to
// the removal gate. The notes are kept per entry (by its hashValue) until forgotten.
//
// Threads: any; the notes are guarded by a lock.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "Platform/FileManager.h"
#include "Platform/ListedItem.h"
#include "Platform/RemovalGate.h"

// How the removal of one entry ended.
struct HVNLargeFileOutcome {
    HVNScaneOuputObjectPtr entry;
    // Removed: gone (to trashedPath when trashed). Missing: nothing was there any more.
    // Refused: left in place for good (the gate, a change since it was listed, no trash on
    // its file system). Failed: could not be removed with this process's rights.
    hvn::RemovalStatus status = hvn::RemovalStatus::Failed;
    std::string trashedPath;
    std::string error;  // why it is still there; empty when removed
    bool removed() const { return status == hvn::RemovalStatus::Removed; }
    // True when the entry no longer stands for a file (removed, or already gone).
    bool gone() const {
        return status == hvn::RemovalStatus::Removed || status == hvn::RemovalStatus::Missing;
    }
};

class HVNLargeFileRemoval {
public:
    HVNLargeFileRemoval() = delete;

    // Notes the entry's file as it is now (its filePath); false, with no note, when nothing
    // can be examined there.
    static bool listEntry(const HVNScaneOuputObject& entry);
    // Notes a given state (tests, and entries made from an earlier listing).
    static void setListing(const HVNScaneOuputObject& entry, const std::optional<hvn::ListedItem>& listed);
    static std::optional<hvn::ListedItem> listingOf(const HVNScaneOuputObject& entry);
    static void forget(const HVNNodeList& entries);

    // Moves the entry's file to the trash. gate: null asks one for the current roots.
    static HVNLargeFileOutcome moveToTrash(const HVNScaneOuputObjectPtr& entry,
                                           const hvn::RemovalGate* gate = nullptr);
    // Removes the entry's file (shredding it when the shredding setting is on).
    static HVNLargeFileOutcome removeForever(const HVNScaneOuputObjectPtr& entry,
                                             const hvn::RemovalGate* gate = nullptr);

    // "" when the file at the entry's path is still the one noted; otherwise why not.
    static std::string changeSinceListed(const HVNScaneOuputObject& entry);
};
