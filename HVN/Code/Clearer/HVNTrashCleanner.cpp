#include "HVN/Code/Clearer/HVNTrashCleanner.h"

#include <sys/stat.h>
#include <climits>
#include <cstdlib>
#include <unistd.h>

#include "Platform/DirectoryWalker.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/Roots.h"
#include "Platform/Trash.h"
#include "Platform/Volumes.h"

namespace {

constexpr const char* kMainHDName = "Macintosh HD";
constexpr const char* kMainHDIcon = "iconDisk";
constexpr const char* kVolumeIcon = "iconUDISK";

bool isRealFolder(const std::string& path) {
    struct ::stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string lastComponent(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto i = p.rfind('/');
    return i == std::string::npos ? p : p.substr(i + 1);
}

// The entries of a folder in listing order (empty when it cannot be listed).
std::vector<std::string> entryNames(const std::string& folder) {
    std::vector<std::string> names;
    hvn::DirectoryWalker::visitEntries(folder, false, [&](const hvn::DirectoryWalker::Entry& e) {
        names.emplace_back(e.name());
        return hvn::DirectoryWalker::Visit::Continue;
    });
    return names;
}

bool isInFolder(const std::string& path, const std::string& folder) {
    if (folder.empty()) return false;
    if (path == folder) return true;
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           (folder.back() == '/' || path[folder.size()] == '/');
}

}  // namespace

HVNTrashCleanner& HVNTrashCleanner::shareTrashCleanner() {
    static HVNTrashCleanner* shared = new HVNTrashCleanner;
    return *shared;
}

HVNTrashItemPtr HVNTrashCleanner::getTrashItemWithPath(const std::string& path,
                                                       const std::string& volumneName,
                                                       const std::string& icon,
                                                       std::optional<std::vector<std::string>> subTrashDir) {
    auto item = std::make_shared<HVNTrashItem>();
    item->trashRootDir = path;
    item->volumnName = volumneName;
    item->trashIcon = icon;
    item->trashSubDir = std::move(subTrashDir);
    item->trashSize = 0;
    return item;
}

namespace {

std::string realFolder(const std::string& path) {
    if (path.empty()) return path;
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

// The trash folders by where they really are (a home whose ~/.local is a link elsewhere,
// say), as the file scanner reports its entries, so that entries, records and folders agree.
HVNTrashItemPtr withRealFolders(HVNTrashItemPtr item) {
    item->trashRootDir = realFolder(item->trashRootDir);
    if (item->trashSubDir) {
        for (auto& s : *item->trashSubDir) s = realFolder(s);
    }
    for (auto& d : item->freedesktopTrashDirs) d = realFolder(d);
    return item;
}

}  // namespace

HVNTrashItemPtr HVNTrashCleanner::getTrashItemForVolumne(const std::string& volume, bool isMainHD) {
    return withRealFolders(trashItemForVolumne(volume, isMainHD));
}

HVNTrashItemPtr HVNTrashCleanner::trashItemForVolumne(const std::string& volume, bool isMainHD) {
    if (isMainHD) {
        // The home folder's own ".Trash" (a macOS-like home), then the freedesktop home trash.
        // Nothing else is a trash, however its name begins (".TrashKeep" is the user's).
        std::string macTrash;
        if (isRealFolder(joinPath(volume, ".Trash"))) macTrash = joinPath(volume, ".Trash");
        std::string fdTrash = hvn::Trash::homeTrashDir();
        std::string fdFiles = hvn::Trash::filesDir(fdTrash);
        bool hasFd = isRealFolder(fdTrash) && isRealFolder(fdFiles);
        if (hasFd && !macTrash.empty()) {
            auto item = getTrashItemWithPath(macTrash, kMainHDName, kMainHDIcon,
                                             std::vector<std::string>{macTrash, fdFiles});
            item->freedesktopTrashDirs.push_back(fdTrash);
            return item;
        }
        if (hasFd) {
            auto item =
                getTrashItemWithPath(fdTrash, kMainHDName, kMainHDIcon, std::vector<std::string>{fdFiles});
            item->freedesktopTrashDirs.push_back(fdTrash);
            return item;
        }
        return getTrashItemWithPath(macTrash, kMainHDName, kMainHDIcon, std::nullopt);
    }

    std::string root;
    std::vector<std::string> sub;
    // macOS: one folder per user inside ".Trashes", all of them.
    std::string macTrashes = joinPath(volume, ".Trashes");
    if (isRealFolder(macTrashes)) {
        root = macTrashes;
        // Only real folders: an entry that is a link could lead anywhere.
        for (const auto& n : entryNames(macTrashes)) {
            if (isRealFolder(joinPath(macTrashes, n))) sub.push_back(joinPath(macTrashes, n));
        }
    }
    // freedesktop: this user's trashes of the volume; their entries are in files/.
    std::vector<std::string> fdDirs;
    for (const auto& dir : hvn::Trash::volumeTrashDirs(volume, ::getuid())) {
        std::string files = hvn::Trash::filesDir(dir);
        if (!isRealFolder(files)) continue;
        if (root.empty()) root = dir;
        sub.push_back(files);
        fdDirs.push_back(dir);
    }
    if (root.empty()) return getTrashItemWithPath("", "", kVolumeIcon, std::nullopt);
    auto item = getTrashItemWithPath(root, lastComponent(volume), kVolumeIcon, std::move(sub));
    item->freedesktopTrashDirs = std::move(fdDirs);
    return item;
}

HVNTrashItemPtr HVNTrashCleanner::getMainHDTrashItem() {
    return getTrashItemForVolumne(hvn::Roots::home(), true);
}

std::vector<HVNTrashItemPtr> HVNTrashCleanner::getMountedVolumeTrasheItems() {
    std::vector<HVNTrashItemPtr> items;
    for (const auto& mount : hvn::Volumes::mountedRemovableMedia()) {
        auto item = getTrashItemForVolumne(mount, false);
        if (item->trashRootDir.empty()) continue;
        if (!hvn::FileManager::isReadableFileAtPath(item->trashRootDir) ||
            !hvn::FileManager::isWritableFileAtPath(item->trashRootDir)) {
            continue;
        }
        items.push_back(std::move(item));
    }
    return items;
}

std::vector<HVNTrashItemPtr> HVNTrashCleanner::getAllTrashItemsWithOutScanFiles() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!isTrashUpdate && hasList_) return trashItems_;
    }
    std::vector<HVNTrashItemPtr> items;
    items.push_back(getMainHDTrashItem());
    for (auto& v : getMountedVolumeTrasheItems()) items.push_back(std::move(v));
    std::lock_guard<std::mutex> lock(mutex_);
    trashItems_ = items;
    hasList_ = true;
    isTrashUpdate = false;
    return items;
}

std::vector<HVNTrashItemPtr> HVNTrashCleanner::trashItems() {
    std::lock_guard<std::mutex> lock(mutex_);
    return trashItems_;
}

std::vector<HVNScanInputObjectPtr> HVNTrashCleanner::getTrashPaths() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        isTrashUpdate = true;
    }
    std::vector<HVNScanInputObjectPtr> requests;
    auto request = [&](const std::string& path) {
        auto r = std::make_shared<HVNScanInputObject>();
        r->path = path;
        r->followLink = false;
        requests.push_back(std::move(r));
    };
    for (const auto& item : getAllTrashItemsWithOutScanFiles()) {
        if (item->trashSubDir && !item->trashSubDir->empty()) {
            for (const auto& s : *item->trashSubDir) request(s);
        } else if (!item->trashRootDir.empty()) {
            request(item->trashRootDir);
        }
    }
    return requests;
}

HVNNodeList HVNTrashCleanner::getTrashesByScanResult(const HVNNodeList& scanResult) {
    HVNNodeList groups;
    std::vector<bool> claimed(scanResult.size(), false);
    for (const auto& item : getAllTrashItemsWithOutScanFiles()) {
        std::vector<std::string> folders;
        if (item->trashSubDir && !item->trashSubDir->empty()) {
            folders = *item->trashSubDir;
        } else if (!item->trashRootDir.empty()) {
            folders.push_back(item->trashRootDir);
        }
        if (folders.empty()) continue;

        HVNNodeList entries;
        int64_t size = 0;
        for (size_t i = 0; i < scanResult.size(); ++i) {
            const auto& node = scanResult[i];
            if (!node || claimed[i]) continue;
            const std::string name = node->name();
            if (name.empty() || name[0] == '.') continue;
            const std::string dir = node->dirPath();
            const std::string path = joinPath(dir, name);
            bool mine = false;
            for (const auto& f : folders) {
                if (isInFolder(dir, f) || path == f) {
                    mine = true;
                    break;
                }
            }
            if (!mine) continue;
            claimed[i] = true;
            node->isCheck = 1;
            for (const auto& fd : item->freedesktopTrashDirs) {
                if (dir != hvn::Trash::filesDir(fd)) continue;
                std::string info = hvn::Trash::infoPathFor(fd, name);
                struct ::stat st;
                if (::lstat(info.c_str(), &st) == 0) node->removePaths = std::vector<std::string>{info};
                break;
            }
            size += node->fileSize;
            entries.push_back(node);
        }
        // An entry of a trash is something to empty even when it holds no bytes.
        if (entries.empty()) continue;
        auto group = HVNScaneOuputObject::create();
        group->setName(item->volumnName);
        group->setDirPath(item->trashRootDir);
        group->icon = item->trashIcon;
        group->setSubObjects(std::move(entries));
        group->fileSize = size;
        group->isCheck = 1;
        groups.push_back(std::move(group));
    }
    return groups;
}

bool HVNTrashCleanner::dropStaleDirectorySizes() {
    bool ok = true;
    for (const auto& item : trashItems()) {
        for (const auto& dir : item->freedesktopTrashDirs) {
            std::string error;
            if (!hvn::Trash::dropStaleDirectorySizes(dir, &error)) {
                hvn::Log::write(error);
                ok = false;
            }
        }
    }
    return ok;
}
