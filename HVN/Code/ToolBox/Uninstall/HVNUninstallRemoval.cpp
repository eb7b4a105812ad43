#include "HVN/Code/ToolBox/Uninstall/HVNUninstallRemoval.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <map>

#include "HVN/Code/Public/ReomveFile.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/MoveToTrash.h"
#include "Platform/RemovalBatch.h"

namespace {

std::string parentOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::optional<hvn::FileIdentity> identityOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return hvn::FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool isThere(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

HVNUninstallOutcome outcome(const std::string& path, HVNUninstallOutcome::Where where,
                            std::string reason = {}) {
    HVNUninstallOutcome o;
    o.path = path;
    o.where = where;
    o.reason = std::move(reason);
    return o;
}

}  // namespace

HVNUninstallListing HVNUninstallRemoval::list(const std::string& path) {
    HVNUninstallListing l;
    l.path = path;
    while (l.path.size() > 1 && l.path.back() == '/') l.path.pop_back();
    l.listed = hvn::ListedItem::of(l.path);
    l.foundIn = identityOf(parentOf(l.path));
    return l;
}

std::vector<HVNUninstallListing> HVNUninstallRemoval::list(const std::vector<std::string>& paths) {
    std::vector<HVNUninstallListing> out;
    out.reserve(paths.size());
    for (const auto& p : paths) out.push_back(list(p));
    return out;
}

std::string HVNUninstallRemoval::changeSinceListed(const HVNUninstallListing& listing) {
    if (!listing.listed) return "it was not there when it was listed";
    // A folder is compared by identity only: its size and time follow its contents.
    if (std::string change = listing.listed->changeOfEntry(AT_FDCWD, listing.path.c_str()); !change.empty())
        return change;
    if (listing.foundIn && identityOf(parentOf(listing.path)) != listing.foundIn)
        return "its folder has changed since it was listed";
    return "";
}

std::vector<HVNUninstallOutcome> HVNUninstallRemoval::remove(const std::vector<HVNUninstallListing>& items,
                                                             bool toTrash, const hvn::RemovalGate* gate) {
    using Where = HVNUninstallOutcome::Where;
    std::vector<HVNUninstallOutcome> out(items.size());
    std::vector<size_t> privileged;
    for (size_t i = 0; i < items.size(); ++i) {
        const HVNUninstallListing& item = items[i];
        if (!isThere(item.path)) {
            out[i] = outcome(item.path, Where::Gone);
            continue;
        }
        if (std::string change = changeSinceListed(item); !change.empty()) {
            hvn::Log::writef("HVNUninstall: left %s in place: %s", item.path.c_str(), change.c_str());
            out[i] = outcome(item.path, Where::Left, change);
            continue;
        }
        if (toTrash) {
            hvn::Trash::MoveOptions options;
            options.foundIn = item.foundIn;
            options.listed = item.listed;
            options.gate = gate;
            hvn::Trash::MoveResult r = hvn::Trash::moveItemToTrash(item.path, options);
            if (r.moved()) {
                out[i] = outcome(item.path, Where::Trashed);
                out[i].trashedPath = r.trashedPath;
            } else if (r.status == hvn::RemovalStatus::Missing) {
                out[i] = outcome(item.path, Where::Gone);
            } else {
                hvn::Log::write(r.error);
                out[i] = outcome(item.path, Where::Left, r.error);
            }
            continue;
        }
        if (hvn::FileManager::isDeletableFileAtPath(item.path)) {
            hvn::RemovalResult r = ReomveFile::removeItem(item.path, item.foundIn, gate);
            if (r.removed()) {
                out[i] = outcome(item.path, Where::Deleted);
                continue;
            }
            if (r.status == hvn::RemovalStatus::Missing) {
                out[i] = outcome(item.path, Where::Gone);
                continue;
            }
            hvn::Log::writef("HVNUninstall: %s", r.error.c_str());
            out[i] = outcome(item.path, Where::Left, r.error);
            // A refusal of the gate is final; a failure goes on to the privileged route.
            if (r.status == hvn::RemovalStatus::Refused) continue;
        }
        privileged.push_back(i);
    }
    if (privileged.empty()) return out;

    std::vector<hvn::RemovalBatch::Request> batch;
    for (size_t i : privileged) {
        // Checked once more: the in-process attempt may have taken time.
        if (std::string change = changeSinceListed(items[i]); !change.empty()) {
            out[i] = outcome(items[i].path, isThere(items[i].path) ? Where::Left : Where::Gone, change);
            if (out[i].where == Where::Gone) out[i].reason.clear();
            continue;
        }
        batch.push_back({items[i].path, items[i].foundIn});
    }
    if (batch.empty()) return out;
    std::map<std::string, std::string> left;
    bool handed = ReomveFile::removeSystemFile(batch, false, &left);
    for (size_t i : privileged) {
        HVNUninstallOutcome& o = out[i];
        bool inBatch = false;
        for (const auto& r : batch) inBatch = inBatch || r.path == items[i].path;
        if (!inBatch) continue;
        if (!handed) {
            o = outcome(items[i].path, Where::Left, "the administrator authorization was cancelled");
        } else if (auto it = left.find(items[i].path); it != left.end()) {
            o = outcome(items[i].path, Where::Left, it->second);
        } else {
            o = outcome(items[i].path, Where::Privileged);
        }
    }
    return out;
}

std::string HVNUninstallRemoval::describe(HVNUninstallOutcome::Where where) {
    switch (where) {
        case HVNUninstallOutcome::Where::Deleted:
            return "deleted";
        case HVNUninstallOutcome::Where::Trashed:
            return "trashed";
        case HVNUninstallOutcome::Where::Privileged:
            return "removed with administrator rights";
        case HVNUninstallOutcome::Where::Gone:
            return "already gone";
        case HVNUninstallOutcome::Where::Left:
            break;
    }
    return "left";
}
