#include "HVN/Code/ToolBox/Duplicate/THFileUtility.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "Platform/DirectoryWalker.h"
#include "Platform/FileManager.h"
#include "Platform/Host.h"
#include "Platform/Log.h"

uint64_t THFileUtility::fileSizeByPath(const std::string& path) {
    struct stat st {};
    const bool statOk = ::lstat(path.c_str(), &st) == 0;
    if (statOk && S_ISDIR(st.st_mode) && hvn::FileManager::isPackageAtPath(path)) {
        hvn::WalkOptions options;
        options.countLinks = true;
        options.followStartLink = false;
        return hvn::DirectoryWalker::totalSize(path, options).bytes;
    }
    if (statOk && st.st_size > 0) return static_cast<uint64_t>(st.st_size);
    if (statOk && S_ISLNK(st.st_mode)) return 0;
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return 0;
    off_t end = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    return end > 0 ? static_cast<uint64_t>(end) : 0;
}

bool THFileUtility::fileIsRegular(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool THFileUtility::fileIsDirectory(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool THFileUtility::isSystemlowVersion() {
    hvn::Host::Version v = hvn::Host::systemVersion();
    if (v.major == 0 && v.minor == 0 && v.patch == 0) {
        hvn::Log::write(" get systemVersion Erroer!");
    }
    return false;
}

bool THFileUtility::judgeTheSelectedFilePathWithCurrentFilePathArray(const hvn::Array& list,
                                                                     const std::string& currentFilePath) {
    for (const auto& entry : list) {
        const hvn::Value* p = entry.isDictionary() ? entry.find("path") : nullptr;
        if (p && p->isString() && p->asString() == currentFilePath) return true;
    }
    return false;
}

std::optional<std::string> THFileUtility::returnPreFilePath(const std::string& path,
                                                            const hvn::Array& fileArray) {
    for (const auto& entry : fileArray) {
        const hvn::Value* p = entry.isDictionary() ? entry.find("path") : nullptr;
        if (!p || !p->isString() || p->asString().empty()) continue;
        std::string folder = p->asString();
        if (char* real = ::realpath(folder.c_str(), nullptr)) {
            folder = real;
            std::free(real);
        }
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        if (path == folder) return folder;
        const bool above = folder == "/"
                               ? path.size() > 1 && path[0] == '/'
                               : path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                                     path[folder.size()] == '/';
        if (above) return folder;
    }
    return std::nullopt;
}

std::vector<std::string> THFileUtility::olderByTableColum(const SortDescriptor& descriptor,
                                                          const std::vector<std::string>& with,
                                                          const hvn::Dictionary& dictionary) {
    auto valueOf = [&](const std::string& key) -> int64_t {
        auto it = dictionary.find(key);
        if (it == dictionary.end() || !it->second.isDictionary()) return 0;
        const hvn::Value& group = it->second;
        if (descriptor.key == "number") {
            const hvn::Value* list = group.find("list");
            return list && list->isArray() ? static_cast<int64_t>(list->asArray().size()) : 0;
        }
        if (descriptor.key == "size") {
            const hvn::Value* size = group.find("size");
            return size && size->isNumber() ? size->asInteger() : 0;
        }
        if (descriptor.key == "name") {
            const hvn::Value* name = group.find("name");
            return name && name->isString() ? static_cast<int64_t>(name->asString().size()) : 0;
        }
        return 0;
    };
    std::vector<std::pair<int64_t, std::string>> keyed;
    keyed.reserve(with.size());
    for (const auto& k : with) keyed.emplace_back(valueOf(k), k);
    // A stable sort gives the bubble sort's order: equal values keep their places.
    std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        return descriptor.ascending ? a.first > b.first : a.first < b.first;
    });
    std::vector<std::string> out;
    out.reserve(keyed.size());
    for (auto& [v, k] : keyed) out.push_back(std::move(k));
    return out;
}
