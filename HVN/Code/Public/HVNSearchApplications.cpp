#include "HVN/Code/Public/HVNSearchApplications.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "HVN/Code/Public/ScanAndDeleteApp/QueueAddition.h"
#include "Platform/BundleInfo.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/MetadataQuery.h"
#include "Platform/Roots.h"
#include "Platform/UniformType.h"

namespace {

constexpr const char* kApplicationPredicate = "kMDItemContentTypeTree == 'com.apple.application-bundle'";

bool hasPrefix(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool isAppExtension(const std::string& ext) {
    return ext.size() == 3 && (ext[0] | 0x20) == 'a' && (ext[1] | 0x20) == 'p' && (ext[2] | 0x20) == 'p';
}

// The file manager's display name without extension: an application's display name has
// already lost its ".app"; any other name loses its last extension.
std::string displayNameWithoutExtension(const std::string& path) {
    std::string display = hvn::FileManager::displayNameAtPath(path);
    if (display != hvn::UniformType::lastPathComponent(path)) return display;
    return hvn::UniformType::deletingPathExtension(display);
}

std::string stringValue(const hvn::Dictionary& d, const char* key) {
    auto it = d.find(key);
    return it != d.end() && it->second.isString() ? it->second.asString() : std::string();
}

std::string folderSizeText(const std::string& path) {
    return hvn::format("%f", HVNSearchApplications::folderSizeAtPath2(path));
}

}  // namespace

HVNSearchApplications& HVNSearchApplications::shareHVNSearchApplications() {
    static HVNSearchApplications* shared = new HVNSearchApplications();
    return *shared;
}

HVNSearchApplications::HVNSearchApplications() = default;

HVNSearchApplications::~HVNSearchApplications() {
    std::unique_ptr<hvn::MetadataQuery> query;
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        query = std::move(query_);
    }
    if (query) query->stopQuery();
    query.reset();  // joins the gathering thread, and with it getAppInfo
    if (otherThread_.joinable()) otherThread_.join();
}

std::vector<std::string> HVNSearchApplications::applicationScopes() {
    std::vector<std::string> scopes = {hvn::Roots::systemPath("/Applications")};
    for (const char* rel :
         {"Applications", "Library/Input Methods", "Downloads", "Desktop", "Documents", "Public"}) {
        scopes.push_back(hvn::Roots::homePath(rel));
    }
    return scopes;
}

void HVNSearchApplications::searchApplications() {
    std::unique_ptr<hvn::MetadataQuery> previous;
    bool started = false;
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        if (doing_.load()) return;
        started_.store(true);
        doing_.store(true);
        done_.store(false);
        previous = std::move(query_);
        query_ = std::make_unique<hvn::MetadataQuery>();
        std::string error;
        if (!query_->setPredicateFormat(kApplicationPredicate, &error)) hvn::Log::write(error);
        query_->setSearchScopes(applicationScopes());
        hvn::MetadataQuery* query = query_.get();
        query_->setFinishHandler([this, query](size_t) {
            query->stopQuery();
            getAppInfo(query->results());  // on the query's background thread
        });
        started = query_->startQuery();
    }
    // The previous query's thread has left getAppInfo's locked part (doing_ was false);
    // joining it outside the lock lets it finish.
    previous.reset();
    if (!started) {
        hvn::Log::write("HVNSearchApplications: the application query could not start; listing the folders");
        getAppInfo({});
    }
}

HVNAppItemPtr HVNSearchApplications::itemFromMetadata(const hvn::MetadataItem& result) const {
    auto item = std::make_shared<HVNAppItem>();
    item->name =
        hvn::UniformType::deletingPathExtension(result.valueForAttribute(hvn::kMDItemFSName).asString());
    item->path = result.path();
    item->image = hvn::BundleInfo::iconPath(item->path);
    item->version = result.valueForAttribute(hvn::kMDItemVersion).asString();
    const hvn::Value& lastUsed = result.valueForAttribute(hvn::kMDItemLastUsedDate);
    if (lastUsed.isDate()) item->lastUseDate = lastUsed.asDate();
    item->executableString = result.valueForAttribute(hvn::kMDItemDisplayName).asString();
    const hvn::Value& size = result.valueForAttribute(hvn::kMDItemFSSize);
    if (size.isNull() || size.asInteger() == 0) {
        item->appSize = folderSizeText(item->path);
    } else {
        item->appSize = size.description();
    }
    item->bundleID = result.valueForAttribute(hvn::kMDItemCFBundleIdentifier).asString();
    item->isSystemApp = hasPrefix(item->bundleID, "com.apple");
    return item;
}

void HVNSearchApplications::getAppInfo(const std::vector<hvn::MetadataItem>& results) {
    HVNAppItemList apps;
    try {
        for (const auto& r : results) {
            if (r.path().empty()) continue;
            apps.push_back(itemFromMetadata(r));
        }
        if (apps.empty()) apps = useQueueScanApp(applicationScopes());
    } catch (const std::exception& e) {
        hvn::Log::writef("HVNSearchApplications: application search failed: %s", e.what());
    } catch (...) {
        hvn::Log::write("HVNSearchApplications: application search failed");
    }
    {
        // Under the control lock, so that a new search sees either a running one or an
        // ended one whose lists are in place.
        std::lock_guard<std::mutex> control(controlMutex_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            allTheApplicationPath_ = std::move(apps);
        }
        done_.store(true);
        doing_.store(false);
    }
    done_.notify_all();
}

void HVNSearchApplications::searchOtherTypeApp() {
    std::thread previous;
    bool started = false;
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        if (otherDoing_.load()) return;
        previous = std::move(otherThread_);
        otherStarted_.store(true);
        otherDoing_.store(true);
        otherDone_.store(false);
        try {
            otherThread_ = std::thread([this] { searchBackground(); });
            started = true;
        } catch (...) {
        }
    }
    if (previous.joinable()) previous.join();  // it has ended but for its last steps
    if (!started) {
        hvn::Log::write("HVNSearchApplications: could not start the plug-in search; searching here");
        searchBackground();
    }
}

void HVNSearchApplications::searchBackground() {
    try {
        HVNAppItemList plugins = search({hvn::Roots::homePath("Library/Internet Plug-Ins"),
                                         hvn::Roots::systemPath("/Library/Internet Plug-Ins")},
                                        "plugin");
        {
            std::lock_guard<std::mutex> lock(mutex_);
            plugIn_ = std::move(plugins);
        }
        HVNAppItemList panes = search({hvn::Roots::systemPath("/Library/PreferencePanes"),
                                       hvn::Roots::homePath("Library/PreferencePanes")},
                                      "prefPane");
        {
            std::lock_guard<std::mutex> lock(mutex_);
            preferences_ = std::move(panes);
        }
        HVNAppItemList widgetItems = search({hvn::Roots::homePath("Library/Widgets")}, "wdgt");
        {
            std::lock_guard<std::mutex> lock(mutex_);
            widgets_ = std::move(widgetItems);
        }
    } catch (...) {
        hvn::Log::write("HVNSearchApplications: plug-in search failed");
    }
    {
        std::lock_guard<std::mutex> control(controlMutex_);
        otherDone_.store(true);
        otherDoing_.store(false);
    }
    otherDone_.notify_all();
}

void HVNSearchApplications::waitFinish() {
    if (!started_.load()) searchApplications();
    while (!done_.load()) done_.wait(false);
}

void HVNSearchApplications::waitOtherTypeFinish() {
    if (!otherStarted_.load()) searchOtherTypeApp();
    while (!otherDone_.load()) otherDone_.wait(false);
}

HVNAppItemList HVNSearchApplications::allApplications() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return allTheApplicationPath_;
}

HVNAppItemList HVNSearchApplications::fileterSystemAppAndContentApp() const {
    HVNAppItemList out;
    for (const auto& item : allApplications()) {
        if (item->isSystemApp) continue;
        // Inside another bundle when a folder above it is an application bundle.
        std::string parent =
            item->path.substr(0, item->path.rfind('/') == std::string::npos ? 0 : item->path.rfind('/'));
        bool nested = false;
        while (!parent.empty() && parent != "/") {
            if (isAppExtension(hvn::UniformType::pathExtension(parent))) {
                nested = true;
                break;
            }
            size_t slash = parent.rfind('/');
            if (slash == std::string::npos) break;
            parent.resize(slash);
        }
        if (!nested) out.push_back(item);
    }
    return out;
}

HVNAppItemList HVNSearchApplications::allApp() const {
    return fileterSystemAppAndContentApp();
}

HVNAppItemList HVNSearchApplications::plugIn() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugIn_;
}

HVNAppItemList HVNSearchApplications::widgets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return widgets_;
}

HVNAppItemList HVNSearchApplications::preferences() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return preferences_;
}

std::map<std::string, HVNAppItemList> HVNSearchApplications::returnAllKindsOfAppData() const {
    return {{"allTheApplicationPath", allApp()},
            {"preferences", preferences()},
            {"widgets", widgets()},
            {"plugIn", plugIn()}};
}

HVNAppItemPtr HVNSearchApplications::appItem(const std::string& path) {
    auto item = std::make_shared<HVNAppItem>();
    item->path = path;
    item->name = displayNameWithoutExtension(path);
    item->image = hvn::BundleInfo::iconPath(path);
    std::optional<hvn::MetadataItem> md = hvn::MetadataQuery::itemForPath(path);
    hvn::Value size = md ? md->valueForAttribute(hvn::kMDItemFSSize) : hvn::Value();
    if (size.isNull() || size.asInteger() == 0 || size.asInteger() == 102) {
        // A plain folder has no size in the metadata (a package has its contents' sum).
        item->appSize = folderSizeText(path);
    } else {
        item->appSize = size.description();
    }
    if (md) {
        item->bundleID = md->valueForAttribute(hvn::kMDItemCFBundleIdentifier).asString();
        const hvn::Value& changed = md->valueForAttribute(hvn::kMDItemFSContentChangeDate);
        if (changed.isDate()) item->lastUseDate = changed.asDate();
    }
    return item;
}

HVNAppItemPtr HVNSearchApplications::commonAppitem(const std::string& path) {
    auto item = std::make_shared<HVNAppItem>();
    item->path = path;
    item->name = displayNameWithoutExtension(path);
    item->image = hvn::BundleInfo::iconPath(path);
    if (std::optional<hvn::Dictionary> info = hvn::BundleInfo::infoDictionary(path)) {
        item->bundleID = stringValue(*info, "CFBundleIdentifier");
        item->executableString = stringValue(*info, "CFBundleExecutable");
        item->version = stringValue(*info, "CFBundleShortVersionString");
    }
    item->isSystemApp = hasPrefix(item->bundleID, "com.apple.");
    item->isSystemAppString = item->isSystemApp ? "YES" : "NO";
    item->appSize = sizeTextForItem(path);
    if (auto attrs = hvn::FileManager::attributesOfItemAtPath(path))
        item->lastUseDate = attrs->modificationDate;
    return item;
}

HVNAppItemList HVNSearchApplications::useQueueScanApp(const std::vector<std::string>& scopes) {
    HVNAppItemList apps;
    for (const std::string& scope : scopes) {
        auto names = hvn::FileManager::contentsOfDirectoryAtPath(scope);
        if (!names) continue;
        for (const std::string& name : *names) {
            if (!isAppExtension(hvn::UniformType::pathExtension(name))) continue;
            std::string path = scope + "/" + name;
            bool isFolder = false;
            if (!hvn::FileManager::fileExistsAtPath(path, &isFolder) || !isFolder) continue;
            apps.push_back(commonAppitem(path));
        }
    }
    return apps;
}

HVNAppItemList HVNSearchApplications::search(const std::vector<std::string>& folders,
                                             const std::string& key) {
    HVNAppItemList items;
    for (const std::string& folder : folders) {
        auto names = hvn::FileManager::contentsOfDirectoryAtPath(folder);
        if (!names) continue;
        for (const std::string& name : *names) {
            std::string path = folder + "/" + name;
            if (!hvn::FileManager::isReadableFileAtPath(path)) continue;
            if (hvn::UniformType::pathExtension(name).find(key) == std::string::npos) continue;
            if (isSymbolLink(path)) continue;
            items.push_back(commonAppitem(path));
        }
    }
    return items;
}

double HVNSearchApplications::folderSizeAtPath2(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) return static_cast<double>(st.st_size);
    double total = 0;
    std::vector<std::string> stack = {path};
    while (auto folder = QueueAddition::pop(stack)) {
        int fd = ::open(folder->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            continue;
        }
        while (dirent* e = ::readdir(dir)) {
            const char* n = e->d_name;
            if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
            struct stat est {};
            if (::fstatat(::dirfd(dir), n, &est, AT_SYMLINK_NOFOLLOW) != 0) continue;
            total += static_cast<double>(est.st_size);
            if (S_ISDIR(est.st_mode)) QueueAddition::push(stack, *folder + "/" + n);
        }
        ::closedir(dir);
    }
    return total;
}

int64_t HVNSearchApplications::fileSizeAtPath(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) return 0;
    return st.st_size;
}

bool HVNSearchApplications::isSymbolLink(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) return true;
    // Finder information: type and creator (8 bytes), then the big-endian flags, of which
    // 0x8000 marks an alias.
    unsigned char finderInfo[32];
    ssize_t n = ::lgetxattr(path.c_str(), "user.com.apple.FinderInfo", finderInfo, sizeof finderInfo);
    if (n < 0) n = ::lgetxattr(path.c_str(), "com.apple.FinderInfo", finderInfo, sizeof finderInfo);
    if (n >= 10 && (finderInfo[8] & 0x80) != 0) return true;
    if (!S_ISREG(st.st_mode) || st.st_size < 16) return false;
    // A data-fork alias begins with "book\0\0\0\0mark\0\0\0\0".
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    char head[16];
    ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    static const char kMagic[16] = {'b', 'o', 'o', 'k', 0, 0, 0, 0, 'm', 'a', 'r', 'k', 0, 0, 0, 0};
    return got == 16 && std::memcmp(head, kMagic, 16) == 0;
}

std::string HVNSearchApplications::sizeTextForItem(const std::string& path) {
    auto attrs = hvn::FileManager::attributesOfItemAtPath(path);
    if (!attrs || attrs->isDirectory() || attrs->size == 102) return folderSizeText(path);
    return std::to_string(attrs->size);
}
