// The manager's start-up from the rule database, queuing per settings, stopping a scan, and
// one scan-and-clean run with the real file scanner and removal over a temporary home.
#include <gtest/gtest.h>

#include <filesystem>

#include "Clearer/CleanManagerTestSupport.h"
#include "HVN/Code/Clearer/FMDB/HVNPathData.h"
#include "HVN/Code/Clearer/HVNCleanManager.h"
#include "HVN/Code/Clearer/HVNModuleInfo.h"
#include "HVN/Code/Public/HVNCommonFunction.h"

using namespace hvn::test;
using M = HVNModuleInfo;
namespace fs = std::filesystem;

namespace {

void setModules(const std::vector<std::string>& system, const std::vector<std::string>& disk) {
    hvn::Array s(system.begin(), system.end()), d(disk.begin(), disk.end());
    HVNCommonFunction::changeSettingValue(hvn::Value(s), "SystemCleanModules");
    HVNCommonFunction::changeSettingValue(hvn::Value(d), "DiskCleanModules");
}

class CleanManagerScanTest : public CleanManagerTestBase {};

TEST_F(CleanManagerScanTest, StartUpReadsTheRuleListsAndSplitsBrowserRulesByKind) {
    ASSERT_FALSE(makeRuleBundle(roots.base(),
                                {
                                    {"Browser", "~/b/cache", "Cache", "NULL"},
                                    {"Browser", "~/b/both", "Cookie Cache", "x"},  // "Cache" is tried first
                                    {"Browser", "~/b/history", "History", "places"},
                                    {"Browser", "~/b/session", "Session", ""},
                                    {"Browser", "~/b/cookies", "Cookie", "Cookies"},
                                    {"Browser", "~/b/other", "Bookmarks", "NULL"},  // not used
                                    {"Broswer Chahe", "/b/chahe", "", "NULL"},
                                    {"User Cache Files", "~/Library/Caches", "", "NULL"},
                                    {"iPhoto Cleanup", "~/Pictures/One", "", "NULL"},
                                    {"iPhoto Cleanup", "~/Pictures/Two", "", "NULL"},
                                    {"Broken Preferences", "Library/Preferences", "", "NULL"},
                                })
                     .empty());
    auto& m = makeManager();
    const std::string h = roots.home();
    EXPECT_EQ(m.browserArray.size(), 6u);
    ASSERT_EQ(m.browserCache.size(), 2u);
    EXPECT_EQ(m.browserCache[0]->path, h + "/b/cache");
    EXPECT_FALSE(m.browserCache[0]->key.has_value());
    EXPECT_FALSE(m.browserCache[0]->recursion);
    EXPECT_EQ(m.browserCache[1]->key, std::optional<std::string>("x"));
    ASSERT_EQ(m.browserHistory.size(), 1u);
    EXPECT_TRUE(m.browserHistory[0]->recursion);
    EXPECT_EQ(m.browserHistory[0]->key, std::optional<std::string>("places"));
    EXPECT_TRUE(m.browserHistory[0]->isCheck);
    ASSERT_EQ(m.browserSession.size(), 1u);
    EXPECT_FALSE(m.browserSession[0]->key.has_value());
    ASSERT_EQ(m.browserCookie.size(), 1u);
    EXPECT_EQ(m.browserCookie[0]->path, h + "/b/cookies");

    ASSERT_EQ(m.userCacheArray.size(), 1u);
    EXPECT_EQ(m.userCacheArray[0]->path, h + "/Library/Caches");
    EXPECT_TRUE(m.systemCacheArray.empty());
    EXPECT_EQ(m.iPhoto, h + "/Pictures/Two");
    EXPECT_EQ(m.PreferencesArray.size(), 1u);
    EXPECT_EQ(m.systemCheckBoxStatus, -1);
    EXPECT_EQ(m.internetVirusCheckBoxStatus, 0);
    EXPECT_TRUE(m.hasClearSystem && m.hasClearDisc && m.hasClearInternetVirus);
    EXPECT_FALSE(m.isFixing || m.hasScanSystem || m.hasDickCheckIssue);
}

TEST_F(CleanManagerScanTest, MissingRuleDatabaseGivesEmptyListsAndScansFindNothing) {
    setenv("HALVORN_BUNDLE", (roots.base() + "/Nothing.app").c_str(), 1);
    auto& m = makeManager();
    EXPECT_TRUE(m.userCacheArray.empty() && m.browserArray.empty() && m.iPhoto.empty());
    setModules({"User Cache Files"}, {});
    NotificationCounter finished(kScanFinishNotification);
    m.scanSystemFile();
    ASSERT_TRUE(finished.waitFor(1));
    EXPECT_EQ(m.scanSystem->modules(), std::vector<int32_t>{M::UserCache});
    EXPECT_FALSE(m.hasSystemData());
}

TEST_F(CleanManagerScanTest, OnlyEnabledModulesAreQueuedAndEachCategoryCompletesOnce) {
    auto& m = makeManager();
    setModules({"Internet History", "User Log Files", "Cookies", "Leftover"},
               {"User Downloads", "Disk Check"});
    NotificationCounter finished(kScanFinishNotification);
    m.scanSystemFile();
    ASSERT_TRUE(finished.waitFor(1));
    EXPECT_TRUE(finished.allOnMainThread());
    EXPECT_EQ(m.scanSystem->modules(), (std::vector<int32_t>{M::UserLog, M::Cookies, M::InternetHistory, M::Leftover}));

    m.scanDiskFile();
    ASSERT_TRUE(finished.waitFor(2));
    EXPECT_EQ(m.scanDisk->modules(), (std::vector<int32_t>{M::UserDownloads, M::DiskCheck}));

    m.scanViurs();  // always scanned, whatever the settings say
    ASSERT_TRUE(finished.waitFor(3));
    EXPECT_TRUE(m.internetVirusFile());
    hvn::RunLoop::main().runUntil([] { return false; }, 0.1);
    EXPECT_EQ(finished.count(), 3);

    // The rows one-click care shows: enabled modules, 17 included when enabled.
    setModules({"Broken Preferences", "User Log Files"}, {});
    std::vector<int32_t> shown;
    for (const auto& info : HVNModuleInfo::enabledModules(HVNCleanCategory::System)) shown.push_back(info.id);
    EXPECT_EQ(shown, (std::vector<int32_t>{M::UserLog, M::BrokenPreferences}));
    EXPECT_EQ(HVNModuleInfo::enabledModules(HVNCleanCategory::InternetSecurity).size(), 2u);
}

TEST_F(CleanManagerScanTest, StoppingAScanKeepsWhatFinished) {
    auto& m = makeManager();
    setModules({"User Log Files"}, {});
    homeFile("Library/Logs/a.log");
    auto slow = std::make_shared<FakeScanOperation>(m.scanSystem.get(), M::Leftover, HVNNodeList{});
    slow->runUntilCancelled = true;
    m.scanSystem->addOperation(slow);
    NotificationCounter finished(kScanFinishNotification);
    m.scanSystemFile();
    ASSERT_TRUE(hvn::RunLoop::main().runUntil(
        [&] { return m.scanSystemResultArray(M::UserLog).has_value() && slow->started(); }, 10));
    m.stopSystemScan();
    ASSERT_TRUE(finished.waitFor(1));
    EXPECT_EQ(m.scanSystem->modules(), std::vector<int32_t>{M::UserLog});
    EXPECT_EQ(m.hasSystemIssue(), 1);
}

// The shipped rule database, the real file scanner, trash regrouping and removal service.
TEST_F(CleanManagerScanTest, ScanAndCleanOverATemporaryHome) {
    const std::string h = roots.home();
    homeFile("Library/Caches/com.example.app/blob", 100);
    homeFile(".cache/com.example.tool", 50);
    homeFile("Library/Logs/app.log", 30);
    homeFile("Documents/keep.txt", 7);
    homeFile(".local/share/Trash/files/old.txt", 20);
    std::string info = homeFile(".local/share/Trash/info/old.txt.trashinfo", 5);
    homeFile("Downloads/setup.bin", 40);
    setModules({"User Cache Files", "User Log Files"}, {"Trash Cleanup", "User Downloads"});

    manager = std::make_unique<HVNCleanManager>(HVNCleanServices::standard());
    auto& real = *manager;
    NotificationCounter finished(kScanFinishNotification);
    real.scanSystemFile();
    ASSERT_TRUE(finished.waitFor(1));
    real.scanDiskFile();
    ASSERT_TRUE(finished.waitFor(2));

    ASSERT_EQ(real.scanSystem->modules(), (std::vector<int32_t>{M::UserCache, M::UserLog}));
    EXPECT_EQ(real.hasSystemIssue(), 3);
    EXPECT_EQ(real.allSystemSize(), 180);
    auto trash = real.scanDiskResultArray(M::Trash);
    ASSERT_TRUE(trash && trash->size() == 1);
    EXPECT_EQ(trash->at(0)->name(), "Macintosh HD");
    EXPECT_EQ(real.allDiskSizeSelected(), 60);
    EXPECT_EQ(real.allDiskFile(), 2);

    real.clearSystemFile();
    real.clearDiskFile();
    EXPECT_FALSE(fs::exists(h + "/Library/Caches/com.example.app"));
    EXPECT_FALSE(fs::exists(h + "/.cache/com.example.tool"));
    EXPECT_FALSE(fs::exists(h + "/Library/Logs/app.log"));
    EXPECT_FALSE(fs::exists(h + "/.local/share/Trash/files/old.txt"));
    EXPECT_FALSE(fs::exists(info));
    EXPECT_FALSE(fs::exists(h + "/Downloads/setup.bin"));
    EXPECT_TRUE(fs::exists(h + "/Documents/keep.txt"));
    EXPECT_TRUE(fs::exists(h + "/Library/Caches"));
    EXPECT_FALSE(real.hasSystemData());
    EXPECT_FALSE(real.hasDiscData());
    EXPECT_EQ(real.allDiskSize(), 0);
}

}  // namespace
