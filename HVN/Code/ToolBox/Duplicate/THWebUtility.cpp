#include "HVN/Code/ToolBox/Duplicate/THWebUtility.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "HVN/Code/ToolBox/Duplicate/THDigest.h"
#include "HVN/Code/ToolBox/Duplicate/THQuickHash.h"
#include "HVN/Code/ToolBox/Duplicate/THReadableFile.h"
#include "Platform/Crypto.h"
#include "Platform/FileManager.h"

namespace {

constexpr size_t kSampleSize = 4096;

// The names in a folder ("." and ".." left out), sorted by byte value; the folder itself is
// opened without following a link. nullopt when it cannot be listed.
std::optional<std::vector<std::string>> listFolder(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
        names.emplace_back(n);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

size_t componentCount(const std::string& relative) {
    return static_cast<size_t>(std::count(relative.begin(), relative.end(), '/')) + 1;
}

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Length-prefixed so that no two listings run together into the same bytes.
void appendField(std::string& out, const std::string& field) {
    out += std::to_string(field.size());
    out += ':';
    out += field;
}

std::optional<std::string> sha256OfFile(const std::string& path, const std::atomic<bool>* stop) {
    THReadableFile file;
    if (!file.open(path)) return std::nullopt;
    std::vector<char> buffer(1 << 20);
    THDigest digest(hvn::Crypto::Digest::SHA256);
    uint64_t offset = 0;
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed)) return std::nullopt;
        ssize_t n = file.readAt(buffer.data(), buffer.size(), offset);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        digest.update(buffer.data(), static_cast<size_t>(n));
        offset += static_cast<uint64_t>(n);
    }
    return digest.finishHex();
}

}  // namespace

std::optional<std::string> THWebUtility::lazyHashFile(const std::string& path) {
    if (hvn::FileManager::isPackageAtPath(path)) return lazyHashPackage(path);
    return lazyMD5File(path);
}

namespace {

// Feeds the lazy samples of a regular file to hasher; false when the file is empty, no
// regular file, or cannot be opened or read.
template <class Hasher>
bool hashSamples(const std::string& path, Hasher& hasher) {
    THReadableFile file;
    if (!file.open(path)) return false;
    const uint64_t length = file.size();
    if (length == 0) return false;
    const uint64_t samples = std::min<uint64_t>(length / kSampleSize + 1, 3);
    const uint64_t step = length / samples;
    char buffer[kSampleSize];
    for (uint64_t j = 0; j < samples; ++j) {
        ssize_t n = file.readAt(buffer, kSampleSize, j * step);
        if (n < 0) return false;
        if (n == 0) break;
        hasher.update(buffer, static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

std::optional<std::string> THWebUtility::lazyMD5File(const std::string& path) {
    THDigest digest(hvn::Crypto::Digest::MD5);
    if (!hashSamples(path, digest)) return std::nullopt;
    return digest.finishHex();
}

std::optional<std::string> THWebUtility::lazyQuickHashFile(const std::string& path) {
    THQuickHash hash;
    if (!hashSamples(path, hash)) return std::nullopt;
    return hash.finishHex();
}

std::optional<std::string> THWebUtility::lazyHashPackage(const std::string& path) {
    auto top = listFolder(path);
    if (!top) return std::nullopt;
    std::vector<std::string> work = std::move(*top);
    std::vector<std::string> parts;
    // The work list grows while it is walked: entries added are visited too.
    for (size_t i = 0; i < work.size(); ++i) {
        const std::string entry = work[i];
        if (startsWith(entry, ".") || startsWith(entry, "__MACOSX")) continue;
        struct stat st {};
        if (::lstat((path + "/" + entry).c_str(), &st) != 0) continue;
        if (S_ISLNK(st.st_mode)) {
            parts.push_back(entry);
        } else if (S_ISDIR(st.st_mode)) {
            if (componentCount(entry) > 3) continue;
            parts.push_back(entry);
            if (auto children = listFolder(path + "/" + entry)) {
                for (const auto& c : *children) work.push_back(entry + "/" + c);
            }
        } else if (S_ISREG(st.st_mode)) {
            parts.push_back(entry + "-" + std::to_string(static_cast<long long>(st.st_size)));
        }
    }
    std::sort(parts.begin(), parts.end());
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) joined += ',';
        joined += parts[i];
    }
    return hvn::Crypto::digestHex(hvn::Crypto::Digest::MD5, joined.data(), joined.size());
}

std::optional<std::string> THWebUtility::hashFile(const std::string& path, int with) {
    auto kind = THDigest::kindOfNumber(with);
    if (!kind) return std::nullopt;
    THReadableFile file;
    if (!file.open(path)) return std::nullopt;
    THDigest digest(*kind);
    char block[4096];
    uint64_t offset = 0;
    for (;;) {
        ssize_t n = file.readAt(block, sizeof block, offset);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        digest.update(block, static_cast<size_t>(n));
        offset += static_cast<uint64_t>(n);
    }
    return digest.finishHex();
}

std::optional<std::string> THWebUtility::hashData(const hvn::Data* data, int with) {
    auto kind = THDigest::kindOfNumber(with);
    if (!kind || !data) return std::nullopt;
    return hvn::Crypto::digestHex(*kind, data->data(), data->size());
}

std::optional<std::string> THWebUtility::hashString(const std::string& string, int with) {
    auto kind = THDigest::kindOfNumber(with);
    if (!kind) return std::nullopt;
    return hvn::Crypto::digestHex(*kind, string.data(), string.size());
}

std::optional<std::string> THWebUtility::hMacData(const hvn::Data* data, const std::string* withSecretKey,
                                                  int withHashKind) {
    auto kind = THDigest::kindOfNumber(withHashKind);
    if (!kind || !data || !withSecretKey) return std::nullopt;
    const size_t keyLength = std::strlen(withSecretKey->c_str());
    return hvn::Crypto::toHex(
        hvn::Crypto::hmac(*kind, withSecretKey->data(), keyLength, data->data(), data->size()));
}

std::optional<std::string> THWebUtility::hMacString(const std::string* string,
                                                    const std::string* withSecretKey, int withHashKind) {
    if (!string) return std::nullopt;
    hvn::Data bytes(string->begin(), string->end());
    return hMacData(&bytes, withSecretKey, withHashKind);
}

std::optional<std::string> THWebUtility::hashPackageContents(const std::string& path,
                                                             const std::atomic<bool>* stop) {
    struct stat rootStat {};
    if (::lstat(path.c_str(), &rootStat) != 0 || !S_ISDIR(rootStat.st_mode)) return std::nullopt;
    // Records of every entry, keyed by relative path; the folders still to list on a stack.
    std::vector<std::pair<std::string, std::string>> records;
    std::vector<std::string> folders{""};
    while (!folders.empty()) {
        if (stop && stop->load(std::memory_order_relaxed)) return std::nullopt;
        std::string relative = std::move(folders.back());
        folders.pop_back();
        std::string full = relative.empty() ? path : path + "/" + relative;
        auto names = listFolder(full);
        if (!names) return std::nullopt;
        for (const auto& name : *names) {
            std::string rel = relative.empty() ? name : relative + "/" + name;
            std::string item = path + "/" + rel;
            struct stat st {};
            if (::lstat(item.c_str(), &st) != 0) return std::nullopt;
            std::string record;
            if (S_ISDIR(st.st_mode)) {
                appendField(record, "d");
                folders.push_back(rel);
            } else if (S_ISLNK(st.st_mode)) {
                std::vector<char> target(std::max<size_t>(static_cast<size_t>(st.st_size) + 1, 4096));
                ssize_t n = ::readlink(item.c_str(), target.data(), target.size());
                if (n < 0) return std::nullopt;
                appendField(record, "l");
                appendField(record, std::string(target.data(), static_cast<size_t>(n)));
            } else if (S_ISREG(st.st_mode)) {
                auto sha = sha256OfFile(item, stop);
                if (!sha) return std::nullopt;
                appendField(record, "f");
                appendField(record, std::to_string(static_cast<long long>(st.st_size)));
                appendField(record, *sha);
            } else {
                appendField(record, "o");
                appendField(record, std::to_string(static_cast<unsigned long long>(st.st_mode & S_IFMT)));
            }
            records.emplace_back(std::move(rel), std::move(record));
        }
    }
    std::sort(records.begin(), records.end());
    THDigest digest(hvn::Crypto::Digest::SHA256);
    for (const auto& [rel, record] : records) {
        std::string line;
        appendField(line, rel);
        line += record;
        line += '\n';
        digest.update(line);
    }
    return digest.finishHex();
}
