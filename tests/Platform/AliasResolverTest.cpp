#include "Platform/AliasResolver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Support/AliasFixtures.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
namespace Alias = hvn::Alias;
using hvn::test::RootsTest;

namespace {

Alias::Bytes bytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Sets an environment variable for one test.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

hvn::test::BookmarkSpec onVolume(const std::string& volumePath, const std::string& name,
                                 const std::string& rest) {
    hvn::test::BookmarkSpec spec;
    spec.components = hvn::test::pathComponents(volumePath + rest);
    spec.volumePath = volumePath;
    spec.volumeName = name;
    spec.bootVolume = false;
    return spec;
}

}  // namespace

// --- The byte-level readers ---

TEST(AliasBookmarkParse, BlobAndAliasFileGiveTheStoredPathAndVolume) {
    hvn::test::BookmarkSpec spec = onVolume("/Volumes/SANDISK", "SANDISK", "/untitled/Ré sumé.txt");
    spec.volumeUUID = "0A81F3B1-51D9-3335-B3E3-169C3640360D";
    for (const std::string& data : {hvn::test::bookmarkData(spec), hvn::test::dataForkAlias(spec)}) {
        std::string error;
        auto rec = Alias::parseBookmarkData(bytes(data), &error);
        ASSERT_TRUE(rec) << error;
        EXPECT_EQ(rec->path, "/Volumes/SANDISK/untitled/Ré sumé.txt");
        EXPECT_EQ(rec->volumePath, "/Volumes/SANDISK");
        EXPECT_EQ(rec->volumeName, "SANDISK");
        EXPECT_EQ(rec->volumeUUID, "0A81F3B1-51D9-3335-B3E3-169C3640360D");
        EXPECT_FALSE(rec->bootVolume);
        EXPECT_TRUE(Alias::hasBookmarkMagic(bytes(data)));
    }
}

TEST(AliasBookmarkParse, VolumeKeysFromASecondTableAndTheRootAsAnEmptyPath) {
    hvn::test::BookmarkSpec spec = onVolume("/Volumes/Disk", "Disk", "/a");
    spec.volumeInSecondToc = true;
    auto rec = Alias::parseBookmarkData(bytes(hvn::test::dataForkAlias(spec)));
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->path, "/Volumes/Disk/a");
    EXPECT_EQ(rec->volumePath, "/Volumes/Disk");

    hvn::test::BookmarkSpec root = hvn::test::bookmarkTo("/");
    rec = Alias::parseBookmarkData(bytes(hvn::test::bookmarkData(root)));
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->path, "/");
    EXPECT_TRUE(rec->bootVolume);
}

TEST(AliasBookmarkParse, EmbeddedClassicRecordWhenNoPathIsStored) {
    hvn::test::BookmarkSpec spec;
    spec.withPath = false;
    spec.embeddedAlis = hvn::test::alisRecord(hvn::test::alisTo("/Users/me/old.txt"));
    auto rec = Alias::parseBookmarkData(bytes(hvn::test::dataForkAlias(spec)));
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->path, "/Users/me/old.txt");

    spec.embeddedAlis.reset();
    std::string error;
    EXPECT_FALSE(Alias::parseBookmarkData(bytes(hvn::test::dataForkAlias(spec)), &error));
    EXPECT_EQ(error, "bookmark stores no target path");
}

TEST(AliasBookmarkParse, EveryTruncationFailsCleanly) {
    hvn::test::BookmarkSpec spec = onVolume("/Volumes/X", "X", "/f");
    for (const std::string& data : {hvn::test::bookmarkData(spec), hvn::test::dataForkAlias(spec)}) {
        for (size_t n = 0; n < data.size(); ++n) {
            std::string error;
            EXPECT_FALSE(Alias::parseBookmarkData(bytes(data.substr(0, n)), &error)) << n;
            EXPECT_FALSE(error.empty()) << n;
        }
        EXPECT_TRUE(Alias::parseBookmarkData(bytes(data)));
    }
}

TEST(AliasBookmarkParse, LoopingAndEndlessTableChainsAreErrors) {
    hvn::test::BookmarkBuilder b;
    uint32_t name = b.addString("x");
    uint32_t path = b.addArray({name});
    uint32_t t1 = b.addToc({{0x1004, path}});
    b.setNextToc(t1, t1);
    std::string error;
    EXPECT_FALSE(Alias::parseBookmarkData(bytes(b.aliasFile()), &error));
    EXPECT_NE(error.find("loops"), std::string::npos) << error;

    uint32_t t2 = b.addToc({}, 2);
    b.setNextToc(t1, t2);
    b.setNextToc(t2, t1);
    EXPECT_FALSE(Alias::parseBookmarkData(bytes(b.bookmark()), &error));
    EXPECT_NE(error.find("loops"), std::string::npos) << error;

    // A long chain of distinct tables ends at the bound.
    hvn::test::BookmarkBuilder c;
    uint32_t prev = c.addToc({{0x1004, c.addArray({c.addString("y")})}});
    for (int i = 0; i < 100; ++i) {
        uint32_t t = c.addToc({}, static_cast<uint32_t>(i + 2));
        c.setNextToc(prev, t);
        prev = t;
    }
    EXPECT_FALSE(Alias::parseBookmarkData(bytes(c.aliasFile()), &error));
    EXPECT_NE(error.find("more than"), std::string::npos) << error;
}

TEST(AliasBookmarkParse, MalformedRecordsAreRefused) {
    std::string error;
    auto refused = [&](hvn::test::BookmarkBuilder& b) {
        return !Alias::parseBookmarkData(bytes(b.aliasFile()), &error);
    };
    {  // ".." would climb out of the volume
        hvn::test::BookmarkBuilder b;
        b.addToc({{0x1004, b.addArray({b.addString("a"), b.addString(".."), b.addString("etc")})}});
        EXPECT_TRUE(refused(b));
    }
    {  // a component holding a slash
        hvn::test::BookmarkBuilder b;
        b.addToc({{0x1004, b.addArray({b.addString("a/b")})}});
        EXPECT_TRUE(refused(b));
    }
    {  // an element that is not a string
        hvn::test::BookmarkBuilder b;
        b.addToc({{0x1004, b.addArray({b.addRecord(0x0303, "1234")})}});
        EXPECT_TRUE(refused(b));
    }
    {  // an element offset far outside
        hvn::test::BookmarkBuilder b;
        b.addToc({{0x1004, b.addArray({0x7FFFFFF0u})}});
        EXPECT_TRUE(refused(b));
    }
    {  // an entry count that cannot fit
        hvn::test::BookmarkBuilder b;
        uint32_t t = b.addToc({});
        std::string data = b.aliasFile();
        const size_t countAt = 56 + t + 16;
        data[countAt] = data[countAt + 1] = data[countAt + 2] = data[countAt + 3] = '\xFF';
        EXPECT_FALSE(Alias::parseBookmarkData(bytes(data), &error));
    }
    {  // a blob declaring more bytes than it has
        hvn::test::BookmarkBuilder b;
        b.addToc({{0x1004, b.addArray({b.addString("a")})}});
        std::string blob = b.bookmark();
        blob[4] = '\x7F';
        EXPECT_FALSE(Alias::parseBookmarkData(bytes(blob), &error));
        EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    }
    EXPECT_FALSE(Alias::parseBookmarkData(bytes("plain text, no alias at all"), &error));
}

TEST(AliasAlisParse, VersionTwoAndThreeRecords) {
    hvn::test::AlisSpec v2 = hvn::test::alisTo("/docs/notes.txt", 2);
    v2.mountPoint = "/Volumes/Ärchiv";
    v2.volumeName = "Ärchiv";
    auto rec = Alias::parseAlisRecord(bytes(hvn::test::alisRecord(v2)));
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->path, "/Volumes/Ärchiv/docs/notes.txt");
    EXPECT_EQ(rec->volumePath, "/Volumes/Ärchiv");
    EXPECT_EQ(rec->volumeName, "Ärchiv");  // from the UTF-16 tag 15
    EXPECT_FALSE(rec->bootVolume);

    hvn::test::AlisSpec v3 = hvn::test::alisTo("/Users/me/a.txt", 3);
    rec = Alias::parseAlisRecord(bytes(hvn::test::alisRecord(v3)));
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->path, "/Users/me/a.txt");
    EXPECT_TRUE(rec->bootVolume);
}

TEST(AliasAlisParse, BadRecordsAreErrors) {
    std::string error;
    hvn::test::AlisSpec noPath = hvn::test::alisTo("/x");
    noPath.posixPath.reset();
    EXPECT_FALSE(Alias::parseAlisRecord(bytes(hvn::test::alisRecord(noPath)), &error));
    EXPECT_EQ(error, "alias record stores no POSIX path");

    hvn::test::AlisSpec climbing = hvn::test::alisTo("/a/../../etc/passwd");
    EXPECT_FALSE(Alias::parseAlisRecord(bytes(hvn::test::alisRecord(climbing)), &error));

    std::string record = hvn::test::alisRecord(hvn::test::alisTo("/some/file"));
    std::string wrongVersion = record;
    wrongVersion[7] = 4;
    EXPECT_FALSE(Alias::parseAlisRecord(bytes(wrongVersion), &error));
    // A tag whose length overruns the record.
    std::string overrun = record;
    overrun[150 + 2] = '\x7F';
    EXPECT_FALSE(Alias::parseAlisRecord(bytes(overrun), &error));
    for (size_t n = 0; n < record.size(); ++n) {
        EXPECT_FALSE(Alias::parseAlisRecord(bytes(record.substr(0, n)))) << n;
    }
}

TEST(AliasResourceFork, FindsTheAlisResourceAmongOthers) {
    const std::string alis = hvn::test::alisRecord(hvn::test::alisTo("/f"));
    std::string fork = hvn::test::resourceFork({{0x69636E73, 0, "icon bytes"},  // 'icns'
                                                {0x616C6973, 5, "not this one"},
                                                {0x616C6973, 0, alis}});
    std::string error;
    auto found = Alias::findAliasResource(bytes(fork), &error);
    ASSERT_TRUE(found) << error;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(found->data()), found->size()), alis);

    auto none = hvn::test::resourceFork({{0x69636E73, 0, "icon"}});
    EXPECT_FALSE(Alias::findAliasResource(bytes(none), &error));
    EXPECT_EQ(error, "resource fork has no alis resource");

    for (size_t n = 0; n < fork.size(); ++n)
        EXPECT_FALSE(Alias::findAliasResource(bytes(fork.substr(0, n)))) << n;

    // A data offset pointing past the data area.
    std::string bad = hvn::test::resourceFork({{0x616C6973, 0, alis}});
    const size_t refAt = bad.size() - 12;
    bad[refAt + 5] = '\x7F';
    EXPECT_FALSE(Alias::findAliasResource(bytes(bad), &error));
}

TEST(AliasAppleDouble, EntriesAndBounds) {
    const std::string fork = hvn::test::resourceFork({{0x616C6973, 0, "x"}});
    const std::string info = hvn::test::aliasFinderInfo();
    std::string ad = hvn::test::appleDouble(fork, info);
    auto entries = Alias::parseAppleDouble(bytes(ad));
    ASSERT_TRUE(entries);
    ASSERT_TRUE(entries->resourceFork && entries->finderInfo);
    EXPECT_EQ(entries->resourceFork->size(), fork.size());
    EXPECT_TRUE(Alias::finderInfoMarksAlias(*entries->finderInfo));
    EXPECT_FALSE(Alias::finderInfoMarksAlias(bytes(hvn::test::aliasFinderInfo(false))));

    auto infoOnly = Alias::parseAppleDouble(bytes(hvn::test::appleDouble(std::nullopt, info)));
    ASSERT_TRUE(infoOnly);
    EXPECT_FALSE(infoOnly->resourceFork);

    std::string error;
    EXPECT_FALSE(Alias::parseAppleDouble(bytes(ad.substr(0, ad.size() - 1)), &error));
    EXPECT_NE(error.find("outside"), std::string::npos) << error;
    EXPECT_FALSE(Alias::parseAppleDouble(bytes(std::string(40, 'x')), &error));
    EXPECT_EQ(error, "not an AppleDouble file");
}

// --- Files and resolution ---

class AliasResolverTest : public RootsTest {
protected:
    std::string home(const std::string& rel) const { return roots.home() + rel; }
    std::string root(const std::string& rel) const { return roots.root() + rel; }
};

TEST_F(AliasResolverTest, WhichFilesAreAliases) {
    const std::string target = roots.writeFile(home("/Documents/t.txt"), "t");
    const std::string modern = hvn::test::writeDataForkAlias(home("/Desktop/modern"), target);
    const std::string classic =
        hvn::test::writeClassicAliasAppleDouble(home("/Desktop/classic"), hvn::test::alisTo(target));
    EXPECT_TRUE(Alias::isAliasFile(modern));
    EXPECT_TRUE(Alias::isAliasFile(classic));
    EXPECT_FALSE(Alias::isAliasFile(home("/Desktop/._classic")));  // the AppleDouble file itself
    EXPECT_FALSE(Alias::isAliasFile(target));
    EXPECT_FALSE(Alias::isAliasFile(home("/Desktop")));
    EXPECT_FALSE(Alias::isAliasFile(home("/Desktop/missing")));

    fs::create_symlink(modern, home("/Desktop/link"));
    EXPECT_FALSE(Alias::isAliasFile(home("/Desktop/link")));

    // An AppleDouble file without the alias flag, or with the flag and no alis resource.
    const std::string noFlag = roots.writeFile(home("/Desktop/noflag"), "");
    roots.writeFile(
        home("/Desktop/._noflag"),
        hvn::test::appleDouble(
            hvn::test::resourceFork({{0x616C6973, 0, hvn::test::alisRecord(hvn::test::alisTo(target))}}),
            hvn::test::aliasFinderInfo(false)));
    EXPECT_FALSE(Alias::isAliasFile(noFlag));
    const std::string noAlis = roots.writeFile(home("/Desktop/noalis"), "");
    roots.writeFile(home("/Desktop/._noalis"),
                    hvn::test::appleDouble(hvn::test::resourceFork({{0x69636E73, 0, "i"}}),
                                           hvn::test::aliasFinderInfo()));
    EXPECT_FALSE(Alias::isAliasFile(noAlis));

    // A FIFO is no alias, and testing it does not block.
    ASSERT_EQ(::mkfifo(home("/Desktop/fifo").c_str(), 0600), 0);
    EXPECT_FALSE(Alias::isAliasFile(home("/Desktop/fifo")));
}

TEST_F(AliasResolverTest, ClassicAliasInExtendedAttributes) {
    const std::string target = roots.writeFile(home("/Documents/x.txt"), "x");
    if (!hvn::test::userXattrsSupported(roots.home())) GTEST_SKIP() << "no user extended attributes here";
    const std::string alias = home("/Desktop/xattr-alias");
    ASSERT_TRUE(hvn::test::writeClassicAliasXattr(alias, hvn::test::alisTo(target, 3)));
    EXPECT_TRUE(Alias::isAliasFile(alias));
    auto r = Alias::resolve(alias);
    EXPECT_TRUE(r.wasAlias);
    EXPECT_EQ(r.target, target);
}

TEST_F(AliasResolverTest, StoredPathsAreLocatedBelowTheRoots) {
    const std::string inHome = roots.writeFile(home("/Documents/a b.txt"), "a");
    const std::string inSystem = roots.writeFile(root("/Applications/Tool.app/Contents/Info.plist"), "");
    auto r = Alias::resolve(hvn::test::writeDataForkAlias(home("/Desktop/a"), inHome));
    EXPECT_TRUE(r.wasAlias);
    EXPECT_EQ(r.target, inHome);
    r = Alias::resolve(hvn::test::writeDataForkAlias(home("/Desktop/tool"), "/Applications/Tool.app"));
    EXPECT_EQ(r.target, root("/Applications/Tool.app"));
    r = Alias::resolve(hvn::test::writeClassicAliasAppleDouble(home("/Desktop/old"),
                                                               hvn::test::alisTo("/Applications/Tool.app")));
    EXPECT_TRUE(r.wasAlias);
    EXPECT_EQ(r.target, root("/Applications/Tool.app"));
}

TEST_F(AliasResolverTest, FailuresAreErrorsWithALogLine) {
    hvn::test::LogLines log;
    auto r =
        Alias::resolve(hvn::test::writeDataForkAlias(home("/Desktop/gone"), home("/Documents/gone.txt")));
    EXPECT_TRUE(r.wasAlias);
    EXPECT_FALSE(r.resolved());
    EXPECT_NE(r.error.find("does not exist"), std::string::npos) << r.error;
    EXPECT_TRUE(log.contains("/Desktop/gone"));

    r = Alias::resolve(roots.writeFile(home("/Desktop/plain.txt"), "hello"));
    EXPECT_FALSE(r.wasAlias);
    EXPECT_FALSE(r.resolved());
    EXPECT_EQ(r.error, "not an alias file");

    // A data-fork alias whose data is corrupt is an alias that does not resolve.
    std::string corrupt = hvn::test::dataForkAlias(hvn::test::bookmarkTo("/x"));
    corrupt.resize(corrupt.size() - 6);
    r = Alias::resolve(roots.writeFile(home("/Desktop/corrupt\nname"), corrupt));
    EXPECT_TRUE(r.wasAlias);
    EXPECT_FALSE(r.resolved());
    EXPECT_TRUE(log.contains("corrupt\\x0Aname"));
}

TEST_F(AliasResolverTest, VolumePathSwappedForAMountOfTheSameName) {
    ScopedEnv user("USER", "tester");
    const std::string media = roots.writeFile(root("/media/tester/SANDISK/docs/a.txt"), "a");
    // macOS names a second volume of the same name "SANDISK 1"; the name key still says SANDISK.
    auto spec = onVolume("/Volumes/SANDISK 1", "SANDISK", "/docs/a.txt");
    const std::string alias = roots.writeFile(home("/Desktop/stick"), hvn::test::dataForkAlias(spec));
    EXPECT_EQ(Alias::resolve(alias).target, media);

    // Under /run/media and under the sandbox's /Volumes the same.
    fs::remove_all(root("/media"));
    const std::string run = roots.writeFile(root("/run/media/tester/SANDISK/docs/a.txt"), "a");
    EXPECT_EQ(Alias::resolve(alias).target, run);
    fs::remove_all(root("/run"));
    const std::string volumes = roots.writeFile(root("/Volumes/SANDISK/docs/a.txt"), "a");
    EXPECT_EQ(Alias::resolve(alias).target, volumes);

    // A volume of that name that lacks the file: the alias is broken.
    fs::remove(volumes);
    EXPECT_FALSE(Alias::resolve(alias).resolved());
}

TEST_F(AliasResolverTest, VolumeFoundByUUIDThroughTheMountTable) {
    const std::string uuid = "0A81F3B1-51D9-3335-B3E3-169C3640360D";
    roots.writeFile(root("/dev/sdz1"), "");
    roots.makeDir(root("/dev/disk/by-uuid"));
    fs::create_symlink("../../sdz1", root("/dev/disk/by-uuid/" + uuid));
    roots.writeFile(root("/proc/self/mountinfo"),
                    "22 1 8:2 / / rw - ext4 /dev/sda2 rw\n"
                    "40 22 8:209 / /mnt/backup rw - hfsplus /dev/sdz1 rw\n");
    const std::string file = roots.writeFile(root("/mnt/backup/f.txt"), "f");
    auto spec = onVolume("/Volumes/Backup", "Renamed Since", "/f.txt");
    spec.volumeUUID = "0a81f3b1-51d9-3335-b3e3-169c3640360d";
    const std::string alias = roots.writeFile(home("/Desktop/backup"), hvn::test::dataForkAlias(spec));
    EXPECT_EQ(Alias::resolve(alias).target, file);
}

TEST_F(AliasResolverTest, BootVolumeIsNotSwapped) {
    ScopedEnv user("USER", "tester");
    roots.writeFile(root("/media/tester/Macintosh HD/Users/x/f"), "");
    const std::string onRoot = roots.writeFile(root("/Users/x/f"), "");
    auto spec = hvn::test::bookmarkTo("/Users/x/f");
    const std::string alias = roots.writeFile(home("/Desktop/boot"), hvn::test::dataForkAlias(spec));
    EXPECT_EQ(Alias::resolve(alias).target, onRoot);
}

TEST_F(AliasResolverTest, ChainsAreFollowedWithinTheBound) {
    const std::string target = roots.writeFile(home("/Documents/end.txt"), "end");
    auto chain = hvn::test::writeAliasChain(home("/Desktop/ok"), Alias::kMaxChainHops, target);
    auto r = Alias::resolve(chain.front());
    EXPECT_EQ(r.target, target) << r.error;

    hvn::test::LogLines log;
    auto tooLong = hvn::test::writeAliasChain(home("/Desktop/long"), Alias::kMaxChainHops + 1, target);
    r = Alias::resolve(tooLong.front());
    EXPECT_TRUE(r.wasAlias);
    EXPECT_FALSE(r.resolved());
    EXPECT_NE(r.error.find("longer than 16"), std::string::npos) << r.error;
    EXPECT_TRUE(log.contains("longer than 16"));
    // Starting further down, the same files are a chain short enough.
    EXPECT_EQ(Alias::resolve(tooLong[1]).target, target);
}

TEST_F(AliasResolverTest, LoopsAreErrors) {
    const std::string a = home("/Desktop/a"), b = home("/Desktop/b"), self = home("/Desktop/self");
    hvn::test::writeDataForkAlias(a, b);
    hvn::test::writeDataForkAlias(b, a);
    hvn::test::writeDataForkAlias(self, self);
    hvn::test::LogLines log;
    for (const auto& p : {a, self}) {
        auto r = Alias::resolve(p);
        EXPECT_TRUE(r.wasAlias);
        EXPECT_FALSE(r.resolved());
        EXPECT_NE(r.error.find("loop"), std::string::npos) << r.error;
    }
    EXPECT_EQ(log.count("alias loop"), 2u);
    // A hard link of an alias is the same alias.
    ASSERT_EQ(::link(a.c_str(), home("/Desktop/a2").c_str()), 0);
    hvn::test::writeDataForkAlias(b, home("/Desktop/a2"));
    EXPECT_FALSE(Alias::resolve(a).resolved());
}
