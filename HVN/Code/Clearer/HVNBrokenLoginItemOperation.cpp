#include "HVN/Code/Clearer/HVNBrokenLoginItemOperation.h"

#include <sys/stat.h>

#include <exception>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/ToolBox/Startup/LoginItemManager.h"
#include "Platform/BundleInfo.h"
#include "Platform/FileManager.h"
#include "Platform/LaunchdJob.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/Roots.h"

namespace {

// launchd's PATH for jobs that name their program without a folder.
constexpr const char* kLaunchdPath[] = {"/usr/bin", "/bin", "/usr/sbin", "/sbin"};

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string relativeRow(std::string row) {
    if (row.compare(0, 1, "~") == 0) row.erase(0, 1);
    while (!row.empty() && row.front() == '/') row.erase(0, 1);
    return row;
}

bool exists(const std::string& path) {
    struct ::stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::optional<hvn::FileIdentity> identityOfFolder(const std::string& path) {
    struct ::stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return hvn::FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

}  // namespace

HVNBrokenLoginItemOperation::HVNBrokenLoginItemOperation(HVNScanResultDelegate* delegate,
                                                         std::vector<std::string> loginItemPaths,
                                                         LoginItemManager* manager)
    : delegate(delegate), loginItemPaths(std::move(loginItemPaths)), manager_(manager) {}

void HVNBrokenLoginItemOperation::main() {
    if (isCancelled()) return;
    try {
        scanBrokenLoginItems();
    } catch (const std::exception& e) {
        hvn::Log::writef("Broken login item scan failed: %s", e.what());
    } catch (...) {
        hvn::Log::write("Broken login item scan failed");
    }
}

std::vector<std::string> HVNBrokenLoginItemOperation::getLoginItemPathes() const {
    std::vector<std::string> out;
    for (const auto& row : loginItemPaths) {
        std::string rel = relativeRow(row);
        if (rel.empty()) continue;
        out.push_back(hvn::Roots::homePath(rel));
        out.push_back(hvn::Roots::systemPath("/" + rel));
    }
    return out;
}

std::string HVNBrokenLoginItemOperation::locateJobProgram(const std::string& program) {
    if (program.empty()) return {};
    std::string located;
    if (program[0] == '/') {
        located = hvn::Roots::locateStoredPath(program);
    } else if (program.find('/') != std::string::npos) {
        located = hvn::Roots::homePath(program);
    } else {
        for (const char* dir : kLaunchdPath) {
            std::string candidate = hvn::Roots::systemPath(dir) + "/" + program;
            if (exists(candidate)) return candidate;
        }
        return {};
    }
    if (exists(located)) return located;
    // A job the startup tool switched off runs ".../program/disable".
    std::string last = hvn::FileManager::lastPathComponent(located);
    size_t slash = located.rfind('/');
    if (last.find("disable") != std::string::npos && slash != std::string::npos && slash > 0) {
        std::string parent = located.substr(0, slash);
        if (exists(parent)) return parent;
    }
    return {};
}

void HVNBrokenLoginItemOperation::scanBrokenLoginItems() {
    LoginItemManager& manager = manager_ ? *manager_ : LoginItemManager::share();
    HVNNodeList results;
    for (const auto& item : manager.scanBreakLoginItem()) {
        auto node = HVNCommonFunction::convertLoginItemToScanOutputObj(item);
        node->isCheck = 1;
        node->isLogin = true;
        node->fileSize = 0;
        results.push_back(node);
    }

    for (const auto& folder : getLoginItemPathes()) {
        auto names = hvn::FileManager::contentsOfDirectoryAtPath(folder);
        if (!names) continue;
        hvn::NotificationCenter::defaultCenter().post(kPathUpdateNotification, folder);
        auto folderIdentity = identityOfFolder(folder);
        for (const auto& name : *names) {
            if (isCancelled()) return;
            if (!endsWith(name, ".plist") || name == kFolderActionsList) continue;
            const std::string path = folder + "/" + name;
            hvn::LaunchdJob job;
            std::string error;
            auto status = hvn::LaunchdJob::readFile(path, &job, &error);
            if (status == hvn::LaunchdJob::ReadStatus::NotRegular ||
                status == hvn::LaunchdJob::ReadStatus::Missing) {
                continue;
            }
            bool broken = true;
            if (status == hvn::LaunchdJob::ReadStatus::Read) {
                if (auto program = job.executable()) broken = locateJobProgram(*program).empty();
            } else {
                hvn::Log::writef("Launch job list names no program: %s", error.c_str());
            }
            if (!broken) continue;
            auto node = HVNScaneOuputObject::create();
            node->setName(HVNCommonFunction::getFileNameByPath(path));
            node->setDirPath(folder);
            node->setFilePath(path);
            node->fileSize = 0;
            node->icon = hvn::BundleInfo::iconPath(path);
            node->isLogin = false;
            node->isCheck = 1;
            node->foundIn = folderIdentity;
            results.push_back(node);
        }
    }
    if (isCancelled()) return;
    if (delegate) delegate->finishScan(std::move(results), kModule);
}
