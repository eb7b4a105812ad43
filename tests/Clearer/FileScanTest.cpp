#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <any>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScanFileOperation.h"
#include "Platform/NotificationCenter.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using hvn::test::RootsTest;

namespace {

struct Recorder : HVNScanResultDelegate {
    int calls = 0;
    int32_t module = -1;
    HVNNodeList results;
    void finishScan(HVNNodeList r, int32_t m) override {
        ++calls;
        module = m;
        results = std::move(r);
    }
};

HVNScanInputObjectPtr request(const std::string& path, std::optional<std::string> key = std::nullopt,
                              bool isCheck = true, bool recursion = false) {
    auto r = std::make_shared<HVNScanInputObject>();
    r->path = path;
    r->key = std::move(key);
    r->isCheck = isCheck;
    r->recursion = recursion;
    return r;
}

// name -> node of a flat result (names are unique in the cases that use it).
std::map<std::string, HVNScaneOuputObjectPtr> byName(const HVNNodeList& list) {
    std::map<std::string, HVNScaneOuputObjectPtr> m;
    for (const auto& n : list) m[n->name()] = n;
    return m;
}

std::vector<std::string> paths(const HVNNodeList& list) {
    std::vector<std::string> out;
    for (const auto& n : list) out.push_back(n->filePath());
    std::sort(out.begin(), out.end());
    return out;
}

// Collects "PathUpdate" postings while alive; an optional hook runs on each.
class PathUpdates {
public:
    explicit PathUpdates(std::function<void(const std::string&)> hook = {}) : hook_(std::move(hook)) {
        token_ = hvn::NotificationCenter::defaultCenter().addObserver(
            kPathUpdateNotification, [this](const hvn::Notification& n) {
                const auto* p = std::any_cast<std::string>(&n.object);
                std::lock_guard<std::mutex> lock(mutex_);
                seen.push_back(p ? *p : std::string("<not a string>"));
                if (hook_) hook_(seen.back());
            });
    }
    ~PathUpdates() { hvn::NotificationCenter::defaultCenter().removeObserver(token_); }
    std::vector<std::string> seen;

private:
    std::mutex mutex_;
    std::function<void(const std::string&)> hook_;
    hvn::NotificationCenter::Token token_ = 0;
};

class FileScanTest : public RootsTest {
protected:
    std::string home(const std::string& rel) const { return roots.home() + "/" + rel; }
    std::string file(const std::string& rel, size_t size) {
        return roots.writeFile(home(rel), std::string(size, 'c'));
    }

    // Runs one operation on this thread and returns what it reported.
    Recorder run(std::vector<HVNScanInputObjectPtr> requests, int32_t module,
                 std::vector<HVNScanInputObjectPtr> browserRows = {},
                 std::vector<HVNScanFileOperation::Application> apps = {}) {
        Recorder rec;
        HVNScanFileOperation op(std::move(requests), module, &rec);
        op.setBrowserCacheRows(std::move(browserRows));
        op.setApplications(std::move(apps));
        op.main();
        return rec;
    }

    // A macOS-like home.
    void macHome() {
        file("Library/Caches/com.apple.Safari/Cache.db", 1000);
        file("Library/Caches/com.apple.Safari/fsCachedData/A1", 500);
        file("Library/Caches/com.apple.Safari/.hidden-inside", 7);
        file("Library/Caches/com.google.Chrome/Default/Cache/data_0", 3000);
        file("Library/Caches/loose.plist", 20);
        file("Library/Caches/.DS_Store", 6);
        roots.makeDir(home("Library/Caches/.hidden-folder/x"));
        file("Library/Caches/.hidden-folder/x/visible.bin", 33);
        file("Library/Logs/DiagnosticReports/crash.ips", 400);
        file("Library/Logs/system.log", 90);
        file("Downloads/setup.dmg", 12345);
        file("Downloads/notes.txt", 10);
    }
};

}  // namespace

TEST_F(FileScanTest, FolderRuleWithoutRecursionReportsEachVisibleEntrySizedWhole) {
    macHome();
    PathUpdates updates;
    auto rec = run({request(home("Library/Caches"))}, 1);
    ASSERT_EQ(rec.calls, 1);
    EXPECT_EQ(rec.module, 1);
    auto m = byName(rec.results);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m["com.apple.Safari"]->fileSize, 1507);  // hidden file inside counts
    EXPECT_TRUE(m["com.apple.Safari"]->isDir);
    EXPECT_EQ(m["com.apple.Safari"]->dirPath(), home("Library/Caches"));
    EXPECT_EQ(m["com.google.Chrome"]->fileSize, 3000);
    EXPECT_EQ(m["loose.plist"]->fileSize, 20);
    EXPECT_FALSE(m["loose.plist"]->isDir);
    for (const auto& n : rec.results) {
        EXPECT_EQ(n->isCheck, 1);
        EXPECT_FALSE(n->isGroup());
        EXPECT_EQ(n->icon, n->filePath());  // no application matches
    }
    // The rule folder was announced.
    EXPECT_NE(std::find(updates.seen.begin(), updates.seen.end(), home("Library/Caches")),
              updates.seen.end());

    // Not ticked when the request is not.
    auto unticked = run({request(home("Downloads"), std::nullopt, false)}, 14);
    ASSERT_EQ(unticked.results.size(), 2u);
    for (const auto& n : unticked.results) EXPECT_EQ(n->isCheck, 0);
}

TEST_F(FileScanTest, RecursionReportsFilesAndWalksHiddenFolders) {
    macHome();
    auto rec = run({request(home("Library/Caches"), std::nullopt, true, true)}, 3);
    ASSERT_EQ(rec.calls, 1);
    EXPECT_EQ(paths(rec.results),
              (std::vector<std::string>{home("Library/Caches/.hidden-folder/x/visible.bin"),
                                        home("Library/Caches/com.apple.Safari/Cache.db"),
                                        home("Library/Caches/com.apple.Safari/fsCachedData/A1"),
                                        home("Library/Caches/com.google.Chrome/Default/Cache/data_0"),
                                        home("Library/Caches/loose.plist")}));
    for (const auto& n : rec.results) EXPECT_FALSE(n->isDir);
}

TEST_F(FileScanTest, KeyFiltersNamesCaseSensitively) {
    macHome();
    file("Library/Caches/com.apple.safari.lower", 1);
    auto rec = run({request(home("Library/Caches"), std::string("Safari"))}, 1);
    ASSERT_EQ(rec.results.size(), 1u);
    EXPECT_EQ(rec.results[0]->name(), "com.apple.Safari");
    EXPECT_EQ(rec.results[0]->fileSize, 1507);

    // With recursion the key applies to the files found.
    auto logs = run({request(home("Library/Logs"), std::string(".ips"), true, true)}, 3);
    ASSERT_EQ(logs.results.size(), 1u);
    EXPECT_EQ(logs.results[0]->name(), "crash.ips");
    EXPECT_EQ(logs.results[0]->dirPath(), home("Library/Logs/DiagnosticReports"));

    // An empty key filters nothing.
    auto empty = run({request(home("Downloads"), std::string(""))}, 14);
    EXPECT_EQ(empty.results.size(), 2u);
}

TEST_F(FileScanTest, FileRequestYieldsOneNodeAndHiddenFileNone) {
    macHome();
    auto rec = run({request(home("Library/Logs/system.log")), request(home("Library/Caches/.DS_Store")),
                    request(home("Library/Nothing/here"))},
                   2);
    ASSERT_EQ(rec.calls, 1);
    ASSERT_EQ(rec.results.size(), 1u);
    EXPECT_EQ(rec.results[0]->name(), "system.log");
    EXPECT_EQ(rec.results[0]->dirPath(), home("Library/Logs"));
    EXPECT_EQ(rec.results[0]->fileSize, 90);
}

TEST_F(FileScanTest, SystemCachesGroupEntriesOfTheSameName) {
    const std::string a = roots.root() + "/Library/Caches";
    const std::string b = roots.root() + "/System/Library/Caches";
    roots.writeFile(a + "/com.apple.fonts/one", "100");
    roots.writeFile(b + "/com.apple.fonts/two", std::string(40, 'x'));
    roots.writeFile(a + "/unique", "1234");
    roots.writeFile(roots.root() + "/var/cache/com.apple.fonts", std::string(5, 'x'));
    auto rec = run({request(a), request(b), request(roots.root() + "/var/cache")}, 0);
    ASSERT_EQ(rec.results.size(), 2u);
    auto m = byName(rec.results);
    auto group = m["com.apple.fonts"];
    ASSERT_TRUE(group);
    EXPECT_TRUE(group->isGroup());
    EXPECT_EQ(group->dirPath(), "");
    EXPECT_EQ(group->fileSize, 3 + 40 + 5);
    ASSERT_EQ(group->children().size(), 3u);
    EXPECT_EQ(group->children()[0]->dirPath(), a);  // the first-found entry, with its own folder
    EXPECT_EQ(group->children()[0]->fileSize, 3);
    EXPECT_TRUE(group->children()[0]->isDir);
    EXPECT_EQ(group->children()[1]->dirPath(), b);
    EXPECT_EQ(group->children()[1]->fileSize, 40);
    EXPECT_EQ(group->children()[2]->dirPath(), roots.root() + "/var/cache");
    EXPECT_FALSE(group->children()[2]->isDir);
    for (const auto& c : group->children()) {
        EXPECT_EQ(c->parentNode.lock(), group);
        EXPECT_FALSE(c->isGroup());
    }
    EXPECT_EQ(m["unique"]->fileSize, 4);
    EXPECT_FALSE(m["unique"]->isGroup());

    // With a key, module 0 does not group.
    auto keyed = run({request(a, std::string("fonts")), request(b, std::string("fonts"))}, 0);
    ASSERT_EQ(keyed.results.size(), 2u);
    EXPECT_FALSE(keyed.results[0]->isGroup());
    EXPECT_FALSE(keyed.results[1]->isGroup());
}

TEST_F(FileScanTest, UserCachesGroupOnlyFileRequestsAndOtherModulesNever) {
    file("Library/Caches/one/Cache.db", 10);
    file("Library/Caches/two/Cache.db", 20);
    file("Library/Caches/one/sub/x", 1);
    file("Library/Caches/two/sub/y", 2);
    auto files =
        run({request(home("Library/Caches/one/Cache.db")), request(home("Library/Caches/two/Cache.db"))}, 1);
    ASSERT_EQ(files.results.size(), 1u);
    EXPECT_EQ(files.results[0]->fileSize, 30);
    ASSERT_EQ(files.results[0]->children().size(), 2u);
    EXPECT_EQ(files.results[0]->children()[1]->dirPath(), home("Library/Caches/two"));

    auto folders = run({request(home("Library/Caches/one")), request(home("Library/Caches/two"))}, 1);
    EXPECT_EQ(folders.results.size(), 4u);  // Cache.db and sub twice each, not grouped

    auto logs =
        run({request(home("Library/Caches/one/Cache.db")), request(home("Library/Caches/two/Cache.db"))}, 2);
    EXPECT_EQ(logs.results.size(), 2u);
}

TEST_F(FileScanTest, BrowserCacheRuleReportsTheProfileContentsButTheKeptEntry) {
    // A Linux desktop home.
    file(".cache/google-chrome/Default/Cache/Cache_Data/f_000001", 4000);
    file(".cache/google-chrome/Default/Code Cache/js/index", 300);
    file(".cache/google-chrome/Default/.org.chromium.Chromium.abc", 5);
    file(".cache/google-chrome/Profile 1/Cache/data", 70);
    file(".cache/mozilla/firefox/abc.default/cache2/entries/E1", 800);
    file(".cache/pip/http/x", 50);
    const std::string def = home(".cache/google-chrome/Default");
    std::vector<HVNScanInputObjectPtr> rows = {request(def, std::string("Cache")),
                                               request(home(".cache/google-chrome/Profile 1"))};
    rows[1]->key.reset();

    auto rec = run({request(home(".cache/google-chrome"))}, 1, rows);
    auto m = byName(rec.results);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m["Code Cache"]->dirPath(), def);
    EXPECT_EQ(m["Code Cache"]->fileSize, 300);
    EXPECT_EQ(m[".org.chromium.Chromium.abc"]->fileSize, 5);  // not filtered for hidden names
    EXPECT_FALSE(m.count("Cache"));
    EXPECT_FALSE(m.count("Default"));
    EXPECT_FALSE(m.count("Profile 1"));  // a row without key: skipped whole

    // Outside module 1 the rows do not apply.
    auto logs = run({request(home(".cache/google-chrome"))}, 3, rows);
    EXPECT_EQ(byName(logs.results).size(), 2u);
    EXPECT_EQ(byName(logs.results)["Default"]->fileSize, 4305);

    // With a key the rows do not apply either.
    auto keyed = run({request(home(".cache/google-chrome"), std::string("Default"))}, 1, rows);
    ASSERT_EQ(keyed.results.size(), 1u);
    EXPECT_EQ(keyed.results[0]->name(), "Default");

    auto all = run({request(home(".cache"))}, 1, rows);
    EXPECT_EQ(byName(all.results).size(), 3u);
    EXPECT_EQ(byName(all.results)["mozilla"]->fileSize, 800);

    // A home reached through a link: the rows, written through the link, still apply.
    const std::string linked = roots.base() + "/linked-home";
    fs::create_symlink(roots.home(), linked);
    std::vector<HVNScanInputObjectPtr> linkedRows = {request(linked + "/.cache/google-chrome/Default",
                                                             std::string("Cache"))};
    auto viaLink = run({request(linked + "/.cache/google-chrome")}, 1, linkedRows);
    auto lm = byName(viaLink.results);
    EXPECT_EQ(lm.count("Code Cache"), 1u);
    EXPECT_EQ(lm.count("Default"), 0u);
    EXPECT_EQ(lm["Code Cache"]->dirPath(), def);  // where it really is
}

TEST_F(FileScanTest, IconPathFollowsTheApplicationMatchingRules) {
    const std::string apps = roots.root() + "/Applications";
    std::vector<HVNScanFileOperation::Application> list = {
        {apps + "/Safari.app", "Safari", "com.apple.Safari"},
        {apps + "/Google Chrome.app", "Google Chrome", "com.google.Chrome"},
        {apps + "/Chrome Helper.app", "chrome", "com.example.helper"},
        {apps + "/Mail.app", "Mail", "com.apple.mail"},
        {apps + "/Empty.app", "", ""},
    };
    file("Library/Caches/com.apple.Safari", 1);     // T = "Safari" = executable
    file("Library/Caches/com.apple.mail", 1);       // bundle identifier equals the name
    file("Library/Caches/GOOGLE CHROME cache", 1);  // contains "chrome" (2nd and 3rd app): last wins
    file("Library/Caches/unrelated", 1);
    file("Library/Caches/Mail.app", 1);                       // T = "app": no exact match; contains "mail"
    roots.makeDir(home("Library/Caches/Tool.app/Contents"));  // a package keeps its own icon
    file("Library/Caches/name.", 1);                          // T = "": never equals an empty text
    auto rec = run({request(home("Library/Caches"))}, 1, {}, list);
    auto m = byName(rec.results);
    ASSERT_EQ(m.size(), 7u);
    EXPECT_EQ(m["com.apple.Safari"]->icon, apps + "/Safari.app");
    EXPECT_EQ(m["com.apple.mail"]->icon, apps + "/Mail.app");
    EXPECT_EQ(m["GOOGLE CHROME cache"]->icon, apps + "/Chrome Helper.app");
    EXPECT_EQ(m["unrelated"]->icon, home("Library/Caches/unrelated"));
    EXPECT_EQ(m["Mail.app"]->icon, apps + "/Mail.app");
    EXPECT_EQ(m["Tool.app"]->icon, home("Library/Caches/Tool.app"));
    EXPECT_EQ(m["name."]->icon, home("Library/Caches/name."));

    // Modules past 3 never look at the applications.
    auto downloads = run({request(home("Library/Caches"))}, 14, {}, list);
    for (const auto& n : downloads.results) EXPECT_EQ(n->icon, n->filePath());
}

TEST_F(FileScanTest, SymbolicLinksAreReportedAsThemselvesAndNeverFollowed) {
    roots.writeFile(roots.base() + "/huge/blob", std::string(200000, 'h'));
    file("Library/Caches/app/data", 10);
    const std::string target = roots.base() + "/huge";
    fs::create_symlink(target, home("Library/Caches/app/link-to-huge"));
    fs::create_symlink(target, home("Library/Caches/link-to-huge"));
    fs::create_symlink(roots.base() + "/missing", home("Library/Caches/dangling"));

    auto rec = run({request(home("Library/Caches"))}, 1);
    auto m = byName(rec.results);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m["app"]->fileSize, 10);
    EXPECT_EQ(m["link-to-huge"]->fileSize, static_cast<int64_t>(target.size()));
    EXPECT_FALSE(m["link-to-huge"]->isDir);
    EXPECT_EQ(m["dangling"]->fileSize, static_cast<int64_t>((roots.base() + "/missing").size()));

    // With recursion a link to a folder is not walked: it is one entry.
    auto deep = run({request(home("Library/Caches"), std::nullopt, true, true)}, 3);
    EXPECT_EQ(
        paths(deep.results),
        (std::vector<std::string>{home("Library/Caches/app/data"), home("Library/Caches/app/link-to-huge"),
                                  home("Library/Caches/dangling"), home("Library/Caches/link-to-huge")}));

    // A rule path that is itself a link names its target folder.
    fs::create_symlink(home("Library/Caches/app"), home("cache-alias"));
    auto viaAlias = run({request(home("cache-alias"))}, 1);
    ASSERT_EQ(viaAlias.results.size(), 2u);
}

TEST_F(FileScanTest, OddNamesSurviveIntact) {
    const std::string newline = "line\nbreak";
    const std::string invalid = std::string("bad\xff\xfe") + "utf8";
    file("Library/Caches/" + newline + "/f", 11);
    file("Library/Caches/" + invalid, 12);
    std::vector<HVNScanFileOperation::Application> apps = {
        {roots.root() + "/Applications/Bad.app", "bad", ""}};
    auto rec = run({request(home("Library/Caches"))}, 1, {}, apps);
    auto m = byName(rec.results);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[newline]->fileSize, 11);
    EXPECT_EQ(m[invalid]->fileSize, 12);
    EXPECT_EQ(m[invalid]->filePath(), home("Library/Caches/" + invalid));
    EXPECT_EQ(m[invalid]->icon, roots.root() + "/Applications/Bad.app");  // contains "bad"
}

TEST_F(FileScanTest, CancelledOperationReportsNothing) {
    macHome();
    {
        Recorder rec;
        HVNScanFileOperation op({request(home("Library/Caches"))}, 1, &rec);
        op.setBrowserCacheRows({});
        op.setApplications({});
        op.cancel();
        op.main();
        EXPECT_EQ(rec.calls, 0);
    }
    {
        // Cancelled while the first folder is being listed.
        Recorder rec;
        HVNScanFileOperation op({request(home("Library/Caches")), request(home("Downloads"))}, 14, &rec);
        PathUpdates updates([&](const std::string&) { op.cancel(); });
        op.main();
        EXPECT_EQ(rec.calls, 0);
        EXPECT_EQ(updates.seen.size(), 1u);
    }
}

TEST_F(FileScanTest, CancellationStopsALongFolderSizeWalk) {
    // One big folder: its size walk posts progress every few thousand entries.
    const std::string big = home("Library/Caches/big");
    for (int d = 0; d < 10; ++d) {
        for (int i = 0; i < 1000; ++i) {
            roots.writeFile(big + "/d" + std::to_string(d) + "/f" + std::to_string(i), "");
        }
    }
    Recorder rec;
    HVNScanFileOperation op({request(home("Library/Caches"))}, 14, &rec);
    size_t posted = 0, atCancel = 0;
    PathUpdates canceller([&](const std::string& p) {
        ++posted;
        if (p == big && atCancel == 0) {
            op.cancel();
            atCancel = posted;
        }
    });
    op.main();
    EXPECT_EQ(rec.calls, 0);
    ASSERT_GT(atCancel, 0u);
    // Nothing more was posted from inside the walk once cancelled.
    EXPECT_EQ(posted, atCancel);

    // Not cancelled: the walk reports progress from inside the folder.
    PathUpdates all;
    auto done = run({request(home("Library/Caches"))}, 14);
    ASSERT_EQ(done.results.size(), 1u);
    EXPECT_GE(std::count_if(all.seen.begin(), all.seen.end(),
                            [&](const std::string& p) { return p.rfind(big + "/d", 0) == 0; }),
              4);
}

TEST_F(FileScanTest, EntriesVanishingDuringTheScanAreSkipped) {
    const std::string caches = home("Library/Caches");
    for (int i = 0; i < 200; ++i) file("Library/Caches/f" + std::to_string(i), 3);
    for (int i = 0; i < 20; ++i) file("Library/Caches/d" + std::to_string(i) + "/inner", 1);
    file("Library/Caches/gone/inner", 1);
    bool removed = false;
    // When the first sub-folder is about to be sized, the files and "gone" disappear.
    PathUpdates hook([&](const std::string& p) {
        if (removed || p.rfind(caches + "/", 0) != 0) return;
        removed = true;
        for (int i = 0; i < 200; ++i) fs::remove(caches + "/f" + std::to_string(i));
        fs::remove_all(caches + "/gone");
    });
    auto rec = run({request(caches)}, 14);
    ASSERT_EQ(rec.calls, 1);
    ASSERT_TRUE(removed);
    size_t files = 0, folders = 0;
    for (const auto& n : rec.results) {
        EXPECT_NE(n->name(), "gone");
        if (n->name()[0] == 'f') {
            ++files;
            EXPECT_EQ(n->fileSize, 3);
        } else {
            ++folders;
        }
    }
    EXPECT_LT(files, 200u);
    EXPECT_EQ(folders, 20u);

    // A folder pushed for recursion and removed before its turn.
    file("Library/Logs/a/x.log", 1);
    file("Library/Logs/b/y.log", 1);
    std::string first;
    PathUpdates remover([&](const std::string& p) {
        if (!first.empty()) return;
        if (p == home("Library/Logs/a")) first = "a", fs::remove_all(home("Library/Logs/b"));
        if (p == home("Library/Logs/b")) first = "b", fs::remove_all(home("Library/Logs/a"));
    });
    auto logs = run({request(home("Library/Logs"), std::nullopt, true, true)}, 3);
    ASSERT_EQ(logs.calls, 1);
    ASSERT_EQ(logs.results.size(), 1u);
    EXPECT_EQ(logs.results[0]->dirPath(), home("Library/Logs/" + first));
}

TEST_F(FileScanTest, UnreadableFoldersAreSkippedWhenScanningAsAUser) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root to scan as nobody";
    file("Library/Caches/open/a", 10);
    file("Library/Caches/closed/b", 1000);
    file("Library/Caches/half/readable", 5);
    file("Library/Caches/half/private/secret", 500);
    file("Library/Logs/sealed/x.log", 1);
    ASSERT_EQ(chmod(home("Library/Caches/closed").c_str(), 0700), 0);
    ASSERT_EQ(chmod(home("Library/Caches/half/private").c_str(), 0700), 0);
    ASSERT_EQ(chmod(home("Library/Logs/sealed").c_str(), 0700), 0);
    const std::string caches = home("Library/Caches"), sealed = home("Library/Logs/sealed");
    int rc = hvn::test::runAsNobody([&] {
        Recorder rec;
        HVNScanFileOperation op({request(caches), request(sealed)}, 14, &rec);
        op.main();
        if (rec.calls != 1) return 1;
        auto m = byName(rec.results);
        if (m.size() != 3) return 2;
        if (m["open"]->fileSize != 10) return 3;
        if (m["closed"]->fileSize != 0) return 4;  // listed, but nothing inside can be read
        if (m["half"]->fileSize != 5) return 5;
        Recorder deep;
        HVNScanFileOperation walk({request(caches, std::nullopt, true, true)}, 3, &deep);
        walk.setApplications({});
        walk.main();
        if (deep.calls != 1 || deep.results.size() != 2) return 6;
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

TEST_F(FileScanTest, GroupingThroughThePublicEntryPoints) {
    std::vector<HVNScanInputObjectPtr> rows = {request("/x/Default"), request("/x/Default/")};
    EXPECT_EQ(HVNScanFileOperation::searchPathInBrowserCache(rows, "/x/Default/"), 1);
    EXPECT_EQ(HVNScanFileOperation::searchPathInBrowserCache(rows, "/x/default"),
              HVNScanFileOperation::kNotFound);

    // Grouping through the public entry points, on a list built elsewhere.
    Recorder rec;
    HVNScanFileOperation op({}, 0, &rec);
    op.setApplications({});
    HVNNodeList result;
    op.addScanObj(result, "/one", "x", 5, true);
    op.addScanCacheObj(result, "/two", "x", 7, false);
    op.addScanCacheObj(result, "/three", "x", 1, true);
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0]->fileSize, 13);
    ASSERT_EQ(result[0]->children().size(), 3u);
    EXPECT_EQ(result[0]->children()[0]->dirPath(), "/one");
    EXPECT_EQ(result[0]->children()[0]->isCheck, 0);  // the first child takes the given tick
    EXPECT_EQ(result[0]->children()[2]->isCheck, 1);
    op.main();
    EXPECT_EQ(rec.calls, 1);
    EXPECT_TRUE(rec.results.empty());
}

// A rule folder may be a link to where the user keeps it; a link that leads to a root, a
// folder holding one, or a folder directly inside one yields nothing to clean.
TEST_F(FileScanTest, RuleFoldersAreScannedWhereTheyReallyAreAndNeverAsARoot) {
    file("Documents/letter", 10);
    file("Pictures/photo", 20);
    fs::create_symlink(roots.home(), home(".cache"));
    fs::create_symlink(home("Documents"), home("cache-documents"));
    roots.writeFile(roots.base() + "/disk2/cache/app/blob", std::string(30, 'b'));
    fs::create_symlink(roots.base() + "/disk2/cache", home("moved-cache"));
    for (const std::string& rule : {home(".cache"), home("cache-documents"), roots.home(), roots.root(),
                                    roots.base(), std::string("/")}) {
        auto rec = run({request(rule)}, 1);
        EXPECT_EQ(rec.calls, 1);
        EXPECT_TRUE(rec.results.empty()) << rule << ": " << rec.results.size();
    }
    auto moved = run({request(home("moved-cache"))}, 1);
    ASSERT_EQ(moved.results.size(), 1u);
    EXPECT_EQ(moved.results[0]->filePath(), roots.base() + "/disk2/cache/app");
    ASSERT_TRUE(moved.results[0]->foundIn.has_value());
    struct stat st {};
    ASSERT_EQ(::stat((roots.base() + "/disk2/cache").c_str(), &st), 0);
    EXPECT_EQ(moved.results[0]->foundIn->inode, static_cast<uint64_t>(st.st_ino));

    // A request the program found on disk (a trash) is never taken through a link.
    auto noLinks = request(home("moved-cache"));
    noLinks->followLink = false;
    EXPECT_TRUE(run({noLinks}, 9).results.empty());
}

TEST_F(FileScanTest, AFolderSwappedForALinkDuringTheScanIsNotFollowed) {
    file("Library/Logs/app/sub/a.log", 5);
    file("Library/Logs/b.log", 6);
    roots.writeFile(roots.base() + "/outside/sub/secret.db", "s");
    const std::string app = home("Library/Logs/app");
    bool swapped = false;
    // Just before the scan lists app/sub, app itself becomes a link to another tree that
    // has a sub of its own.
    PathUpdates updates([&](const std::string& p) {
        if (p != app + "/sub" || swapped) return;
        swapped = true;
        fs::rename(app, app + ".moved");
        fs::create_symlink(roots.base() + "/outside", app);
    });
    auto rec = run({request(home("Library/Logs"), std::nullopt, true, true)}, 5);
    EXPECT_TRUE(swapped);
    for (const auto& n : rec.results) {
        EXPECT_EQ(n->filePath().find("secret"), std::string::npos) << n->filePath();
    }
    EXPECT_EQ(byName(rec.results).count("b.log"), 1u);
}
