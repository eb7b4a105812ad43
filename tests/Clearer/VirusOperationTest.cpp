#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <any>
#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/FMDB/FMDatabase.h"
#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"
#include "HVN/Code/Clearer/HVNVirusOperation.h"
#include "Platform/NotificationCenter.h"
#include "Platform/RemovalGate.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kMarkA = "MARK-A-0123456789";  // at offset 0
constexpr const char* kMarkB = "MARK-B-abcdefghij";  // at offset 16

struct Recorder : HVNScanResultDelegate {
    int calls = 0;  // the operation reports on the thread that runs it
    int32_t module = -1;
    HVNNodeList results;
    void finishScan(HVNNodeList r, int32_t m) override {
        ++calls;
        module = m;
        results = std::move(r);
    }
};

// Collects "PathUpdate" postings; an optional hook runs on each.
class PathUpdates {
public:
    explicit PathUpdates(std::function<void(const std::string&)> hook = {}) : hook_(std::move(hook)) {
        token_ = hvn::NotificationCenter::defaultCenter().addObserver(kPathUpdateNotification,
                                                                      [this](const hvn::Notification& n) {
                                                                          const auto* p = std::any_cast<std::string>(&n.object);
                                                                          std::lock_guard<std::mutex> lock(mutex_);
                                                                          seen.push_back(p ? *p : "<not a string>");
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

class VirusOperationTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        dbPath = roots.base() + "/Virus.db";
        FMDatabase db(dbPath);
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(db.executeUpdate("CREATE TABLE HVN_VIRUS_CODE (auto_id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                     "virus_name TEXT, virus_code BLOB, start_index INTEGER, bytes INTEGER)"));
        for (auto [name, code, start] : {std::tuple{"Virus.A", kMarkA, 0}, std::tuple{"Virus.B", kMarkB, 16}}) {
            std::string c(code);
            ASSERT_TRUE(db.executeUpdate("INSERT INTO HVN_VIRUS_CODE (virus_name, virus_code, start_index, bytes) "
                                         "VALUES (?, ?, ?, ?)",
                                         {hvn::Value(name), hvn::Value(hvn::Data(c.begin(), c.end())), start,
                                          static_cast<int64_t>(c.size())}));
        }
        db.close();
    }

    std::string home(const std::string& rel) const { return roots.home() + "/" + rel; }
    std::string infected(const std::string& path, char which = 'A') {
        return roots.writeFile(path, which == 'A' ? std::string(kMarkA) + "\n...\n"
                                                  : std::string(16, '#') + kMarkB + "\n");
    }
    std::string clean(const std::string& path) { return roots.writeFile(path, "nothing to see here\n"); }

    Recorder run(std::optional<std::vector<std::string>> starts = std::nullopt, int threads = -1,
                 std::function<void(HVNVirusOperation&)> tweak = {}) {
        Recorder rec;
        HVNVirusOperation op(&rec);
        op.setVirusDatabasePath(dbPath);
        if (starts) op.setStartFolders(*starts);
        if (threads >= 0) op.setCheckerThreads(threads);
        if (tweak) tweak(op);
        op.main();
        EXPECT_TRUE(op.virusCodes.empty());  // dropped at the end
        return rec;
    }

    static std::vector<std::string> paths(const HVNNodeList& list) {
        std::vector<std::string> out;
        for (const auto& n : list) out.push_back(n->filePath());
        return out;
    }
    static std::string real(const std::string& p) { return fs::canonical(p).string(); }

    std::string dbPath;
};

}  // namespace

TEST_F(VirusOperationTest, ScansTheHomeAndBothApplicationsFoldersOnceAndFillsTheNodes) {
    std::string a = infected(home("Documents/invoice.pdf"));
    std::string b = infected(home("Applications/Tool.app/Contents/MacOS/Tool"), 'B');
    std::string c = infected(roots.root() + "/Applications/Other.app/run");
    clean(home("Documents/letter.txt"));
    clean(roots.root() + "/Applications/Other.app/readme");
    infected(roots.root() + "/Library/not-scanned");  // outside the start folders

    hvn::test::LogLines log;
    Recorder rec = run();
    ASSERT_EQ(rec.calls, 1);
    EXPECT_EQ(rec.module, 21);
    std::vector<std::string> found = paths(rec.results);
    std::sort(found.begin(), found.end());
    std::vector<std::string> expected{real(a), real(b), real(c)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);  // the home's Applications once, though it is inside the home

    for (const auto& n : rec.results) {
        const bool isB = n->filePath() == real(b);
        EXPECT_EQ(n->name(), isB ? "Virus.B" : "Virus.A");
        EXPECT_EQ(n->virusName, n->name());
        EXPECT_EQ(n->dirPath(), fs::path(n->filePath()).parent_path().string());
        EXPECT_EQ(n->fileSize, static_cast<int64_t>(fs::file_size(n->filePath())));
        EXPECT_EQ(n->icon, n->filePath());
        EXPECT_EQ(n->isCheck, 1);
        EXPECT_EQ(n->moulde, 21);
        EXPECT_FALSE(n->isDir);
        struct stat st {};
        ASSERT_EQ(::stat(n->dirPath().c_str(), &st), 0);
        ASSERT_TRUE(n->foundIn.has_value());
        EXPECT_EQ(*n->foundIn, (hvn::FileIdentity{st.st_dev, st.st_ino}));
    }
    EXPECT_TRUE(log.hasLine("扫描病毒开始..."));
    EXPECT_EQ(log.count("发现病毒:3个  总共用时:"), 1u);
    EXPECT_FALSE(log.contains("终止病毒扫描"));
}

TEST_F(VirusOperationTest, ThreadedChecksReportWhatOneThreadReportsInWalkOrder) {
    // Enough files for many batches, matches spread through the walk.
    for (int d = 0; d < 30; ++d) {
        for (int f = 0; f < 60; ++f) {
            std::string p = home("tree/d" + std::to_string(d) + "/s" + std::to_string(f % 3) + "/f" + std::to_string(f));
            if ((d * 60 + f) % 37 == 0) {
                infected(p, f % 2 ? 'A' : 'B');
            } else {
                clean(p);
            }
        }
    }
    Recorder one = run(std::vector<std::string>{home("tree")}, 0);
    Recorder many = run(std::vector<std::string>{home("tree")}, 3);
    ASSERT_EQ(one.calls, 1);
    ASSERT_EQ(many.calls, 1);
    EXPECT_EQ(one.results.size(), 49u);
    EXPECT_EQ(paths(many.results), paths(one.results));
    for (size_t i = 0; i < one.results.size() && i < many.results.size(); ++i) {
        EXPECT_EQ(many.results[i]->virusName, one.results[i]->virusName);
    }
}

TEST_F(VirusOperationTest, SixtyEntriesPostPathUpdateTwiceFromZeroAndTheCounterCarriesOn) {
    // 60 entries in all: 5 folders holding 11 files each.
    for (int d = 0; d < 5; ++d) {
        for (int f = 0; f < 11; ++f) clean(home("t/d" + std::to_string(d) + "/f" + std::to_string(f)));
    }
    HVNVirusOperation::resetPathUpdateCounter();
    {
        PathUpdates updates;
        run(std::vector<std::string>{home("t")});
        ASSERT_EQ(updates.seen.size(), 2u);
        for (const auto& p : updates.seen) EXPECT_EQ(p.rfind(home("t/d"), 0), 0u) << p;
    }
    EXPECT_EQ(HVNVirusOperation::pathUpdateCounter(), 60u);
    // The next scan counts on: entries 61 to 120 reach 75 and 100 (and not 125).
    PathUpdates updates;
    run(std::vector<std::string>{home("t")});
    EXPECT_EQ(updates.seen.size(), 2u);
    HVNVirusOperation::resetPathUpdateCounter(20);
    PathUpdates third;
    run(std::vector<std::string>{home("t")});
    EXPECT_EQ(third.seen.size(), 3u);  // 25, 50, 75
}

TEST_F(VirusOperationTest, LinksAreFollowedWithoutLoopsAndFilesReportedOnceAtTheirRealPath) {
    std::string inside = infected(home("x/real/evil.bin"));
    std::string outside = infected(roots.base() + "/elsewhere/far.bin", 'B');
    fs::create_directories(home("links"));
    fs::create_symlink(inside, home("links/l1"));
    fs::create_symlink("../x/real/evil.bin", home("links/l2"));
    fs::create_symlink(outside, home("links/far"));
    fs::create_symlink(roots.home(), home("x/real/loop"));   // back to the start
    fs::create_symlink(home("x"), home("links/xdir"));       // a folder met twice
    fs::create_symlink(roots.base() + "/elsewhere", home("links/elsewhere"));
    fs::create_symlink(roots.base() + "/gone", home("links/dangling"));

    Recorder rec = run(std::vector<std::string>{roots.home()});
    ASSERT_EQ(rec.calls, 1);
    std::vector<std::string> found = paths(rec.results);
    std::sort(found.begin(), found.end());
    std::vector<std::string> expected{real(outside), real(inside)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    // Every node names its real folder, which the removal gate admits it from.
    hvn::RemovalGate gate({roots.home(), roots.root()});
    for (const auto& n : rec.results) {
        EXPECT_EQ(n->dirPath(), fs::path(n->filePath()).parent_path().string());
        auto admission = gate.admit(n->filePath(), n->foundIn);
        EXPECT_TRUE(admission.admitted()) << n->filePath() << ": " << admission.reason();
    }
}

TEST_F(VirusOperationTest, ALinkAsAStartFolderAndALinkToTheKernelsFiles) {
    std::string target = infected(roots.base() + "/target/evil");
    fs::create_symlink(roots.base() + "/target", roots.base() + "/start");
    fs::create_directories(home("sys"));
    fs::create_symlink("/proc", home("sys/proc"));
    PathUpdates updates;
    HVNVirusOperation::resetPathUpdateCounter(0);
    Recorder rec = run(std::vector<std::string>{roots.base() + "/start", roots.home(), "relative/ignored",
                                                roots.base() + "/missing"});
    ASSERT_EQ(rec.calls, 1);
    EXPECT_EQ(paths(rec.results), std::vector<std::string>{real(target)});
    for (const auto& p : updates.seen) EXPECT_EQ(p.find("/proc/"), std::string::npos) << p;
}

TEST_F(VirusOperationTest, CancellationReportsNothing) {
    for (int f = 0; f < 400; ++f) infected(home("many/f" + std::to_string(f)));
    for (int threads : {0, 2}) {
        hvn::test::LogLines log;
        Recorder rec;
        HVNVirusOperation op(&rec);
        op.setVirusDatabasePath(dbPath);
        op.setStartFolders({home("many")});
        op.setCheckerThreads(threads);
        int postings = 0;
        PathUpdates updates([&](const std::string&) {
            if (++postings == 3) op.cancel();
        });
        op.main();
        EXPECT_EQ(rec.calls, 0) << threads;
        EXPECT_EQ(postings, 3) << "the walk stopped at the next entry";
        EXPECT_TRUE(log.hasLine("终止病毒扫描....")) << threads;
        EXPECT_EQ(log.count("发现病毒:"), 1u);
        EXPECT_TRUE(op.virusCodes.empty());
    }
    // Cancelled before it starts: nothing runs at all.
    hvn::test::LogLines log;
    Recorder rec;
    HVNVirusOperation op(&rec);
    op.setVirusDatabasePath(dbPath);
    op.setStartFolders({home("many")});
    op.cancel();
    op.main();
    EXPECT_EQ(rec.calls, 0);
    EXPECT_FALSE(log.contains("扫描病毒开始"));
}

TEST_F(VirusOperationTest, WithoutSignaturesTheScanReportsAnEmptyList) {
    infected(home("a"));
    Recorder rec = run(std::nullopt, -1, [&](HVNVirusOperation& op) { op.setVirusDatabasePath(roots.base() + "/none.db"); });
    EXPECT_EQ(rec.calls, 1);
    EXPECT_TRUE(rec.results.empty());
    EXPECT_FALSE(fs::exists(roots.base() + "/none.db"));
}

TEST_F(VirusOperationTest, UnreadableFoldersAndFilesContributeNothing) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root and the user nobody";
    std::string open = infected(home("open/evil"));
    infected(home("closed/evil"));
    std::string locked = infected(home("open/locked"));
    ::chmod(home("closed").c_str(), 0700);
    ::chmod(locked.c_str(), 0600);
    for (const auto& p : {roots.base(), roots.home(), home("open"), open}) ::chmod(p.c_str(), 0755);
    ::chmod(open.c_str(), 0644);
    ::chmod(dbPath.c_str(), 0644);
    const std::string expected = real(open);
    int rc = hvn::test::runAsNobody([&] {
        Recorder rec;
        HVNVirusOperation op(&rec);
        op.setVirusDatabasePath(dbPath);
        op.setStartFolders({roots.home()});
        op.main();
        return rec.calls == 1 && paths(rec.results) == std::vector<std::string>{expected} ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
}

TEST_F(VirusOperationTest, TheBundlesSignaturesThroughTheRuleDatabaseManager) {
    // HVNPathDBManager reads the same rows as the library's manager, ordered by length.
    HVNPathDBManager manager(std::string(), dbPath);
    auto codes = manager.getAllVirusCodeObj();
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(codes[0]->virus_name, "Virus.A");
    EXPECT_EQ(codes[1]->start_index, 16);
    EXPECT_TRUE(HVNPathDBManager(std::string(), roots.base() + "/none.db").getAllVirusCodeObj().empty());
    auto shipped = HVNPathDBManager().getAllVirusCodeObj();
    EXPECT_GE(shipped.size(), 4u);
}
