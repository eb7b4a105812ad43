#include "HVN/Code/Public/HVNDeleteSelectedApp.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>

#include "HVN/Code/Public/HVNSearchApplications.h"
#include "HVN/Code/Public/ReomveFile.h"
#include "HVN/Code/Public/ScanAndDeleteApp/QueueAddition.h"
#include "Platform/BundleInfo.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/Roots.h"
#include "Platform/UniformType.h"

namespace {

std::string join(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() != '/' ? folder + "/" + name : folder + name;
}

bool contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

// The real location of a root folder; the text itself when it cannot be resolved.
std::string realLocation(const std::string& folder) {
    char buf[PATH_MAX];
    if (::realpath(folder.c_str(), buf)) return buf;
    return hvn::Roots::normalize(folder);
}

// path with the prefix `from` replaced by `to`; nullopt when path does not lie in `from`.
std::optional<std::string> swapPrefix(const std::string& path, const std::string& from,
                                      const std::string& to) {
    if (from == "/" || path.compare(0, from.size(), from) != 0) return std::nullopt;
    if (path.size() == from.size()) return to;
    if (path[from.size()] != '/') return std::nullopt;
    return (to == "/" ? "" : to) + path.substr(from.size());
}

// Below a root, under its real location.
std::string below(const std::string& realRoot, const std::string& relative) {
    std::string rel = relative;
    while (!rel.empty() && rel.front() == '/') rel.erase(0, 1);
    return realRoot == "/" ? "/" + rel : realRoot + "/" + rel;
}

}  // namespace

std::vector<std::string> HVNDeleteSelectedApp::relatedFolders() {
    const std::string home = realLocation(hvn::Roots::home());
    const std::string root = realLocation(hvn::Roots::system());
    std::vector<std::string> folders;
    for (const char* rel : {"Library", "Library/Preferences", "Library/Caches", "Library/Containers",
                            "Library/Application Support/CrashReporter", "Library/Application Support",
                            "Library/Saved Application State", "Library/LaunchAgents",
                            "Library/Logs/CrashReporter", "Library/Logs", "Library/Logs/DiagnosticReports"}) {
        folders.push_back(below(home, rel));
    }
    for (const char* abs :
         {"/Library", "/Library/StartupItems", "/Library/LaunchDaemons", "/Library/LaunchAgents",
          "/Library/Application Support", "/Library/Documentation/Applications"}) {
        folders.push_back(below(root, abs));
    }
    return folders;
}

namespace {

// The real home folder and system root, and what lies directly inside them, are never
// offered (the textual check of Roots sees only the roots as they are named).
bool isRealRootOrTopLevel(const std::string& normal) {
    std::string parent = normal.substr(0, normal.rfind('/'));
    if (parent.empty()) parent = "/";
    for (const std::string& r : {realLocation(hvn::Roots::home()), realLocation(hvn::Roots::system())}) {
        if (normal == r || parent == r) return true;
    }
    return false;
}

}  // namespace

std::string HVNDeleteSelectedApp::realRootPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    const std::string normal = hvn::Roots::normalize(path);
    std::string home = hvn::Roots::home();
    std::string root = hvn::Roots::system();
    // The longer root first: the home folder may lie below the system root or the other way.
    std::vector<std::string> order = {home, root};
    if (root.size() > home.size()) std::swap(order[0], order[1]);
    for (const std::string& r : order) {
        if (auto swapped = swapPrefix(normal, r, realLocation(r))) return *swapped;
    }
    return normal;
}

bool HVNDeleteSelectedApp::isUsableBundleIdentifier(const std::string& bundleID) {
    size_t dot = bundleID.find('.');
    while (dot != std::string::npos) {
        if (dot > 0 && dot + 1 < bundleID.size() && bundleID[dot - 1] != '.' && bundleID[dot + 1] != '.')
            return true;
        dot = bundleID.find('.', dot + 1);
    }
    return false;
}

std::vector<std::string> HVNDeleteSelectedApp::deleteFiles(const HVNAppItem& item) {
    if (item.executableString.empty() || !isUsableBundleIdentifier(item.bundleID))
        return {realRootPath(item.path)};
    std::vector<std::string> found =
        getCommonFilesByBundleAndKeyWords(item.bundleID, item.executableString, relatedFolders());
    std::vector<std::string> temporary = getPrivateByBundleAndKeyWords(
        item.bundleID, below(realLocation(hvn::Roots::system()), "/private/var/folders"));
    found.insert(found.end(), temporary.begin(), temporary.end());

    std::vector<std::string> out;
    std::set<std::string> seen;
    const std::string own = realRootPath(item.path);
    for (const std::string& p : found) {
        std::string n = hvn::Roots::normalize(p);
        if (n == own || hvn::Roots::isProtectedPath(n) || isRealRootOrTopLevel(n) || !seen.insert(n).second)
            continue;
        out.push_back(p);
    }
    out.push_back(own);
    return out;
}

HVNAppItemList HVNDeleteSelectedApp::FileAttribute(const std::vector<std::string>& paths,
                                                   const HVNAppItem& item) {
    HVNAppItemList items;
    for (const std::string& path : paths) {
        auto file = std::make_shared<HVNAppItem>();
        file->name = hvn::UniformType::deletingPathExtension(hvn::UniformType::lastPathComponent(path));
        file->path = path;
        file->appSize = HVNSearchApplications::sizeTextForItem(path);
        file->image = hvn::BundleInfo::iconPath(path);
        if (file->image.empty()) file->image = item.image;
        items.push_back(file);
    }
    return items;
}

std::vector<std::string> HVNDeleteSelectedApp::getCommonFilesByBundleAndKeyWords(
    const std::string& bundleID, const std::string& word, const std::vector<std::string>& paths) {
    std::set<std::string> searched;
    for (const std::string& folder : paths) searched.insert(hvn::Roots::normalize(folder));
    const std::string wordPrefix = word + "_";
    std::vector<std::string> out;
    for (const std::string& folder : paths) {
        auto names = hvn::FileManager::contentsOfDirectoryAtPath(folder);
        if (!names) continue;
        for (const std::string& name : *names) {
            bool hit = (!bundleID.empty() && contains(name, bundleID)) ||
                       (!word.empty() && (contains(name, wordPrefix) || name == word));
            if (!hit) continue;
            std::string path = join(folder, name);
            if (searched.count(hvn::Roots::normalize(path))) continue;
            out.push_back(path);
        }
    }
    return out;
}

std::vector<std::string> HVNDeleteSelectedApp::getPrivateByBundleAndKeyWords(const std::string& bundleID,
                                                                             const std::string& root) {
    std::vector<std::string> out;
    if (bundleID.empty()) return out;
    std::vector<std::string> stack;
    QueueAddition::push(stack, root);
    while (std::optional<std::string> folder = QueueAddition::pop(stack)) {
        auto names = hvn::FileManager::contentsOfDirectoryAtPath(*folder);
        if (!names) continue;
        for (const std::string& name : *names) {
            std::string path = join(*folder, name);
            if (contains(name, bundleID) && hvn::FileManager::isReadableFileAtPath(path)) {
                out.push_back(path);
                continue;
            }
            struct stat st {};
            if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) QueueAddition::push(stack, path);
        }
    }
    return out;
}

bool HVNDeleteSelectedApp::canRemoveAppFiles(const std::vector<std::string>& paths) {
    if (paths.empty()) return false;
    std::vector<std::string> privileged;
    bool refused = false;
    for (const std::string& path : paths) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) continue;  // already gone
        if (hvn::FileManager::isDeletableFileAtPath(path)) {
            hvn::RemovalResult r = ReomveFile::removeItem(path);
            if (r.removed() || r.status == hvn::RemovalStatus::Missing) continue;
            hvn::Log::writef("HVNDeleteSelectedApp: %s", r.error.c_str());
            // A refusal of the removal gate is final: never handed to the privileged route.
            if (r.status == hvn::RemovalStatus::Refused) {
                refused = true;
                continue;
            }
        }
        privileged.push_back(path);
    }
    if (privileged.empty()) return !refused;
    std::map<std::string, std::string> left;
    std::vector<hvn::RemovalBatch::Request> batch;
    for (const auto& p : privileged) batch.push_back({p, std::nullopt});
    return ReomveFile::removeSystemFile(batch, false, &left) && left.empty() && !refused;
}

double HVNDeleteSelectedApp::folderSizeAtPath2(const std::string& path) {
    return HVNSearchApplications::folderSizeAtPath2(path);
}

int64_t HVNDeleteSelectedApp::fileSizeAtPath(const std::string& path) {
    return HVNSearchApplications::fileSizeAtPath(path);
}
