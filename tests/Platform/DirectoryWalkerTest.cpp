#include "Platform/DirectoryWalker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using hvn::DirectoryWalker;
using hvn::test::RootsTest;

namespace {

class DirectoryWalkerTest : public RootsTest {
protected:
    std::string base() const { return roots.base() + "/tree"; }
    std::string file(const std::string& rel, size_t size) {
        return roots.writeFile(base() + "/" + rel, std::string(size, 'x'));
    }
    std::string dir(const std::string& rel) { return roots.makeDir(base() + "/" + rel); }
};

int openDescriptors() {
    int n = 0;
    for (auto& e : fs::directory_iterator("/proc/self/fd")) {
        (void)e;
        ++n;
    }
    return n;
}

std::set<std::string> visitedPaths(
    const std::string& folder, bool recursive,
    DirectoryWalker::Visit (*decide)(const DirectoryWalker::Entry&) = nullptr) {
    std::set<std::string> out;
    DirectoryWalker::visitEntries(folder, recursive, [&](const DirectoryWalker::Entry& e) {
        out.insert(e.path());
        return decide ? decide(e) : DirectoryWalker::Visit::Continue;
    });
    return out;
}

}  // namespace

TEST_F(DirectoryWalkerTest, SumsLogicalFileLengthsAtEveryDepthWithoutFollowingLinks) {
    file("a", 100);
    file(".hidden", 7);
    file("sub/b", 1000);
    file("sub/.h/c", 30);
    file("sub/deeper/still/d", 5);
    dir("empty");
    // A large folder elsewhere, reached only through links, must not count.
    roots.writeFile(roots.base() + "/huge/blob", std::string(100000, 'y'));
    ASSERT_EQ(symlink((roots.base() + "/huge").c_str(), (base() + "/link-to-folder").c_str()), 0);
    ASSERT_EQ(symlink((roots.base() + "/huge/blob").c_str(), (base() + "/sub/link-to-file").c_str()), 0);
    ASSERT_EQ(mkfifo((base() + "/fifo").c_str(), 0644), 0);
    // A sparse file counts by its logical length.
    int fd = open((base() + "/sparse").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 1 << 20), 0);
    close(fd);

    auto r = DirectoryWalker::totalSize(base());
    EXPECT_TRUE(r.opened);
    EXPECT_FALSE(r.stopped);
    EXPECT_EQ(r.bytes, 100u + 7 + 1000 + 30 + 5 + (1u << 20));
    EXPECT_EQ(r.files, 6u);
    EXPECT_EQ(r.folders, 6u);  // tree, sub, .h, deeper, still, empty
    EXPECT_EQ(r.unreadableFolders, 0u);

    // The start folder itself given as a link is not walked.
    auto viaLink = DirectoryWalker::totalSize(base() + "/link-to-folder");
    EXPECT_FALSE(viaLink.opened);
    EXPECT_EQ(viaLink.bytes, 0u);
    auto missing = DirectoryWalker::totalSize(base() + "/nothing-here");
    EXPECT_FALSE(missing.opened);
    EXPECT_EQ(missing.unreadableFolders, 0u);
}

TEST_F(DirectoryWalkerTest, TotalSizeAtSizesAnEntryOfAnOpenFolder) {
    file("cache/x/y", 40);
    file("cache/z", 2);
    int fd = open(base().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    std::vector<std::string> progress;
    hvn::WalkOptions o;
    o.progressEvery = 1;
    o.progress = [&](std::string_view folder, uint64_t) { progress.emplace_back(folder); };
    auto r = DirectoryWalker::totalSizeAt(fd, "cache", base(), o);
    close(fd);
    EXPECT_EQ(r.bytes, 42u);
    // Progress names the folder being read, as a full path.
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), base() + "/cache");
    EXPECT_NE(std::find(progress.begin(), progress.end(), base() + "/cache/x"), progress.end());
}

TEST_F(DirectoryWalkerTest, StopsOnFlagOrPredicateAndReportsPartialResult) {
    for (int i = 0; i < 50; ++i) file("d" + std::to_string(i % 5) + "/f" + std::to_string(i), 10);
    std::atomic<bool> stop{false};
    hvn::WalkOptions o;
    o.stopFlag = &stop;
    o.progressEvery = 7;
    o.progress = [&](std::string_view, uint64_t) { stop = true; };
    auto r = DirectoryWalker::totalSize(base(), o);
    EXPECT_TRUE(r.stopped);
    EXPECT_LT(r.bytes, 500u);

    int calls = 0;
    hvn::WalkOptions p;
    p.shouldStop = [&] { return ++calls > 3; };
    auto v = DirectoryWalker::visitEntries(
        base(), true, [](const DirectoryWalker::Entry&) { return DirectoryWalker::Visit::Continue; }, p);
    EXPECT_TRUE(v.stopped);
    EXPECT_EQ(v.entries, 3u);

    auto full = DirectoryWalker::totalSize(base());
    EXPECT_EQ(full.bytes, 500u);
}

TEST_F(DirectoryWalkerTest, DeepTreeIsWalkedWholeWithBoundedDescriptors) {
    std::string rel;
    for (int i = 0; i < 300; ++i) rel += "d/";
    file(rel + "leaf", 9);
    file("d/d/top", 1);
    int before = openDescriptors();
    int most = before;
    hvn::WalkOptions o;
    o.progressEvery = 1;
    o.progress = [&](std::string_view, uint64_t) { most = std::max(most, openDescriptors()); };
    auto r = DirectoryWalker::totalSize(base(), o);
    EXPECT_EQ(r.bytes, 10u);
    EXPECT_EQ(r.folders, 301u);
    EXPECT_EQ(r.unreadableFolders, 0u);
    EXPECT_LT(most - before, 80);  // the listing of /proc/self/fd holds one more
    EXPECT_EQ(openDescriptors(), before);

    // The same below an open folder given without its path.
    int fd = open(base().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    auto at = DirectoryWalker::totalSizeAt(fd, "d", "");
    close(fd);
    EXPECT_EQ(at.bytes, 10u);
    EXPECT_EQ(at.unreadableFolders, 0u);
}

TEST_F(DirectoryWalkerTest, VisitsEntriesWithTheirTypesAndOddNamesIntact) {
    const std::string newline = "new\nline";
    const std::string invalid = std::string("bad\xff\xfe") + "name";
    file(newline, 3);
    file(invalid, 4);
    file("folder/inner", 5);
    file("folder/sub/x", 1);
    ASSERT_EQ(symlink("/", (base() + "/root-link").c_str()), 0);
    ASSERT_EQ(mkfifo((base() + "/pipe").c_str(), 0644), 0);

    std::map<std::string, DirectoryWalker::EntryType> types;
    std::map<std::string, int64_t> sizes;
    DirectoryWalker::visitEntries(base(), false, [&](const DirectoryWalker::Entry& e) {
        types[std::string(e.name())] = e.type();
        EXPECT_EQ(e.depth(), 0);
        EXPECT_EQ(e.folder(), base());
        if (e.stat()) sizes[std::string(e.name())] = e.stat()->st_size;
        return DirectoryWalker::Visit::Continue;
    });
    ASSERT_EQ(types.size(), 5u);
    EXPECT_EQ(types[newline], DirectoryWalker::EntryType::File);
    EXPECT_EQ(types[invalid], DirectoryWalker::EntryType::File);
    EXPECT_EQ(types["folder"], DirectoryWalker::EntryType::Directory);
    EXPECT_EQ(types["root-link"], DirectoryWalker::EntryType::Symlink);
    EXPECT_EQ(types["pipe"], DirectoryWalker::EntryType::Other);
    EXPECT_EQ(sizes[newline], 3);
    EXPECT_EQ(sizes[invalid], 4);
    EXPECT_EQ(sizes["root-link"], 1);  // the link's own length ("/")

    // Recursive: every entry once, links not entered.
    auto all = visitedPaths(base(), true);
    EXPECT_EQ(all.size(), 8u);
    EXPECT_TRUE(all.count(base() + "/folder/sub/x"));
    for (const auto& p : all) EXPECT_EQ(p.rfind(base(), 0), 0u) << p;

    // SkipChildren keeps the folder's own entry but does not enter it.
    auto skipped = visitedPaths(base(), true, [](const DirectoryWalker::Entry& e) {
        return e.name() == "folder" ? DirectoryWalker::Visit::SkipChildren : DirectoryWalker::Visit::Continue;
    });
    EXPECT_TRUE(skipped.count(base() + "/folder"));
    EXPECT_FALSE(skipped.count(base() + "/folder/inner"));
}

TEST_F(DirectoryWalkerTest, StartFolderLinkIsFollowedOnlyWhenAsked) {
    file("real/a", 1);
    ASSERT_EQ(symlink((base() + "/real").c_str(), (base() + "/alias").c_str()), 0);
    EXPECT_EQ(visitedPaths(base() + "/alias", false).size(), 1u);
    hvn::WalkOptions noFollow;
    noFollow.followStartLink = false;
    auto r = DirectoryWalker::visitEntries(
        base() + "/alias", false,
        [](const DirectoryWalker::Entry&) { return DirectoryWalker::Visit::Continue; }, noFollow);
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.entries, 0u);
}

TEST_F(DirectoryWalkerTest, UnreadableFoldersAreSkippedAndCounted) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root to run the walk as nobody";
    file("open/a", 10);
    file("closed/b", 1000);
    file("closed/inner/c", 1000);
    file("z", 5);
    ASSERT_EQ(chmod((base() + "/closed").c_str(), 0700), 0);
    const std::string folder = base();
    int rc = hvn::test::runAsNobody([&] {
        auto r = DirectoryWalker::totalSize(folder);
        if (r.bytes != 15 || r.unreadableFolders != 1 || r.stopped) return 1;
        uint64_t seen = 0;
        auto v = DirectoryWalker::visitEntries(folder, true, [&](const DirectoryWalker::Entry&) {
            ++seen;
            return DirectoryWalker::Visit::Continue;
        });
        // tree: open, open/a, closed, z (closed cannot be entered)
        if (seen != 4 || v.unreadableFolders != 1) return 2;
        auto direct = DirectoryWalker::totalSize(folder + "/closed");
        if (!direct.opened && direct.unreadableFolders == 1) return 0;
        return 3;
    });
    EXPECT_EQ(rc, 0);
}
