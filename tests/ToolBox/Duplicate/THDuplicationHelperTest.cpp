#include "HVN/Code/ToolBox/Duplicate/THDuplicationHelper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "DuplicateFixtures.h"
#include "HVN/Code/ToolBox/Duplicate/THWebUtility.h"
#include "Platform/Crypto.h"
#include "Platform/NotificationCenter.h"
#include "Platform/OperationQueue.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using dupes_test::fileLists;
using dupes_test::pattern;
using dupes_test::runSearch;
using dupes_test::withByteChanged;
using hvn::test::RootsTest;
using Lists = std::vector<std::vector<std::string>>;

namespace {

class DuplicationSearch : public RootsTest {
protected:
    std::string dir() const { return roots.base() + "/search"; }
    std::string put(const std::string& rel, const std::string& contents) const {
        return roots.writeFile(dir() + "/" + rel, contents);
    }
    dupes_test::SearchRecord search(THDuplicationHelper& engine) {
        if (engine.searchPaths.empty()) engine.searchPaths = {dir()};
        return runSearch(engine);
    }
    dupes_test::SearchRecord search() {
        THDuplicationHelper engine;
        return search(engine);
    }
};

TEST_F(DuplicationSearch, GroupsCopiesAcrossFoldersAndReportsTheContentDigest) {
    const std::string content = pattern(20000, 1);
    auto a = put("a/one.bin", content);
    auto b = put("b/deep/er/two.bin", content);
    auto c = put("three.bin", content);
    put("other.bin", pattern(20000, 2));  // same size, other content
    put("small.bin", pattern(5000, 1));

    auto r = search();
    ASSERT_EQ(r.groups.size(), 1u);
    const auto& [hash, group] = *r.groups.begin();
    EXPECT_EQ(hash, hvn::Crypto::digestHex(hvn::Crypto::Digest::SHA256, content.data(), content.size()));
    EXPECT_EQ(group.size, 20000u);
    EXPECT_EQ(group.files, (std::vector<std::string>{a, b, c}));
    // Reported at two members and again at three; the end comes last and once.
    EXPECT_EQ(r.groupNotifications, 2u);
    EXPECT_EQ(r.finishedNotifications, 1u);
    EXPECT_TRUE(r.finishedWasLast);
}

TEST_F(DuplicationSearch, SameSamplesButDifferentMiddlesAreNeverGrouped) {
    const std::string base = pattern(30000, 3);
    // Samples are read at 0, 10000 and 20000 (4096 bytes each); 5000 lies between them.
    const std::string near = withByteChanged(base, 5000);
    auto a = put("a.bin", base);
    auto b = put("b.bin", near);
    ASSERT_EQ(THWebUtility::lazyMD5File(a), THWebUtility::lazyMD5File(b));
    EXPECT_TRUE(search().groups.empty());

    // Two real pairs behind one fingerprint stay two groups with their own hashes.
    auto a2 = put("x/a.bin", base);
    auto b2 = put("y/b.bin", near);
    EXPECT_EQ(fileLists(search()), (Lists{{a, a2}, {b, b2}}));
}

TEST_F(DuplicationSearch, SmallFilesReadWholeAreGroupedByTheirWholeContent) {
    // At 8192 bytes the two samples cover the file; one changed byte anywhere splits it.
    const std::string base = pattern(8192, 6);
    auto a = put("a.bin", base);
    auto b = put("b.bin", withByteChanged(base, 4100));
    auto c = put("c.bin", withByteChanged(base, 8191));
    EXPECT_TRUE(search().groups.empty());

    auto a2 = put("x/a.bin", base);
    auto c2 = put("y/c.bin", withByteChanged(base, 8191));
    auto r = search();
    EXPECT_EQ(fileLists(r), (Lists{{a, a2}, {c, c2}}));
    EXPECT_EQ(r.groups.count(hvn::Crypto::digestHex(hvn::Crypto::Digest::SHA256, base.data(), base.size())), 1u);
    (void)b;
}

TEST_F(DuplicationSearch, HardLinksAreOneFile) {
    auto a = put("a.bin", pattern(8000, 4));
    ASSERT_EQ(::link(a.c_str(), (dir() + "/link-to-a.bin").c_str()), 0);
    ASSERT_EQ(::link(a.c_str(), (dir() + "/sub-link.bin").c_str()), 0);
    EXPECT_TRUE(search().groups.empty());

    // A real copy beside the links makes one pair: one name of the linked file and the copy.
    auto copy = put("z/copy.bin", pattern(8000, 4));
    EXPECT_EQ(fileLists(search()), (Lists{{a, copy}}));
}

TEST_F(DuplicationSearch, EmptyAndTinyFilesAreNoCandidates) {
    put("e1", "");
    put("e2", "");
    put("t1", pattern(999, 5));
    put("t2", pattern(999, 5));
    auto k1 = put("k1", pattern(1000, 5));
    auto k2 = put("k2", pattern(1000, 5));
    THDuplicationHelper engine;
    engine.minFileSize = 0;
    EXPECT_EQ(fileLists(search(engine)), (Lists{{k1, k2}}));
}

TEST_F(DuplicationSearch, SizeLimitsAndLeftOutNames) {
    for (const char* n : {"libfoo.dylib", "part.emlxpart"}) {
        put(std::string("x/") + n, pattern(60000, 6));
        put(std::string("y/") + n, pattern(60000, 6));
    }
    // Exactly the minimum is a candidate through the walk.
    auto m1 = put("m1.dat", pattern(51200, 7));
    auto m2 = put("m2.dat", pattern(51200, 7));
    put("below1.dat", pattern(51199, 8));
    put("below2.dat", pattern(51199, 8));
    put("big1.dat", pattern(90000, 9));
    put("big2.dat", pattern(90000, 9));
    THDuplicationHelper engine;
    engine.minFileSize = 51200;
    engine.maxFileSize = 80000;
    EXPECT_EQ(fileLists(search(engine)), (Lists{{m1, m2}}));

    // An upper limit not above the minimum is no limit.
    THDuplicationHelper open;
    open.minFileSize = 51200;
    open.maxFileSize = 1000;
    EXPECT_EQ(search(open).groups.size(), 2u);
}

TEST_F(DuplicationSearch, ExtensionPredicateAndFilteredFolders) {
    auto a = put("a.jpg", pattern(3000, 10));
    auto b = put("b.jpg", pattern(3000, 10));
    put("a.txt", pattern(3000, 11));
    put("b.txt", pattern(3000, 11));
    put("skip/c.jpg", pattern(3000, 10));
    THDuplicationHelper engine;
    engine.extensionsPredicate = [](const std::string& ext) { return ext == "jpg"; };
    engine.filterFilePaths = {dir() + "/skip"};
    EXPECT_EQ(fileLists(search(engine)), (Lists{{a, b}}));
}

TEST_F(DuplicationSearch, HiddenEntriesOnlyWhenAskedAndMacosxNever) {
    const std::string content = pattern(4000, 12);
    auto v = put("visible.bin", content);
    auto h = put(".hidden/in.bin", content);
    auto d = put(".dot.bin", content);
    put("__MACOSX/x.bin", content);
    put("sub/__MACOSXtrash.bin", content);
    EXPECT_TRUE(search().groups.empty());

    THDuplicationHelper engine;
    engine.skipsHiddenItems = false;
    EXPECT_EQ(fileLists(search(engine)), (Lists{{d, h, v}}));
}

TEST_F(DuplicationSearch, SymbolicLinksAreNotFollowed) {
    const std::string content = pattern(6000, 13);
    auto a = put("real/a.bin", content);
    auto outside = roots.writeFile(roots.base() + "/outside/b.bin", content);
    fs::create_symlink(roots.base() + "/outside", dir() + "/link-folder");
    fs::create_symlink(a, dir() + "/link-file.bin");
    fs::create_symlink(dir(), dir() + "/real/loop");
    EXPECT_TRUE(search().groups.empty());
    (void)outside;

    // A search folder that is itself a link is not followed either.
    THDuplicationHelper engine;
    engine.searchPaths = {dir() + "/link-folder", dir() + "/real"};
    EXPECT_TRUE(search(engine).groups.empty());
}

TEST_F(DuplicationSearch, SearchListDropsRepeatsOverlapsAndApplications) {
    const std::string content = pattern(7000, 14);
    auto a = put("a/one.bin", content);
    put("Tools.app/Contents/x.bin", content);
    THDuplicationHelper engine;
    engine.filterPackage = true;
    // The same folder twice, a folder inside another, and an application bundle: every file
    // is still one file.
    engine.searchPaths = {dir() + "/a", dir() + "/a/", dir(), dir() + "/Tools.app"};
    auto r = search(engine);
    EXPECT_TRUE(r.groups.empty());

    auto b = put("b/two.bin", content);
    EXPECT_EQ(fileLists(search(engine)), (Lists{{a, b}}));
}

TEST_F(DuplicationSearch, PackagesAreComparedWholeAsSingleItems) {
    auto makeApp = [&](const std::string& name, const std::string& info) {
        put(name + "/Contents/Info.plist", info);
        put(name + "/Contents/MacOS/tool", pattern(9000, 15));
        put(name + "/Contents/Resources/a/b/c/deep.dat", pattern(2000, 16));
    };
    const std::string info = pattern(1200, 17);
    makeApp("One.app", info);
    makeApp("Two.app", info);
    // Same listing and sizes, one byte changed deep inside: the listing fingerprint agrees,
    // the contents do not.
    makeApp("Three.app", info);
    put("Three.app/Contents/Resources/a/b/c/deep.dat", withByteChanged(pattern(2000, 16), 700));
    ASSERT_EQ(THWebUtility::lazyHashPackage(dir() + "/One.app"),
              THWebUtility::lazyHashPackage(dir() + "/Three.app"));

    THDuplicationHelper engine;
    engine.filterPackage = true;
    EXPECT_EQ(fileLists(search(engine)), (Lists{{dir() + "/One.app", dir() + "/Two.app"}}));

    // Without the package filter the files inside are searched too.
    THDuplicationHelper inside;
    inside.filterPackage = false;
    auto r = search(inside);
    bool sawTools = false;
    for (const auto& [hash, g] : r.groups) {
        if (g.files.size() == 3 && g.files[0] == dir() + "/One.app/Contents/MacOS/tool") sawTools = true;
    }
    EXPECT_TRUE(sawTools);
}

TEST_F(DuplicationSearch, OddNamesAndDeepTrees) {
    const std::string content = pattern(2500, 18);
    auto a = put("new\nline.bin", content);
    auto b = put(std::string("bad\xff\xfe") + ".bin", content);
    std::string deep = "d";
    for (int i = 0; i < 300; ++i) deep += "/d";
    auto c = put(deep + "/leaf.bin", content);
    EXPECT_EQ(fileLists(search()), (Lists{{b, c, a}}));
}

TEST_F(DuplicationSearch, SpecialFilesAreSkippedWithoutBlocking) {
    put("a.bin", pattern(3000, 19));
    ASSERT_EQ(::mkfifo((dir() + "/fifo.bin").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((dir() + "/fifo2.bin").c_str(), 0644), 0);
    EXPECT_TRUE(search().groups.empty());
}

TEST_F(DuplicationSearch, UnreadableFilesAndFoldersAreLeftOutWithALogLine) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root to drop to nobody";
    const std::string content = pattern(5000, 20);
    auto a = put("open/a.bin", content);
    auto b = put("open/b.bin", content);
    auto locked = put("open/locked.bin", content);
    put("closed/c.bin", content);
    ::chmod(locked.c_str(), 0);
    ::chmod((dir() + "/closed").c_str(), 0);
    // The child exits with the number of members of the one group it found.
    int members = hvn::test::runAsNobody([&]() -> int {
        hvn::test::LogLines log;
        THDuplicationHelper engine;
        engine.searchPaths = {dir()};
        auto r = runSearch(engine);
        if (r.groups.size() != 1) return 100 + static_cast<int>(r.groups.size());
        if (!log.contains("Could not read the folder " + dir() + "/closed")) return 50;
        if (!log.contains(locked)) return 51;
        return static_cast<int>(r.groups.begin()->second.files.size());
    });
    EXPECT_EQ(members, 2);
    (void)a;
    (void)b;
}

TEST_F(DuplicationSearch, AStoppedSearchEndsWithTheFinalNotification) {
    for (int i = 0; i < 50; ++i) put("f" + std::to_string(i), pattern(3000, 21));
    THDuplicationHelper engine;
    engine.searchPaths = {dir()};
    engine.stopSearch();
    // The stop request stands when the steps are driven directly: nothing is walked.
    auto queue = std::make_shared<hvn::OperationQueue>();
    queue->setMaxConcurrentOperationCount(1);
    engine.notificationQueue = queue;
    size_t groups = 0, finished = 0;
    hvn::ObservationToken t(hvn::NotificationCenter::defaultCenter().addObserver(
        kTHDuplicationNotification, [&](const hvn::Notification& n) {
            if (n.userInfo.find(kTHDuplicationFinished)) {
                ++finished;
            } else {
                ++groups;
            }
        }));
    engine.searchStart();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(groups, 0u);
    EXPECT_EQ(finished, 1u);
    EXPECT_TRUE(engine.wasStopped());
    EXPECT_FALSE(engine.searching());

    // A new start clears the request and finds the group.
    auto r = runSearch(engine);
    EXPECT_FALSE(engine.wasStopped());
    ASSERT_EQ(r.groups.size(), 1u);
    EXPECT_EQ(r.groups.begin()->second.files.size(), 50u);
}

TEST_F(DuplicationSearch, ManyFilesOfFewSizesGroupExactly) {
    // 600 files over 6 sizes and 4 contents per size, hashed by several workers at once.
    std::map<std::string, std::vector<std::string>> expected;
    for (int i = 0; i < 600; ++i) {
        size_t size = 1000 + static_cast<size_t>(i % 6) * 4096;
        uint32_t seed = static_cast<uint32_t>(i % 24);
        std::string content = pattern(size, seed);
        if (i % 24 >= 12) content = withByteChanged(pattern(size, seed - 12), size / 2 + 1);
        auto p = put("d" + std::to_string(i % 7) + "/f" + std::to_string(i), content);
        expected[content].push_back(p);
    }
    Lists want;
    for (auto& [c, files] : expected) {
        std::sort(files.begin(), files.end());
        if (files.size() > 1) want.push_back(files);
    }
    std::sort(want.begin(), want.end());
    EXPECT_EQ(fileLists(search()), want);
}

TEST_F(DuplicationSearch, MetadataQueryPathPostsProgressAndUsesStrictSizes) {
    EXPECT_EQ(THDuplicationHelper::queryText(51200, 0),
              "(kMDItemFSSize > '51200')&& (kMDItemContentType != 'public.folder')&& (kMDItemContentType != "
              "'com.apple.mail.emlx')&& (kMDItemContentType != 'public.vcard')");
    EXPECT_EQ(THDuplicationHelper::queryText(10, 5000).rfind(
                  "(kMDItemFSSize > '1024') && (kMDItemFSSize < '5000')&& (kMDItemContentType", 0),
              0u);

    put("m1.dat", pattern(51200, 22));
    put("m2.dat", pattern(51200, 22));
    auto b1 = put("b1.dat", pattern(51300, 23));
    auto b2 = put("b2.dat", pattern(51300, 23));
    // The home Library is skipped by the query.
    roots.writeFile(roots.home() + "/Library/c1.dat", pattern(52000, 24));
    roots.writeFile(roots.home() + "/Library/c2.dat", pattern(52000, 24));
    THDuplicationHelper engine;
    engine.usesMetadataQuery = true;
    engine.minFileSize = 51200;
    engine.searchPaths = {dir(), roots.home()};
    auto r = search(engine);
    EXPECT_EQ(fileLists(r), (Lists{{b1, b2}}));
    EXPECT_NE(std::find(r.progressPaths.begin(), r.progressPaths.end(), b1), r.progressPaths.end());

    // The walk takes a file of exactly the minimum.
    THDuplicationHelper walk;
    walk.minFileSize = 51200;
    walk.searchPaths = {dir()};
    EXPECT_EQ(search(walk).groups.size(), 2u);
}

TEST(DuplicationRules, ApplicationNamesAndCandidateTest) {
    EXPECT_TRUE(THDuplicationHelper::isApplicationName("Tools.app"));
    EXPECT_TRUE(THDuplicationHelper::isApplicationName("x.y.application"));
    EXPECT_FALSE(THDuplicationHelper::isApplicationName("app"));
    EXPECT_FALSE(THDuplicationHelper::isApplicationName("Tools.xapp"));

    hvn::test::TempRoots roots;
    THDuplicationHelper engine;
    engine.minFileSize = 2000;
    uint64_t size = 0;
    auto ok = roots.writeFile(roots.base() + "/a.bin", std::string(2000, 'x'));
    auto noDot = roots.writeFile(roots.base() + "/dylib", std::string(2000, 'x'));
    auto dylib = roots.writeFile(roots.base() + "/lib.dylib", std::string(2000, 'x'));
    EXPECT_TRUE(engine.fileValid(ok, &size));
    EXPECT_EQ(size, 2000u);
    EXPECT_FALSE(engine.fileValid(noDot, &size));  // a name without a dot is its own last part
    EXPECT_FALSE(engine.fileValid(dylib, &size));
    EXPECT_FALSE(engine.fileValid(roots.base() + "/missing", &size));

    roots.makeDir(roots.base() + "/f/.h");
    roots.makeDir(roots.base() + "/f/__MACOSX");
    roots.writeFile(roots.base() + "/f/b", "x");
    roots.writeFile(roots.base() + "/f/a", "x");
    EXPECT_EQ(engine.directorySubPath(roots.base() + "/f"),
              (std::vector<std::string>{roots.base() + "/f/a", roots.base() + "/f/b"}));
    engine.filterPackage = true;
    roots.makeDir(roots.base() + "/X.bundle");
    EXPECT_FALSE(engine.directoryValid(roots.base() + "/X.bundle"));
    EXPECT_TRUE(engine.directoryValid(roots.base() + "/f"));
}

}  // namespace
