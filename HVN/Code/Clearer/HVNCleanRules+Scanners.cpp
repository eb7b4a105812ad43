// The clean rules of the modules whose entries are not plain files of a scan folder:
// language files (8), the photo library (10), universal binaries (13) and broken login
// items (18).
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "HVN/Code/Clearer/HVNCacheScanner.h"
#include "HVN/Code/Clearer/HVNCleanManager.h"
#include "HVN/Code/Clearer/HVNCleanRules.h"
#include "HVN/Code/Clearer/HVNLipo.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"

namespace {

using ResultMap = HVNCacheScanner::ResultMap;
using Outcome = HVNCleanContext::Outcome;

HVNNodeList listOf(HVNCacheScanner& queue, int32_t module) {
    return queue.resultFor(module).value_or(HVNNodeList{});
}

HVNNodeList childrenOf(HVNCacheScanner& queue, const HVNScaneOuputObjectPtr& node) {
    HVNNodeList out;
    queue.readData([&](const ResultMap&) { out = node->children(); });
    return out;
}

void dropFromList(HVNCacheScanner& queue, int32_t module, const std::set<HVNScaneOuputObject*>& gone) {
    if (gone.empty()) return;
    queue.editData([&](ResultMap& data) {
        auto it = data.find(module);
        if (it == data.end()) return;
        auto& list = it->second;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const HVNScaneOuputObjectPtr& n) { return gone.count(n.get()) > 0; }),
                   list.end());
    });
}

// Language files: every ticked application's localisation folders are removed one by one;
// an application leaves its language once one of its folders went, a language left without
// applications leaves the list.
bool removeLanguageFiles(HVNCacheScanner& queue, int32_t module, HVNCleanContext& context) {
    for (const auto& language : listOf(queue, module)) {
        if (context.stopRequested()) return false;
        HVNNodeList removed;
        for (const auto& app : childrenOf(queue, language)) {
            if (!HVNCleanRules::isTicked(*app) || !app->removePaths) continue;
            bool any = false;
            for (const auto& path : *app->removePaths) {
                if (context.remove(path) == Outcome::Removed) {
                    any = true;
                } else {
                    hvn::Log::writef("no remove %s", path.c_str());
                }
            }
            if (any) removed.push_back(app);
        }
        if (removed.empty()) continue;
        queue.editData([&](ResultMap& data) {
            for (const auto& app : removed) language->removeObjectFromChildren(app);
            auto it = data.find(module);
            if (it != data.end() && language->children().empty()) {
                auto& list = it->second;
                list.erase(std::remove(list.begin(), list.end(), language), list.end());
            }
        });
    }
    return true;
}

// Photo library: each ticked picture's master is replaced by its preview in one rename, so
// the picture is never lost; a refused or failed replacement leaves both files and the entry.
bool removePhotoMasters(HVNCacheScanner& queue, int32_t module, HVNCleanContext& context) {
    std::set<HVNScaneOuputObject*> replaced;
    bool finished = true;
    for (const auto& node : listOf(queue, module)) {
        if (context.stopRequested()) {
            finished = false;
            break;
        }
        if (!HVNCleanRules::isTicked(*node) || !node->prePath) continue;
        std::string master = node->filePath();
        hvn::RemovalResult r = context.replace(master, *node->prePath);
        if (r.removed()) replaced.insert(node.get());
    }
    dropFromList(queue, module, replaced);
    return finished;
}

// Universal binaries: each ticked application's executable is thinned to the machine's
// architecture in place (started, not awaited) when this process may change it; the others
// go to the privileged route in one call and stay listed.
bool thinBinaries(HVNCacheScanner& queue, int32_t module, HVNCleanContext& context) {
    const std::string arch = HVNCommonFunction::getPCArchitecture();
    std::vector<std::string> privileged;
    std::set<HVNScaneOuputObject*> started;
    for (const auto& node : listOf(queue, module)) {
        if (!HVNCleanRules::isTicked(*node)) continue;
        std::string bundle = HVNCleanRules::pathOfNode(*node);
        std::string executable = HVNLipo::executableOfBundle(bundle);
        if (executable.empty()) {
            context.reportNotRemoved(bundle, "Could not thin " + bundle + ": the application has no executable");
            continue;
        }
        if (!hvn::FileManager::isDeletableFileAtPath(executable)) {
            privileged.push_back(executable);
            context.reportNotRemoved(bundle, "Could not thin " + bundle +
                                                 ": its executable needs administrator rights to be changed");
            continue;
        }
        std::string reason;
        if (context.thin(executable, arch, &reason)) {
            started.insert(node.get());
        } else {
            hvn::Log::write(reason);
            context.reportNotRemoved(bundle, reason);
        }
    }
    context.thinWithPrivileges(privileged);
    dropFromList(queue, module, started);
    return true;
}

// Broken login items: the ticked login items go back to the login item list in one call and
// leave the results; the ticked launchd property lists are removed as files.
bool removeBrokenLoginItems(HVNCacheScanner& queue, int32_t module, HVNCleanContext& context) {
    HVNNodeList loginItems;
    std::set<HVNScaneOuputObject*> gone;
    for (const auto& node : listOf(queue, module)) {
        if (!HVNCleanRules::isTicked(*node)) continue;
        if (node->isLogin) {
            loginItems.push_back(node);
            continue;
        }
        std::string path = HVNCleanRules::removablePathOfNode(*node);
        if (path.empty()) {
            hvn::Log::writef("not removed (unsafe path): %s", HVNCleanRules::pathOfNode(*node).c_str());
            continue;
        }
        if (context.remove(path, node->foundIn) == Outcome::Removed) gone.insert(node.get());
    }
    if (!loginItems.empty()) {
        std::map<std::string, std::string> failures = context.removeLoginItems(loginItems);
        for (const auto& node : loginItems) {
            auto it = failures.find(node->name());
            if (it == failures.end()) {
                gone.insert(node.get());
            } else {
                context.reportNotRemoved(HVNCleanRules::reportKeyOfNode(*node), it->second);
            }
        }
    }
    dropFromList(queue, module, gone);
    return true;
}

void pruneNothing(HVNNodeList&, const HVNIsLeft&) {}

}  // namespace

HVNModuleCleanRule HVNCleanRules::languageRule() {
    return {removeLanguageFiles, pruneTickedChildren};
}

HVNModuleCleanRule HVNCleanRules::photoRule() {
    return {removePhotoMasters, pruneNothing};
}

HVNModuleCleanRule HVNCleanRules::binariesRule() {
    return {thinBinaries, pruneFlat};
}

HVNModuleCleanRule HVNCleanRules::loginItemRule() {
    return {removeBrokenLoginItems, pruneFlat};
}

HVNModuleCleanRule HVNCleanRules::diskCheckRule() {
    return {[](HVNCacheScanner&, int32_t, HVNCleanContext&) { return true; }, pruneNothing};
}
