#include "HVN/Code/ToolBox/Duplicate/HVNDuplicateRemoval.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "HVN/Code/Public/ReomveFile.h"
#include "Platform/Log.h"
#include "Platform/MoveToTrash.h"

namespace {

std::optional<HVNDuplicateRemoval::Note> noteNow(const std::string& path) {
    auto item = hvn::ListedItem::of(path);
    if (!item) return std::nullopt;
    HVNDuplicateRemoval::Note note{*item, std::nullopt};
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
        if (auto st = hvn::itemStatusAt(AT_FDCWD, parent.c_str())) note.foundIn = st->identity;
    }
    return note;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

void HVNDuplicateRemoval::listGroup(const std::vector<std::string>& paths) {
    for (const auto& p : paths) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (notes_.count(p)) continue;
        }
        auto note = noteNow(p);
        std::lock_guard<std::mutex> lock(mutex_);
        if (note) notes_.emplace(p, *note);
    }
}

bool HVNDuplicateRemoval::listPath(const std::string& path) {
    auto note = noteNow(path);
    setNote(path, note);
    return note.has_value();
}

void HVNDuplicateRemoval::setNote(const std::string& path, const std::optional<Note>& note) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (note) {
        notes_[path] = *note;
    } else {
        notes_.erase(path);
    }
}

std::optional<HVNDuplicateRemoval::Note> HVNDuplicateRemoval::noteOf(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = notes_.find(path);
    if (it == notes_.end()) return std::nullopt;
    return it->second;
}

void HVNDuplicateRemoval::forgetAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    notes_.clear();
}

std::string HVNDuplicateRemoval::changeSinceListed(const std::string& path) const {
    auto note = noteOf(path);
    if (!note) return "it was not listed";
    return note->item.changeOf(path);
}

bool HVNDuplicateRemoval::anyIntact(const std::vector<std::string>& paths) const {
    for (const auto& p : paths) {
        if (changeSinceListed(p).empty()) return true;
    }
    return false;
}

HVNDuplicateOutcome HVNDuplicateRemoval::leftInPlace(const std::string& path, const std::string& why) {
    HVNDuplicateOutcome o;
    o.path = path;
    o.status = hvn::RemovalStatus::Refused;
    o.error = "Refusing to remove " + path + ": " + why;
    hvn::Log::write(o.error);
    return o;
}

HVNDuplicateOutcome HVNDuplicateRemoval::moveToTrash(const std::string& path,
                                                     const hvn::RemovalGate* gate) const {
    auto note = noteOf(path);
    if (!note) return leftInPlace(path, "it was not listed");
    hvn::Trash::MoveOptions options;
    options.foundIn = note->foundIn;
    options.listed = note->item;
    options.gate = gate;
    hvn::Trash::MoveResult r = hvn::Trash::moveItemToTrash(path, options);
    HVNDuplicateOutcome o;
    o.path = path;
    o.status = r.status;
    o.trashedPath = r.trashedPath;
    o.error = r.error;
    if (!r.moved() && !r.error.empty()) hvn::Log::write(r.error);
    return o;
}

HVNDuplicateOutcome HVNDuplicateRemoval::removeForever(const std::string& path,
                                                       const hvn::RemovalGate* gate) const {
    HVNDuplicateOutcome o;
    o.path = path;
    if (!exists(path)) {
        o.status = hvn::RemovalStatus::Missing;
        return o;
    }
    auto note = noteOf(path);
    if (!note) return leftInPlace(path, "it was not listed");
    std::string change = note->item.changeOf(path);
    if (!change.empty()) return leftInPlace(path, change);
    // The removal checks the listing again on the entry it opens, so a swap after the check
    // above is refused too.
    hvn::RemovalResult r = ReomveFile::removeItem(path, note->foundIn, gate, note->item);
    o.status = r.status;
    o.error = r.error;
    if (!r.removed() && !r.error.empty()) hvn::Log::write(r.error);
    return o;
}
