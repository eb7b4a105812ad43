#include "Platform/AliasResolver.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/Roots.h"
#include "Platform/Trash.h"
#include "Platform/Volumes.h"

namespace hvn::Alias {

namespace {

constexpr uint8_t kAliasFileMagic[16] = {'b', 'o', 'o', 'k', 0, 0, 0, 0, 'm', 'a', 'r', 'k', 0, 0, 0, 0};
constexpr uint32_t kBookmarkMarker = 0x10040000;  // bytes 00 00 04 10
constexpr uint32_t kTocMarker = 0xFFFFFFFE;
constexpr int kMaxTocs = 64;

constexpr uint32_t kTypeString = 0x0101;
constexpr uint32_t kTypeData = 0x0201;
constexpr uint32_t kTypeFalse = 0x0500;
constexpr uint32_t kTypeTrue = 0x0501;
constexpr uint32_t kTypeArray = 0x0601;
constexpr uint32_t kTypeURL = 0x0901;

constexpr uint32_t kKeyPath = 0x1004;
constexpr uint32_t kKeyVolumePath = 0x2002;
constexpr uint32_t kKeyVolumeURL = 0x2005;
constexpr uint32_t kKeyVolumeName = 0x2010;
constexpr uint32_t kKeyVolumeUUID = 0x2011;
constexpr uint32_t kKeyVolumeIsBoot = 0x2030;
constexpr uint32_t kKeyAliasRecord = 0xFE00;

constexpr uint32_t kAppleDoubleMagic = 0x00051607;
constexpr uint32_t kAppleSingleMagic = 0x00051600;
constexpr uint32_t kResourceForkEntry = 2;
constexpr uint32_t kFinderInfoEntry = 9;
constexpr uint32_t kAlisType = 0x616C6973;  // 'alis'

// Fixed parts of the classic record: version 2 keeps the volume and target names there,
// version 3 only numbers and dates.
constexpr size_t kAlisFixedV2 = 150;
constexpr size_t kAlisFixedV3 = 58;

const char* const kResourceForkAttribute = "user.com.apple.ResourceFork";
const char* const kFinderInfoAttribute = "user.com.apple.FinderInfo";

void fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

bool fits(Bytes b, uint64_t offset, uint64_t length) {
    return offset <= b.size() && length <= b.size() - offset;
}

uint32_t le32(Bytes b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint32_t be32(Bytes b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | uint32_t(b[at + 3]);
}
uint16_t be16(Bytes b, size_t at) {
    return uint16_t(b[at] << 8 | b[at + 1]);
}

std::string text(Bytes b) {
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}
Bytes bytesOf(const std::string& s) {
    return Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// Texts from file systems may hold any byte; a log line shows control bytes escaped.
std::string forLog(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F) {
            out += hvn::format("\\x%02X", c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16BE to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16beToUtf8(Bytes b) {
    std::string out;
    size_t n = b.size() / 2;
    for (size_t i = 0; i < n; ++i) {
        uint32_t u = be16(b, 2 * i);
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < n) {
            uint32_t lo = be16(b, 2 * (i + 1));
            if (lo >= 0xDC00 && lo < 0xE000) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(out, (u >= 0xD800 && u < 0xE000) ? 0xFFFD : u);
    }
    return out;
}

// A name that can stand as one path component.
bool isPlainComponent(const std::string& c) {
    return !c.empty() && c != "." && c != ".." && c.find('/') == std::string::npos &&
           c.find('\0') == std::string::npos;
}

// An absolute path without "." or ".." components or NULs, written without repeated or
// trailing slashes; nullopt when it is not such a path.
std::optional<std::string> cleanAbsolutePath(const std::string& p) {
    if (p.empty() || p[0] != '/' || p.find('\0') != std::string::npos) return std::nullopt;
    std::string out;
    size_t i = 0;
    while (i < p.size()) {
        while (i < p.size() && p[i] == '/') ++i;
        size_t j = p.find('/', i);
        if (j == std::string::npos) j = p.size();
        if (j > i) {
            std::string c = p.substr(i, j - i);
            if (c == "." || c == "..") return std::nullopt;
            out += '/';
            out += c;
        }
        i = j;
    }
    return out.empty() ? std::string("/") : out;
}

// --- Bookmark data ---

// One value record of the data section: u32 length, u32 type, payload.
struct Item {
    uint32_t type = 0;
    Bytes payload;
};

std::optional<Item> valueAt(Bytes data, uint32_t offset) {
    if (!fits(data, offset, 8)) return std::nullopt;
    uint32_t length = le32(data, offset);
    if (!fits(data, uint64_t(offset) + 8, length)) return std::nullopt;
    return Item{le32(data, offset + 4), data.subspan(offset + 8, length)};
}

std::optional<std::string> stringAt(Bytes data, uint32_t offset) {
    auto v = valueAt(data, offset);
    if (!v || (v->type != kTypeString && v->type != kTypeURL)) return std::nullopt;
    return text(v->payload);
}

// The data section of a data-fork alias file or a bookmark blob: the bytes from base on.
std::optional<Bytes> bookmarkSection(Bytes bytes, std::string* error) {
    if (bytes.size() >= 16 && std::memcmp(bytes.data(), kAliasFileMagic, 16) == 0) {
        if (bytes.size() < 20) {
            fail(error, "alias header truncated");
            return std::nullopt;
        }
        uint32_t base = le32(bytes, 16);
        if (base < 20 || !fits(bytes, base, 4)) {
            fail(error, hvn::format("alias data offset %u outside the %zu bytes", base, bytes.size()));
            return std::nullopt;
        }
        return bytes.subspan(base);
    }
    if (bytes.size() >= 16 && std::memcmp(bytes.data(), "book", 4) == 0 &&
        le32(bytes, 8) == kBookmarkMarker) {
        uint32_t total = le32(bytes, 4);
        uint32_t header = le32(bytes, 12);
        if (total > bytes.size()) {
            fail(error,
                 hvn::format("bookmark truncated: %u bytes declared, %zu present", total, bytes.size()));
            return std::nullopt;
        }
        if (header < 16 || uint64_t(header) + 4 > total) {
            fail(error, hvn::format("bookmark header size %u does not fit its %u bytes", header, total));
            return std::nullopt;
        }
        return bytes.subspan(header, total - header);
    }
    fail(error, "not bookmark data");
    return std::nullopt;
}

}  // namespace

bool hasBookmarkMagic(Bytes bytes) {
    if (bytes.size() < 16) return false;
    if (std::memcmp(bytes.data(), kAliasFileMagic, 16) == 0) return true;
    return std::memcmp(bytes.data(), "book", 4) == 0 && le32(bytes, 8) == kBookmarkMarker;
}

std::optional<Record> parseBookmarkData(Bytes bytes, std::string* error) {
    auto section = bookmarkSection(bytes, error);
    if (!section) return std::nullopt;
    const Bytes data = *section;

    // The first table naming a key wins; later tables may describe the volume.
    std::map<uint32_t, uint32_t> keys;
    std::set<uint32_t> seenTocs;
    uint32_t toc = le32(data, 0);
    for (int n = 0; toc != 0; ++n) {
        if (n == kMaxTocs) {
            fail(error, hvn::format("more than %d tables of contents", kMaxTocs));
            return std::nullopt;
        }
        if (!seenTocs.insert(toc).second) {
            fail(error, hvn::format("table of contents chain loops at offset %u", toc));
            return std::nullopt;
        }
        if (!fits(data, toc, 20) || le32(data, toc + 4) != kTocMarker) {
            fail(error, hvn::format("no table of contents at offset %u", toc));
            return std::nullopt;
        }
        uint32_t next = le32(data, toc + 12);
        uint32_t count = le32(data, toc + 16);
        if (!fits(data, uint64_t(toc) + 20, uint64_t(count) * 12)) {
            fail(error, hvn::format("table of contents at offset %u: %u entries do not fit", toc, count));
            return std::nullopt;
        }
        for (uint32_t i = 0; i < count; ++i) {
            size_t at = size_t(toc) + 20 + size_t(i) * 12;
            uint32_t key = le32(data, at);
            if (key & 0x80000000u) continue;  // a named key, none of ours
            keys.emplace(key, le32(data, at + 4));
        }
        toc = next;
    }

    Record record;
    record.kind = Record::Kind::Bookmark;
    auto pathKey = keys.find(kKeyPath);
    if (pathKey != keys.end()) {
        auto array = valueAt(data, pathKey->second);
        if (!array || array->type != kTypeArray || array->payload.size() % 4 != 0) {
            fail(error, "target path (0x1004) is not an array");
            return std::nullopt;
        }
        std::string path;
        for (size_t i = 0; i < array->payload.size(); i += 4) {
            auto component = stringAt(data, le32(array->payload, i));
            if (!component || !isPlainComponent(*component)) {
                fail(error, hvn::format("target path component %zu is malformed", i / 4));
                return std::nullopt;
            }
            path += '/';
            path += *component;
        }
        record.path = path.empty() ? "/" : path;
    } else {
        auto embedded = keys.find(kKeyAliasRecord);
        std::optional<Item> v;
        if (embedded != keys.end()) v = valueAt(data, embedded->second);
        if (!v || v->type != kTypeData) {
            fail(error, "bookmark stores no target path");
            return std::nullopt;
        }
        std::string alisError;
        auto classic = parseAlisRecord(v->payload, &alisError);
        if (!classic) {
            fail(error, "embedded alias record: " + alisError);
            return std::nullopt;
        }
        classic->kind = Record::Kind::Bookmark;
        return classic;
    }

    auto stringKey = [&](uint32_t key) -> std::string {
        auto it = keys.find(key);
        if (it == keys.end()) return std::string();
        return stringAt(data, it->second).value_or(std::string());
    };
    record.volumeName = stringKey(kKeyVolumeName);
    record.volumeUUID = stringKey(kKeyVolumeUUID);
    std::string volumePath = stringKey(kKeyVolumePath);
    if (volumePath.empty()) {
        // file:///Volumes/SANDISK/
        std::string url = stringKey(kKeyVolumeURL);
        if (url.rfind("file://", 0) == 0) volumePath = hvn::Trash::percentDecode(url.substr(7)).value_or("");
    }
    record.volumePath = cleanAbsolutePath(volumePath).value_or(std::string());
    auto boot = keys.find(kKeyVolumeIsBoot);
    if (boot != keys.end()) {
        auto v = valueAt(data, boot->second);
        record.bootVolume = v && v->type == kTypeTrue;
        if (v && v->type != kTypeTrue && v->type != kTypeFalse && !v->payload.empty()) {
            // Some writers keep the flag as an integer.
            record.bootVolume =
                std::any_of(v->payload.begin(), v->payload.end(), [](uint8_t b) { return b != 0; });
        }
    }
    return record;
}

// --- Classic alias records ---

std::optional<Record> parseAlisRecord(Bytes bytes, std::string* error) {
    if (bytes.size() < 8) {
        fail(error, "alias record truncated");
        return std::nullopt;
    }
    const uint16_t recordSize = be16(bytes, 4);
    const uint16_t version = be16(bytes, 6);
    if (version != 2 && version != 3) {
        fail(error, hvn::format("alias record version %u is not 2 or 3", version));
        return std::nullopt;
    }
    const size_t fixed = version == 2 ? kAlisFixedV2 : kAlisFixedV3;
    if (recordSize < fixed) {
        fail(error, hvn::format("alias record size %u below its fixed part of %zu", recordSize, fixed));
        return std::nullopt;
    }
    if (recordSize > bytes.size()) {
        fail(error,
             hvn::format("alias record truncated: %u bytes declared, %zu present", recordSize, bytes.size()));
        return std::nullopt;
    }
    const Bytes rec = bytes.first(recordSize);

    std::string fixedVolumeName;
    if (version == 2) {
        size_t n = std::min<size_t>(rec[10], 27);
        fixedVolumeName = text(rec.subspan(11, n));
    }

    std::optional<std::string> posixPath, mountPoint, unicodeVolumeName;
    size_t at = fixed;
    while (at + 4 <= rec.size()) {
        const int16_t tag = static_cast<int16_t>(be16(rec, at));
        const uint16_t length = be16(rec, at + 2);
        if (tag == -1) break;
        if (!fits(rec, at + 4, length)) {
            fail(error, hvn::format("alias record tag %d overruns the record", tag));
            return std::nullopt;
        }
        const Bytes value = rec.subspan(at + 4, length);
        switch (tag) {
            case 18:
                if (!posixPath) posixPath = text(value);
                break;
            case 19:
                if (!mountPoint) mountPoint = text(value);
                break;
            case 15:
                if (!unicodeVolumeName && value.size() >= 2) {
                    size_t chars = std::min<size_t>(be16(value, 0), (value.size() - 2) / 2);
                    unicodeVolumeName = utf16beToUtf8(value.subspan(2, chars * 2));
                }
                break;
            default:
                break;
        }
        at += 4 + size_t(length) + (length & 1);
    }
    if (!posixPath) {
        fail(error, "alias record stores no POSIX path");
        return std::nullopt;
    }
    const std::string mount = mountPoint.value_or("/");
    auto cleanMount = cleanAbsolutePath(mount.empty() ? "/" : mount);
    auto path = cleanAbsolutePath((cleanMount ? *cleanMount : std::string()) + "/" + *posixPath);
    if (!cleanMount || !path) {
        fail(error, "alias record path is malformed");
        return std::nullopt;
    }
    Record record;
    record.kind = Record::Kind::Classic;
    record.path = *path;
    record.volumePath = *cleanMount;
    record.volumeName = unicodeVolumeName.value_or(fixedVolumeName);
    record.bootVolume = *cleanMount == "/";
    return record;
}

// --- Resource forks and AppleDouble files ---

std::optional<Bytes> findAliasResource(Bytes fork, std::string* error) {
    if (fork.size() < 16) {
        fail(error, "resource fork header truncated");
        return std::nullopt;
    }
    const uint32_t dataOffset = be32(fork, 0), mapOffset = be32(fork, 4);
    const uint32_t dataLength = be32(fork, 8), mapLength = be32(fork, 12);
    if (!fits(fork, dataOffset, dataLength) || !fits(fork, mapOffset, mapLength) || mapLength < 28) {
        fail(error, "resource fork data or map outside the fork");
        return std::nullopt;
    }
    const Bytes dataArea = fork.subspan(dataOffset, dataLength);
    const Bytes map = fork.subspan(mapOffset, mapLength);
    const uint16_t typeListOffset = be16(map, 24);
    if (!fits(map, typeListOffset, 2)) {
        fail(error, "resource type list outside the map");
        return std::nullopt;
    }
    const Bytes typeList = map.subspan(typeListOffset);
    const size_t typeCount = (size_t(be16(typeList, 0)) + 1) & 0xFFFF;
    if (!fits(typeList, 2, typeCount * 8)) {
        fail(error, "resource type list overruns the map");
        return std::nullopt;
    }
    for (size_t t = 0; t < typeCount; ++t) {
        const size_t entry = 2 + t * 8;
        if (be32(typeList, entry) != kAlisType) continue;
        const size_t refCount = size_t(be16(typeList, entry + 4)) + 1;
        const uint16_t refListOffset = be16(typeList, entry + 6);
        if (!fits(typeList, refListOffset, refCount * 12)) {
            fail(error, "alis reference list overruns the map");
            return std::nullopt;
        }
        std::optional<uint32_t> chosen;
        for (size_t r = 0; r < refCount; ++r) {
            const size_t ref = refListOffset + r * 12;
            const int16_t id = static_cast<int16_t>(be16(typeList, ref));
            const uint32_t offset = be32(typeList, ref + 4) & 0xFFFFFF;
            if (!chosen || id == 0) chosen = offset;
            if (id == 0) break;
        }
        if (!fits(dataArea, *chosen, 4) || !fits(dataArea, uint64_t(*chosen) + 4, be32(dataArea, *chosen))) {
            fail(error, "alis resource data outside the fork");
            return std::nullopt;
        }
        return dataArea.subspan(*chosen + 4, be32(dataArea, *chosen));
    }
    fail(error, "resource fork has no alis resource");
    return std::nullopt;
}

std::optional<AppleDoubleEntries> parseAppleDouble(Bytes bytes, std::string* error) {
    if (bytes.size() < 26) {
        fail(error, "AppleDouble header truncated");
        return std::nullopt;
    }
    const uint32_t magic = be32(bytes, 0), version = be32(bytes, 4);
    if ((magic != kAppleDoubleMagic && magic != kAppleSingleMagic) ||
        (version != 0x00020000 && version != 0x00010000)) {
        fail(error, "not an AppleDouble file");
        return std::nullopt;
    }
    const size_t count = be16(bytes, 24);
    if (!fits(bytes, 26, count * 12)) {
        fail(error, hvn::format("AppleDouble entry table (%zu entries) overruns the file", count));
        return std::nullopt;
    }
    AppleDoubleEntries entries;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = 26 + i * 12;
        const uint32_t id = be32(bytes, at), offset = be32(bytes, at + 4), length = be32(bytes, at + 8);
        if (id != kResourceForkEntry && id != kFinderInfoEntry) continue;
        if (!fits(bytes, offset, length)) {
            fail(error, hvn::format("AppleDouble entry %u lies outside the file", id));
            return std::nullopt;
        }
        auto& slot = id == kResourceForkEntry ? entries.resourceFork : entries.finderInfo;
        if (!slot) slot = bytes.subspan(offset, length);
    }
    return entries;
}

bool finderInfoMarksAlias(Bytes finderInfo) {
    return finderInfo.size() >= 10 && (finderInfo[8] & 0x80) != 0;
}

// --- Files ---

namespace {

// The first `limit` bytes (all of them when limit is 0) of a regular file, opened without
// following a final link and without blocking on special files; nullopt with error when it
// is no regular file, is larger than kMaxAliasBytes (for a whole read) or cannot be read.
std::optional<std::string> readRegularFile(const std::string& path, size_t limit, std::string* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        fail(error, std::strerror(errno));
        return std::nullopt;
    }
    struct ::stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(error, "not a regular file");
        return std::nullopt;
    }
    size_t want = static_cast<size_t>(st.st_size);
    if (limit != 0) {
        want = std::min(want, limit);
    } else if (want > kMaxAliasBytes) {
        ::close(fd);
        fail(error, hvn::format("%lld bytes, more than an alias holds", static_cast<long long>(st.st_size)));
        return std::nullopt;
    }
    std::string out(want, '\0');
    size_t got = 0;
    while (got < want) {
        ssize_t n = ::read(fd, out.data() + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            fail(error, std::strerror(errno));
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;  // the file shrank meanwhile
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    out.resize(got);
    return out;
}

std::string appleDoublePathFor(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "._" + path;
    return path.substr(0, slash + 1) + "._" + path.substr(slash + 1);
}

// The resource fork and FinderInfo of a file: the extended attributes, and for what they
// lack, the entries of the "._" file beside it.
struct Forks {
    std::optional<std::string> resourceFork;
    std::optional<std::string> finderInfo;
};

Forks forksOf(const std::string& path) {
    Forks forks;
    forks.resourceFork = readExtendedAttribute(path, kResourceForkAttribute);
    forks.finderInfo = readExtendedAttribute(path, kFinderInfoAttribute);
    if (forks.resourceFork && forks.finderInfo) return forks;
    const std::string doublePath = appleDoublePathFor(path);
    struct ::stat st;
    if (::lstat(doublePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return forks;
    std::string readError;
    auto contents = readRegularFile(doublePath, 0, &readError);
    if (!contents) {
        Log::writef("Alias: cannot read %s: %s", forLog(doublePath).c_str(), readError.c_str());
        return forks;
    }
    std::string parseError;
    auto entries = parseAppleDouble(bytesOf(*contents), &parseError);
    if (!entries) {
        // A "._" file may be anything a user named so; only malformed AppleDouble data is news.
        if (parseError != "not an AppleDouble file") {
            Log::writef("Alias: %s: %s", forLog(doublePath).c_str(), parseError.c_str());
        }
        return forks;
    }
    if (!forks.resourceFork && entries->resourceFork) forks.resourceFork = text(*entries->resourceFork);
    if (!forks.finderInfo && entries->finderInfo) forks.finderInfo = text(*entries->finderInfo);
    return forks;
}

// The alis resource of a classic alias file, when the file is one.
std::optional<std::string> classicAliasResource(const std::string& path) {
    Forks forks = forksOf(path);
    if (!forks.finderInfo || !finderInfoMarksAlias(bytesOf(*forks.finderInfo)) || !forks.resourceFork) {
        return std::nullopt;
    }
    std::string forkError;
    auto resource = findAliasResource(bytesOf(*forks.resourceFork), &forkError);
    if (!resource) {
        Log::writef("Alias: resource fork of %s: %s", forLog(path).c_str(), forkError.c_str());
        return std::nullopt;
    }
    return text(*resource);
}

bool isDirectoryNoFollow(const std::string& path) {
    struct ::stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string userName() {
    if (const char* u = std::getenv("USER"); u && *u && std::strchr(u, '/') == nullptr) return u;
    struct ::passwd pw;
    struct ::passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found) return found->pw_name;
    return std::string();
}

bool equalsIgnoringAsciiCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::optional<std::string> realPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return std::nullopt;
    std::string out(real);
    std::free(real);
    return out;
}

// Mount points (below the system root) of the file system whose UUID is `uuid`: the device
// /dev/disk/by-uuid names, looked up among the sources of the mount table.
std::vector<std::string> mountsWithUUID(const std::string& uuid) {
    std::vector<std::string> out;
    const std::string byUUID = Roots::systemPath("/dev/disk/by-uuid");
    auto names = FileManager::contentsOfDirectoryAtPath(byUUID);
    if (!names) return out;
    std::optional<std::string> device;
    for (const auto& name : *names) {
        if (equalsIgnoringAsciiCase(name, uuid)) {
            device = realPath(byUUID + "/" + name);
            break;
        }
    }
    if (!device) return out;
    std::string tableError;
    auto table = readRegularFile(Roots::systemPath("/proc/self/mountinfo"), 0, &tableError);
    if (!table) return out;
    for (const auto& mount : Volumes::parseMountInfo(*table)) {
        if (mount.source.empty() || mount.source[0] != '/') continue;
        auto source = realPath(Roots::systemPath(mount.source));
        if (source && *source == *device) out.push_back(Roots::systemPath(mount.mountPoint));
    }
    return out;
}

// Folders where a volume of this UUID or name is mounted here, best guesses first.
std::vector<std::string> volumeCandidates(const Record& record) {
    std::vector<std::string> out;
    std::set<std::string> seen;
    auto add = [&](const std::string& p) {
        if (isDirectoryNoFollow(p) && seen.insert(p).second) out.push_back(p);
    };
    const bool uuidIsPlain =
        !record.volumeUUID.empty() && record.volumeUUID.size() <= 64 &&
        record.volumeUUID.find_first_not_of("0123456789abcdefABCDEF-") == std::string::npos;
    if (uuidIsPlain) {
        for (const auto& p : mountsWithUUID(record.volumeUUID)) add(p);
    }
    const std::string& name = record.volumeName;
    if (isPlainComponent(name)) {
        for (const auto& p : Volumes::mountedRemovableMedia()) {
            if (FileManager::lastPathComponent(p) == name) add(p);
        }
        const std::string user = userName();
        if (!user.empty()) {
            add(Roots::systemPath("/media/" + user + "/" + name));
            add(Roots::systemPath("/run/media/" + user + "/" + name));
        }
        add(Roots::systemPath("/media/" + name));
        add(Roots::systemPath("/Volumes/" + name));
    }
    return out;
}

bool existsNoFollow(const std::string& path) {
    struct ::stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::optional<std::string> readExtendedAttribute(const std::string& path, const std::string& name) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        ssize_t size = ::lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
        if (size < 0) return std::nullopt;
        if (static_cast<size_t>(size) > kMaxAliasBytes) {
            Log::writef("Alias: %s of %s is %zd bytes, not read", name.c_str(), forLog(path).c_str(), size);
            return std::nullopt;
        }
        std::string value(static_cast<size_t>(size), '\0');
        ssize_t got = ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<size_t>(got));
            return value;
        }
        if (errno != ERANGE) return std::nullopt;  // it grew meanwhile: ask again
    }
    return std::nullopt;
}

bool isAliasFile(const std::string& path) {
    struct ::stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (auto head = readRegularFile(path, 16, nullptr); head && hasBookmarkMagic(bytesOf(*head))) return true;
    return classicAliasResource(path).has_value();
}

std::optional<Record> readAliasFile(const std::string& path, bool* isAlias, std::string* error) {
    if (isAlias) *isAlias = false;
    struct ::stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
        fail(error, path.empty() ? "empty path" : std::strerror(errno));
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        fail(error, "not a regular file");
        return std::nullopt;
    }
    std::string readError;
    auto head = readRegularFile(path, 16, &readError);
    if (!head) {
        fail(error, readError);
        return std::nullopt;
    }
    if (hasBookmarkMagic(bytesOf(*head))) {
        if (isAlias) *isAlias = true;
        auto contents = readRegularFile(path, 0, &readError);
        if (!contents) {
            fail(error, readError);
            return std::nullopt;
        }
        return parseBookmarkData(bytesOf(*contents), error);
    }
    auto resource = classicAliasResource(path);
    if (!resource) {
        fail(error, "not an alias file");
        return std::nullopt;
    }
    if (isAlias) *isAlias = true;
    return parseAlisRecord(bytesOf(*resource), error);
}

std::string locateTarget(const Record& record) {
    const std::string& volume = record.volumePath;
    const std::string& stored = record.path;
    const bool onVolume = !volume.empty() && volume != "/" && stored.compare(0, volume.size(), volume) == 0 &&
                          (stored.size() == volume.size() || stored[volume.size()] == '/');
    if (onVolume && !record.bootVolume) {
        const std::string rest = stored.substr(volume.size());
        for (const auto& mount : volumeCandidates(record)) {
            if (existsNoFollow(mount + rest)) return mount + rest;
        }
    }
    return Roots::locateStoredPath(stored);
}

Resolution resolve(const std::string& path) {
    Resolution result;
    auto failWith = [&](std::string why) {
        Log::writef("Alias %s: %s", forLog(path).c_str(), forLog(why).c_str());
        result.error = std::move(why);
        return result;
    };
    std::set<std::pair<dev_t, ino_t>> seen;
    std::string current = path;
    for (int hop = 0;; ++hop) {
        struct ::stat st;
        if (::lstat(current.c_str(), &st) != 0) return failWith(current + ": " + std::strerror(errno));
        if (hop == kMaxChainHops) {
            return failWith(
                hvn::format("alias chain longer than %d aliases (at %s)", kMaxChainHops, current.c_str()));
        }
        if (!seen.emplace(st.st_dev, st.st_ino).second) return failWith("alias loop at " + current);
        bool isAlias = false;
        std::string error;
        auto record = readAliasFile(current, &isAlias, &error);
        if (hop == 0) result.wasAlias = isAlias;
        if (!record) return failWith(hop == 0 ? error : current + ": " + error);
        std::string target = locateTarget(*record);
        if (::lstat(target.c_str(), &st) != 0) {
            return failWith("target " + target + " does not exist" +
                            (target == record->path ? std::string() : " (stored as " + record->path + ")"));
        }
        if (S_ISREG(st.st_mode) && isAliasFile(target)) {
            current = std::move(target);
            continue;
        }
        result.target = std::move(target);
        return result;
    }
}

}  // namespace hvn::Alias
