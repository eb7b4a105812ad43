#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeFileRemoval.h"

#include <sys/stat.h>

#include <mutex>
#include <unordered_map>

#include "HVN/Code/Public/ReomveFile.h"
#include "Platform/Log.h"
#include "Platform/MoveToTrash.h"

namespace {

std::mutex& notesMutex() {
    static std::mutex m;
    return m;
}

std::unordered_map<uint64_t, hvn::ListedItem>& notes() {
    static std::unordered_map<uint64_t, hvn::ListedItem> n;
    return n;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

HVNLargeFileOutcome refused(const HVNScaneOuputObjectPtr& entry, const std::string& why) {
    HVNLargeFileOutcome o;
    o.entry = entry;
    o.status = hvn::RemovalStatus::Refused;
    o.error = "Refusing to remove " + entry->filePath() + ": " + why;
    hvn::Log::write(o.error);
    return o;
}

}  // namespace

bool HVNLargeFileRemoval::listEntry(const HVNScaneOuputObject& entry) {
    auto listed = hvn::ListedItem::of(entry.filePath());
    setListing(entry, listed);
    return listed.has_value();
}

void HVNLargeFileRemoval::setListing(const HVNScaneOuputObject& entry,
                                     const std::optional<hvn::ListedItem>& listed) {
    std::lock_guard<std::mutex> lock(notesMutex());
    if (listed) {
        notes()[entry.hashValue] = *listed;
    } else {
        notes().erase(entry.hashValue);
    }
}

std::optional<hvn::ListedItem> HVNLargeFileRemoval::listingOf(const HVNScaneOuputObject& entry) {
    std::lock_guard<std::mutex> lock(notesMutex());
    auto it = notes().find(entry.hashValue);
    if (it == notes().end()) return std::nullopt;
    return it->second;
}

void HVNLargeFileRemoval::forget(const HVNNodeList& entries) {
    std::lock_guard<std::mutex> lock(notesMutex());
    for (const auto& e : entries) {
        if (e) notes().erase(e->hashValue);
    }
}

std::string HVNLargeFileRemoval::changeSinceListed(const HVNScaneOuputObject& entry) {
    auto listed = listingOf(entry);
    if (!listed) return "it was not listed";
    return listed->changeOf(entry.filePath());
}

HVNLargeFileOutcome HVNLargeFileRemoval::moveToTrash(const HVNScaneOuputObjectPtr& entry,
                                                     const hvn::RemovalGate* gate) {
    HVNLargeFileOutcome o;
    o.entry = entry;
    if (!entry) return o;
    const std::string path = entry->filePath();
    auto listed = listingOf(*entry);
    if (!listed) return refused(entry, "it was not listed");
    hvn::Trash::MoveOptions options;
    options.foundIn = entry->foundIn;
    options.listed = listed;
    options.gate = gate;
    hvn::Trash::MoveResult r = hvn::Trash::moveItemToTrash(path, options);
    o.status = r.status;
    o.trashedPath = r.trashedPath;
    o.error = r.error;
    if (!r.moved() && !r.error.empty()) hvn::Log::write(r.error);
    return o;
}

HVNLargeFileOutcome HVNLargeFileRemoval::removeForever(const HVNScaneOuputObjectPtr& entry,
                                                       const hvn::RemovalGate* gate) {
    HVNLargeFileOutcome o;
    o.entry = entry;
    if (!entry) return o;
    const std::string path = entry->filePath();
    if (!exists(path)) {
        o.status = hvn::RemovalStatus::Missing;
        return o;
    }
    auto listed = listingOf(*entry);
    if (!listed) return refused(entry, "it was not listed");
    std::string change = listed->changeOf(path);
    if (!change.empty()) return refused(entry, change);
    // The removal checks the listing again on the entry itself, so a swap after this
    // check is refused too.
    hvn::RemovalResult r = ReomveFile::removeItem(path, entry->foundIn, gate, listed);
    o.status = r.status;
    o.error = r.error;
    if (!r.removed() && !r.error.empty()) hvn::Log::write(r.error);
    return o;
}
