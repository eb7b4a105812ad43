#include "HVN/Code/Clearer/HVNScanFileOperation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/unistr.h>

#include <exception>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/HVNSearchApplications.h"
#include "Platform/DirectoryWalker.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/RemovalGate.h"
#include "Platform/Roots.h"

namespace {

using hvn::DirectoryWalker;

// Progress ("PathUpdate") from inside a folder-size walk: one posting per this many entries.
constexpr uint64_t kPathUpdateEvery = 2048;

std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string withoutTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::string lastComponent(const std::string& p) {
    auto i = p.rfind('/');
    return i == std::string::npos ? p : p.substr(i + 1);
}

std::string folderOf(const std::string& p) {
    auto i = p.rfind('/');
    if (i == std::string::npos) return "";
    if (i == 0) return "/";
    return p.substr(0, i);
}

std::string caseFolded(const std::string& s) {
    std::string out;
    icu::UnicodeString::fromUTF8(s).foldCase().toUTF8String(out);
    return out;
}

// An empty key filters nothing, like a missing one.
const std::string* keyOf(const HVNScanInputObject& request) {
    return request.key && !request.key->empty() ? &*request.key : nullptr;
}

}  // namespace

HVNScanFileOperation::HVNScanFileOperation(std::vector<HVNScanInputObjectPtr> inputObjs, int32_t module,
                                           HVNScanResultDelegate* delegate)
    : inputObjs(std::move(inputObjs)), module(module), delegate(delegate) {}

void HVNScanFileOperation::setBrowserCacheRows(std::vector<HVNScanInputObjectPtr> rows) {
    browserRows_ = std::move(rows);
}

void HVNScanFileOperation::setApplications(std::vector<Application> applications) {
    applicationsOverride_ = std::move(applications);
    folded_.reset();
}

void HVNScanFileOperation::main() {
    try {
        if (!isCancelled()) scanFiles();
    } catch (const std::exception& e) {
        hvn::Log::writef("HVNScanFileOperation %d: scan abandoned: %s", module, e.what());
    } catch (...) {
        hvn::Log::writef("HVNScanFileOperation %d: scan abandoned", module);
    }
}

void HVNScanFileOperation::postPathUpdate(const std::string& path) const {
    hvn::NotificationCenter::defaultCenter().post(kPathUpdateNotification, std::any(path));
}

const std::vector<HVNScanInputObjectPtr>& HVNScanFileOperation::browserCacheRows() {
    if (!browserRows_) browserRows_ = HVNCommonFunction::broswerChahePath();
    return *browserRows_;
}

// Where a request's walk starts: the real location of its path (so that every node names
// its item without a link on the way), or nothing when the path must not be scanned.
std::optional<std::string> HVNScanFileOperation::startOfRequest(const HVNScanInputObject& request,
                                                                const hvn::RemovalGate& gate) const {
    const std::string path = withoutTrailingSlashes(request.path);
    struct ::stat st;
    if (path.empty() || path[0] != '/' || ::lstat(path.c_str(), &st) != 0) return std::nullopt;
    if (S_ISLNK(st.st_mode) && !request.followLink) {
        hvn::Log::writef("not scanned: %s is a symbolic link", path.c_str());
        return std::nullopt;
    }
    std::string real;
    std::string refusal = gate.refusalForScanFolder(path, &real);
    if (!refusal.empty()) {
        hvn::Log::writef("not scanned: %s: %s", path.c_str(), refusal.c_str());
        return std::nullopt;
    }
    if (real.empty()) return std::nullopt;
    return real;
}

void HVNScanFileOperation::scanFiles() {
    HVNNodeList result;
    indexedList_ = nullptr;
    const uint32_t mod = static_cast<uint32_t>(module);
    const hvn::RemovalGate gate = hvn::RemovalGate::forCurrentRoots();

    for (const auto& request : inputObjs) {
        if (!request) continue;
        std::optional<std::string> start = startOfRequest(*request, gate);
        if (!start) continue;
        const std::string* key = keyOf(*request);
        const bool isCheck = request->isCheck;
        // A recursive walk stays on the mount of its start: what is mounted below a rule
        // folder is not the rule's.
        std::optional<hvn::ItemStatus> startStatus = hvn::itemStatusAt(AT_FDCWD, start->c_str());
        if (!startStatus) continue;
        std::vector<std::string> stack{*start};
        const std::string requestBase = hvn::Roots::normalize(request->path);

        while (!stack.empty()) {
            const std::string P = std::move(stack.back());
            stack.pop_back();
            postPathUpdate(P);

            struct ::stat st;
            if (::lstat(P.c_str(), &st) != 0) continue;
            if (!S_ISDIR(st.st_mode)) {
                if (S_ISLNK(st.st_mode) && P != *start) continue;  // a folder replaced by a link
                const std::string N = lastComponent(P);
                if (N.empty() || N[0] == '.') continue;
                if (key && N.find(*key) == std::string::npos) continue;
                std::optional<hvn::FileIdentity> folder;
                if (auto f = hvn::itemStatusAt(AT_FDCWD, folderOf(P).c_str())) folder = f->identity;
                if (mod > 1) {
                    addNode(result, folderOf(P), N, st.st_size, isCheck, false, folder);
                } else {
                    addCacheNode(result, folderOf(P), N, st.st_size, isCheck, false, folder);
                }
                continue;
            }

            bool cancelled = false;
            hvn::WalkOptions listing;
            listing.noLinksOnPath = true;
            std::optional<hvn::FileIdentity> foundIn;
            bool foundInRead = false;
            DirectoryWalker::visitEntries(
                P, false,
                [&](const DirectoryWalker::Entry& e) {
                    if (isCancelled()) {
                        cancelled = true;
                        return DirectoryWalker::Visit::Stop;
                    }
                    if (!foundInRead) {
                        foundInRead = true;
                        if (auto f = hvn::itemStatusAt(e.folderFd(), "")) foundIn = f->identity;
                    }
                    const std::string E(e.name());
                    const bool isDir = e.isDirectory();
                    if (isDir && request->recursion) {
                        auto sub = hvn::itemStatusAt(e.folderFd(), E.c_str());
                        if (sub && sub->isDirectory() && sub->mountId == startStatus->mountId && !sub->mountRoot) {
                            stack.push_back(joinPath(P, E));
                        }
                        return DirectoryWalker::Visit::Continue;
                    }
                    if (E[0] == '.') return DirectoryWalker::Visit::Continue;

                    if (!key && mod == 1) {
                        const auto& rows = browserCacheRows();
                        const std::string F = joinPath(P, E);
                        // The rows name the folder as the rule does (through a linked home,
                        // say), the walk where it really is.
                        int64_t row = searchPathInBrowserCache(rows, F);
                        if (row == kNotFound && requestBase != *start && F.rfind(*start + "/", 0) == 0) {
                            row = searchPathInBrowserCache(rows, requestBase + F.substr(start->size()));
                        }
                        if (row != kNotFound) {
                            const std::string* keep = keyOf(*rows[static_cast<size_t>(row)]);
                            if (keep && !scanBrowserCacheFolder(result, F, *keep, isCheck, e.folderFd(), E)) {
                                cancelled = true;
                                return DirectoryWalker::Visit::Stop;
                            }
                            return DirectoryWalker::Visit::Continue;
                        }
                    }
                    if (key && E.find(*key) == std::string::npos) return DirectoryWalker::Visit::Continue;

                    int64_t size = 0;
                    if (isDir) {
                        size = directorySizeAt(e.folderFd(), P, E);
                        if (size < 0) return DirectoryWalker::Visit::Continue;  // vanished
                    } else {
                        const struct ::stat* est = e.stat();
                        if (!est) return DirectoryWalker::Visit::Continue;  // vanished
                        size = est->st_size;
                    }
                    if (!key && mod == 0) {
                        addCacheNode(result, P, E, size, isCheck, isDir, foundIn);
                    } else {
                        addNode(result, P, E, size, isCheck, isDir, foundIn);
                    }
                    return DirectoryWalker::Visit::Continue;
                },
                listing);
            if (cancelled || isCancelled()) return;
        }
    }
    if (isCancelled()) return;
    indexedList_ = nullptr;
    if (delegate) delegate->finishScan(std::move(result), module);
}

bool HVNScanFileOperation::scanBrowserCacheFolder(HVNNodeList& result, const std::string& folder,
                                                  const std::string& keep, bool isCheck, int parentFd,
                                                  const std::string& name) {
    bool cancelled = false;
    hvn::WalkOptions listing;
    listing.noLinksOnPath = true;
    std::optional<hvn::FileIdentity> foundIn;
    if (auto f = hvn::itemStatusAt(parentFd, name.c_str()); f && f->isDirectory()) foundIn = f->identity;
    DirectoryWalker::visitEntries(
        folder, false,
        [&](const DirectoryWalker::Entry& e) {
            if (isCancelled()) {
                cancelled = true;
                return DirectoryWalker::Visit::Stop;
            }
            const std::string C(e.name());
            if (C == keep) return DirectoryWalker::Visit::Continue;
            int64_t size = 0;
            if (e.isDirectory()) {
                size = directorySizeAt(e.folderFd(), folder, C);
                if (size < 0) return DirectoryWalker::Visit::Continue;
            } else {
                const struct ::stat* st = e.stat();
                if (!st) return DirectoryWalker::Visit::Continue;
                size = st->st_size;
            }
            addNode(result, folder, C, size, isCheck, e.isDirectory(), foundIn);
            return DirectoryWalker::Visit::Continue;
        },
        listing);
    return !cancelled;
}

int64_t HVNScanFileOperation::directorySize(const std::string& path) {
    postPathUpdate(path);
    hvn::WalkOptions options;
    options.shouldStop = [this] { return isCancelled(); };
    options.progressEvery = kPathUpdateEvery;
    options.progress = [this](std::string_view folder, uint64_t) { postPathUpdate(std::string(folder)); };
    return static_cast<int64_t>(DirectoryWalker::totalSize(path, options).bytes);
}

// The size of the folder `name` inside the open folder `folderFd`; -1 when it is gone (or
// was replaced by something that is not a folder) by the time it is opened.
int64_t HVNScanFileOperation::directorySizeAt(int folderFd, const std::string& folder,
                                              const std::string& name) {
    const std::string path = joinPath(folder, name);
    postPathUpdate(path);
    hvn::WalkOptions options;
    options.shouldStop = [this] { return isCancelled(); };
    options.progressEvery = kPathUpdateEvery;
    options.progress = [this](std::string_view f, uint64_t) { postPathUpdate(std::string(f)); };
    hvn::SizeResult r = DirectoryWalker::totalSizeAt(folderFd, name.c_str(), folder, options);
    if (!r.opened && r.unreadableFolders == 0) return -1;
    return static_cast<int64_t>(r.bytes);
}

int64_t HVNScanFileOperation::searchPathInBrowserCache(const std::vector<HVNScanInputObjectPtr>& rows,
                                                       const std::string& path) {
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] && rows[i]->path == path) return static_cast<int64_t>(i);
    }
    return kNotFound;
}

int64_t HVNScanFileOperation::searchObjectInArray(const std::string& name, const HVNNodeList& array) {
    for (size_t i = 0; i < array.size(); ++i) {
        if (array[i] && array[i]->name() == name) return static_cast<int64_t>(i);
    }
    return kNotFound;
}

int64_t HVNScanFileOperation::findByName(const HVNNodeList& result, const std::string& name) {
    // The scan may add hundreds of thousands of nodes to one list; a name index keeps the
    // grouping linear. It follows the list as it grows and is rebuilt for another list.
    if (indexedList_ != &result || indexedCount_ > result.size()) {
        indexedList_ = &result;
        indexedCount_ = 0;
        nameIndex_.clear();
    }
    for (; indexedCount_ < result.size(); ++indexedCount_) {
        if (result[indexedCount_]) nameIndex_.emplace(result[indexedCount_]->name(), indexedCount_);
    }
    auto it = nameIndex_.find(name);
    return it == nameIndex_.end() ? kNotFound : static_cast<int64_t>(it->second);
}

const std::vector<HVNScanFileOperation::FoldedApplication>& HVNScanFileOperation::applications() {
    if (!folded_) {
        std::vector<Application> apps;
        if (applicationsOverride_) {
            apps = *applicationsOverride_;
        } else {
            apps = installedApplications();
        }
        folded_.emplace();
        folded_->reserve(apps.size());
        for (auto& a : apps) {
            FoldedApplication f;
            f.fileName = lastComponent(withoutTrailingSlashes(a.path));
            f.foldedFileName = caseFolded(f.fileName);
            f.foldedExecutable = caseFolded(a.executableString);
            f.app = std::move(a);
            folded_->push_back(std::move(f));
        }
    }
    return *folded_;
}

std::vector<HVNScanFileOperation::Application> HVNScanFileOperation::installedApplications() {
    // The list as it stands: the clean manager waits for the search before it scans, and
    // an icon is only for display, so the scanner never waits (nor starts a search) itself.
    std::vector<Application> apps;
    for (const auto& item : HVNSearchApplications::shareHVNSearchApplications().allApplications()) {
        if (item) apps.push_back({item->path, item->executableString, item->bundleID});
    }
    return apps;
}

std::string HVNScanFileOperation::iconPathFor(const std::string& dirPath, const std::string& name,
                                              bool isDir) {
    std::string iconPath = joinPath(dirPath, name);
    if (static_cast<uint32_t>(module) > 3) return iconPath;
    // A package is a folder with a package extension; the caller knows whether it is a folder.
    if (isDir && hvn::FileManager::isPackageExtension(hvn::FileManager::pathExtension(name))) return iconPath;
    const auto dot = name.rfind('.');
    const std::string T = dot == std::string::npos ? name : name.substr(dot + 1);
    std::optional<std::string> foldedName;
    for (const auto& a : applications()) {
        if (isCancelled()) break;
        if (!a.fileName.empty() && a.fileName == T) return a.app.path;
        if (!a.app.executableString.empty() && a.app.executableString == T) return a.app.path;
        if (!a.app.bundleID.empty() && a.app.bundleID == name) return a.app.path;
        if (!foldedName) foldedName = caseFolded(name);
        if ((!a.foldedFileName.empty() && foldedName->find(a.foldedFileName) != std::string::npos) ||
            (!a.foldedExecutable.empty() && foldedName->find(a.foldedExecutable) != std::string::npos)) {
            iconPath = a.app.path;  // a later match may still override it
        }
    }
    return iconPath;
}

void HVNScanFileOperation::addNode(HVNNodeList& result, const std::string& dirPath, const std::string& name,
                                   int64_t fileSize, bool isCheck, bool isDir,
                                   const std::optional<hvn::FileIdentity>& foundIn) {
    auto node = HVNScaneOuputObject::create();
    node->setDirPath(dirPath);
    node->foundIn = foundIn;
    node->setName(name);
    node->fileSize = fileSize;
    node->isDir = isDir;
    node->icon = iconPathFor(dirPath, name, isDir);
    node->isCheck = isCheck ? 1 : 0;
    result.push_back(std::move(node));
}

void HVNScanFileOperation::addCacheNode(HVNNodeList& result, const std::string& dirPath,
                                        const std::string& name, int64_t fileSize, bool isCheck, bool isDir,
                                        const std::optional<hvn::FileIdentity>& foundIn) {
    auto makeNode = [&](const std::string& folder, int64_t size, bool dir,
                        const std::optional<hvn::FileIdentity>& in) {
        auto n = HVNScaneOuputObject::create();
        n->setDirPath(folder);
        n->foundIn = in;
        n->setName(name);
        n->fileSize = size;
        n->isDir = dir;
        n->icon = joinPath(folder, name);
        n->isCheck = isCheck ? 1 : 0;
        return n;
    };
    int64_t found = findByName(result, name);
    if (found == kNotFound) {
        result.push_back(makeNode(dirPath, fileSize, isDir, foundIn));
        return;
    }
    auto& group = result[static_cast<size_t>(found)];
    if (!group->subObjects || group->subObjects->empty()) {
        group->subObjects = std::make_shared<HVNNodeList>();
        group->subObjects->reserve(4);
        group->insertObject(makeNode(group->dirPath(), group->fileSize, group->isDir, group->foundIn), 0);
        group->setDirPath(std::nullopt);
        group->foundIn.reset();
    }
    group->fileSize += fileSize;
    group->insertObject(makeNode(dirPath, fileSize, isDir, foundIn), group->subObjects->size());
}

void HVNScanFileOperation::addScanObj(HVNNodeList& result, const std::string& dirPath,
                                      const std::string& name, int64_t fileSize, bool isCheck) {
    bool isDir = false;
    hvn::FileManager::fileExistsAtPath(joinPath(dirPath, name), &isDir, false);
    addNode(result, dirPath, name, fileSize, isCheck, isDir, std::nullopt);
}

void HVNScanFileOperation::addScanCacheObj(HVNNodeList& result, const std::string& dirPath,
                                           const std::string& name, int64_t fileSize, bool isCheck) {
    bool isDir = false;
    hvn::FileManager::fileExistsAtPath(joinPath(dirPath, name), &isDir, false);
    addCacheNode(result, dirPath, name, fileSize, isCheck, isDir, std::nullopt);
}
