// The clean of the clean manager on real temporary files: the removal rules per module,
// the hand-over of failures to the privileged removal, pruning, stopping, and the combined
// clean with its notifications.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "Clearer/CleanManagerTestSupport.h"
#include "HVN/Code/Clearer/HVNCleanManager.h"
#include "HVN/Code/Clearer/HVNModuleInfo.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Workspace.h"

using namespace hvn::test;
using M = HVNModuleInfo;
namespace fs = std::filesystem;

namespace {

bool exists(const std::string& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

class CleanManagerCleanTest : public CleanManagerTestBase {
protected:
    // A node for an existing file below the home folder.
    HVNScaneOuputObjectPtr fileNode(const std::string& relativePath, int8_t check = 1) {
        std::string path = homeFile(relativePath);
        return makeNode(fs::path(path).parent_path().string(), fs::path(path).filename().string(), 10, check);
    }
};

TEST_F(CleanManagerCleanTest, GroupWhoseTickedChildrenAreAllRemovedLeavesTheList) {
    auto& m = makeManager();
    auto a = fileNode("one/cache"), b = fileNode("two/cache"), c = fileNode("three/cache");
    auto kept = fileNode("keep/me", 0);
    m.scanSystem->setData({{M::UserCache, {makeNode("", "cache", 30, 1, {a, b, c}), kept}}});

    EXPECT_TRUE(m.clearSystemInApp().empty());
    EXPECT_FALSE(exists(a->filePath()));
    EXPECT_FALSE(exists(c->filePath()));
    EXPECT_TRUE(exists(kept->filePath()));
    auto list = *m.scanSystemResultArray(M::UserCache);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], kept);
}

TEST_F(CleanManagerCleanTest, FailedChildStaysInItsGroupAndGoesToThePrivilegedRemoval) {
    auto& m = makeManager();
    auto a = fileNode("one/cache"), b = fileNode("two/cache"), c = fileNode("three/cache");
    auto group = makeNode("", "cache", 30, 1, {a, b, c});
    m.scanSystem->setData({{M::UserCache, {group}}});
    removal.failing = {b->filePath()};
    removal.shred = true;

    m.clearSystemFile();
    ASSERT_EQ(removal.batches.size(), 1u);
    EXPECT_EQ(removal.batches[0], std::vector<std::string>{b->filePath()});
    EXPECT_TRUE(removal.rewrites[0]);  // the shredding setting
    EXPECT_FALSE(exists(a->filePath()));
    EXPECT_TRUE(exists(b->filePath()));
    // The privileged removal succeeded: the failed child is pruned and the group with it.
    EXPECT_TRUE(m.scanSystemResultArray(M::UserCache)->empty());
}

TEST_F(CleanManagerCleanTest, RefusedPrivilegedRemovalKeepsTheEntries) {
    auto& m = makeManager();
    auto a = fileNode("one/cache"), b = fileNode("two/cache");
    auto group = makeNode("", "cache", 20, 1, {a, b});
    m.scanSystem->setData({{M::UserCache, {group}}, {M::UserLog, {fileNode("Logs/x.log")}}});
    removal.failing = {b->filePath()};
    removal.batchResult = false;

    m.clearSystemFile();
    ASSERT_EQ(removal.batches.size(), 1u);
    auto list = *m.scanSystemResultArray(M::UserCache);
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0]->children().size(), 1u);
    EXPECT_EQ(list[0]->children()[0], b);
    EXPECT_TRUE(m.scanSystemResultArray(M::UserLog)->empty());
}

TEST_F(CleanManagerCleanTest, RemovalThatTheUserMayNotDoFailsAndIsHandedOn) {
    if (!canRunAsNobody()) GTEST_SKIP() << "needs root to run the removal as nobody";
    // Real removal service, run as nobody: a file in a folder only root may write.
    removal = FakeRemoval{};
    manager = std::make_unique<HVNCleanManager>(HVNCleanServices::standard());
    auto& m = *manager;
    auto locked = fileNode("locked/cache"), free = fileNode("free/cache");
    fs::permissions(roots.home() + "/free", fs::perms::all);
    fs::permissions(free->filePath(), fs::perms::all);
    m.scanSystem->setData({{M::UserCache, {makeNode("", "cache", 20, 1, {locked, free})}}});

    int rc = runAsNobody([&] {
        auto failures = m.clearSystemInApp();
        auto list = *m.scanSystemResultArray(M::UserCache);
        if (failures != std::vector<std::string>{locked->filePath()}) return 1;
        if (list.size() != 1 || list[0]->children().size() != 1 || list[0]->children()[0] != locked) return 2;
        if (exists(free->filePath()) || !exists(locked->filePath())) return 3;
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

TEST_F(CleanManagerCleanTest, ProtectedAndUnsoundPathsAreNeverRemovedNorHandedOn) {
    removal.realRemoval = true;
    auto& m = makeManager();
    homeFile("Library/keep");
    auto library = makeNode(roots.home(), "Library", 10, 1);   // a folder directly in the home folder
    auto dotdot = makeNode(roots.home() + "/x", "..", 10, 1);  // not a name
    auto relative = makeNode("relative/dir", "file", 10, 1);   // no absolute folder
    auto plain = fileNode("Logs/a.log");
    m.scanSystem->setData({{M::UserLog, {library, dotdot, relative, plain}}});

    m.clearSystemFile();
    EXPECT_TRUE(exists(roots.home() + "/Library/keep"));
    EXPECT_FALSE(exists(plain->filePath()));
    EXPECT_TRUE(removal.batches.empty());
    EXPECT_EQ(m.scanSystemResultArray(M::UserLog)->size(), 3u);
    // The refusal is reported with its reason.
    auto left = m.lastCleanNotRemoved();
    ASSERT_EQ(left.count(library->filePath()), 1u);
    EXPECT_NE(left[library->filePath()].find("Refusing to remove"), std::string::npos);
}

// A rule folder that is a link to the home folder: what the gate refuses in-process is
// final and never reaches the privileged route, which would otherwise remove it as root.
TEST_F(CleanManagerCleanTest, ARefusalIsNeverHandedToThePrivilegedRoute) {
    removal.realRemoval = true;
    auto& m = makeManager();
    homeFile("Documents/letter");
    homeFile("Pictures/photo");
    fs::create_symlink(roots.home(), roots.home() + "/.cache");
    auto documents = makeNode(roots.home() + "/.cache", "Documents", 10, 1);
    auto pictures = makeNode(roots.home() + "/.cache", "Pictures", 10, 1);
    auto junk = fileNode("Library/Caches/junk");
    m.scanSystem->setData({{M::UserCache, {documents, pictures, junk}}});

    m.clearSystemFile();
    EXPECT_TRUE(exists(roots.home() + "/Documents/letter"));
    EXPECT_TRUE(exists(roots.home() + "/Pictures/photo"));
    EXPECT_FALSE(exists(junk->filePath()));
    EXPECT_TRUE(removal.batches.empty());
    auto left = m.lastCleanNotRemoved();
    EXPECT_EQ(left.size(), 2u);
    EXPECT_EQ(m.scanSystemResultArray(M::UserCache)->size(), 2u);
}

// Entries the privileged route reports as left stay listed after pruning; the rest go.
TEST_F(CleanManagerCleanTest, PruningKeepsWhatThePrivilegedRouteLeft) {
    auto& m = makeManager();
    auto a = fileNode("Logs/a.log"), b = fileNode("Logs/b.log"), c = fileNode("Logs/c.log");
    m.scanSystem->setData({{M::UserLog, {a, b, c}}});
    removal.failing = {a->filePath(), b->filePath()};
    removal.privilegedLeft = {b->filePath()};
    m.clearSystemFile();
    ASSERT_EQ(removal.batches.size(), 1u);
    EXPECT_EQ(*m.scanSystemResultArray(M::UserLog), HVNNodeList{b});
    auto left = m.lastCleanNotRemoved();
    EXPECT_EQ(left.size(), 1u);
    EXPECT_EQ(left[b->filePath()], "left by the privileged route");
}

// A stop that comes after the clean was announced but before its thread runs is kept.
TEST_F(CleanManagerCleanTest, AStopBeforeTheCleanThreadStartsIsKept) {
    auto& m = makeManager();
    auto a = fileNode("Logs/a.log");
    m.scanSystem->setData({{M::UserLog, {a}}});
    HVNCommonFunction::postCleanBeginNotification();
    m.clearStop();
    std::thread([&] { m.clearInternetVirus(true, true, true, false); }).join();
    EXPECT_TRUE(exists(a->filePath()));
    HVNCommonFunction::postCleanNotification();

    // Called without the announcement, a clean starts afresh.
    m.clearStop();
    m.clearSystemFile();
    EXPECT_FALSE(exists(a->filePath()));
}

TEST_F(CleanManagerCleanTest, FlatRuleRemovesTickedTopNodesWholeAndVanishedOnesLeave) {
    auto& m = makeManager();
    auto folder = makeNode(roots.home() + "/Downloads", "pack", 10, 1,
                           {makeNode(roots.home() + "/Downloads/pack", "inner", 5, 0)});
    homeFile("Downloads/pack/inner");
    auto unticked = fileNode("Downloads/keep", 0);
    auto vanished = makeNode(roots.home() + "/Downloads", "gone", 10, 1);
    m.scanDisk->setData({{M::UserDownloads, {folder, unticked, vanished}}});

    EXPECT_TRUE(m.clearDiscInApp().empty());
    EXPECT_FALSE(exists(roots.home() + "/Downloads/pack"));
    EXPECT_TRUE(exists(unticked->filePath()));
    EXPECT_EQ(*m.scanDiskResultArray(M::UserDownloads), HVNNodeList{unticked});
}

TEST_F(CleanManagerCleanTest, TrashEntriesGoWithTheirRecords) {
    auto& m = makeManager();
    std::string trash = roots.home() + "/.local/share/Trash";
    auto entry = makeNode(trash + "/files", "old.txt", 10, 1);
    homeFile(".local/share/Trash/files/old.txt");
    std::string info = homeFile(".local/share/Trash/info/old.txt.trashinfo");
    entry->removePaths = std::vector<std::string>{info};
    auto failing = makeNode(trash + "/files", "stuck", 10, 1);
    homeFile(".local/share/Trash/files/stuck");
    std::string stuckInfo = homeFile(".local/share/Trash/info/stuck.trashinfo");
    failing->removePaths = std::vector<std::string>{stuckInfo};
    auto untickedEntry = makeNode(trash + "/files", "keep", 10, 0);
    auto group = makeNode(trash, "Macintosh HD", 30, 1, {entry, failing, untickedEntry});
    m.scanDisk->setData({{M::Trash, {group}}});
    removal.failing = {failing->filePath()};

    auto failures = m.clearDiscInApp();
    EXPECT_FALSE(exists(entry->filePath()));
    EXPECT_FALSE(exists(info));
    EXPECT_TRUE(exists(stuckInfo));  // never removed before its entry
    // The failed entry is handed on with its record after it.
    EXPECT_EQ(failures, (std::vector<std::string>{failing->filePath(), stuckInfo}));
    EXPECT_EQ(group->children(), (HVNNodeList{failing, untickedEntry}));

    // Pruning keeps what the clean reported as left.
    m.clearDiscObject();
    EXPECT_EQ(group->children(), (HVNNodeList{failing, untickedEntry}));

    // The privileged route takes the rest: the entry leaves its group.
    removal.failing.clear();
    m.clearDiskFile();
    EXPECT_EQ(removal.batches.size(), 0u);  // removed in-process this time
    EXPECT_EQ(group->children(), HVNNodeList{untickedEntry});
    EXPECT_EQ(m.scanDiskResultArray(M::Trash)->size(), 1u);
}

TEST_F(CleanManagerCleanTest, StopBetweenNodesKeepsTheRestAndHandsNothingOn) {
    auto& m = makeManager();
    auto first = fileNode("Logs/1.log"), second = fileNode("Logs/2.log"), third = fileNode("Logs/3.log");
    m.scanSystem->setData({{M::UserLog, {first, second, third}}});
    removal.failing = {first->filePath()};
    removal.afterRemove = [&](const std::string&) { m.clearStop(); };

    m.clearSystemFile();
    EXPECT_TRUE(exists(first->filePath()));
    EXPECT_FALSE(exists(second->filePath()));
    EXPECT_TRUE(exists(third->filePath()));
    EXPECT_TRUE(removal.batches.empty());
    EXPECT_EQ(removal.stopCalls, 1);
    EXPECT_EQ(*m.scanSystemResultArray(M::UserLog), (HVNNodeList{first, third}));

    // A new clean starts afresh.
    removal.afterRemove = nullptr;
    m.clearSystemFile();
    EXPECT_FALSE(exists(third->filePath()));
    EXPECT_EQ(removal.batches.size(), 1u);
}

TEST_F(CleanManagerCleanTest, PruningDropsTickedEntriesByTheModuleRules) {
    auto& m = makeManager();
    auto keptChild = makeNode("/a", "c", 1, 0);
    auto cacheGroup = makeNode("", "c", 2, -1, {makeNode("/b", "c", 1, 1), keptChild});
    auto emptiedGroup = makeNode("", "e", 1, 1, {makeNode("/b", "e", 1, 1)});
    auto flatWithChildren = makeNode("/x", "flat", 1, 0, {makeNode("/x/flat", "child", 1, 1)});
    auto photo = makeNode("/p", "p", 1, 1);
    auto unknown = makeNode("/u", "u", 1, 1);  // a module without a rule yet
    m.scanDisk->setData({
        {M::SystemCache, {cacheGroup, emptiedGroup, makeNode("/s", "leaf", 1, 1)}},
        {M::SystemLog, {flatWithChildren, makeNode("/s", "log", 1, -1)}},
        {M::IPhoto, {photo}},
        {M::BrokenPreferences, {unknown}},
    });
    m.clearDiscObject();
    EXPECT_EQ(*m.scanDiskResultArray(M::SystemCache), HVNNodeList{cacheGroup});
    EXPECT_EQ(cacheGroup->children(), HVNNodeList{keptChild});
    EXPECT_EQ(*m.scanDiskResultArray(M::SystemLog), HVNNodeList{flatWithChildren});
    EXPECT_EQ(*m.scanDiskResultArray(M::IPhoto), HVNNodeList{photo});
    EXPECT_EQ(*m.scanDiskResultArray(M::BrokenPreferences), HVNNodeList{unknown});
}

TEST_F(CleanManagerCleanTest, CombinedCleanPostsBetweenPartsAndHandsOnOneBatch) {
    auto& m = makeManager();
    NotificationCounter virusDone(kCleanInternetVirusFinishNotification);
    NotificationCounter systemDone(kCleanSystemFinishNotification);
    auto sys = fileNode("Logs/s.log"), disk = fileNode("Downloads/d.bin"), okDisk = fileNode("Downloads/ok");
    m.scanSystem->setData({{M::UserLog, {sys}}});
    m.scanDisk->setData({{M::UserDownloads, {disk, okDisk}}});
    removal.failing = {sys->filePath(), disk->filePath()};

    m.clearInternetVirus(true, true, true, false);
    ASSERT_TRUE(virusDone.waitFor(1));
    ASSERT_TRUE(systemDone.waitFor(1));
    EXPECT_TRUE(virusDone.allOnMainThread() && systemDone.allOnMainThread());
    ASSERT_EQ(removal.batches.size(), 1u);
    EXPECT_EQ(removal.batches[0], (std::vector<std::string>{sys->filePath(), disk->filePath()}));
    EXPECT_TRUE(m.scanSystemResultArray(M::UserLog)->empty());
    EXPECT_TRUE(m.scanDiskResultArray(M::UserDownloads)->empty());
    EXPECT_FALSE(exists(okDisk->filePath()));

    // System alone: no notification, and nothing to hand on when nothing failed.
    m.scanSystem->setData({{M::UserLog, {fileNode("Logs/t.log")}}});
    m.clearInternetVirus(false, true, false, false);
    hvn::RunLoop::main().runUntil([] { return false; }, 0.05);
    EXPECT_EQ(virusDone.count(), 1);
    EXPECT_EQ(systemDone.count(), 1);
    EXPECT_EQ(removal.batches.size(), 1u);
}

TEST_F(CleanManagerCleanTest, StopDuringCombinedCleanSkipsTheLaterCategories) {
    auto& m = makeManager();
    auto sys = fileNode("Logs/s.log"), disk = fileNode("Downloads/d.bin");
    m.scanSystem->setData({{M::UserLog, {sys}}});
    m.scanDisk->setData({{M::UserDownloads, {disk}}});
    removal.afterRemove = [&](const std::string&) { m.clearStop(); };

    m.clearInternetVirus(false, true, true, false);
    EXPECT_FALSE(exists(sys->filePath()));
    EXPECT_TRUE(exists(disk->filePath()));
    EXPECT_TRUE(removal.batches.empty());
}

TEST_F(CleanManagerCleanTest, IsFixingFollowsTheCleanNotifications) {
    auto& m = makeManager();
    EXPECT_FALSE(m.isFixing);
    hvn::NotificationCenter::defaultCenter().post("CLEAN_BEGIN_NOTFICATION");
    EXPECT_TRUE(m.isFixing);
    hvn::NotificationCenter::defaultCenter().post("CLEAN_FINISH_NOTFICATION");
    EXPECT_FALSE(m.isFixing);
}

TEST_F(CleanManagerCleanTest, RunningBrowsersAreNamedOncePerInstanceInOrder) {
    using App = hvn::Workspace::RunningApplication;
    hvn::Workspace::setRunningApplicationsForTesting(std::vector<App>{
        {10, "org.mozilla.firefox", "", "/usr/lib/firefox-esr/firefox-esr"},
        {11, "com.example.Editor", "/Applications/Editor.app",
         "/Applications/Editor.app/Contents/MacOS/Editor"},
        {12, "com.apple.Safari", "/Applications/Safari.app",
         "/Applications/Safari.app/Contents/MacOS/Safari"},
        {13, "org.mozilla.firefox", "", "/opt/firefox/firefox"},
        {14, "com.operasoftware.Opera", "", "/usr/lib/x86_64-linux-gnu/opera/opera"},
        {15, "com.google.Chrome", "", "/opt/google/chrome/chrome"},
    });
    EXPECT_EQ(HVNCleanManager::hasBrowserRun(),
              (std::vector<std::string>{"Firefox", "Safari", "Firefox", "Opera", "Chrome"}));
    hvn::Workspace::setRunningApplicationsForTesting(std::vector<App>{});
    EXPECT_TRUE(HVNCleanManager::hasBrowserRun().empty());
}

TEST(WorkspaceTest, BundlesAndBrowserNames) {
    EXPECT_EQ(hvn::Workspace::bundlePathForExecutable(
                  "/Applications/Tools.app/Contents/Updater.app/Contents/MacOS/u"),
              "/Applications/Tools.app/Contents/Updater.app");
    EXPECT_EQ(hvn::Workspace::bundlePathForExecutable("/usr/bin/firefox"), "");
    EXPECT_EQ(hvn::Workspace::bundlePathForExecutable("/opt/x/run.app"), "");  // the executable's own name
    EXPECT_EQ(hvn::Workspace::bundleIdentifierForProcessName("chromium"), "com.google.Chrome");
    EXPECT_EQ(hvn::Workspace::bundleIdentifierForProcessName("firefox-esr"), "org.mozilla.firefox");
    EXPECT_EQ(hvn::Workspace::bundleIdentifierForProcessName("bash"), "");
    // This test program lies in no bundle and is no browser: it is not listed.
    for (const auto& app : hvn::Workspace::runningApplications()) EXPECT_NE(app.pid, getpid());
}

}  // namespace

namespace {

// Starts argv in a process group of its own; returns its pid (0 on failure).
pid_t spawnGroup(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, &attr, argv.data(), environ) != 0) pid = 0;
    posix_spawnattr_destroy(&attr);
    return pid;
}

std::vector<hvn::Workspace::RunningApplication> appsOfGroup(pid_t group) {
    std::vector<hvn::Workspace::RunningApplication> out;
    for (const auto& app : hvn::Workspace::runningApplications()) {
        if (getpgid(app.pid) == group) out.push_back(app);
    }
    return out;
}

TEST(WorkspaceTest, ProcessesOfBundlesAndBrowsersCountOncePerInstance) {
    TempRoots roots;
    // A bundle whose program (a copy of the shell) runs a helper process of the same
    // executable: one instance.
    std::string bundle = roots.makeDir(roots.base() + "/Safari.app/Contents/MacOS");
    std::string sh = bundle + "/Safari";
    fs::copy_file("/bin/sh", sh);
    fs::permissions(sh, fs::perms::owner_all);
    roots.writeFile(roots.base() + "/Safari.app/Contents/Info.plist",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                    "<key>CFBundleIdentifier</key><string>com.apple.Safari</string></dict></plist>\n");
    std::string browser = roots.makeDir(roots.base() + "/bin") + "/firefox";
    fs::copy_file("/bin/sleep", browser);
    fs::permissions(browser, fs::perms::owner_all);

    pid_t bundled = spawnGroup({sh, "-c", "\"$0\" -c 'sleep 20; :' & sleep 20; :"});
    pid_t named = bundled > 0 ? spawnGroup({browser, "20"}) : 0;
    if (named <= 0 && bundled > 0) {
        kill(-bundled, SIGKILL);
        waitpid(bundled, nullptr, 0);
    }
    ASSERT_GT(named, 0);
    // The helper shell is up once the group holds its own sleep processes too.
    hvn::RunLoop::main().runUntil(
        [&] {
            int sleeps = 0;
            for (const auto& e : fs::directory_iterator("/proc")) {
                pid_t p = std::atoi(e.path().filename().c_str());
                if (p > 0 && getpgid(p) == bundled &&
                    fs::read_symlink(e.path() / "exe").filename() == "sleep")
                    ++sleeps;
            }
            return sleeps >= 2;
        },
        10);
    auto apps = appsOfGroup(bundled);
    auto browsers = appsOfGroup(named);
    kill(-bundled, SIGKILL);
    kill(-named, SIGKILL);
    waitpid(bundled, nullptr, 0);
    waitpid(named, nullptr, 0);

    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0].pid, bundled);
    EXPECT_EQ(apps[0].bundleIdentifier, "com.apple.Safari");
    EXPECT_EQ(apps[0].bundlePath, roots.base() + "/Safari.app");
    ASSERT_EQ(browsers.size(), 1u);
    EXPECT_EQ(browsers[0].bundleIdentifier, "org.mozilla.firefox");
    EXPECT_TRUE(browsers[0].bundlePath.empty());
}

}  // namespace
