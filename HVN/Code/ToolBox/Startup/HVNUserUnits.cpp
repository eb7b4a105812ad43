#include "HVN/Code/ToolBox/Startup/HVNUserUnits.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "Platform/Log.h"
#include "Platform/LoginItems.h"
#include "Platform/MoveToTrash.h"
#include "Platform/PropertyList.h"
#include "Platform/Roots.h"
#include "Platform/UserDefaults.h"

namespace {

constexpr const char* kUnitKey = "Unit";
constexpr const char* kLinksKey = "Links";
constexpr const char* kPathKey = "Path";
constexpr const char* kTargetKey = "Target";
constexpr size_t kMaxUnitSize = 1024 * 1024;

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool fail(std::string* errorText, const std::string& text) {
    if (errorText) *errorText = text;
    hvn::Log::write(text);
    return false;
}

std::optional<hvn::FileIdentity> identityOf(const std::string& path, bool followLink) {
    struct ::stat st {};
    const int rc = followLink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (rc != 0) return std::nullopt;
    return hvn::FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

std::optional<std::string> readLink(const std::string& path) {
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0 || static_cast<size_t>(n) >= buffer.size()) return std::nullopt;
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// Every "*.wants" link of the unit folder that resolves to the unit.
std::vector<std::string> linksTo(const std::string& folder, const hvn::FileIdentity& unit) {
    std::vector<std::string> out;
    auto entries = hvn::FileManager::entriesOfDirectoryAtPath(folder);
    if (!entries) return out;
    std::vector<std::string> wants;
    for (const auto& e : *entries) {
        if (e.type == hvn::FileType::Directory && endsWith(e.name, ".wants")) wants.push_back(e.name);
    }
    std::sort(wants.begin(), wants.end());
    for (const auto& w : wants) {
        const std::string dir = folder + "/" + w;
        auto links = hvn::FileManager::entriesOfDirectoryAtPath(dir);
        if (!links) continue;
        for (const auto& l : *links) {
            if (l.type != hvn::FileType::SymbolicLink) continue;
            const std::string linkPath = dir + "/" + l.name;
            auto id = identityOf(linkPath, true);
            if (id && *id == unit) out.push_back(linkPath);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

const hvn::Value* recordOf(const hvn::Value& records, const std::string& unitPath) {
    if (!records.isArray()) return nullptr;
    for (const auto& r : records.asArray()) {
        const hvn::Value* u = r.find(kUnitKey);
        if (u && u->isString() && u->asString() == unitPath) return &r;
    }
    return nullptr;
}

bool eraseRecord(hvn::Value& records, const std::string& unitPath) {
    if (!records.isArray()) return false;
    auto& a = records.array();
    const auto before = a.size();
    a.erase(std::remove_if(a.begin(), a.end(),
                           [&](const hvn::Value& r) {
                               const hvn::Value* u = r.find(kUnitKey);
                               return u && u->isString() && u->asString() == unitPath;
                           }),
            a.end());
    return a.size() != before;
}

hvn::RemovalResult removeLink(const std::string& linkPath) {
    hvn::RemovalOptions options;
    options.foundIn = identityOf(parentOf(linkPath), false);
    options.listed = hvn::ListedItem::of(linkPath);
    return hvn::FileManager::removeItem(linkPath, options);
}

// Creates the link at linkPath with the text target unless that very link is there already.
bool putLink(const std::string& linkPath, const std::string& target, const hvn::FileIdentity* unit,
             std::string* errorText) {
    struct ::stat st {};
    if (::lstat(linkPath.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode) && unit) {
            auto id = identityOf(linkPath, true);
            if (id && *id == *unit) return true;
        }
        return fail(errorText, "Could not enable the unit: " + linkPath + " holds something else");
    }
    std::string error;
    if (!hvn::FileManager::createDirectoryAtPath(parentOf(linkPath), true, &error)) {
        return fail(errorText, "Could not enable the unit: " + error);
    }
    if (::symlink(target.c_str(), linkPath.c_str()) != 0) {
        return fail(errorText, "Could not enable the unit: " + linkPath + ": " + std::strerror(errno));
    }
    return true;
}

}  // namespace

std::string HVNUserUnits::unitFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return hvn::Roots::normalize(std::string(config) + "/systemd/user");
    return hvn::Roots::homePath(".config/systemd/user");
}

bool HVNUserUnits::isUnitPath(const std::string& path) {
    return endsWith(path, ".service");
}

std::optional<std::string> HVNUserUnits::execProgram(const std::string& unitText) {
    std::istringstream in(unitText);
    std::string line;
    bool inService = false;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            inService = line == "[Service]";
            continue;
        }
        if (!inService || line.compare(0, 9, "ExecStart") != 0) continue;
        std::string rest = trim(line.substr(9));
        if (rest.empty() || rest[0] != '=') continue;
        rest = trim(rest.substr(1));
        size_t i = 0;
        while (i < rest.size() && std::strchr("-@:+!", rest[i])) ++i;
        rest = rest.substr(i);
        std::string word;
        if (!rest.empty() && rest[0] == '"') {
            const size_t close = rest.find('"', 1);
            if (close == std::string::npos) return std::nullopt;
            word = rest.substr(1, close - 1);
        } else {
            word = rest.substr(0, rest.find_first_of(" \t"));
        }
        for (size_t p = word.find("%h"); p != std::string::npos; p = word.find("%h", p)) {
            const std::string home = hvn::Roots::home();
            word.replace(p, 2, home);
            p += home.size();
        }
        if (word.empty()) return std::nullopt;
        return word;
    }
    return std::nullopt;
}

std::vector<HVNUserUnit> HVNUserUnits::list() {
    std::vector<HVNUserUnit> out;
    const std::string folder = unitFolder();
    auto entries = hvn::FileManager::entriesOfDirectoryAtPath(folder);
    if (!entries) return out;
    const hvn::Value records = hvn::UserDefaults::standardUserDefaults().objectForKey(kDisableUnitKey);
    std::vector<std::string> names;
    for (const auto& e : *entries) {
        if (e.type == hvn::FileType::Regular && isUnitPath(e.name)) names.push_back(e.name);
    }
    std::sort(names.begin(), names.end());
    for (const auto& n : names) {
        HVNUserUnit unit;
        unit.path = folder + "/" + n;
        unit.name = n.substr(0, n.size() - std::strlen(".service"));
        auto id = identityOf(unit.path, false);
        if (!id) continue;
        unit.links = linksTo(folder, *id);
        if (unit.links.empty()) {
            if (!recordOf(records, unit.path)) continue;
            unit.disable = true;
        }
        auto text = hvn::readWholeFile(unit.path);
        if (!text || text->size() > kMaxUnitSize) {
            hvn::Log::writef("Could not read the unit %s", unit.path.c_str());
            continue;
        }
        auto program = execProgram(*text);
        if (!program) continue;
        auto located = hvn::LoginItems::locateProgram(*program);
        if (!located) continue;
        unit.program = *located;
        out.push_back(std::move(unit));
    }
    return out;
}

bool HVNUserUnits::disable(const std::string& unitPath, std::string* errorText) {
    auto id = identityOf(unitPath, false);
    if (!id) return fail(errorText, "Could not disable " + unitPath + ": it is no longer there");
    const auto links = linksTo(parentOf(unitPath), *id);
    auto& defaults = hvn::UserDefaults::standardUserDefaults();
    if (links.empty()) {
        if (recordOf(defaults.objectForKey(kDisableUnitKey), unitPath)) return true;
        return fail(errorText, "Could not disable " + unitPath + ": it is not enabled");
    }
    hvn::Array linkRecords;
    for (const auto& l : links) {
        auto target = readLink(l);
        if (!target) return fail(errorText, "Could not disable " + unitPath + ": cannot read the link " + l);
        linkRecords.push_back(hvn::Dictionary{{kPathKey, l}, {kTargetKey, *target}});
    }
    // The record first: a link that is gone without its record could not be put back.
    std::string error;
    const bool stored = defaults.update(
        kDisableUnitKey,
        [&](hvn::Value& records) {
            eraseRecord(records, unitPath);
            records.array().push_back(hvn::Dictionary{{kUnitKey, unitPath}, {kLinksKey, linkRecords}});
        },
        &error);
    if (!stored) return fail(errorText, "Could not disable " + unitPath + ": " + error);
    for (size_t i = 0; i < links.size(); ++i) {
        auto r = removeLink(links[i]);
        if (r.removed() || r.status == hvn::RemovalStatus::Missing) continue;
        for (size_t j = 0; j < i; ++j) {
            putLink(links[j], linkRecords[j][kTargetKey].asString(), &*id, nullptr);
        }
        defaults.update(kDisableUnitKey, [&](hvn::Value& records) { eraseRecord(records, unitPath); });
        return fail(errorText, "Could not disable " + unitPath + ": " + r.error);
    }
    return true;
}

bool HVNUserUnits::enable(const std::string& unitPath, std::string* errorText) {
    auto& defaults = hvn::UserDefaults::standardUserDefaults();
    const hvn::Value records = defaults.objectForKey(kDisableUnitKey);
    const hvn::Value* record = recordOf(records, unitPath);
    auto id = identityOf(unitPath, false);
    if (!id) return fail(errorText, "Could not enable " + unitPath + ": it is no longer there");
    if (!record) {
        if (!linksTo(parentOf(unitPath), *id).empty()) return true;
        return fail(errorText, "Could not enable " + unitPath + ": it was not disabled here");
    }
    const std::string wantsPrefix = parentOf(unitPath) + "/";
    for (const auto& l : (*record)[kLinksKey].asArray()) {
        const std::string& linkPath = l[kPathKey].asString();
        const std::string& target = l[kTargetKey].asString();
        // Only links of this unit's own "*.wants" folders are written back.
        const std::string rest = linkPath.compare(0, wantsPrefix.size(), wantsPrefix) == 0
                                     ? linkPath.substr(wantsPrefix.size())
                                     : std::string();
        const size_t slash = rest.find('/');
        if (target.empty() || slash == std::string::npos || rest.find('/', slash + 1) != std::string::npos ||
            !endsWith(rest.substr(0, slash), ".wants") || rest.compare(0, 1, ".") == 0) {
            return fail(errorText, "Could not enable " + unitPath + ": the record of its links is damaged");
        }
        if (!putLink(linkPath, target, &*id, errorText)) return false;
    }
    std::string error;
    if (!defaults.update(
            kDisableUnitKey, [&](hvn::Value& records) { eraseRecord(records, unitPath); }, &error)) {
        return fail(errorText, "Could not enable " + unitPath + ": " + error);
    }
    return true;
}

hvn::RemovalResult HVNUserUnits::remove(const std::string& unitPath,
                                        const std::optional<hvn::ListedItem>& listed, bool toTrash,
                                        std::string* trashedPath) {
    auto id = identityOf(unitPath, false);
    const std::string folder = parentOf(unitPath);
    const auto links = id ? linksTo(folder, *id) : std::vector<std::string>{};
    hvn::RemovalResult result;
    if (toTrash) {
        hvn::Trash::MoveOptions options;
        options.foundIn = identityOf(folder, false);
        options.listed = listed;
        const hvn::Trash::MoveResult moved = hvn::Trash::moveItemToTrash(unitPath, options);
        result = {moved.status, moved.error};
        if (trashedPath) *trashedPath = moved.trashedPath;
    } else {
        hvn::RemovalOptions options;
        options.foundIn = identityOf(folder, false);
        options.listed = listed;
        result = hvn::FileManager::removeItem(unitPath, options);
    }
    if (!result.removed()) return result;
    for (const auto& l : links) {
        auto r = removeLink(l);
        if (!r.removed() && r.status != hvn::RemovalStatus::Missing) hvn::Log::write(r.error);
    }
    hvn::UserDefaults::standardUserDefaults().update(
        kDisableUnitKey, [&](hvn::Value& records) { eraseRecord(records, unitPath); });
    return result;
}
