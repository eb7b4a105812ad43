#include "HVN/Code/ToolBox/Duplicate/THWebUtility.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "DuplicateFixtures.h"
#include "Platform/Crypto.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using dupes_test::pattern;
using dupes_test::withByteChanged;
using hvn::test::RootsTest;

namespace {

std::string md5(const std::string& s) {
    return hvn::Crypto::digestHex(hvn::Crypto::Digest::MD5, s.data(), s.size());
}

hvn::Data bytes(const std::string& s) {
    return hvn::Data(s.begin(), s.end());
}

// Published vectors: FIPS 180 "abc" and the empty message, RFC 1321 for MD5.
TEST(THWebUtilityDigests, KnownVectorsForEveryKind) {
    EXPECT_EQ(THWebUtility::hashString("abc", THWebUtility::MD5), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(THWebUtility::hashString("abc", THWebUtility::SHA1),
              "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(THWebUtility::hashString("abc", THWebUtility::SHA256),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(THWebUtility::hashString("abc", THWebUtility::SHA512),
              "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
              "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
    EXPECT_EQ(THWebUtility::hashString("", THWebUtility::MD5), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(THWebUtility::hashString("", THWebUtility::SHA256),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(THWebUtility::hashString("message digest", 0), "f96b697d7cb7938d525a2f31aaf161d0");

    const hvn::Data abc = bytes("abc");
    EXPECT_EQ(THWebUtility::hashData(abc, 1), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(THWebUtility::hashData(nullptr, 1), std::nullopt);
    EXPECT_EQ(THWebUtility::hashData(abc, 4), std::nullopt);
    EXPECT_EQ(THWebUtility::hashData(abc, -1), std::nullopt);
    EXPECT_EQ(THWebUtility::hashString("abc", 7), std::nullopt);
}

// RFC 2104 (MD5), RFC 2202 (SHA-1) and RFC 4231 (SHA-256, SHA-512), test case 2 of each.
TEST(THWebUtilityDigests, HmacVectorsAndNullInputs) {
    const std::string key = "Jefe";
    const std::string data = "what do ya want for nothing?";
    EXPECT_EQ(THWebUtility::hMacString(&data, &key, 0), "750c783e6ab0b503eaa86e310a5db738");
    EXPECT_EQ(THWebUtility::hMacString(&data, &key, 1), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
    EXPECT_EQ(THWebUtility::hMacString(&data, &key, 2),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(THWebUtility::hMacString(&data, &key, 3),
              "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea250554"
              "9758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737");
    const hvn::Data d = bytes(data);
    EXPECT_EQ(THWebUtility::hMacData(&d, &key, 2), THWebUtility::hMacString(&data, &key, 2));

    // The key ends at its first zero byte.
    const std::string cut = std::string("Jefe\0ignored", 12);
    EXPECT_EQ(THWebUtility::hMacString(&data, &cut, 2), THWebUtility::hMacString(&data, &key, 2));

    EXPECT_EQ(THWebUtility::hMacData(nullptr, &key, 2), std::nullopt);
    EXPECT_EQ(THWebUtility::hMacData(&d, nullptr, 2), std::nullopt);
    EXPECT_EQ(THWebUtility::hMacString(nullptr, &key, 2), std::nullopt);
    EXPECT_EQ(THWebUtility::hMacString(&data, &key, 9), std::nullopt);
}

class THWebUtilityFiles : public RootsTest {
protected:
    std::string put(const std::string& rel, const std::string& contents) const {
        return roots.writeFile(roots.base() + "/f/" + rel, contents);
    }
};

TEST_F(THWebUtilityFiles, WholeFileDigestsAndRefusals) {
    const std::string content = pattern(100000, 1);
    auto p = put("big.bin", content);
    EXPECT_EQ(THWebUtility::hashFile(p, 2), THWebUtility::hashString(content, 2));
    EXPECT_EQ(THWebUtility::hashFile(put("abc", "abc"), 3), THWebUtility::hashString("abc", 3));
    EXPECT_EQ(THWebUtility::hashFile(put("empty", ""), 0), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(THWebUtility::hashFile(p, 5), std::nullopt);
    EXPECT_EQ(THWebUtility::hashFile(roots.base() + "/f/missing", 2), std::nullopt);
    fs::create_symlink(p, roots.base() + "/f/link");
    EXPECT_EQ(THWebUtility::hashFile(roots.base() + "/f/link", 2), std::nullopt);
    ASSERT_EQ(::mkfifo((roots.base() + "/f/fifo").c_str(), 0644), 0);
    EXPECT_EQ(THWebUtility::hashFile(roots.base() + "/f/fifo", 2), std::nullopt);  // and does not block
    EXPECT_EQ(THWebUtility::hashFile(roots.base() + "/f", 2), std::nullopt);
}

TEST_F(THWebUtilityFiles, LazyFingerprintReadsAtMostThreeSamples) {
    const std::string small = pattern(4095, 2);
    EXPECT_EQ(THWebUtility::lazyMD5File(put("small", small)), md5(small));

    // 4096 to 8191 bytes: two samples at 0 and L/2, the second running to the end.
    const std::string two = pattern(5000, 3);
    EXPECT_EQ(THWebUtility::lazyMD5File(put("two", two)), md5(two.substr(0, 4096) + two.substr(2500)));

    // Larger: three samples at 0, L/3 and 2L/3.
    const std::string three = pattern(30000, 4);
    EXPECT_EQ(THWebUtility::lazyMD5File(put("three", three)),
              md5(three.substr(0, 4096) + three.substr(10000, 4096) + three.substr(20000, 4096)));

    // A change inside a sample changes it, one between samples does not.
    EXPECT_NE(THWebUtility::lazyMD5File(put("in", withByteChanged(three, 10001))),
              md5(three.substr(0, 4096) + three.substr(10000, 4096) + three.substr(20000, 4096)));
    EXPECT_EQ(THWebUtility::lazyMD5File(put("between", withByteChanged(three, 15000))),
              THWebUtility::lazyMD5File(roots.base() + "/f/three"));

    EXPECT_EQ(THWebUtility::lazyMD5File(put("empty", "")), std::nullopt);
    EXPECT_EQ(THWebUtility::lazyMD5File(roots.base() + "/f/missing"), std::nullopt);
    fs::create_symlink(roots.base() + "/f/three", roots.base() + "/f/link");
    EXPECT_EQ(THWebUtility::lazyMD5File(roots.base() + "/f/link"), std::nullopt);
}

TEST_F(THWebUtilityFiles, PackageListingFingerprint) {
    const std::string app = roots.base() + "/f/Tool.app";
    put("Tool.app/Contents/Info.plist", std::string(120, 'i'));
    put("Tool.app/Contents/MacOS/tool", std::string(3000, 't'));
    put("Tool.app/Contents/a/b/deep", std::string(7, 'd'));      // three components: listed
    put("Tool.app/Contents/a/b/c/deeper", std::string(9, 'x'));  // below four: never opened
    put("Tool.app/.DS_Store", "junk");
    put("Tool.app/__MACOSX/x", "junk");
    put("Tool.app/Contents/.hidden", "hh");  // only top-level names are left out
    fs::create_symlink("MacOS/tool", app + "/Contents/link");
    ASSERT_EQ(::mkfifo((app + "/Contents/pipe").c_str(), 0644), 0);

    const std::string listing =
        "Contents,Contents/.hidden-2,Contents/Info.plist-120,Contents/MacOS,Contents/MacOS/tool-3000,"
        "Contents/a,Contents/a/b,Contents/a/b/deep-7,Contents/link";
    EXPECT_EQ(THWebUtility::lazyHashPackage(app), md5(listing));
    EXPECT_EQ(THWebUtility::lazyHashFile(app), md5(listing));
    EXPECT_EQ(THWebUtility::lazyHashPackage(roots.base() + "/f/missing.app"), std::nullopt);
}

TEST_F(THWebUtilityFiles, PackageContentsDigestSeesEveryByte) {
    auto make = [&](const std::string& name) {
        put(name + "/Contents/MacOS/tool", pattern(20000, 5));
        put(name + "/Contents/a/b/c/d/e/deep", pattern(3000, 6));
        put(name + "/.hidden", "h");
        fs::create_symlink("MacOS/tool", roots.base() + "/f/" + name + "/Contents/link");
        return roots.base() + "/f/" + name;
    };
    auto one = make("One.app");
    auto two = make("Two.app");
    auto changed = make("Changed.app");
    auto relinked = make("Relinked.app");
    auto hidden = make("Hidden.app");
    put("Changed.app/Contents/a/b/c/d/e/deep", withByteChanged(pattern(3000, 6), 1500));
    fs::remove(relinked + "/Contents/link");
    fs::create_symlink("MacOS/other", relinked + "/Contents/link");
    put("Hidden.app/.hidden", "H");

    auto d1 = THWebUtility::hashPackageContents(one);
    ASSERT_TRUE(d1.has_value());
    EXPECT_EQ(d1, THWebUtility::hashPackageContents(two));  // names of the packages do not count
    EXPECT_NE(d1, THWebUtility::hashPackageContents(changed));
    EXPECT_NE(d1, THWebUtility::hashPackageContents(relinked));
    EXPECT_NE(d1, THWebUtility::hashPackageContents(hidden));

    std::atomic<bool> stop{true};
    EXPECT_EQ(THWebUtility::hashPackageContents(one, &stop), std::nullopt);
    EXPECT_EQ(THWebUtility::hashPackageContents(roots.base() + "/f/One.app/Contents/link"), std::nullopt);
}

}  // namespace
