#include "HVN/Code/Clearer/HVNAliasCleanOperation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <any>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Support/AliasFixtures.h"
#include "Support/Mounts.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;

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
    std::vector<std::string> paths() const {
        std::vector<std::string> out;
        for (const auto& n : results) out.push_back(n->filePath());
        std::sort(out.begin(), out.end());
        return out;
    }
};

// Records "PathUpdate" postings and runs a hook on each.
class PathUpdates {
public:
    explicit PathUpdates(std::function<void(const std::string&)> hook = {}) : hook_(std::move(hook)) {
        token_ = hvn::NotificationCenter::defaultCenter().addObserver(
            kPathUpdateNotification, [this](const hvn::Notification& n) {
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

class AliasCleanTest : public hvn::test::RootsTest {
protected:
    std::string home(const std::string& rel) const { return roots.home() + rel; }
    std::string root(const std::string& rel) const { return roots.root() + rel; }
    std::string file(const std::string& path) { return roots.writeFile(path, "contents"); }
    // An alias at `path` whose target is gone.
    std::string broken(const std::string& path) {
        return hvn::test::writeDataForkAlias(path, home("/Documents/was-here-" + std::to_string(++counter_)));
    }
    std::string valid(const std::string& path) {
        return hvn::test::writeDataForkAlias(path,
                                             file(home("/Documents/target-" + std::to_string(++counter_))));
    }
    Recorder scan(const std::function<void(HVNAliasCleanOperation&)>& before = {}) {
        Recorder rec;
        HVNAliasCleanOperation op(&rec);
        if (before) before(op);
        op.main();
        EXPECT_EQ(op.done.load(), rec.calls == 1);
        return rec;
    }

private:
    int counter_ = 0;
};

}  // namespace

TEST_F(AliasCleanTest, ReportsBrokenAliasesOfTheSearchRootsWithTheirNodes) {
    const std::string a = broken(home("/Desktop/old report"));
    const std::string b = broken(root("/Applications/Utilities/Gone Tool"));
    const std::string c = broken(home("/Public/deep/er/x"));
    const std::string d = hvn::test::writeClassicAliasAppleDouble(
        home("/Downloads/classic"), hvn::test::alisTo(home("/Documents/nothing")));
    valid(home("/Desktop/fine"));
    broken(home("/Other/not-searched"));
    broken(root("/Library/not-searched"));
    file(home("/Music/song.mp3"));

    Recorder rec = scan();
    ASSERT_EQ(rec.calls, 1);
    EXPECT_EQ(rec.module, 15);
    std::vector<std::string> expected{a, b, c, d};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(rec.paths(), expected);
    for (const auto& n : rec.results) {
        EXPECT_EQ(n->name(), fs::path(n->filePath()).filename().string());
        EXPECT_EQ(n->dirPath(), fs::path(n->filePath()).parent_path().string());
        EXPECT_EQ(n->fileSize, static_cast<int64_t>(fs::file_size(n->filePath())));
        EXPECT_GT(n->fileSize, n->filePath() == d ? -1 : 0);
        EXPECT_EQ(n->icon, n->filePath());
        EXPECT_EQ(static_cast<int>(n->isCheck), 1);
        ASSERT_TRUE(n->foundIn);
        struct ::stat st;
        ASSERT_EQ(::lstat(n->dirPath().c_str(), &st), 0);
        EXPECT_EQ(n->foundIn->inode, static_cast<uint64_t>(st.st_ino));
    }
}

TEST_F(AliasCleanTest, AliasesInsideBundlesAreNeverFound) {
    broken(home("/Applications/Foo.app/Contents/Resources/broken"));
    broken(root("/Applications/Bar.app/broken"));
    broken(home("/Documents/Kit.framework/Versions/A/broken"));
    broken(home("/Documents/Shouting.APP/broken"));
    const std::string notBundle = broken(home("/Documents/notes.appx/broken"));
    Recorder rec = scan();
    ASSERT_EQ(rec.calls, 1);
    EXPECT_EQ(rec.paths(), std::vector<std::string>{notBundle});
}

TEST_F(AliasCleanTest, TargetsInATrashAreBroken) {
    const std::string macTrash =
        hvn::test::writeDataForkAlias(home("/Desktop/mac"), file(home("/.Trash/moved.txt")));
    const std::string homeTrash = hvn::test::writeDataForkAlias(
        home("/Desktop/xdg"), file(home("/.local/share/Trash/files/moved.txt")));
    const std::string volumeTrash = hvn::test::writeDataForkAlias(
        home("/Desktop/stick"), file(root("/media/u/Stick/.Trash-0/files/m.txt")));
    const std::string adminTrash = hvn::test::writeDataForkAlias(
        home("/Desktop/admin"), file(root("/media/u/Stick/.Trash/0/files/m.txt")));
    const std::string notTrash =
        hvn::test::writeDataForkAlias(home("/Desktop/fine"), file(home("/Documents/Trash/k")));

    Recorder rec = scan();
    std::vector<std::string> expected{macTrash, homeTrash, volumeTrash, adminTrash};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(rec.paths(), expected);

    HVNAliasCleanOperation op;
    EXPECT_TRUE(op.isValidAliasForPath(notTrash));
    EXPECT_EQ(op.getAliasForPath(homeTrash), home("/.local/share/Trash/files/moved.txt"));

    // The home trash follows XDG_DATA_HOME.
    const std::string xdg = roots.makeDir(home("/xdg-data"));
    const std::string elsewhere =
        hvn::test::writeDataForkAlias(home("/Desktop/x2"), file(xdg + "/Trash/files/y"));
    EXPECT_TRUE(op.isValidAliasForPath(elsewhere));
    ::setenv("XDG_DATA_HOME", xdg.c_str(), 1);
    EXPECT_FALSE(op.isValidAliasForPath(elsewhere));
    ::unsetenv("XDG_DATA_HOME");
}

TEST_F(AliasCleanTest, SymbolicLinksAreNeverReported) {
    const std::string alias = broken(home("/Other/broken-alias"));
    roots.makeDir(home("/Desktop"));
    fs::create_symlink(alias, home("/Desktop/link-to-broken-alias"));
    fs::create_symlink(home("/Documents/nowhere"), home("/Desktop/dangling"));
    fs::create_symlink(file(home("/Other/exists")), home("/Desktop/to-file"));
    fs::create_symlink(home("/Other"), home("/Desktop/folder-link"));  // not walked into
    Recorder rec = scan();
    ASSERT_EQ(rec.calls, 1);
    EXPECT_TRUE(rec.results.empty()) << rec.paths().front();

    HVNAliasCleanOperation op;
    EXPECT_FALSE(op.isValidAliasForPath(home("/Desktop/to-file")));  // not an alias at all
}

TEST_F(AliasCleanTest, ChainsOfAliases) {
    const std::string end = file(home("/Documents/end.txt"));
    auto good = hvn::test::writeAliasChain(home("/Desktop/good"), 3, end);
    auto bad = hvn::test::writeAliasChain(home("/Desktop/bad"), 2, home("/Documents/gone.txt"));
    Recorder rec = scan();
    EXPECT_EQ(rec.paths(), bad);

    HVNAliasCleanOperation op;
    EXPECT_TRUE(op.isValidAliasForPath(good.front()));
    EXPECT_EQ(op.getAliasForPath(good.front()), end);
    EXPECT_EQ(op.getAliasForPath(bad.front()), std::nullopt);
}

TEST_F(AliasCleanTest, CancelledWalkReportsNothing) {
    broken(home("/Desktop/a"));
    broken(home("/Documents/b"));
    Recorder rec;
    HVNAliasCleanOperation op(&rec);
    PathUpdates updates([&](const std::string&) { op.cancel(); });
    op.main();
    EXPECT_EQ(rec.calls, 0);
    EXPECT_FALSE(op.done.load());
    EXPECT_EQ(updates.seen.size(), 1u);

    Recorder before = scan([](HVNAliasCleanOperation& o) { o.cancel(); });
    EXPECT_EQ(before.calls, 0);
}

TEST_F(AliasCleanTest, CancelWhileTestingHandsBackWhatWasFound) {
    std::vector<std::string> paths{broken(home("/Desktop/1")), broken(home("/Desktop/2")),
                                   broken(home("/Desktop/3"))};
    Recorder rec;
    HVNAliasCleanOperation op(&rec);
    // The resolver logs each missing target; the first such line cancels the scan.
    auto previous = hvn::Log::setSink([&](const std::string& line) {
        if (line.find("does not exist") != std::string::npos) op.cancel();
    });
    op.searchFinished(paths);
    hvn::Log::setSink(previous);
    ASSERT_EQ(rec.calls, 1);
    EXPECT_TRUE(op.done.load());
    ASSERT_EQ(rec.results.size(), 1u);
    EXPECT_EQ(rec.results[0]->filePath(), paths[0]);
}

TEST_F(AliasCleanTest, WalkOrderAndProgress) {
    const std::string apps = roots.makeDir(root("/Applications"));
    const std::string pub = roots.makeDir(home("/Public"));
    const std::string inner = roots.makeDir(home("/Public/inner"));
    roots.makeDir(home("/Public/Skip.app"));
    PathUpdates updates;
    Recorder rec = scan();
    EXPECT_EQ(rec.calls, 1);
    // The last root first, each listed folder once, bundles not listed.
    EXPECT_EQ(updates.seen, (std::vector<std::string>{pub, inner, apps}));
}

TEST_F(AliasCleanTest, OddNamesAreReportedAsTheyAre) {
    const std::vector<std::string> names{"line\nbreak", std::string("bad\xff\xfe utf8"), "-dash",
                                         "  spaces  ", "ünïcödé 名前"};
    std::vector<std::string> expected;
    for (const auto& n : names) expected.push_back(broken(home("/Desktop/" + n)));
    std::sort(expected.begin(), expected.end());
    Recorder rec = scan();
    EXPECT_EQ(rec.paths(), expected);
    for (const auto& node : rec.results)
        EXPECT_EQ(node->name(), fs::path(node->filePath()).filename().string());
}

TEST_F(AliasCleanTest, BindMountCyclesEnd) {
    const std::string a = broken(home("/Documents/a"));
    const std::string loop = roots.makeDir(home("/Documents/sub/loop"));
    auto mount = hvn::test::ScopedMount::bind(home("/Documents"), loop);
    if (!mount.mounted()) GTEST_SKIP() << mount.why();
    Recorder rec = scan();
    ASSERT_EQ(rec.calls, 1);
    EXPECT_EQ(rec.paths(), std::vector<std::string>{a});
}
