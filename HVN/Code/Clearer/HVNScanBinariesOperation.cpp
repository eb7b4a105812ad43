#include "HVN/Code/Clearer/HVNScanBinariesOperation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <any>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>

#include "HVN/Code/Clearer/HVNLipo.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/BundleInfo.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/Roots.h"

namespace {

struct KnownArchitecture {
    const char* name;
    int32_t cputype;
};

constexpr KnownArchitecture kKnownArchitectures[] = {
    {"i386", 7},
    {"ppc", 18},
    {"x86_64", 0x01000007},
    {"ppc64", 0x01000012},
};

// The logical length of the file at path (a final link followed), 0 when it cannot be read.
int64_t lengthOf(const std::string& path) {
    auto attributes = hvn::FileManager::attributesOfItemAtPath(path, nullptr, true);
    return attributes ? attributes->size : 0;
}

std::string describe(const HVNNodeList& results) {
    std::string text = "(";
    for (size_t i = 0; i < results.size(); ++i) {
        const auto& node = results[i];
        text += i ? ",\n    " : "\n    ";
        text += hvn::format("{dirPath = \"%s\"; name = \"%s\"; fileSize = %lld}", node->dirPath().c_str(),
                            node->name().c_str(), static_cast<long long>(node->fileSize));
    }
    text += results.empty() ? ")" : "\n)";
    return text;
}

}  // namespace

std::vector<int32_t> HVNScanBinariesOperation::removableCpuTypes(const std::string& machine) {
    std::vector<int32_t> types;
    for (const auto& a : kKnownArchitectures) {
        if (!HVNCommonFunction::containsIgnoringCase(a.name, machine)) types.push_back(a.cputype);
    }
    return types;
}

std::optional<int32_t> HVNScanBinariesOperation::cpuTypeOfMachine(const std::string& machine) {
    for (const auto& a : kKnownArchitectures) {
        if (machine == a.name) return a.cputype;
    }
    return std::nullopt;
}

int64_t HVNScanBinariesOperation::estimatedSaving(const std::string& executable, const std::string& machine) {
    const int64_t whole = lengthOf(executable);
    if (!hvn::FileManager::isDeletableFileAtPath(executable)) return whole;

    // The trial copy goes into a folder of our own, never beside the executable, where a
    // file of the output's name could belong to the user.
    std::error_code ec;
    std::string folder = (std::filesystem::temp_directory_path(ec) / "halvorn-lipo-XXXXXX").string();
    if (ec) folder = "/tmp/halvorn-lipo-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        hvn::Log::writef("HVNScanBinariesOperation: no scratch folder for the trial thinning of %s: %s",
                         executable.c_str(), std::strerror(errno));
        return whole;
    }
    const std::string output = folder + "/thinned";
    std::string error;
    int64_t thinned = 0;
    if (HVNLipo::runThinning(executable, machine, output, &error)) {
        thinned = lengthOf(output);
    } else {
        hvn::Log::writef("HVNScanBinariesOperation: the trial thinning of %s failed: %s", executable.c_str(),
                         error.c_str());
    }
    std::filesystem::remove_all(folder, ec);
    if (ec)
        hvn::Log::writef("HVNScanBinariesOperation: cannot remove %s: %s", folder.c_str(),
                         ec.message().c_str());
    return std::max<int64_t>(0, whole - thinned);
}

void HVNScanBinariesOperation::main() {
    try {
        if (!isCancelled()) fileFile();
    } catch (const std::exception& e) {
        hvn::Log::writef("HVNScanBinariesOperation: scan abandoned: %s", e.what());
    } catch (...) {
        hvn::Log::writef("HVNScanBinariesOperation: scan abandoned");
    }
}

void HVNScanBinariesOperation::fileFile() {
    const std::string machine =
        machineArchitecture ? *machineArchitecture : HVNCommonFunction::getPCArchitecture();
    hvn::Log::writef("machine architecture: %s", machine.c_str());
    const std::vector<int32_t> removable = removableCpuTypes(machine);
    const std::optional<int32_t> machineType = cpuTypeOfMachine(machine);

    HVNNodeList results;
    for (const std::string& input : inputObjs) {
        if (isCancelled()) return;
        const std::string bundle = hvn::Roots::normalize(input);
        const std::vector<int32_t> types = HVNLipo::executableArchitectures(bundle);
        hvn::NotificationCenter::defaultCenter().post(kPathUpdateNotification, std::any(input));
        if (!machineType || std::find(types.begin(), types.end(), *machineType) == types.end()) continue;
        const bool candidate = std::any_of(types.begin(), types.end(), [&](int32_t t) {
            return std::find(removable.begin(), removable.end(), t) != removable.end();
        });
        if (!candidate) continue;

        const std::string executable = HVNLipo::executableOfBundle(bundle);
        struct stat st {};
        if (executable.empty() || ::lstat(executable.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            // The clean thins only a regular file, never through a link.
            hvn::Log::writef("HVNScanBinariesOperation: skipping %s: its executable is not a regular file",
                             bundle.c_str());
            continue;
        }
        auto node = HVNScaneOuputObject::create();
        node->setDirPath(HVNCommonFunction::getDirPathByPath(bundle));
        node->setName(HVNCommonFunction::getFileNameByPath(bundle));
        node->icon = hvn::BundleInfo::iconPath(bundle);
        node->isCheck = 1;
        node->moulde = module;
        node->fileSize = estimatedSaving(executable, machine);
        results.push_back(std::move(node));
    }
    if (isCancelled()) return;
    hvn::Log::writef("scanResults  %s", describe(results).c_str());
    if (delegate) delegate->finishScan(std::move(results), module);
}
