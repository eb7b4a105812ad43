#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "Platform/MetadataPredicate.h"
#include "Platform/MetadataQuery.h"
#include "Platform/UniformType.h"
#include "Public/AppSearchFixtures.h"
#include "Support/TestRoots.h"

using namespace hvn;
using hvn::test::FakeBundle;
using hvn::test::makeBundle;

namespace {

bool eval(const std::string& text, const Dictionary& attrs) {
    std::string error;
    auto p = MetadataPredicate::parse(text, &error);
    EXPECT_TRUE(p.has_value()) << text << ": " << error;
    if (!p) return false;
    return p->evaluate([&](const std::string& a) -> const Value* {
        auto it = attrs.find(a);
        return it == attrs.end() ? nullptr : &it->second;
    });
}

std::vector<std::string> paths(const std::vector<MetadataItem>& items) {
    std::vector<std::string> out;
    for (const auto& i : items) out.push_back(i.path());
    std::sort(out.begin(), out.end());
    return out;
}

const MetadataItem* find(const std::vector<MetadataItem>& items, const std::string& path) {
    for (const auto& i : items) {
        if (i.path() == path) return &i;
    }
    return nullptr;
}

MetadataPredicate apps() {
    return *MetadataPredicate::parse("kMDItemContentTypeTree == 'com.apple.application-bundle'");
}

}  // namespace

TEST(MetadataPredicateTest, TheProgramsPredicatesParseAndCompareAsTheIndexDoes) {
    Dictionary file{{kMDItemFSSize, Value(2048)},
                    {kMDItemContentType, Value("public.data")},
                    {kMDItemContentTypeTree, Value(Array{Value("public.data"), Value("public.item")})}};
    // Quoted numbers compare as numbers, the joined duplicate-finder text parses.
    EXPECT_TRUE(
        eval("(kMDItemFSSize > '1024') && (kMDItemFSSize < '4096')&& (kMDItemContentType != "
             "'public.folder')&& (kMDItemContentType != 'com.apple.mail.emlx')",
             file));
    EXPECT_FALSE(eval("kMDItemFSSize > 2048", file));
    EXPECT_TRUE(eval("kMDItemFSSize >= 2048 AND NOT kMDItemFSSize < 2048", file));
    EXPECT_FALSE(eval("kMDItemFSSize > '10000000000'", file));  // beyond 32 bits
    // Arrays: any element; != means none.
    EXPECT_TRUE(eval("kMDItemContentTypeTree == 'public.item'", file));
    EXPECT_FALSE(eval("kMDItemContentTypeTree != 'public.item'", file));
    EXPECT_TRUE(eval("kMDItemContentTypeTree != 'com.apple.application-bundle'", file));
    // A missing attribute fails every comparison but !=.
    Dictionary folder{{kMDItemContentType, Value("public.folder")}};
    EXPECT_FALSE(eval("kMDItemFSSize > 0", folder));
    EXPECT_FALSE(eval("kMDItemFSSize == 0", folder));
    EXPECT_TRUE(eval("kMDItemFSSize != 0", folder));
    EXPECT_TRUE(eval("kMDItemFSSize > 0 || kMDItemContentType == 'public.folder'", folder));
}

TEST(MetadataPredicateTest, TextsMatchExactlyByWildcardAndIgnoringCaseOnRequest) {
    Dictionary d{{kMDItemFSName, Value("Straße Notes.TXT")}};
    EXPECT_TRUE(eval("kMDItemFSName == 'Straße Notes.TXT'", d));
    EXPECT_FALSE(eval("kMDItemFSName == 'straße notes.txt'", d));
    EXPECT_TRUE(eval("kMDItemFSName == 'STRASSE notes.txt'c", d));  // Unicode folding
    EXPECT_TRUE(eval("kMDItemFSName ==[cd] '*.txt'", d));
    EXPECT_FALSE(eval("kMDItemFSName == '*.txt'", d));
    EXPECT_TRUE(eval("kMDItemFSName LIKE 'Stra?e*'", d));  // ? is one character, ß included
    EXPECT_TRUE(eval("kMDItemFSName == \"Stra\\\"\" || TRUEPREDICATE", d));
    EXPECT_FALSE(eval("FALSEPREDICATE", d));
}

TEST(MetadataPredicateTest, MalformedTextsAreRefusedWithAReason) {
    for (const char* bad : {"", "kMDItemFSSize >", "kMDItemFSSize 5", "(kMDItemFSSize > 5",
                            "kMDItemFSName == 'open", "kMDItemFSSize > 5 &&", "kMDItemFSName ==[x] 'a'",
                            "kMDItemFSSize > 5 # 3", "kMDItemFSSize > 12abc"}) {
        std::string error;
        EXPECT_FALSE(MetadataPredicate::parse(bad, &error).has_value()) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(UniformTypeTest, ExtensionsAndTypesFollowThePlatformsRules) {
    using namespace UniformType;
    EXPECT_EQ(pathExtension("/a/Foo.app/"), "app");
    EXPECT_EQ(pathExtension("/a/.profile"), "");
    EXPECT_EQ(pathExtension("/a.b/name"), "");
    EXPECT_EQ(pathExtension("name."), "");
    EXPECT_EQ(deletingPathExtension("/a/Foo.v2.app"), "/a/Foo.v2");
    EXPECT_EQ(deletingPathExtension("/a/.profile"), "/a/.profile");
    EXPECT_EQ(lastPathComponent("/"), "/");
    EXPECT_EQ(contentType("Foo.APP", ItemKind::Directory), "com.apple.application-bundle");
    EXPECT_EQ(contentType("Foo.app", ItemKind::File), "public.data");  // a file is no bundle
    EXPECT_EQ(contentType("Foo.prefPane", ItemKind::Directory), "com.apple.systempreference.prefpane");
    EXPECT_EQ(contentType("Foo.docset", ItemKind::Directory), "com.apple.package");
    EXPECT_EQ(contentType("Photos", ItemKind::Directory), "public.folder");
    EXPECT_EQ(contentType("mail.emlx", ItemKind::File), "com.apple.mail.emlx");
    auto tree = contentTypeTree("a.jpg", ItemKind::File);
    EXPECT_EQ(tree.front(), "public.jpeg");
    EXPECT_EQ(tree.back(), "public.item");
    EXPECT_TRUE(isPackageExtension("wdgt"));
    EXPECT_FALSE(isPackageExtension("txt"));
}

class MetadataQueryTest : public hvn::test::RootsTest {};

TEST_F(MetadataQueryTest, FindsBundlesAtAnyDepthWithTheirAttributes) {
    std::string apps1 = roots.makeDir(roots.root() + "/Applications");
    FakeBundle tools;
    tools.bundleID = "com.example.Tools";
    tools.version = "3.1";
    tools.executable = "Tools";
    tools.executableBytes = std::string(300, 't');
    tools.format = PlistFormat::Binary;
    makeBundle(roots, apps1 + "/Tools.app", tools);
    roots.writeFile(apps1 + "/Tools.app/Contents/Resources/data.bin", std::string(700, 'd'));
    FakeBundle updater;
    updater.bundleID = "com.example.Updater";
    updater.executable = "Updater";
    makeBundle(roots, apps1 + "/Tools.app/Contents/Updater.app", updater);
    std::string docs = roots.makeDir(roots.home() + "/Documents/deep/er");
    makeBundle(roots, docs + "/Foo.app");
    roots.writeFile(docs + "/notes.txt", "hello");
    roots.makeDir(docs + "/NotAnApp");

    auto results = MetadataQuery::search(apps(), {apps1, roots.home() + "/Documents"});
    EXPECT_EQ(paths(results), (std::vector<std::string>{docs + "/Foo.app", apps1 + "/Tools.app",
                                                        apps1 + "/Tools.app/Contents/Updater.app"}));
    const MetadataItem* t = find(results, apps1 + "/Tools.app");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->valueForAttribute(kMDItemFSName), Value("Tools.app"));
    EXPECT_EQ(t->valueForAttribute(kMDItemDisplayName), Value("Tools"));
    EXPECT_EQ(t->valueForAttribute(kMDItemCFBundleIdentifier), Value("com.example.Tools"));  // binary plist
    EXPECT_EQ(t->valueForAttribute(kMDItemVersion), Value("3.1"));
    EXPECT_TRUE(t->valueForAttribute(kMDItemLastUsedDate).isDate());
    EXPECT_TRUE(t->valueForAttribute(kMDItemFSContentChangeDate).isDate());
    // A package's size is the sum of every file inside it, the nested bundle included.
    int64_t plistSizes = 0;
    for (const char* p :
         {"/Tools.app/Contents/Info.plist", "/Tools.app/Contents/Updater.app/Contents/Info.plist"}) {
        plistSizes += static_cast<int64_t>(std::filesystem::file_size(apps1 + p));
    }
    EXPECT_EQ(t->valueForAttribute(kMDItemFSSize).asInteger(), 300 + 700 + 1000 + plistSizes);
}

TEST_F(MetadataQueryTest, FilesFoldersAndLinksCarryTheirOwnAttributes) {
    std::string dir = roots.makeDir(roots.home() + "/scope");
    roots.writeFile(dir + "/big.bin", std::string(5000, 'b'));
    roots.writeFile(dir + "/small.bin", "s");
    roots.makeDir(dir + "/folder");
    ASSERT_EQ(symlink("big.bin", (dir + "/link").c_str()), 0);
    auto all = MetadataQuery::search(MetadataPredicate(), {dir});
    EXPECT_EQ(all.size(), 4u);
    const MetadataItem* folder = find(all, dir + "/folder");
    ASSERT_NE(folder, nullptr);
    EXPECT_TRUE(folder->valueForAttribute(kMDItemFSSize).isNull());
    EXPECT_EQ(folder->valueForAttribute(kMDItemContentType), Value("public.folder"));
    const MetadataItem* link = find(all, dir + "/link");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->valueForAttribute(kMDItemContentType), Value("public.symlink"));
    EXPECT_EQ(link->valueForAttribute(kMDItemFSSize).asInteger(), 7);

    auto big = MetadataQuery::search(*MetadataPredicate::parse("kMDItemFSSize > 4999"), {dir});
    EXPECT_EQ(paths(big), std::vector<std::string>{dir + "/big.bin"});

    auto item = MetadataQuery::itemForPath(dir + "/big.bin");
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(item->valueForAttribute(kMDItemFSSize).asInteger(), 5000);
    EXPECT_FALSE(MetadataQuery::itemForPath(dir + "/missing").has_value());
}

TEST_F(MetadataQueryTest, NeverFollowsLinksAndReportsAnItemOnceAcrossScopes) {
    std::string outside = roots.makeDir(roots.base() + "/outside");
    makeBundle(roots, outside + "/Hidden.app");
    std::string scope = roots.makeDir(roots.home() + "/Applications");
    ASSERT_EQ(symlink(outside.c_str(), (scope + "/linked").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/Hidden.app").c_str(), (scope + "/Hidden.app").c_str()), 0);
    makeBundle(roots, scope + "/Sub/Real.app");
    auto results =
        MetadataQuery::search(apps(), {scope, scope + "/Sub", scope + "/", roots.home() + "/missing"});
    EXPECT_EQ(paths(results), std::vector<std::string>{scope + "/Sub/Real.app"});
    EXPECT_TRUE(MetadataQuery::search(apps(), {}).empty());
}

TEST_F(MetadataQueryTest, CorruptOrMissingInformationStillGivesTheBundle) {
    std::string scope = roots.makeDir(roots.home() + "/Applications");
    roots.writeFile(scope + "/Corrupt.app/Contents/Info.plist", "<?xml this is not a plist");
    roots.makeDir(scope + "/Empty.app");
    roots.writeFile(scope + "/Array.app/Contents/Info.plist",
                    PropertyList::serialize(Value(Array{Value(1)})));
    ASSERT_EQ(mkfifo((scope + "/Fifo.app").c_str(), 0644), 0);  // not a folder: no bundle
    roots.makeDir(scope + "/Pipe.app/Contents");
    ASSERT_EQ(mkfifo((scope + "/Pipe.app/Contents/Info.plist").c_str(), 0644), 0);  // never opened
    auto results = MetadataQuery::search(apps(), {scope});
    EXPECT_EQ(paths(results), (std::vector<std::string>{scope + "/Array.app", scope + "/Corrupt.app",
                                                        scope + "/Empty.app", scope + "/Pipe.app"}));
    for (const auto& r : results)
        EXPECT_TRUE(r.valueForAttribute(kMDItemCFBundleIdentifier).isNull()) << r.path();
}

TEST_F(MetadataQueryTest, RunsInTheBackgroundWithProgressFinishAndStop) {
    std::string scope = roots.makeDir(roots.home() + "/many");
    for (int i = 0; i < 300; ++i)
        roots.writeFile(scope + "/d" + std::to_string(i % 7) + "/f" + std::to_string(i), "x");

    MetadataQuery q;
    ASSERT_TRUE(q.setPredicateFormat("kMDItemContentType == 'public.data'"));
    q.setSearchScopes({scope});
    std::atomic<size_t> lastProgress{0};
    std::atomic<int> finishes{0};
    std::atomic<size_t> finishCount{0};
    q.setProgressHandler([&](size_t n) { lastProgress = n; });
    q.setFinishHandler([&](size_t n) {
        ++finishes;
        finishCount = n;
    });
    ASSERT_TRUE(q.startQuery());
    EXPECT_FALSE(q.startQuery());  // a query runs once
    q.waitUntilFinished();
    EXPECT_FALSE(q.isGathering());
    EXPECT_EQ(finishes.load(), 1);
    EXPECT_EQ(finishCount.load(), 300u);
    EXPECT_EQ(lastProgress.load(), 300u);
    EXPECT_EQ(q.resultCount(), 300u);
    EXPECT_GE(q.visitedCount(), 307u);
    ASSERT_TRUE(q.resultAtIndex(299).has_value());
    EXPECT_FALSE(q.resultAtIndex(300).has_value());

    // Stopped from its own progress handler: no finish, results so far kept.
    MetadataQuery s;
    s.setSearchScopes({scope});
    std::atomic<int> stoppedFinishes{0};
    s.setProgressHandler([&](size_t) { s.stopQuery(); });
    s.setFinishHandler([&](size_t) { ++stoppedFinishes; });
    ASSERT_TRUE(s.startQuery());
    s.waitUntilFinished();
    EXPECT_TRUE(s.isStopped());
    EXPECT_EQ(stoppedFinishes.load(), 0);
    EXPECT_GE(s.resultCount(), 1u);
    EXPECT_LT(s.resultCount(), 307u);

    // Destroying a running query stops it and waits for its thread.
    {
        MetadataQuery d;
        d.setSearchScopes({scope});
        d.startQuery();
    }
    MetadataQuery bad;
    std::string error;
    EXPECT_FALSE(bad.setPredicateFormat("kMDItemFSSize >", &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(MetadataQueryTest, UnreadableFoldersAreSkippedForAnUnprivilegedUser) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root to drop to nobody";
    std::string scope = roots.makeDir(roots.base() + "/scope");
    makeBundle(roots, scope + "/Open.app");
    makeBundle(roots, scope + "/closed/Inside.app");
    chmod((scope + "/closed").c_str(), 0700);
    int rc = hvn::test::runAsNobody([&] {
        auto results = MetadataQuery::search(apps(), {scope});
        return paths(results) == std::vector<std::string>{scope + "/Open.app"} ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
}
