#include "Platform/BinaryCookies.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/PropertyList.h"

namespace BC = hvn::BinaryCookies;
using hvn::HTTPCookie;

namespace {

// Byte helpers for building jars by hand, independently of the encoder.
void be32(std::string& s, uint32_t v) {
    for (int i = 3; i >= 0; --i) s += char(v >> (8 * i));
}
void le32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += char(v >> (8 * i));
}
void setLe32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + size_t(i)] = char(v >> (8 * i));
}
void setBe32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + size_t(i)] = char(v >> (8 * (3 - i)));
}
uint32_t getBe32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | uint8_t(s[at + size_t(i)]);
    return v;
}
uint32_t getLe32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | uint8_t(s[at + size_t(i)]);
    return v;
}
void leDouble(std::string& s, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    for (int i = 0; i < 8; ++i) s += char(bits >> (8 * i));
}

// Offsets of the string fields in a record.
enum Field : size_t { Domain = 16, Name = 20, Path = 24, Value = 28, Comment = 32, CommentURL = 36 };

// A record laid out by hand: strings in the given order, optional padding after them.
std::string rawRecord(const std::vector<std::pair<Field, std::string>>& strings, uint32_t version = 0,
                      uint32_t flags = 0, std::optional<uint16_t> port = {}, double expires = 0, double created = 0,
                      size_t padding = 0) {
    std::string r;
    le32(r, 0);
    le32(r, version);
    le32(r, flags);
    le32(r, port ? 1 : 0);
    for (int i = 0; i < 6; ++i) le32(r, 0);
    leDouble(r, expires);
    leDouble(r, created);
    if (port) {
        r += char(*port & 0xff);
        r += char(*port >> 8);
    }
    for (const auto& [field, text] : strings) {
        setLe32(r, field, uint32_t(r.size()));
        r += text;
        r += '\0';
    }
    r.append(padding, '\0');
    setLe32(r, 0, uint32_t(r.size()));
    return r;
}

std::vector<std::pair<Field, std::string>> appleOrder(const std::string& domain, const std::string& name,
                                                      const std::string& path, const std::string& value) {
    return {{Domain, domain}, {Name, name}, {Path, path}, {Value, value}};
}

// A page whose offset table lists the records in `tableOrder` (indexes into records, which
// are laid out in their own order).
std::string rawPage(const std::vector<std::string>& records, std::vector<size_t> tableOrder = {}) {
    if (tableOrder.empty()) {
        for (size_t i = 0; i < records.size(); ++i) tableOrder.push_back(i);
    }
    std::vector<uint32_t> offsets;
    uint32_t at = uint32_t(12 + 4 * records.size());
    for (const auto& r : records) {
        offsets.push_back(at);
        at += uint32_t(r.size());
    }
    std::string p;
    be32(p, 0x100);
    le32(p, uint32_t(records.size()));
    for (size_t i : tableOrder) le32(p, offsets[i]);
    le32(p, 0);
    for (const auto& r : records) p += r;
    return p;
}

uint32_t sumOfEveryFourthByte(const std::string& page) {
    uint32_t sum = 0;
    for (size_t i = 0; i < page.size(); i += 4) sum += uint8_t(page[i]);
    return sum;
}

std::string rawFile(const std::vector<std::string>& pages, const std::string& plist) {
    std::string f = "cook";
    be32(f, uint32_t(pages.size()));
    uint32_t sum = 0;
    for (const auto& p : pages) be32(f, uint32_t(p.size()));
    for (const auto& p : pages) {
        f += p;
        sum += sumOfEveryFourthByte(p);
    }
    be32(f, sum);
    f += std::string("\x07\x17\x20\x05", 4);
    be32(f, uint32_t(plist.size()));
    f += plist;
    return f;
}

HTTPCookie cookie(std::string domain, std::string name, std::string path = "/", std::string value = "v") {
    HTTPCookie c;
    c.domain = std::move(domain);
    c.name = std::move(name);
    c.path = std::move(path);
    c.value = std::move(value);
    return c;
}

std::vector<HTTPCookie> sampleCookies() {
    std::vector<HTTPCookie> out;
    HTTPCookie a = cookie(".example.com", "sid", "/", "abc123");
    a.flags = 0x1 | 0x4;
    a.expiresDate = 760000000.5;
    a.creationDate = 700000000.25;
    out.push_back(a);
    HTTPCookie b = cookie(".example.com", "pref", "/account", "");
    b.port = 8443;
    b.comment = "kept for a year";
    b.commentURL = "https://example.com/cookies";
    b.flags = 0x18;
    b.expiresDate = -1.0;
    out.push_back(b);
    out.push_back(cookie("example.com", "caf\xc3\xa9", "/", "\xe2\x82\xac"));
    HTTPCookie d = cookie("other.test", "", "", "x");
    d.port = 0;
    d.comment = "";
    out.push_back(d);
    out.push_back(cookie(".example.com", "again"));
    return out;
}

}  // namespace

TEST(BinaryCookiesTest, EncodedJarsDecodeToTheSameCookiesInOrderWithPagesPerRunOfADomain) {
    const auto cookies = sampleCookies();
    const std::string file = BC::encode(cookies);
    std::string error;
    auto jar = BC::parse(file, &error);
    ASSERT_TRUE(jar) << error;
    EXPECT_EQ(jar->cookies(), cookies);
    EXPECT_EQ(jar->cookieCount(), cookies.size());
    // .example.com (2), example.com, other.test, .example.com: four runs, four pages.
    ASSERT_EQ(jar->pages.size(), 4u);
    EXPECT_EQ(jar->pages[0].records.size(), 2u);
    EXPECT_TRUE(jar->checksumMatches);
    EXPECT_EQ(jar->propertyList, BC::defaultPropertyList());
    // Leading dots stay as stored.
    EXPECT_EQ(jar->cookies()[0].domain, ".example.com");
    EXPECT_EQ(jar->cookies()[2].domain, "example.com");

    // The file level: magic, page count, sizes, and the footer with the list's real length.
    EXPECT_EQ(file.substr(0, 4), "cook");
    EXPECT_EQ(getBe32(file, 4), 4u);
    size_t pagesEnd = 8 + 16;
    for (size_t i = 0; i < 4; ++i) pagesEnd += getBe32(file, 8 + 4 * i);
    EXPECT_EQ(file.substr(pagesEnd + 4, 4), std::string("\x07\x17\x20\x05", 4));
    EXPECT_EQ(getBe32(file, pagesEnd + 8), 75u);
    EXPECT_EQ(file.size(), pagesEnd + 12 + 75);

    // A parsed file is rebuilt exactly.
    EXPECT_EQ(BC::serialize(*jar), file);

    // An empty jar: no pages, checksum 0, footer and list.
    const std::string empty = BC::encode({});
    EXPECT_EQ(empty.size(), 8u + 12 + 75);
    EXPECT_EQ(getBe32(empty, 4), 0u);
    EXPECT_EQ(getBe32(empty, 8), 0u);
    auto none = BC::parse(empty, &error);
    ASSERT_TRUE(none) << error;
    EXPECT_TRUE(none->cookies().empty());
}

TEST(BinaryCookiesTest, RecordsFollowTheDocumentedLayout) {
    HTTPCookie c = cookie(".a.test", "n", "/p", "val");
    c.port = 0x1234;
    c.comment = "C";
    c.commentURL = "U";
    c.flags = 5;
    c.expiresDate = 1.5;
    c.creationDate = -2.0;
    const std::string r = BC::encodeRecord(c);
    EXPECT_EQ(getLe32(r, 0), r.size());
    EXPECT_EQ(getLe32(r, 4), 0u);  // version
    EXPECT_EQ(getLe32(r, 8), 5u);
    EXPECT_EQ(getLe32(r, 12), 1u);  // has port
    EXPECT_EQ(uint8_t(r[56]), 0x34);
    EXPECT_EQ(uint8_t(r[57]), 0x12);
    // Comment, comment URL, domain, name, path, value, from offset 58 on.
    EXPECT_EQ(getLe32(r, Comment), 58u);
    EXPECT_EQ(getLe32(r, CommentURL), 60u);
    EXPECT_EQ(getLe32(r, Domain), 62u);
    EXPECT_EQ(getLe32(r, Name), 70u);
    EXPECT_EQ(getLe32(r, Path), 72u);
    EXPECT_EQ(getLe32(r, Value), 75u);
    EXPECT_EQ(r.size(), 79u);
    std::string d;
    leDouble(d, 1.5);
    leDouble(d, -2.0);
    EXPECT_EQ(r.substr(40, 16), d);

    // Without port or comments the strings start at 56 and the comment offsets are 0.
    const std::string plain = BC::encodeRecord(cookie("x", "y"));
    EXPECT_EQ(getLe32(plain, 12), 0u);
    EXPECT_EQ(getLe32(plain, Domain), 56u);
    EXPECT_EQ(getLe32(plain, Comment), 0u);
    EXPECT_EQ(getLe32(plain, CommentURL), 0u);
    auto back = BC::parseRecord(plain);
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->port);
    EXPECT_FALSE(back->comment);
    EXPECT_FALSE(back->commentURL);
}

TEST(BinaryCookiesTest, TheChecksumAddsEveryFourthByteOfEachPageAndAMismatchIsReported) {
    const std::string file = BC::encode(sampleCookies());
    auto jar = BC::parse(file);
    ASSERT_TRUE(jar);
    const uint32_t pageCount = getBe32(file, 4);
    size_t at = 8 + 4 * pageCount;
    uint32_t expected = 0;
    for (uint32_t i = 0; i < pageCount; ++i) {
        const uint32_t size = getBe32(file, 8 + 4 * i);
        expected += sumOfEveryFourthByte(file.substr(at, size));
        at += size;
    }
    EXPECT_NE(expected, 0u);
    EXPECT_EQ(getBe32(file, at), expected);
    EXPECT_EQ(jar->storedChecksum, expected);
    EXPECT_EQ(BC::checksum(*jar), expected);

    // A changed checksum field is read as it is and reported; a rebuild writes the right one.
    std::string tampered = file;
    setBe32(tampered, at, expected + 1);
    auto bad = BC::parse(tampered);
    ASSERT_TRUE(bad);
    EXPECT_FALSE(bad->checksumMatches);
    EXPECT_EQ(bad->storedChecksum, expected + 1);
    EXPECT_EQ(BC::serialize(*bad), file);
}

TEST(BinaryCookiesTest, HandMadeJarsInAppleStringOrderWithShuffledOffsetsAreRead) {
    // Strings in the order domain, name, path, value; comment after them; padding after the
    // strings; records listed in the offset table in another order than they lie.
    std::vector<std::pair<Field, std::string>> s1 = appleOrder(".apple.com", "a", "/", "1");
    s1.insert(s1.begin(), {Comment, "note"});
    const std::string r1 = rawRecord(s1, 1, 0x8, 443, 100.0, 50.0, 3);
    const std::string r2 = rawRecord(appleOrder("www.apple.com", "b", "/x", "2"), 0, 0x1);
    const std::string r3 = rawRecord({{Value, "3"}, {Path, "/"}, {Name, "c"}, {Domain, "apple.com"}});
    const std::string plist = BC::defaultPropertyList(0);
    const std::string file = rawFile({rawPage({r1, r2}, {1, 0}), rawPage({r3})}, plist);

    std::string error;
    auto jar = BC::parse(file, &error);
    ASSERT_TRUE(jar) << error;
    ASSERT_EQ(jar->cookieCount(), 3u);
    EXPECT_TRUE(jar->checksumMatches);
    const auto cookies = jar->cookies();
    EXPECT_EQ(cookies[0].domain, "www.apple.com");  // the table's order
    EXPECT_TRUE(cookies[0].isSecure());
    EXPECT_FALSE(cookies[0].isHTTPOnly());
    EXPECT_EQ(cookies[1].domain, ".apple.com");
    EXPECT_EQ(cookies[1].comment, "note");
    EXPECT_FALSE(cookies[1].commentURL);
    EXPECT_EQ(cookies[1].port, 443);
    EXPECT_EQ(cookies[1].flags, 0x8u);
    EXPECT_EQ(cookies[1].expiresDate, 100.0);
    EXPECT_EQ(cookies[1].creationDate, 50.0);
    EXPECT_EQ(cookies[2].name, "c");
    EXPECT_EQ(cookies[2].value, "3");
    EXPECT_EQ(jar->pages[0].records[0].bytes, r2);
    EXPECT_EQ(jar->pages[0].records[1].bytes, r1);
    EXPECT_EQ(jar->propertyList, plist);
}

TEST(BinaryCookiesTest, DeletingKeepsEveryOtherRecordByteForByteAndDropsEmptiedPages) {
    std::vector<std::pair<Field, std::string>> s1 = appleOrder(".keep.com", "a", "/", "1");
    s1.push_back({CommentURL, "http://keep.com/why"});
    const std::string r1 = rawRecord(s1, 1, 0x10, 80, 1e9, 2e8, 5);
    const std::string r2 = rawRecord(appleOrder(".gone.com", "b", "/", "2"));
    const std::string r3 = rawRecord(appleOrder("keep.org", "c", "/", "3"), 7, 0x5);
    const std::string r4 = rawRecord(appleOrder(".gone.com", "d", "/", "4"));
    const std::string r5 = rawRecord(appleOrder("keep.net", "e", "/deep/path", "5"));
    // An unusual list after the footer is carried over as it is.
    const std::string plist = "bplist00-not-a-real-list";
    const std::string file = rawFile({rawPage({r1, r2}, {1, 0}), rawPage({r4}), rawPage({r3, r5})}, plist);
    auto jar = BC::parse(file);
    ASSERT_TRUE(jar);

    EXPECT_EQ(BC::removeWhere(*jar, [](const HTTPCookie& c) { return c.domain == ".gone.com"; }), 2u);
    const std::string rewritten = BC::serialize(*jar);
    std::string error;
    auto after = BC::parse(rewritten, &error);
    ASSERT_TRUE(after) << error;
    EXPECT_TRUE(after->checksumMatches);
    EXPECT_EQ(after->propertyList, plist);
    ASSERT_EQ(after->pages.size(), 2u);  // the page of r4 alone is gone
    std::vector<std::string> bytes;
    for (const auto& p : after->pages) {
        for (const auto& r : p.records) bytes.push_back(r.bytes);
    }
    EXPECT_EQ(bytes, (std::vector<std::string>{r1, r3, r5}));
    std::vector<HTTPCookie> expected;
    for (const auto& c : BC::parse(file)->cookies()) {
        if (c.domain != ".gone.com") expected.push_back(c);
    }
    EXPECT_EQ(after->cookies(), expected);

    // Removing nothing changes nothing; removing all leaves an empty, valid jar.
    EXPECT_EQ(BC::removeWhere(*after, [](const HTTPCookie&) { return false; }), 0u);
    EXPECT_EQ(BC::serialize(*after), rewritten);
    EXPECT_EQ(BC::removeWhere(*after, [](const HTTPCookie&) { return true; }), 3u);
    EXPECT_TRUE(after->pages.empty());
    auto empty = BC::parse(BC::serialize(*after));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->cookieCount(), 0u);
    EXPECT_EQ(empty->propertyList, plist);
}

TEST(BinaryCookiesTest, TheDefaultListIsTheAcceptPolicyAsABinaryPropertyList) {
    const std::string plist = BC::defaultPropertyList();
    EXPECT_EQ(plist.size(), 75u);
    auto value = hvn::PropertyList::parse(plist);
    ASSERT_TRUE(value);
    ASSERT_TRUE(value->isDictionary());
    EXPECT_EQ(value->asDictionary(), (hvn::Dictionary{{"NSHTTPCookieAcceptPolicy", hvn::Value(2)}}));
    auto never = hvn::PropertyList::parse(BC::defaultPropertyList(1));
    ASSERT_TRUE(never);
    EXPECT_EQ(never->asDictionary().at("NSHTTPCookieAcceptPolicy").asInteger(), 1);
}

TEST(BinaryCookiesTest, EveryTruncationOfAValidJarIsRefused) {
    const std::string file = BC::encode(sampleCookies());
    for (size_t n = 0; n < file.size(); ++n) {
        std::string error;
        // A copy of exactly n bytes, so that a sanitizer sees any read past it.
        const std::string cut = file.substr(0, n);
        EXPECT_FALSE(BC::parse(cut, &error)) << n;
        EXPECT_FALSE(error.empty()) << n;
    }
    // A byte more than the list's length says is refused too.
    EXPECT_FALSE(BC::parse(file + '\0'));
}

TEST(BinaryCookiesTest, InconsistentCountsSizesAndOffsetsAreRefusedWithAReason) {
    const std::string r1 = rawRecord(appleOrder(".a.com", "n", "/", "v"));
    const std::string r2 = rawRecord(appleOrder(".b.com", "m", "/", "w"));
    const std::string page = rawPage({r1, r2});
    const std::string plist = BC::defaultPropertyList();
    const std::string good = rawFile({page}, plist);
    ASSERT_TRUE(BC::parse(good));
    const size_t p = 12;  // the page's start in the file

    struct Case {
        const char* what;
        std::function<std::string()> make;
        const char* reason;
    };
    auto withPage = [&](std::function<void(std::string&)> change) {
        std::string pg = page;
        change(pg);
        return rawFile({pg}, plist);
    };
    auto withRecord = [&](std::function<void(std::string&)> change) {
        std::string r = r1;
        change(r);
        return rawFile({rawPage({r, r2})}, plist);
    };
    const std::vector<Case> cases = {
        {"no magic", [&] { std::string f = good; f[0] = 'C'; return f; }, "cook"},
        {"huge page count", [&] { std::string f = good; setBe32(f, 4, 0xFFFFFFFFu); return f; }, "page sizes"},
        {"page size beyond the file", [&] { std::string f = good; setBe32(f, 8, 0xFFFFFFF0u); return f; },
         "do not fit"},
        {"page size smaller than its header",
         [&] {
             std::string f = "cook";
             be32(f, 1);
             be32(f, 8);
             f += std::string(8, '\0');
             be32(f, 0);
             f += std::string("\x07\x17\x20\x05", 4);
             be32(f, 0);
             return f;
         },
         "smaller than a page header"},
        {"a page size that does not add up",
         [&] {
             std::string pg = page + std::string(4, '\0');
             return rawFile({pg}, plist);
         },
         "is not its header and records"},
        {"bad page tag", [&] { return withPage([](std::string& pg) { pg[2] = 2; }); }, "00 00 01 00"},
        {"record count too large", [&] { return withPage([](std::string& pg) { setLe32(pg, 4, 0x40000000u); }); },
         "do not fit"},
        {"header not closed by zeros", [&] { return withPage([](std::string& pg) { pg[16] = 1; }); },
         "four zero bytes"},
        {"record offset inside the header", [&] { return withPage([](std::string& pg) { setLe32(pg, 8, 4); }); },
         "outside the records"},
        {"record offset past the page",
         [&] { return withPage([&](std::string& pg) { setLe32(pg, 8, uint32_t(pg.size() - 2)); }); },
         "outside the records"},
        {"record size past the page",
         [&] { return withPage([&](std::string& pg) { setLe32(pg, 20 + r1.size(), 0x7FFFFFFFu); }); },
         "does not fit"},
        {"record size below the fixed part",
         [&] { return withPage([&](std::string& pg) { setLe32(pg, 20, 8); }); }, "does not fit"},
        {"two records at one offset",
         [&] {
             return withPage([&](std::string& pg) {
                 // Both entries name the first record; the sizes then still add up only if the
                 // two records are equal in size, which they are.
                 setLe32(pg, 12, 20);
             });
         },
         "overlap"},
        {"has-port neither 0 nor 1", [&] { return withRecord([](std::string& r) { setLe32(r, 12, 2); }); },
         "has-port"},
        {"string offset past the record",
         [&] { return withRecord([&](std::string& r) { setLe32(r, Value, uint32_t(r.size())); }); }, "value offset"},
        {"string offset into the fixed part",
         [&] { return withRecord([](std::string& r) { setLe32(r, Name, 40); }); }, "name offset"},
        {"string without NUL",
         [&] { return withRecord([](std::string& r) { r.back() = 'x'; }); }, "no terminating NUL"},
        {"comment offset past the record",
         [&] { return withRecord([](std::string& r) { setLe32(r, CommentURL, 0x10000); }); }, "comment URL"},
        {"port without room for it",
         [&] {
             std::string r = rawRecord({});
             r.resize(56);
             setLe32(r, 0, 56);
             setLe32(r, 12, 1);
             return rawFile({rawPage({r})}, plist);
         },
         "port"},
        {"no footer", [&] { std::string f = good; f[p + page.size() + 4] = 0; return f; }, "footer"},
        {"list length too long",
         [&] { std::string f = good; setBe32(f, p + page.size() + 8, 76); return f; }, "length"},
        {"list length too short",
         [&] { std::string f = good; setBe32(f, p + page.size() + 8, 74); return f; }, "length"},
    };
    for (const auto& c : cases) {
        std::string error;
        const std::string bytes = c.make();
        EXPECT_FALSE(BC::parse(bytes, &error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}
