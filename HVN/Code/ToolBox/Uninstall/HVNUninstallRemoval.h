// The uninstaller's removal of an application's files, shared by the page and the command
// line. Each file is noted when it is listed (its identity, size and modification time, and
// the identity of the folder it was found in); right before it goes, it must still be that
// file in that folder, or it is left in place and reported.
//
// Removing for good: a file this process may delete (FileManager::isDeletableFileAtPath)
// goes through ReomveFile::removeItem (shredding when the shredding setting is on); what is
// not deletable, or whose removal failed with this process's rights, goes in one batch to
// ReomveFile::removeSystemFile (rewrite false). What the removal gate refuses is final and
// never handed on. Moving to the trash: hvn::Trash::moveItemToTrash; nothing is handed on.
//
// Threads: any thread but the main one for the privileged route (it may block on the
// administrator prompt); the listing itself may run anywhere.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Platform/ListedItem.h"
#include "Platform/RemovalGate.h"

struct HVNUninstallListing {
    std::string path;
    std::optional<hvn::ListedItem> listed;     // nullopt when nothing was there
    std::optional<hvn::FileIdentity> foundIn;  // the folder holding it when listed
};

struct HVNUninstallOutcome {
    enum class Where {
        Deleted,     // removed by this process
        Trashed,     // in the trash at trashedPath
        Privileged,  // handed to the privileged route, which did not report it as left
        Gone,        // nothing was there any more
        Left,        // still in place; reason tells why
    };
    std::string path;
    Where where = Where::Left;
    std::string trashedPath;
    std::string reason;
    bool gone() const { return where != Where::Left; }
};

class HVNUninstallRemoval {
public:
    HVNUninstallRemoval() = delete;

    // Notes each path as it is now (links not followed; trailing slashes dropped).
    static HVNUninstallListing list(const std::string& path);
    static std::vector<HVNUninstallListing> list(const std::vector<std::string>& paths);

    // "" when the path is still the item listed, in the folder it was found in; otherwise
    // why not ("it was not there when it was listed", "it is no longer there", "it has been
    // replaced since it was listed", "it has changed since it was listed" (a file's size or
    // time; a folder is compared by identity only), "its folder has changed since it was
    // listed").
    static std::string changeSinceListed(const HVNUninstallListing& listing);

    // Removes (or, with toTrash, trashes) every listed item, in order, and returns one
    // outcome per item in the same order. gate null: the gate of the current roots.
    static std::vector<HVNUninstallOutcome> remove(const std::vector<HVNUninstallListing>& items,
                                                   bool toTrash, const hvn::RemovalGate* gate = nullptr);

    // "deleted", "trashed", "removed with administrator rights", "already gone", "left".
    static std::string describe(HVNUninstallOutcome::Where where);
};
