#include "Platform/BinaryCookies.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace hvn::BinaryCookies {

namespace {

constexpr char kMagic[4] = {'c', 'o', 'o', 'k'};
constexpr uint32_t kPageTag = 0x00000100;  // as a BE value: bytes 00 00 01 00
constexpr size_t kRecordFixedSize = 56;     // up to and including the creation time
constexpr size_t kPortSize = 2;
constexpr size_t kPageHeaderFixed = 12;     // tag, count, and the closing zeros

uint32_t readBE32(std::string_view b, size_t at) {
    return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
           (uint32_t(uint8_t(b[at + 2])) << 8) | uint32_t(uint8_t(b[at + 3]));
}

uint32_t readLE32(std::string_view b, size_t at) {
    return uint32_t(uint8_t(b[at])) | (uint32_t(uint8_t(b[at + 1])) << 8) |
           (uint32_t(uint8_t(b[at + 2])) << 16) | (uint32_t(uint8_t(b[at + 3])) << 24);
}

uint16_t readLE16(std::string_view b, size_t at) {
    return uint16_t(uint8_t(b[at]) | (uint8_t(b[at + 1]) << 8));
}

double readLEDouble(std::string_view b, size_t at) {
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | uint8_t(b[at + size_t(i)]);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

void putBE32(std::string& out, uint32_t v) {
    out += char(v >> 24);
    out += char(v >> 16);
    out += char(v >> 8);
    out += char(v);
}

void putLE32(std::string& out, uint32_t v) {
    out += char(v);
    out += char(v >> 8);
    out += char(v >> 16);
    out += char(v >> 24);
}

void setLE32(std::string& out, size_t at, uint32_t v) {
    out[at] = char(v);
    out[at + 1] = char(v >> 8);
    out[at + 2] = char(v >> 16);
    out[at + 3] = char(v >> 24);
}

void putLEDouble(std::string& out, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    for (int i = 0; i < 8; ++i) out += char(bits >> (8 * i));
}

bool fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

// The NUL-terminated string at `offset` of the record, which must start after the fixed
// part and end inside the record.
bool readString(std::string_view record, uint32_t offset, size_t fixedSize, const char* field,
                std::string& out, std::string* error) {
    if (offset < fixedSize || offset >= record.size()) {
        return fail(error, std::string("the ") + field + " offset " + std::to_string(offset) +
                               " lies outside the strings of a record of " + std::to_string(record.size()) +
                               " bytes");
    }
    size_t end = record.find('\0', offset);
    if (end == std::string_view::npos) {
        return fail(error, std::string("the ") + field + " has no terminating NUL inside its record");
    }
    out.assign(record.substr(offset, end - offset));
    return true;
}

std::string withContext(const std::string& where, const std::string& what) {
    return where + ": " + what;
}

// Lays out one page: the header, the offsets, the zeros, then the records.
std::string buildPage(const Page& page) {
    std::string out;
    size_t n = page.records.size();
    putBE32(out, kPageTag);
    putLE32(out, uint32_t(n));
    size_t offset = kPageHeaderFixed + 4 * n;
    for (const auto& r : page.records) {
        putLE32(out, uint32_t(offset));
        offset += r.bytes.size();
    }
    putLE32(out, 0);
    for (const auto& r : page.records) out += r.bytes;
    return out;
}

std::string buildFile(const std::vector<std::string>& pages, const std::string& propertyList) {
    std::string out(kMagic, sizeof kMagic);
    putBE32(out, uint32_t(pages.size()));
    for (const auto& p : pages) putBE32(out, uint32_t(p.size()));
    uint32_t sum = 0;
    for (const auto& p : pages) {
        out += p;
        sum += pageChecksum(p);
    }
    putBE32(out, sum);
    out.append(kFooter, sizeof kFooter);
    putBE32(out, uint32_t(propertyList.size()));
    out += propertyList;
    return out;
}

std::vector<std::string> buildPages(const Jar& jar) {
    std::vector<std::string> pages;
    for (const auto& p : jar.pages) {
        if (!p.records.empty()) pages.push_back(buildPage(p));
    }
    return pages;
}

bool parsePage(std::string_view page, size_t index, Page& out, std::string* error) {
    const std::string where = "page " + std::to_string(index);
    if (page.size() < kPageHeaderFixed) {
        return fail(error, withContext(where, "its size " + std::to_string(page.size()) +
                                                  " is smaller than a page header"));
    }
    if (readBE32(page, 0) != kPageTag) return fail(error, withContext(where, "does not start with 00 00 01 00"));
    const uint64_t count = readLE32(page, 4);
    const uint64_t headerSize = kPageHeaderFixed + 4 * count;
    if (headerSize > page.size()) {
        return fail(error, withContext(where, "its " + std::to_string(count) + " records do not fit in " +
                                                  std::to_string(page.size()) + " bytes"));
    }
    if (readLE32(page, size_t(headerSize) - 4) != 0) {
        return fail(error, withContext(where, "its header does not end with four zero bytes"));
    }
    std::vector<std::pair<uint64_t, uint64_t>> spans;  // offset, size
    spans.reserve(size_t(count));
    uint64_t total = headerSize;
    for (uint64_t i = 0; i < count; ++i) {
        const std::string rwhere = where + ", record " + std::to_string(i);
        const uint64_t offset = readLE32(page, size_t(8 + 4 * i));
        if (offset < headerSize || offset + 4 > page.size()) {
            return fail(error, withContext(rwhere, "its offset " + std::to_string(offset) +
                                                       " lies outside the records of the page"));
        }
        const uint64_t size = readLE32(page, size_t(offset));
        if (size < kRecordFixedSize || offset + size > page.size()) {
            return fail(error, withContext(rwhere, "its size " + std::to_string(size) +
                                                       " does not fit in the page at offset " +
                                                       std::to_string(offset)));
        }
        total += size;
        spans.emplace_back(offset, size);
    }
    if (total != page.size()) {
        return fail(error, withContext(where, "its size " + std::to_string(page.size()) +
                                                  " is not its header and records (" + std::to_string(total) +
                                                  " bytes)"));
    }
    std::vector<std::pair<uint64_t, uint64_t>> sorted = spans;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 1; i < sorted.size(); ++i) {
        if (sorted[i - 1].first + sorted[i - 1].second > sorted[i].first) {
            return fail(error, withContext(where, "two records overlap"));
        }
    }
    out.records.clear();
    out.records.reserve(spans.size());
    for (size_t i = 0; i < spans.size(); ++i) {
        Record r;
        r.bytes.assign(page.substr(size_t(spans[i].first), size_t(spans[i].second)));
        std::string why;
        auto cookie = parseRecord(r.bytes, &why);
        if (!cookie) return fail(error, withContext(where + ", record " + std::to_string(i), why));
        r.cookie = std::move(*cookie);
        out.records.push_back(std::move(r));
    }
    return true;
}

}  // namespace

std::vector<HTTPCookie> Jar::cookies() const {
    std::vector<HTTPCookie> out;
    out.reserve(cookieCount());
    for (const auto& p : pages) {
        for (const auto& r : p.records) out.push_back(r.cookie);
    }
    return out;
}

size_t Jar::cookieCount() const {
    size_t n = 0;
    for (const auto& p : pages) n += p.records.size();
    return n;
}

std::optional<HTTPCookie> parseRecord(std::string_view record, std::string* error) {
    auto bad = [&](std::string text) -> std::optional<HTTPCookie> {
        fail(error, std::move(text));
        return std::nullopt;
    };
    if (record.size() < kRecordFixedSize) return bad("the record is shorter than its fixed part");
    if (readLE32(record, 0) != record.size()) return bad("the record's size field does not match its bytes");
    const uint32_t hasPort = readLE32(record, 12);
    if (hasPort > 1) return bad("its has-port field is " + std::to_string(hasPort) + ", not 0 or 1");
    const size_t fixedSize = kRecordFixedSize + (hasPort ? kPortSize : 0);
    if (record.size() < fixedSize) return bad("the record is too short to hold its port");

    HTTPCookie c;
    c.flags = readLE32(record, 8);
    if (!readString(record, readLE32(record, 16), fixedSize, "domain", c.domain, error)) return std::nullopt;
    if (!readString(record, readLE32(record, 20), fixedSize, "name", c.name, error)) return std::nullopt;
    if (!readString(record, readLE32(record, 24), fixedSize, "path", c.path, error)) return std::nullopt;
    if (!readString(record, readLE32(record, 28), fixedSize, "value", c.value, error)) return std::nullopt;
    if (uint32_t off = readLE32(record, 32); off != 0) {
        std::string s;
        if (!readString(record, off, fixedSize, "comment", s, error)) return std::nullopt;
        c.comment = std::move(s);
    }
    if (uint32_t off = readLE32(record, 36); off != 0) {
        std::string s;
        if (!readString(record, off, fixedSize, "comment URL", s, error)) return std::nullopt;
        c.commentURL = std::move(s);
    }
    c.expiresDate = readLEDouble(record, 40);
    c.creationDate = readLEDouble(record, 48);
    if (hasPort) c.port = readLE16(record, 56);
    return c;
}

std::optional<Jar> parse(std::string_view bytes, std::string* error) {
    auto bad = [&](std::string text) -> std::optional<Jar> {
        fail(error, std::move(text));
        return std::nullopt;
    };
    if (bytes.size() < 8) return bad("the file is shorter than its header (" + std::to_string(bytes.size()) + " bytes)");
    if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return bad("the file does not start with \"cook\"");
    const uint64_t pageCount = readBE32(bytes, 4);
    const uint64_t tableEnd = 8 + 4 * pageCount;
    if (tableEnd > bytes.size()) {
        return bad("the table of " + std::to_string(pageCount) + " page sizes does not fit in the file");
    }
    uint64_t pagesEnd = tableEnd;
    for (uint64_t i = 0; i < pageCount; ++i) pagesEnd += readBE32(bytes, size_t(8 + 4 * i));
    // The checksum, the footer and the property list's length follow the pages.
    if (pagesEnd + 12 > bytes.size()) {
        return bad("the pages (" + std::to_string(pagesEnd - tableEnd) + " bytes) and the footer do not fit in the file (" +
                   std::to_string(bytes.size()) + " bytes)");
    }
    Jar jar;
    jar.pages.reserve(size_t(pageCount));
    uint64_t at = tableEnd;
    uint32_t sum = 0;
    for (uint64_t i = 0; i < pageCount; ++i) {
        const size_t size = readBE32(bytes, size_t(8 + 4 * i));
        std::string_view page = bytes.substr(size_t(at), size);
        Page p;
        if (!parsePage(page, size_t(i), p, error)) return std::nullopt;
        sum += pageChecksum(page);
        jar.pages.push_back(std::move(p));
        at += size;
    }
    const size_t tail = size_t(pagesEnd);
    jar.storedChecksum = readBE32(bytes, tail);
    jar.checksumMatches = jar.storedChecksum == sum;
    if (std::memcmp(bytes.data() + tail + 4, kFooter, sizeof kFooter) != 0) {
        return bad("the pages are not followed by the footer 07 17 20 05");
    }
    const uint64_t plistSize = readBE32(bytes, tail + 8);
    if (tail + 12 + plistSize != bytes.size()) {
        return bad("the property list's length " + std::to_string(plistSize) + " does not match the " +
                   std::to_string(bytes.size() - tail - 12) + " bytes that follow the footer");
    }
    jar.propertyList.assign(bytes.substr(tail + 12));
    return jar;
}

std::string serialize(const Jar& jar) {
    return buildFile(buildPages(jar), jar.propertyList);
}

std::string encodeRecord(const HTTPCookie& cookie) {
    std::string out;
    out.reserve(kRecordFixedSize + kPortSize + cookie.domain.size() + cookie.name.size() + cookie.path.size() +
                cookie.value.size() + 8);
    for (int i = 0; i < 10; ++i) putLE32(out, 0);  // size, version, flags, has-port, six offsets: filled below
    setLE32(out, 8, cookie.flags);
    setLE32(out, 12, cookie.port ? 1 : 0);
    putLEDouble(out, cookie.expiresDate);
    putLEDouble(out, cookie.creationDate);
    if (cookie.port) {
        out += char(*cookie.port & 0xff);
        out += char(*cookie.port >> 8);
    }
    auto addString = [&](size_t field, const std::string& text) {
        setLE32(out, field, uint32_t(out.size()));
        // A NUL inside the text would end it early on reading: the text is stored up to it.
        out.append(text.c_str());
        out += '\0';
    };
    if (cookie.comment) addString(32, *cookie.comment);
    if (cookie.commentURL) addString(36, *cookie.commentURL);
    addString(16, cookie.domain);
    addString(20, cookie.name);
    addString(24, cookie.path);
    addString(28, cookie.value);
    setLE32(out, 0, uint32_t(out.size()));
    return out;
}

std::string encode(const std::vector<HTTPCookie>& cookies) {
    return encode(cookies, defaultPropertyList());
}

std::string encode(const std::vector<HTTPCookie>& cookies, const std::string& propertyList) {
    Jar jar;
    jar.propertyList = propertyList;
    for (size_t i = 0; i < cookies.size(); ++i) {
        if (i == 0 || cookies[i].domain != cookies[i - 1].domain) jar.pages.emplace_back();
        jar.pages.back().records.push_back({cookies[i], encodeRecord(cookies[i])});
    }
    return serialize(jar);
}

size_t removeWhere(Jar& jar, const std::function<bool(const HTTPCookie&)>& select) {
    size_t removed = 0;
    for (auto& p : jar.pages) {
        auto keep = std::remove_if(p.records.begin(), p.records.end(),
                                   [&](const Record& r) { return select(r.cookie); });
        removed += size_t(p.records.end() - keep);
        p.records.erase(keep, p.records.end());
    }
    jar.pages.erase(std::remove_if(jar.pages.begin(), jar.pages.end(),
                                   [](const Page& p) { return p.records.empty(); }),
                    jar.pages.end());
    return removed;
}

uint32_t pageChecksum(std::string_view page) {
    uint32_t sum = 0;
    for (size_t i = 0; i < page.size(); i += 4) sum += uint8_t(page[i]);
    return sum;
}

uint32_t checksum(const Jar& jar) {
    uint32_t sum = 0;
    for (const auto& p : buildPages(jar)) sum += pageChecksum(p);
    return sum;
}

std::string defaultPropertyList(uint8_t acceptPolicy) {
    static const char kKey[] = "NSHTTPCookieAcceptPolicy";
    std::string out = "bplist00";
    // Object 0 at 8: a dictionary of one entry, key object 1, value object 2.
    out += '\xD1';
    out += '\x01';
    out += '\x02';
    // Object 1 at 11: an ASCII string of 24 characters (length given as a one-byte integer).
    out += '\x5F';
    out += '\x10';
    out += char(sizeof kKey - 1);
    out.append(kKey, sizeof kKey - 1);
    // Object 2 at 38: a one-byte integer.
    out += '\x10';
    out += char(acceptPolicy);
    // The offset table at 40, one byte per object.
    out += '\x08';
    out += '\x0B';
    out += '\x26';
    // The trailer: 6 unused bytes, offset size 1, reference size 1, 3 objects, top object 0,
    // offset table at 40.
    out.append(6, '\0');
    out += '\x01';
    out += '\x01';
    out.append(7, '\0');
    out += '\x03';
    out.append(8, '\0');
    out.append(7, '\0');
    out += '\x28';
    return out;
}

}  // namespace hvn::BinaryCookies
