#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/NotificationCenter.h"
#include "Platform/PropertyList.h"
#include "Platform/UserDefaults.h"
#include "Support/ConcurrentProcesses.h"
#include "Support/TestRoots.h"

using hvn::Value;

namespace {

class SettingsTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        unsetenv("XKB_DEFAULT_LAYOUT");
        defaults().reload();
        defaults().setObject(hvn::Array{Value("en")}, "AppleLanguages");
    }
    static hvn::UserDefaults& defaults() { return hvn::UserDefaults::standardUserDefaults(); }
    // The settings as the preferences file on disk holds them.
    static Value settingsOnDisk() {
        auto file = hvn::PropertyList::readFile(defaults().filePath());
        return file ? (*file)["Setting"] : Value();
    }
};

const std::set<std::string> kDefaultKeys = {"StartMode",
                                            "ShowIcon",
                                            "Language",
                                            "MonitorEvents",
                                            "LaunchOnLogin",
                                            "ScanRange",
                                            "ScanFileSize",
                                            "Delete Is Safety",
                                            "Delete Dupfiles Is Safety",
                                            "DiskCleanModules",
                                            "SystemCleanModules",
                                            "CleanAtRegularTime",
                                            "Action",
                                            "Show Clean Notification",
                                            "Duplicate Notification",
                                            "CleanTimeInterval",
                                            "CleanTime",
                                            "Insight Clean",
                                            "Send Usage Statistics"};

}  // namespace

TEST_F(SettingsTest, FirstLaunchWritesExactlyTheDefaultKeysToDisk) {
    HVNCommonFunction::initialSettingInfo();
    Value settings = settingsOnDisk();
    ASSERT_TRUE(settings.isDictionary());
    std::set<std::string> keys;
    for (const auto& [k, v] : settings.asDictionary()) keys.insert(k);
    EXPECT_EQ(keys, kDefaultKeys);
    EXPECT_EQ(keys.size(), 19u);

    EXPECT_EQ(settings["StartMode"], Value("一键清理"));
    EXPECT_EQ(settings["ShowIcon"], Value(1));
    EXPECT_EQ(settings["LaunchOnLogin"], Value(false));
    EXPECT_EQ(settings["Delete Is Safety"], Value(true));
    EXPECT_EQ(settings["Insight Clean"], Value(false));
    EXPECT_EQ(settings["CleanTime"], Value("17:00"));
    EXPECT_EQ(settings["ScanFileSize"], Value("10k"));
    EXPECT_EQ(settings["DiskCleanModules"],
              Value(hvn::Array{"System Cache Files", "System Log Files", "Universal Binaries File",
                               "iOS Software Updates", "iOS Photo Cache", "iPhoto Cleanup", "Trash Cleanup",
                               "Language Files"}));
    EXPECT_EQ(settings["SystemCleanModules"],
              Value(hvn::Array{"Internet History", "Session", "Leftover", "Broken Login Items",
                               "Shortcut Clean", "User Cache Files", "User Log Files", "Browser Cache"}));
    EXPECT_EQ(settings["Language"],
              Value(hvn::Array{Value(hvn::Dictionary{
                  {"country", Value("us")}, {"language", Value("English")}, {"localCode", Value("en")}})}));
}

TEST_F(SettingsTest, LaterLaunchesLeaveTheUsersSettingsAlone) {
    HVNCommonFunction::initialSettingInfo();
    HVNCommonFunction::changeSettingValue(Value(true), "Insight Clean");
    HVNCommonFunction::changeSettingValue(Value(), "CleanTime");
    Value before = settingsOnDisk();

    defaults().reload();  // as a new process would
    HVNCommonFunction::initialSettingInfo();
    EXPECT_EQ(settingsOnDisk(), before);
    EXPECT_TRUE(HVNCommonFunction::isShredderFile());
    EXPECT_TRUE(HVNCommonFunction::getSettingValueByKey("CleanTime").isNull());
}

TEST_F(SettingsTest, CleanItemsToScanFollowTheStoredLists) {
    HVNCommonFunction::initialSettingInfo();
    EXPECT_FALSE(HVNCommonFunction::checkShouldBeenScaned("Cookies"));
    EXPECT_TRUE(HVNCommonFunction::checkShouldBeenScaned("Browser Cache"));
    EXPECT_TRUE(HVNCommonFunction::checkShouldBeenScaned("Language Files"));
    EXPECT_FALSE(HVNCommonFunction::checkShouldBeenScaned("Disk Check"));
    EXPECT_FALSE(HVNCommonFunction::checkShouldBeenScaned("browser cache"));

    HVNCommonFunction::changeSettingValue(Value(hvn::Array{"Cookies"}), "SystemCleanModules");
    EXPECT_TRUE(HVNCommonFunction::checkShouldBeenScaned("Cookies"));
    EXPECT_FALSE(HVNCommonFunction::checkShouldBeenScaned("Browser Cache"));
    // A list that is not a list scans nothing rather than failing.
    HVNCommonFunction::changeSettingValue(Value("Disk Check"), "DiskCleanModules");
    EXPECT_FALSE(HVNCommonFunction::checkShouldBeenScaned("Disk Check"));
}

TEST_F(SettingsTest, DiskCheckIsDueAfterSevenDays) {
    const hvn::Date checked{1700000000};
    EXPECT_TRUE(HVNCommonFunction::shouldCheckDisk(checked));  // no date: the distant past
    EXPECT_TRUE(HVNCommonFunction::shouldCheckDisk());

    HVNCommonFunction::changeSettingValue(Value(checked), "Last Disk Check Date");
    EXPECT_FALSE(HVNCommonFunction::shouldCheckDisk(hvn::Date{checked.secondsSince1970 + 86400}));
    EXPECT_FALSE(HVNCommonFunction::shouldCheckDisk(hvn::Date{checked.secondsSince1970 + 604799}));
    EXPECT_TRUE(HVNCommonFunction::shouldCheckDisk(hvn::Date{checked.secondsSince1970 + 604800}));

    HVNCommonFunction::changeSettingValue(Value(hvn::Date::now()), "Last Disk Check Date");
    EXPECT_FALSE(HVNCommonFunction::shouldCheckDisk());

    HVNCommonFunction::changeSettingValue(Value("yesterday"), "Last Disk Check Date");
    EXPECT_TRUE(HVNCommonFunction::shouldCheckDisk());
}

TEST_F(SettingsTest, ScanRangeAndShredderReadTheirKeys) {
    EXPECT_EQ(HVNCommonFunction::scanRangeMatrixValue(), 0);
    EXPECT_FALSE(HVNCommonFunction::isShredderFile());
    HVNCommonFunction::initialSettingInfo();
    EXPECT_EQ(HVNCommonFunction::scanRangeMatrixValue(), 0);
    HVNCommonFunction::changeSettingValue(Value("AllDiskClean"), "ScanRange");
    EXPECT_EQ(HVNCommonFunction::scanRangeMatrixValue(), 1);
    HVNCommonFunction::changeSettingValue(Value("CustomClean"), "ScanRange");
    EXPECT_EQ(HVNCommonFunction::scanRangeMatrixValue(), 2);
    HVNCommonFunction::changeSettingValue(Value("customclean"), "ScanRange");
    EXPECT_EQ(HVNCommonFunction::scanRangeMatrixValue(), 0);
    HVNCommonFunction::changeSettingValue(Value(1), "Insight Clean");
    EXPECT_TRUE(HVNCommonFunction::isShredderFile());
}

TEST_F(SettingsTest, EachChangeIsWrittenThroughAndNotifiedOnce) {
    HVNCommonFunction::initialSettingInfo();
    int changes = 0;
    hvn::ObservationToken token = hvn::NotificationCenter::defaultCenter().addObserver(
        hvn::kUserDefaultsDidChangeNotification, [&](const hvn::Notification&) { ++changes; });
    ASSERT_TRUE(HVNCommonFunction::changeSettingValue(Value("12:30"), "CleanTime"));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(settingsOnDisk()["CleanTime"], Value("12:30"));
    EXPECT_EQ(settingsOnDisk()["StartMode"], Value("一键清理"));
}

TEST_F(SettingsTest, ConcurrentWritersLoseNoChange) {
    HVNCommonFunction::initialSettingInfo();
    // Every write adds a key of its own, so any change lost to a stale copy stays missing.
    constexpr int kThreads = 4;
    constexpr int kWrites = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kWrites; ++i) {
                HVNCommonFunction::changeSettingValue(Value(i),
                                                      "w" + std::to_string(t) + "-" + std::to_string(i));
            }
        });
    }
    for (auto& th : threads) th.join();
    Value onDisk = settingsOnDisk();
    int missing = 0;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kWrites; ++i) {
            std::string key = "w" + std::to_string(t) + "-" + std::to_string(i);
            if (HVNCommonFunction::getSettingValueByKey(key) != Value(i) || onDisk[key] != Value(i))
                ++missing;
        }
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(onDisk.asDictionary().size(), kDefaultKeys.size() + kThreads * kWrites);
}

TEST_F(SettingsTest, ProcessesChangingSettingsAtOnceLoseNoChange) {
    HVNCommonFunction::initialSettingInfo();
    // This process read the settings before the others started, as a long-running one has.
    EXPECT_EQ(HVNCommonFunction::getSettingValueByKey("ShowIcon"), Value(1));
    constexpr int kProcesses = 8, kWrites = 5;
    auto codes = hvn::test::runInProcessesAtOnce(kProcesses, [](int p) {
        for (int i = 0; i < kWrites; ++i)
            HVNCommonFunction::changeSettingValue(Value(i),
                                                  "p" + std::to_string(p) + "-" + std::to_string(i));
        return 0;
    });
    for (int p = 0; p < kProcesses; ++p) EXPECT_EQ(codes[static_cast<size_t>(p)], 0) << "process " << p;
    ASSERT_TRUE(HVNCommonFunction::changeSettingValue(Value(0), "ShowIcon"));

    Value onDisk = settingsOnDisk();
    int missing = 0;
    for (int p = 0; p < kProcesses; ++p) {
        for (int i = 0; i < kWrites; ++i) {
            std::string key = "p" + std::to_string(p) + "-" + std::to_string(i);
            if (onDisk[key] != Value(i) || HVNCommonFunction::getSettingValueByKey(key) != Value(i))
                ++missing;
        }
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(onDisk["ShowIcon"], Value(0));
    EXPECT_EQ(onDisk.asDictionary().size(), kDefaultKeys.size() + kProcesses * kWrites);
}

TEST_F(SettingsTest, CorruptPreferencesReadAsNoSettings) {
    roots.writeFile(defaults().filePath(), "<?xml version=\"1.0\"?><plist><dict><key>Setting</key><dict>");
    defaults().reload();
    EXPECT_TRUE(HVNCommonFunction::getSettingValueByKey("ShowIcon").isNull());
    EXPECT_FALSE(HVNCommonFunction::isShredderFile());
    EXPECT_TRUE(HVNCommonFunction::shouldCheckDisk());

    // A "Setting" that is not a dictionary is no settings dictionary either.
    defaults().setObject(Value("garbage"), "Setting");
    EXPECT_TRUE(HVNCommonFunction::getSettingValueByKey("ShowIcon").isNull());
    HVNCommonFunction::initialSettingInfo();
    EXPECT_EQ(HVNCommonFunction::getSettingValueByKey("ShowIcon"), Value(1));

    defaults().setObject(Value(hvn::Array{Value(1)}), "Setting");
    HVNCommonFunction::changeSettingValue(Value(true), "Insight Clean");
    EXPECT_TRUE(HVNCommonFunction::isShredderFile());
}

TEST_F(SettingsTest, AChangeThatCannotBeStoredIsReported) {
    HVNCommonFunction::initialSettingInfo();
    std::string path = defaults().filePath();
    std::filesystem::remove(path);
    roots.makeDir(path);
    std::string error;
    EXPECT_FALSE(HVNCommonFunction::changeSettingValue(Value(true), "Insight Clean", &error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_TRUE(HVNCommonFunction::getSettingValueByKey("Insight Clean").isNull());
}
