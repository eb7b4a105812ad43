#include "AliasFixtures.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace hvn::test {

namespace {

void putLE32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i) & 0xFF);
}
void putBE32(std::string& s, uint32_t v) {
    for (int i = 3; i >= 0; --i) s += static_cast<char>(v >> (8 * i) & 0xFF);
}
void putBE16(std::string& s, uint16_t v) {
    s += static_cast<char>(v >> 8);
    s += static_cast<char>(v & 0xFF);
}
void setLE32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
}
void setBE16(std::string& s, size_t at, uint16_t v) {
    s[at] = static_cast<char>(v >> 8);
    s[at + 1] = static_cast<char>(v & 0xFF);
}
void padTo4(std::string& s) {
    while (s.size() % 4) s += '\0';
}

// UTF-8 (assumed valid) to UTF-16BE.
std::string utf16be(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = utf8[i];
        uint32_t cp;
        int n;
        if (c < 0x80) {
            cp = c, n = 1;
        } else if (c < 0xE0) {
            cp = c & 0x1F, n = 2;
        } else if (c < 0xF0) {
            cp = c & 0x0F, n = 3;
        } else {
            cp = c & 0x07, n = 4;
        }
        for (int k = 1; k < n && i + k < utf8.size(); ++k) cp = cp << 6 | (utf8[i + k] & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            putBE16(out, static_cast<uint16_t>(0xD800 + (cp >> 10)));
            putBE16(out, static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            putBE16(out, static_cast<uint16_t>(cp));
        }
    }
    return out;
}

void pascal(std::string& s, const std::string& text, size_t field) {
    size_t n = std::min(text.size(), field - 1);
    s += static_cast<char>(n);
    s += text.substr(0, n);
    s.append(field - 1 - n, '\0');
}

void tag(std::string& s, int16_t t, const std::string& value) {
    putBE16(s, static_cast<uint16_t>(t));
    putBE16(s, static_cast<uint16_t>(value.size()));
    s += value;
    if (value.size() & 1) s += '\0';
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string appleDoublePath(const std::string& path) {
    std::filesystem::path p(path);
    return (p.parent_path() / ("._" + p.filename().string())).string();
}

}  // namespace

BookmarkBuilder::BookmarkBuilder() {
    section_.assign(4, '\0');
}

uint32_t BookmarkBuilder::addRecord(uint32_t type, const std::string& payload) {
    padTo4(section_);
    uint32_t at = static_cast<uint32_t>(section_.size());
    putLE32(section_, static_cast<uint32_t>(payload.size()));
    putLE32(section_, type);
    section_ += payload;
    padTo4(section_);
    return at;
}

uint32_t BookmarkBuilder::addArray(const std::vector<uint32_t>& elementOffsets) {
    std::string payload;
    for (uint32_t o : elementOffsets) putLE32(payload, o);
    return addRecord(0x0601, payload);
}

uint32_t BookmarkBuilder::addToc(const std::vector<std::pair<uint32_t, uint32_t>>& entries, uint32_t id) {
    padTo4(section_);
    uint32_t at = static_cast<uint32_t>(section_.size());
    putLE32(section_, static_cast<uint32_t>(20 + entries.size() * 12 - 8));
    putLE32(section_, 0xFFFFFFFE);
    putLE32(section_, id);
    putLE32(section_, 0);
    putLE32(section_, static_cast<uint32_t>(entries.size()));
    for (const auto& [key, offset] : entries) {
        putLE32(section_, key);
        putLE32(section_, offset);
        putLE32(section_, 0);
    }
    if (!hasToc_) setFirstToc(at);
    hasToc_ = true;
    return at;
}

void BookmarkBuilder::setNextToc(uint32_t toc, uint32_t next) {
    setLE32(section_, toc + 12, next);
}
void BookmarkBuilder::setFirstToc(uint32_t toc) {
    setLE32(section_, 0, toc);
}

std::string BookmarkBuilder::bookmark() const {
    std::string out = "book";
    putLE32(out, static_cast<uint32_t>(48 + section_.size()));
    putLE32(out, 0x10040000);
    putLE32(out, 48);
    out.append(32, '\0');
    return out + section_;
}

std::string BookmarkBuilder::aliasFile() const {
    std::string out("book\0\0\0\0mark\0\0\0\0", 16);
    putLE32(out, 56);
    putLE32(out, 56);
    putLE32(out, static_cast<uint32_t>(section_.size()));
    out.append(56 - out.size(), '\0');
    return out + section_;
}

std::vector<std::string> pathComponents(const std::string& absolutePath) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < absolutePath.size()) {
        size_t j = absolutePath.find('/', i);
        if (j == std::string::npos) j = absolutePath.size();
        if (j > i) out.push_back(absolutePath.substr(i, j - i));
        i = j + 1;
    }
    return out;
}

BookmarkSpec bookmarkTo(const std::string& absolutePath) {
    BookmarkSpec spec;
    spec.components = pathComponents(absolutePath);
    spec.volumePath = "/";
    spec.volumeName = "Macintosh HD";
    spec.bootVolume = true;
    return spec;
}

namespace {

BookmarkBuilder build(const BookmarkSpec& spec) {
    BookmarkBuilder b;
    std::vector<std::pair<uint32_t, uint32_t>> first, volume;
    if (spec.withPath) {
        std::vector<uint32_t> parts;
        for (const auto& c : spec.components) parts.push_back(b.addString(c));
        first.emplace_back(0x1004, b.addArray(parts));
    }
    if (spec.volumePath) volume.emplace_back(0x2002, b.addString(*spec.volumePath));
    if (spec.volumeName) volume.emplace_back(0x2010, b.addString(*spec.volumeName));
    if (spec.volumeUUID) volume.emplace_back(0x2011, b.addString(*spec.volumeUUID));
    if (spec.bootVolume) volume.emplace_back(0x2030, b.addRecord(*spec.bootVolume ? 0x0501 : 0x0500, ""));
    std::vector<std::pair<uint32_t, uint32_t>> tail;
    if (spec.embeddedAlis) tail.emplace_back(0xFE00, b.addRecord(0x0201, *spec.embeddedAlis));
    if (spec.volumeInSecondToc) {
        first.insert(first.end(), tail.begin(), tail.end());
        uint32_t t1 = b.addToc(first, 1);
        uint32_t t2 = b.addToc(volume, 2);
        b.setNextToc(t1, t2);
    } else {
        first.insert(first.end(), volume.begin(), volume.end());
        first.insert(first.end(), tail.begin(), tail.end());
        b.addToc(first, 1);
    }
    return b;
}

}  // namespace

std::string bookmarkData(const BookmarkSpec& spec) {
    return build(spec).bookmark();
}
std::string dataForkAlias(const BookmarkSpec& spec) {
    return build(spec).aliasFile();
}

AlisSpec alisTo(const std::string& absolutePath, int version) {
    AlisSpec spec;
    spec.version = version;
    spec.posixPath = absolutePath;
    spec.targetName = std::filesystem::path(absolutePath).filename().string();
    return spec;
}

std::string alisRecord(const AlisSpec& spec) {
    std::string r;
    r.append(4, '\0');  // application code
    putBE16(r, 0);      // record size, set below
    putBE16(r, static_cast<uint16_t>(spec.version));
    if (spec.version == 2) {
        putBE16(r, 0);  // kind: file
        pascal(r, spec.volumeName, 28);
        r.append(4 + 2 + 2 + 4, '\0');  // volume date, file system, disk type, parent CNID
        pascal(r, spec.targetName, 64);
        r.append(150 - r.size(), '\0');
    } else {
        r.append(58 - r.size(), '\0');
    }
    if (!spec.targetName.empty()) {
        std::string u = utf16be(spec.targetName);
        std::string v;
        putBE16(v, static_cast<uint16_t>(u.size() / 2));
        tag(r, 14, v + u);
    }
    if (!spec.volumeName.empty()) {
        std::string u = utf16be(spec.volumeName);
        std::string v;
        putBE16(v, static_cast<uint16_t>(u.size() / 2));
        tag(r, 15, v + u);
    }
    if (spec.posixPath) tag(r, 18, *spec.posixPath);
    if (spec.mountPoint) tag(r, 19, *spec.mountPoint);
    putBE16(r, 0xFFFF);
    putBE16(r, 0);
    setBE16(r, 4, static_cast<uint16_t>(r.size()));
    return r;
}

std::string resourceFork(const std::vector<Resource>& resources) {
    std::string data;
    std::vector<uint32_t> dataOffsets;
    for (const auto& res : resources) {
        dataOffsets.push_back(static_cast<uint32_t>(data.size()));
        putBE32(data, static_cast<uint32_t>(res.data.size()));
        data += res.data;
    }
    // Types in order of first appearance, each with its references.
    std::vector<uint32_t> types;
    for (const auto& res : resources) {
        if (std::find(types.begin(), types.end(), res.type) == types.end()) types.push_back(res.type);
    }
    std::string typeList;
    putBE16(typeList, static_cast<uint16_t>(types.size() - 1));
    std::string refs;
    const size_t refBase = 2 + types.size() * 8;
    for (uint32_t type : types) {
        size_t count = 0;
        const size_t refOffset = refBase + refs.size();
        for (size_t i = 0; i < resources.size(); ++i) {
            if (resources[i].type != type) continue;
            ++count;
            putBE16(refs, static_cast<uint16_t>(resources[i].id));
            putBE16(refs, 0xFFFF);                     // no name
            putBE32(refs, dataOffsets[i] & 0xFFFFFF);  // attributes 0, then the offset
            putBE32(refs, 0);
        }
        putBE32(typeList, type);
        putBE16(typeList, static_cast<uint16_t>(count - 1));
        putBE16(typeList, static_cast<uint16_t>(refOffset));
    }
    std::string map(24, '\0');
    putBE16(map, 28);                                                         // type list
    putBE16(map, static_cast<uint16_t>(28 + typeList.size() + refs.size()));  // name list (empty)
    map += typeList + refs;

    std::string fork;
    const uint32_t dataOffset = 256;
    putBE32(fork, dataOffset);
    putBE32(fork, static_cast<uint32_t>(dataOffset + data.size()));
    putBE32(fork, static_cast<uint32_t>(data.size()));
    putBE32(fork, static_cast<uint32_t>(map.size()));
    fork.append(dataOffset - fork.size(), '\0');
    return fork + data + map;
}

std::string aliasFinderInfo(bool aliasFlag) {
    std::string fi = "alisMACS";
    putBE16(fi, aliasFlag ? 0x8000 : 0);
    fi.append(32 - fi.size(), '\0');
    return fi;
}

std::string appleDouble(const std::optional<std::string>& fork,
                        const std::optional<std::string>& finderInfo) {
    std::string out;
    putBE32(out, 0x00051607);
    putBE32(out, 0x00020000);
    out += "Mac OS X        ";
    const uint16_t count = static_cast<uint16_t>((fork ? 1 : 0) + (finderInfo ? 1 : 0));
    putBE16(out, count);
    uint32_t offset = 26 + count * 12;
    std::string body;
    if (finderInfo) {
        putBE32(out, 9);
        putBE32(out, offset);
        putBE32(out, static_cast<uint32_t>(finderInfo->size()));
        offset += static_cast<uint32_t>(finderInfo->size());
        body += *finderInfo;
    }
    if (fork) {
        putBE32(out, 2);
        putBE32(out, offset);
        putBE32(out, static_cast<uint32_t>(fork->size()));
        body += *fork;
    }
    return out + body;
}

std::string writeDataForkAlias(const std::string& path, const std::string& target) {
    writeBytes(path, dataForkAlias(bookmarkTo(target)));
    return path;
}

std::string writeClassicAliasAppleDouble(const std::string& path, const AlisSpec& spec) {
    writeBytes(path, "");
    writeBytes(appleDoublePath(path),
               appleDouble(resourceFork({Resource{0x616C6973, 0, alisRecord(spec)}}), aliasFinderInfo()));
    return path;
}

bool writeClassicAliasXattr(const std::string& path, const AlisSpec& spec) {
    writeBytes(path, "");
    const std::string fork = resourceFork({Resource{0x616C6973, 0, alisRecord(spec)}});
    const std::string info = aliasFinderInfo();
    return ::setxattr(path.c_str(), "user.com.apple.ResourceFork", fork.data(), fork.size(), 0) == 0 &&
           ::setxattr(path.c_str(), "user.com.apple.FinderInfo", info.data(), info.size(), 0) == 0;
}

bool userXattrsSupported(const std::string& folder) {
    const std::string probe = folder + "/.xattr-probe";
    writeBytes(probe, "");
    bool ok = ::setxattr(probe.c_str(), "user.halvorn.probe", "1", 1, 0) == 0;
    std::remove(probe.c_str());
    return ok;
}

std::vector<std::string> writeAliasChain(const std::string& folder, int n, const std::string& target) {
    std::vector<std::string> paths;
    for (int i = 0; i < n; ++i) paths.push_back(folder + "/chain-" + std::to_string(i));
    for (int i = 0; i < n; ++i) writeDataForkAlias(paths[i], i + 1 < n ? paths[i + 1] : target);
    return paths;
}

}  // namespace hvn::test
