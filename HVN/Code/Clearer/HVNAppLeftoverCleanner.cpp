#include "HVN/Code/Clearer/HVNAppLeftoverCleanner.h"

#include <unicode/unistr.h>

#include <any>
#include <exception>
#include <set>
#include <utility>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/HVNSearchApplications.h"
#include "Platform/BundleInfo.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/Roots.h"
#include "Platform/Workspace.h"

namespace {

std::string upperCased(const std::string& text) {
    std::string out;
    icu::UnicodeString::fromUTF8(text).toUpper().toUTF8String(out);
    return out;
}

std::vector<std::string> pieces(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        size_t dot = text.find('.', start);
        out.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return out;
}

// The text without spaces, "-", "_" and ".", case-folded.
std::string squeezed(const std::string& text) {
    std::string kept;
    for (char c : text) {
        if (c != ' ' && c != '-' && c != '_' && c != '.') kept.push_back(c);
    }
    std::string out;
    icu::UnicodeString::fromUTF8(kept).foldCase().toUTF8String(out);
    return out;
}

bool beginsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string withoutRootPrefix(std::string path) {
    if (beginsWith(path, "~")) path.erase(0, 1);
    size_t i = path.find_first_not_of('/');
    return i == std::string::npos ? std::string() : path.substr(i);
}

bool isBelow(const std::string& path, const std::string& folder) {
    if (folder.empty() || folder == "/") return false;
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

}  // namespace

HVNAppLeftoverCleanner::HVNAppLeftoverCleanner(HVNScanResultDelegate* delegate,
                                               std::vector<std::string> relativePaths)
    : delegate(delegate), relativePaths(std::move(relativePaths)) {}

void HVNAppLeftoverCleanner::main() {
    try {
        if (!isCancelled()) scanAppLeftOver();
    } catch (const std::exception& e) {
        hvn::Log::writef("HVNAppLeftoverCleanner: scan abandoned: %s", e.what());
    } catch (...) {
        hvn::Log::write("HVNAppLeftoverCleanner: scan abandoned");
    }
}

std::vector<std::string> HVNAppLeftoverCleanner::getAppLeftOverPathes() const {
    std::vector<std::string> folders;
    for (const auto& row : relativePaths) {
        const std::string relative = withoutRootPrefix(row);
        if (relative.empty()) continue;  // a row naming a root itself is no folder of leftovers
        folders.push_back(hvn::Roots::homePath(relative));
        folders.push_back(hvn::Roots::systemPath("/" + relative));
    }
    return folders;
}

bool HVNAppLeftoverCleanner::matchAppNameWithFile(const std::string& name,
                                                  const HVNAppItemList& appItems) const {
    bool result = false;
    bool pieceFound = false;
    const std::vector<std::string> nameParts = pieces(name);
    for (const auto& app : appItems) {
        if (isCancelled()) return false;
        if (!app) continue;
        if ((!app->executableString.empty() &&
             HVNCommonFunction::containsIgnoringCase(name, app->executableString)) ||
            (!app->bundleID.empty() && HVNCommonFunction::containsIgnoringCase(name, app->bundleID)) ||
            (!app->name.empty() && HVNCommonFunction::containsIgnoringCase(app->name, name))) {
            return true;
        }
        if (pieceFound || nameParts.size() < 2) continue;
        const std::vector<std::string> idParts = pieces(app->bundleID);
        for (size_t i = 1; i < nameParts.size() && !pieceFound; ++i) {
            const std::string mine = upperCased(nameParts[i]);
            for (size_t j = 1; j < idParts.size(); ++j) {
                if (mine == upperCased(idParts[j])) {
                    pieceFound = true;
                    result = true;
                    break;
                }
            }
        }
    }
    return result;
}

bool HVNAppLeftoverCleanner::isOwnerUndecidable(const std::string& name, const HVNAppItemList& appItems) {
    std::string squeezedName;
    for (const auto& app : appItems) {
        if (!app || !app->bundleID.empty() || !app->executableString.empty()) continue;
        std::string appName = app->name.empty() ? hvn::FileManager::displayNameAtPath(app->path) : app->name;
        const std::string key = squeezed(appName);
        if (key.empty()) continue;
        if (squeezedName.empty()) squeezedName = squeezed(name);
        if (squeezedName.find(key) != std::string::npos) return true;
    }
    return false;
}

HVNAppItemList HVNAppLeftoverCleanner::runningApplicationClaimants() {
    HVNAppItemList claimants;
    for (const auto& running : hvn::Workspace::runningApplications()) {
        if (running.bundleIdentifier.empty()) continue;
        auto item = std::make_shared<HVNAppItem>();
        item->bundleID = running.bundleIdentifier;
        item->executableString = hvn::FileManager::lastPathComponent(running.executablePath);
        claimants.push_back(std::move(item));
    }
    return claimants;
}

void HVNAppLeftoverCleanner::scanAppLeftOver() {
    HVNAppItemList installed;
    if (applications_) {
        installed = *applications_;
    } else {
        HVNSearchApplications& search = HVNSearchApplications::shareHVNSearchApplications();
        search.waitFinish();
        installed = search.allApplications();
    }
    HVNNodeList result;
    if (installed.empty()) {
        hvn::Log::write("Leftover: no installed application is known, so no file can be judged a leftover");
        if (!isCancelled() && delegate) delegate->finishScan(std::move(result), kModule);
        return;
    }
    HVNAppItemList claimants = installed;
    for (auto& running : runningApplicationClaimants()) claimants.push_back(std::move(running));
    auto claimed = [&](const std::string& N) {
        return matchAppNameWithFile(N, claimants) || isOwnerUndecidable(N, installed);
    };

    const std::string home = hvn::Roots::home();
    std::vector<std::string> stack = getAppLeftOverPathes();
    std::set<std::pair<uint64_t, uint64_t>> listed;
    while (!stack.empty()) {
        const std::string F = std::move(stack.back());
        stack.pop_back();
        auto folder = hvn::FileManager::attributesOfItemAtPath(F, nullptr, true);
        if (!folder || !folder->isDirectory() || !listed.insert({folder->device, folder->inode}).second)
            continue;
        auto names = hvn::FileManager::contentsOfDirectoryAtPath(F);
        hvn::NotificationCenter::defaultCenter().post(kPathUpdateNotification, std::any(F));
        if (!names) continue;
        // The folder as the removal will find it (a final link not followed).
        std::optional<hvn::FileIdentity> foundIn;
        if (auto own = hvn::FileManager::attributesOfItemAtPath(F); own && own->isDirectory()) {
            foundIn = hvn::FileIdentity{own->device, own->inode};
        }
        const bool crashReports = HVNCommonFunction::containsIgnoringCase(F, "CrashReporter") &&
                                  (HVNCommonFunction::containsIgnoringCase(F, "Users/") || isBelow(F, home));

        for (const auto& N : *names) {
            if (isCancelled()) return;
            if (N == "org.postgresql.postgres.plist" || N == "org.cups.printers.plist" ||
                HVNCommonFunction::containsIgnoringCase(N, "corvane")) {
                continue;
            }
            const std::string P = joinPath(F, N);
            auto entry = hvn::FileManager::attributesOfItemAtPath(P);
            if (!entry || entry->isSymbolicLink()) continue;
            if (HVNCommonFunction::containsIgnoringCase(N, "com.apple") || beginsWith(N, ".")) continue;
            if (!beginsWith(N, "com.") && !beginsWith(N, "org.") && !beginsWith(N, "net.")) {
                if (entry->isDirectory() && !claimed(N)) stack.push_back(P);
                if (!crashReports) continue;
            }
            if (claimed(N)) continue;
            auto node = HVNScaneOuputObject::create();
            node->setName(N);
            node->setDirPath(F);
            node->setFilePath(P);
            node->fileSize = HVNCommonFunction::getFileSizeByPath(P);
            node->icon = hvn::BundleInfo::iconPath(P);
            node->isCheck = 1;
            node->foundIn = foundIn;
            result.push_back(std::move(node));
        }
    }
    if (isCancelled()) return;
    if (delegate) delegate->finishScan(std::move(result), kModule);
}
