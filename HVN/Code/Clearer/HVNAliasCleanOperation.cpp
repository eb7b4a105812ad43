#include "HVN/Code/Clearer/HVNAliasCleanOperation.h"

#include <sys/stat.h>

#include <any>
#include <exception>
#include <set>
#include <utility>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/AliasResolver.h"
#include "Platform/BundleInfo.h"
#include "Platform/DirectoryWalker.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/Roots.h"
#include "Platform/Trash.h"

namespace {

struct Folder {
    std::string path;
    bool isRoot = false;
};

bool isBundleExtension(const std::string& name) {
    std::string ext = hvn::FileManager::pathExtension(name);
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return ext == "app" || ext == "framework";
}

bool isInside(const std::string& path, const std::string& folder) {
    return !folder.empty() && path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

// A trash of macOS (~/.Trash, /Volumes/X/.Trashes) or of the freedesktop rules: the volume
// trashes .Trash/$uid and .Trash-$uid contain "/.Trash" too; the home trash does not.
bool isInTrash(const std::string& path) {
    if (path.find("/.Trash") != std::string::npos) return true;
    return isInside(hvn::Roots::normalize(path), hvn::Roots::normalize(hvn::Trash::homeTrashDir()));
}

}  // namespace

std::vector<std::string> HVNAliasCleanOperation::searchRoots() {
    std::vector<std::string> roots{hvn::Roots::systemPath("/Applications")};
    const std::string home = hvn::Roots::home();
    for (const char* sub : {"/Applications", "/Downloads", "/Desktop", "/Documents", "/Pictures", "/Music",
                            "/Movies", "/MailCore", "/Public"}) {
        roots.push_back(home == "/" ? std::string(sub) : home + sub);
    }
    return roots;
}

void HVNAliasCleanOperation::main() {
    try {
        if (!isCancelled()) useQueueScanApp(searchRoots());
    } catch (const std::exception& e) {
        hvn::Log::writef("HVNAliasCleanOperation: scan abandoned: %s", e.what());
    } catch (...) {
        hvn::Log::writef("HVNAliasCleanOperation: scan abandoned");
    }
}

void HVNAliasCleanOperation::useQueueScanApp(const std::vector<std::string>& roots) {
    std::vector<Folder> stack;
    for (const auto& r : roots) stack.push_back({r, true});
    std::set<std::pair<dev_t, ino_t>> entered;
    std::vector<std::string> candidates;
    struct Listed {
        std::string name;
        hvn::DirectoryWalker::EntryType type;
    };
    std::vector<Listed> listing;

    while (!stack.empty()) {
        if (isCancelled()) return;
        Folder folder = std::move(stack.back());
        stack.pop_back();
        // A search root may be a link to the user's real folder; a folder found below never is
        // (it could have been replaced by one since it was listed).
        struct ::stat st;
        const int rc = folder.isRoot ? ::stat(folder.path.c_str(), &st) : ::lstat(folder.path.c_str(), &st);
        if (rc != 0 || !S_ISDIR(st.st_mode)) continue;
        if (!entered.emplace(st.st_dev, st.st_ino).second) continue;

        listing.clear();
        hvn::WalkOptions options;
        options.followStartLink = folder.isRoot;
        auto visited = hvn::DirectoryWalker::visitEntries(
            folder.path, false,
            [&](const hvn::DirectoryWalker::Entry& e) {
                listing.push_back({std::string(e.name()), e.type()});
                return hvn::DirectoryWalker::Visit::Continue;
            },
            options);
        if (!visited.opened) {
            hvn::Log::writef("HVNAliasCleanOperation: cannot list %s", folder.path.c_str());
            continue;
        }
        hvn::NotificationCenter::defaultCenter().post(kPathUpdateNotification, std::any(folder.path));

        const std::string prefix = folder.path == "/" ? folder.path : folder.path + "/";
        for (const auto& entry : listing) {
            if (isCancelled()) return;
            std::string path = prefix + entry.name;
            switch (entry.type) {
                case hvn::DirectoryWalker::EntryType::Directory:
                    if (!isBundleExtension(entry.name)) stack.push_back({std::move(path), false});
                    break;
                case hvn::DirectoryWalker::EntryType::File:
                    if (hvn::Alias::isAliasFile(path)) candidates.push_back(std::move(path));
                    break;
                default:  // links (to folders or not, broken or not) and special files
                    break;
            }
        }
    }
    if (isCancelled()) return;
    searchFinished(candidates);
}

void HVNAliasCleanOperation::searchFinished(const std::vector<std::string>& paths) {
    HVNNodeList results;
    for (const auto& path : paths) {
        if (isCancelled()) break;
        if (isValidAliasForPath(path)) continue;
        auto node = HVNScaneOuputObject::create();
        const std::string dir = HVNCommonFunction::getDirPathByPath(path);
        node->setName(hvn::FileManager::lastPathComponent(path));
        node->setDirPath(dir);
        node->setFilePath(path);
        node->fileSize = HVNCommonFunction::getFileSizeByPath(path);
        node->icon = hvn::BundleInfo::iconPath(path);
        node->isCheck = 1;
        node->moulde = module;
        struct ::stat st;
        if (::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            node->foundIn =
                hvn::FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
        }
        results.push_back(std::move(node));
    }
    if (delegate) delegate->finishScan(std::move(results), module);
    done.store(true);
}

bool HVNAliasCleanOperation::isValidAliasForPath(const std::string& path) const {
    hvn::Alias::Resolution r = hvn::Alias::resolve(path);
    return r.wasAlias && r.target && !isInTrash(*r.target);
}

std::optional<std::string> HVNAliasCleanOperation::getAliasForPath(const std::string& path) const {
    return hvn::Alias::resolve(path).target;
}
