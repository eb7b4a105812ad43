#include "HVN/Code/Clearer/HVNCleanRules.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <set>

#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"
#include "HVN/Code/Clearer/HVNCacheScanner.h"
#include "HVN/Code/Clearer/HVNCleanManager.h"
#include "HVN/Code/Clearer/HVNCookieBrowser.h"
#include "HVN/Code/Clearer/HVNLipo.h"
#include "HVN/Code/Clearer/HVNModuleInfo.h"
#include "HVN/Code/Clearer/HVNTrashCleanner.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/ReomveFile.h"
#include "HVN/Code/Setting/HVNWhiteListVC.h"
#include "HVN/Code/ToolBox/DiskPermissionsTool/DiskPermissionsTool.h"
#include "HVN/Code/ToolBox/Startup/LoginItemManager.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"

namespace {

using ResultMap = HVNCacheScanner::ResultMap;

bool isSoundPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return false;
    size_t start = 1;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        std::string_view part(path.data() + start, slash - start);
        if (part == "." || part == "..") return false;
        start = slash + 1;
    }
    return true;
}

void eraseNode(HVNNodeList& list, const HVNScaneOuputObjectPtr& node) {
    list.erase(std::remove(list.begin(), list.end(), node), list.end());
}

// Edits one module's list under the queue's lock; nothing when the module has no list.
void editList(HVNCacheScanner& queue, int32_t module, const std::function<void(HVNNodeList&)>& fn) {
    queue.editData([&](ResultMap& data) {
        auto it = data.find(module);
        if (it != data.end()) fn(it->second);
    });
}

HVNNodeList childrenOf(HVNCacheScanner& queue, const HVNScaneOuputObjectPtr& node) {
    HVNNodeList out;
    queue.readData([&](const ResultMap&) { out = node->children(); });
    return out;
}

using Outcome = HVNCleanContext::Outcome;

// Removes a node's own path; a node without a sound path is refused.
Outcome removeNode(HVNCleanContext& context, const HVNScaneOuputObject& node) {
    std::string path = HVNCleanRules::removablePathOfNode(node);
    if (path.empty()) {
        hvn::Log::writef("not removed (unsafe path): %s", HVNCleanRules::pathOfNode(node).c_str());
        return Outcome::Refused;
    }
    return context.remove(path, node.foundIn);
}

// Children rule shared by the group-aware and trash rules: removes the ticked children of
// one group; those removed leave it, and the group leaves the list when none is left.
// With removePaths, a child's extra paths (the trash's record of the entry) are removed
// after it, or handed on after it when the child itself is handed on.
void removeTickedChildren(HVNCacheScanner& queue, int32_t module, HVNCleanContext& context,
                          const HVNScaneOuputObjectPtr& group, const HVNNodeList& children,
                          bool withRemovePaths) {
    HVNNodeList removed;
    for (const auto& child : children) {
        if (!HVNCleanRules::isTicked(*child)) continue;
        Outcome outcome = removeNode(context, *child);
        if (withRemovePaths && child->removePaths && outcome != Outcome::Refused) {
            const std::string own = HVNCleanRules::pathOfNode(*child);
            for (const auto& extra : *child->removePaths) {
                if (extra == own) continue;
                if (outcome == Outcome::Failed) {
                    context.handOn(extra);
                } else if (context.remove(extra) != Outcome::Removed) {
                    // The entry stays listed until its record is gone too.
                    outcome = Outcome::Failed;
                }
            }
        }
        if (outcome == Outcome::Removed) removed.push_back(child);
    }
    if (removed.empty()) return;
    editList(queue, module, [&](HVNNodeList& list) {
        for (const auto& child : removed) group->removeObjectFromChildren(child);
        if (group->children().empty()) eraseNode(list, group);
    });
}

bool removeGroupAware(HVNCacheScanner& queue, int32_t module, HVNCleanContext& context) {
    const HVNNodeList tops = queue.resultFor(module).value_or(HVNNodeList{});
    for (const auto& top : tops) {
        if (context.stopRequested()) return false;
        HVNNodeList children = childrenOf(queue, top);
        if (!children.empty()) {
            removeTickedChildren(queue, module, context, top, children, false);
        } else if (HVNCleanRules::isTicked(*top) && removeNode(context, *top) == Outcome::Removed) {
            editList(queue, module, [&](HVNNodeList& list) { eraseNode(list, top); });
        }
    }
    return true;
}

bool removeFlat(HVNCacheScanner& queue, int32_t module, HVNCleanContext& context) {
    const HVNNodeList tops = queue.resultFor(module).value_or(HVNNodeList{});
    for (const auto& top : tops) {
        if (context.stopRequested()) return false;
        if (HVNCleanRules::isTicked(*top) && removeNode(context, *top) == Outcome::Removed) {
            editList(queue, module, [&](HVNNodeList& list) { eraseNode(list, top); });
        }
    }
    return true;
}

bool removeTrash(HVNCacheScanner& queue, int32_t module, HVNCleanContext& context) {
    const HVNNodeList tops = queue.resultFor(module).value_or(HVNNodeList{});
    bool finished = true;
    for (const auto& top : tops) {
        if (context.stopRequested()) {
            finished = false;
            break;
        }
        removeTickedChildren(queue, module, context, top, childrenOf(queue, top), true);
    }
    // The trashes' size caches must not keep lines of entries that are gone, also after a
    // stopped clean.
    if (!tops.empty()) HVNTrashCleanner::shareTrashCleanner().dropStaleDirectorySizes();
    return finished;
}

bool anyTicked(const HVNNodeList& list) {
    return std::any_of(list.begin(), list.end(), [](const HVNScaneOuputObjectPtr& n) {
        return n && HVNCleanRules::isTicked(*n);
    });
}

bool removeCookies(HVNCacheScanner& queue, int32_t module, HVNCleanContext& context) {
    const HVNNodeList list = queue.resultFor(module).value_or(HVNNodeList{});
    if (list.empty()) return true;
    std::vector<std::string> running = HVNCleanManager::hasBrowserRun();
    if (!running.empty() && anyTicked(list)) {
        hvn::NotificationCenter::defaultCenter().post(kCookieBrowserRunNotification, std::any(running));
    }
    std::unique_ptr<HVNWhiteListVC> own;
    HVNWhiteListVC* whiteList = context.manager() ? context.manager()->cookie.get() : nullptr;
    if (!whiteList) {
        own = std::make_unique<HVNWhiteListVC>();
        whiteList = own.get();
    } else {
        // The stores as they are now: the list was gathered when the object was made.
        whiteList->buildLists();
    }
    std::vector<HVNWhiteListVC::CleanFailure> failures;
    whiteList->cleanCookies(list, &failures);
    std::set<HVNScaneOuputObject*> failed;
    for (const auto& f : failures) {
        if (!f.node) continue;
        failed.insert(f.node.get());
        std::string key = HVNCleanRules::reportKeyOfNode(*f.node);
        hvn::Log::writef("cookies not removed: %s: %s", key.c_str(), f.reason.c_str());
        context.reportNotRemoved(key, f.reason);
    }
    editList(queue, module, [&](HVNNodeList& l) {
        l.erase(std::remove_if(l.begin(), l.end(),
                               [&](const HVNScaneOuputObjectPtr& n) {
                                   return HVNCleanRules::isTicked(*n) && !failed.count(n.get());
                               }),
                l.end());
    });
    return true;
}

bool removeViruses(HVNCacheScanner& queue, int32_t module, HVNCleanContext& context) {
    const HVNNodeList tops = queue.resultFor(module).value_or(HVNNodeList{});
    for (const auto& top : tops) {
        if (context.stopRequested()) return false;
        if (!HVNCleanRules::isTicked(*top)) continue;
        if (context.remove(top->filePath(), top->foundIn) == Outcome::Removed) {
            editList(queue, module, [&](HVNNodeList& list) { eraseNode(list, top); });
        }
    }
    return true;
}

bool removeBadCookies(HVNCacheScanner& queue, int32_t module, HVNCleanContext& context) {
    const HVNNodeList tops = queue.resultFor(module).value_or(HVNNodeList{});
    if (tops.empty()) return true;
    std::unique_ptr<HVNPathDBManager> own;
    HVNPathDBManager* db = context.manager() ? context.manager()->dbManager.get() : nullptr;
    if (!db) {
        own = std::make_unique<HVNPathDBManager>();
        db = own.get();
    }
    // The kept domains stay, here too: the user chose to keep them.
    std::vector<std::string> kept;
    if (context.manager() && context.manager()->cookie) {
        context.manager()->cookie->getCookiesKeepList();
        kept = context.manager()->cookie->keepCookiesRecord;
    }
    for (const auto& group : tops) {
        auto browser = HVNCookieBrowsers::fromName(group->name());
        if (!browser) continue;
        HVNNodeList ticked;
        for (const auto& child : childrenOf(queue, group)) {
            if (HVNCleanRules::isTicked(*child)) ticked.push_back(child);
        }
        if (ticked.empty()) continue;
        std::vector<HVNPathDBManager::CookieCleanFailure> failures;
        switch (*browser) {
            case HVNCookieBrowser::Safari:
                db->cleanSafariCookies(ticked, &failures, kept);
                break;
            case HVNCookieBrowser::Firefox:
                db->cleanFireFoxCookies(ticked, &failures, kept);
                break;
            case HVNCookieBrowser::Chrome:
                db->cleanChromeCookies(ticked, &failures, kept);
                break;
        }
        std::set<std::string> failedDomains;
        for (const auto& f : failures) failedDomains.insert(f.domain);
        HVNNodeList cleaned;
        for (const auto& child : ticked) {
            if (!failedDomains.count(child->cookieDomain)) {
                cleaned.push_back(child);
                continue;
            }
            std::string key = HVNCleanRules::reportKeyOfNode(*child);
            for (const auto& f : failures) {
                if (f.domain != child->cookieDomain) continue;
                hvn::Log::writef("cookies not removed: %s: %s", key.c_str(), f.reason.c_str());
                context.reportNotRemoved(key, f.reason);
                break;
            }
        }
        editList(queue, module, [&](HVNNodeList& list) {
            for (const auto& child : cleaned) group->removeObjectFromChildren(child);
            if (group->children().empty()) eraseNode(list, group);
        });
    }
    return true;
}

}  // namespace

HVNCleanServices HVNCleanServices::standard() {
    HVNCleanServices s;
    s.removeFile = [](const std::string& path, const std::optional<hvn::FileIdentity>& foundIn,
                      const hvn::RemovalGate& gate) { return ReomveFile::removeItem(path, foundIn, &gate); };
    s.removeSystemFile = [](const std::vector<hvn::RemovalBatch::Request>& batch, bool rewrite,
                            std::map<std::string, std::string>* notRemoved) {
        return ReomveFile::removeSystemFile(batch, rewrite, notRemoved);
    };
    s.stopClearSystemFile = [] { ReomveFile::stopClearSystemFile(); };
    s.isShredderFile = [] { return HVNCommonFunction::isShredderFile(); };
    s.startThinning = [](const std::string& executable, const std::string& arch, std::string* reason) {
        return HVNLipo::startThinning(executable, arch, reason);
    };
    s.lipoWithPrivileges = [](const std::vector<std::string>& executables) {
        return ReomveFile::lipoWithPrivileges(executables);
    };
    s.replaceItem = [](const std::string& target, const std::string& withItem) {
        return ReomveFile::replaceItemAtPath(target, withItem);
    };
    s.removeBreakLoginItems = [](const HVNNodeList& nodes) {
        return LoginItemManager::share().removeBreakLoginItemFromOuputObjs(nodes);
    };
    s.diskCheckHasIssue = [] { return DiskPermissionsTool::shareDiskPermissionsTool().issue(); };
    s.repairDiskPermission = [] { return DiskPermissionsTool::shareDiskPermissionsTool().repairDiskPermission(); };
    s.stopDiskPermissionsTool = [] { DiskPermissionsTool::shareDiskPermissionsTool().stop(); };
    return s;
}

HVNCleanContext::Outcome HVNCleanContext::remove(const std::string& path,
                                                 const std::optional<hvn::FileIdentity>& foundIn) {
    if (!isSoundPath(path)) {
        hvn::Log::writef("not removed (unsafe path): %s", path.c_str());
        notRemoved_[path] = "Refusing to remove " + path + ": the path is not absolute or holds \".\" or \"..\"";
        return Outcome::Refused;
    }
    struct stat st;
    // An entry that vanished since the scan is as good as removed.
    if (lstat(path.c_str(), &st) != 0 && errno == ENOENT) return Outcome::Removed;
    hvn::RemovalResult r;
    if (services_.removeFile) r = services_.removeFile(path, foundIn, gate_);
    if (r.status == hvn::RemovalStatus::Removed || r.status == hvn::RemovalStatus::Missing) return Outcome::Removed;
    std::string reason = r.error.empty() ? "Could not remove " + path : r.error;
    hvn::Log::write(reason);
    notRemoved_[path] = reason;
    if (r.status == hvn::RemovalStatus::Refused) return Outcome::Refused;
    failures_.push_back({path, foundIn});
    return Outcome::Failed;
}

hvn::RemovalResult HVNCleanContext::replace(const std::string& target, const std::string& withItem) {
    hvn::RemovalResult r;
    if (!isSoundPath(target) || !isSoundPath(withItem)) {
        r.status = hvn::RemovalStatus::Refused;
        r.error = "Refusing to remove " + target + ": the path is not absolute or holds \".\" or \"..\"";
    } else if (services_.replaceItem) {
        r = services_.replaceItem(target, withItem);
    } else {
        r.error = "Could not remove " + target + ": no replacement service";
    }
    if (!r.removed()) {
        std::string reason = r.error.empty() ? "Could not remove " + target : r.error;
        hvn::Log::write(reason);
        notRemoved_[target] = reason;
    }
    return r;
}

bool HVNCleanContext::thin(const std::string& executable, const std::string& arch, std::string* reason) {
    if (!isSoundPath(executable)) {
        if (reason) *reason = "Refusing to thin " + executable + ": the path is not absolute or holds \".\" or \"..\"";
        return false;
    }
    if (!services_.startThinning) {
        if (reason) *reason = "Could not thin " + executable + ": no thinning service";
        return false;
    }
    return services_.startThinning(executable, arch, reason);
}

void HVNCleanContext::thinWithPrivileges(const std::vector<std::string>& executables) {
    if (services_.lipoWithPrivileges) services_.lipoWithPrivileges(executables);
}

std::map<std::string, std::string> HVNCleanContext::removeLoginItems(const HVNNodeList& nodes) {
    if (services_.removeBreakLoginItems) return services_.removeBreakLoginItems(nodes);
    std::map<std::string, std::string> left;
    for (const auto& n : nodes) left[n->name()] = "Could not remove the login item " + n->name();
    return left;
}

bool HVNCleanContext::handOn(const std::string& path) {
    if (!isSoundPath(path)) {
        hvn::Log::writef("not removed (unsafe path): %s", path.c_str());
        return false;
    }
    failures_.push_back({path, std::nullopt});
    notRemoved_.emplace(path, "Could not remove " + path + ": it goes with an entry that could not be removed");
    return true;
}

std::string HVNCleanRules::pathOfNode(const HVNScaneOuputObject& node) {
    return node.dirPath() + "/" + node.name();
}

std::string HVNCleanRules::removablePathOfNode(const HVNScaneOuputObject& node) {
    std::string name = node.name();
    std::string dir = node.dirPath();
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return {};
    if (dir.empty() || dir[0] != '/') return {};
    std::string path = pathOfNode(node);
    return isSoundPath(path) ? path : std::string();
}

HVNModuleCleanRule HVNCleanRules::groupAwareRule() {
    return {removeGroupAware, pruneGroupAware};
}

HVNModuleCleanRule HVNCleanRules::flatRule() {
    return {removeFlat, pruneFlat};
}

HVNModuleCleanRule HVNCleanRules::trashRule() {
    return {removeTrash, pruneTickedChildren};
}

HVNModuleCleanRule HVNCleanRules::cookieRule() {
    return {removeCookies, pruneFlat};
}

HVNModuleCleanRule HVNCleanRules::virusRule() {
    return {removeViruses, pruneGroupAware};
}

HVNModuleCleanRule HVNCleanRules::badCookieRule() {
    return {removeBadCookies, pruneGroupAware};
}

std::string HVNCleanRules::reportKeyOfNode(const HVNScaneOuputObject& node) {
    if (node.moulde == 4 || node.moulde == 22) {
        if (auto browser = HVNCookieBrowsers::ofNode(node))
            return std::string(HVNCookieBrowsers::name(*browser)) + " cookies of " + node.cookieDomain;
    }
    if (node.moulde == 21 || node.moulde == 10) return node.filePath();
    if (node.moulde == 19) return "Disk Check";
    if (node.moulde == 18 && node.isLogin) return "Login item " + node.name();
    return pathOfNode(node);
}

namespace {

bool isLeftBehind(const HVNIsLeft& isLeft, const HVNScaneOuputObject& node) {
    return isLeft && isLeft(node);
}

// Ticked children leave their groups and groups left empty leave the list; with
// dropTickedLeaves, a ticked top node without children leaves it too. Nodes still there
// stay.
void pruneGroups(HVNNodeList& list, bool dropTickedLeaves, const HVNIsLeft& isLeft) {
    for (auto it = list.begin(); it != list.end();) {
        auto& top = *it;
        if (!top->children().empty()) {
            HVNNodeList children = top->children();
            for (const auto& child : children) {
                if (HVNCleanRules::isTicked(*child) && !isLeftBehind(isLeft, *child)) {
                    top->removeObjectFromChildren(child);
                }
            }
            if (top->children().empty()) {
                it = list.erase(it);
                continue;
            }
        } else if (dropTickedLeaves && HVNCleanRules::isTicked(*top) && !isLeftBehind(isLeft, *top)) {
            it = list.erase(it);
            continue;
        }
        ++it;
    }
}

}  // namespace

void HVNCleanRules::pruneGroupAware(HVNNodeList& list, const HVNIsLeft& isLeft) {
    pruneGroups(list, true, isLeft);
}

void HVNCleanRules::pruneFlat(HVNNodeList& list, const HVNIsLeft& isLeft) {
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const HVNScaneOuputObjectPtr& n) {
                                  return isTicked(*n) && !isLeftBehind(isLeft, *n);
                              }),
               list.end());
}

void HVNCleanRules::pruneTickedChildren(HVNNodeList& list, const HVNIsLeft& isLeft) {
    pruneGroups(list, false, isLeft);
}

const HVNModuleCleanRule* HVNCleanRules::ruleFor(int32_t module) {
    using M = HVNModuleInfo;
    static const std::map<int32_t, HVNModuleCleanRule> table = [] {
        std::map<int32_t, HVNModuleCleanRule> t;
        t[M::SystemCache] = groupAwareRule();
        t[M::UserCache] = groupAwareRule();
        for (int32_t id : {M::SystemLog, M::UserLog, M::InternetHistory, M::InternetSession, M::InternetCache,
                           M::IOSSoftwareUpdates, M::IOSPhotoCache, M::UserDownloads}) {
            t[id] = flatRule();
        }
        t[M::Trash] = trashRule();
        t[M::Cookies] = cookieRule();
        t[M::Virus] = virusRule();
        t[M::CookieVirus] = badCookieRule();
        t[M::LanguageFiles] = languageRule();
        t[M::IPhoto] = photoRule();
        t[M::UniversalBinaries] = binariesRule();
        t[M::ShortcutClean] = flatRule();
        t[M::Leftover] = flatRule();
        t[M::BrokenLoginItems] = loginItemRule();
        t[M::DiskCheck] = diskCheckRule();
        return t;
    }();
    auto it = table.find(module);
    return it == table.end() ? nullptr : &it->second;
}
