#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/PropertyList.h"
#include "Platform/RunLoop.h"
#include "Platform/UserDefaults.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

using hvn::Value;

TEST(SizeDescTest, DecimalUnitsAtTheBoundaries) {
    EXPECT_EQ(HVNCommonFunction::getSizeDesc(0), "0 KB");
    EXPECT_EQ(HVNCommonFunction::getSizeDesc(-5), "0 KB");
    EXPECT_EQ(HVNCommonFunction::getSizeDesc(1), "0.0 KB");
    EXPECT_EQ(HVNCommonFunction::getSizeDesc(1500), "1.5 KB");
    EXPECT_EQ(HVNCommonFunction::getSizeDesc(1000000), "1000.0 KB");
    EXPECT_EQ(HVNCommonFunction::getSizeDesc(1000001), "1.0 MB");
    EXPECT_EQ(HVNCommonFunction::getSizeDesc(1000000000), "1000.0 MB");
    EXPECT_EQ(HVNCommonFunction::getSizeDesc(1000000001), "1.00 GB");
    EXPECT_EQ(HVNCommonFunction::getSizeDesc(2500000000000LL), "2500.00 GB");
}

TEST(PathNamesTest, LastComponentAndFolderFollowPathRules) {
    EXPECT_EQ(HVNCommonFunction::getFileNameByPath("/tmp/scratch.tiff"), "scratch.tiff");
    EXPECT_EQ(HVNCommonFunction::getFileNameByPath("/tmp/lock/"), "lock");
    EXPECT_EQ(HVNCommonFunction::getFileNameByPath("/"), "/");
    EXPECT_EQ(HVNCommonFunction::getFileNameByPath("scratch"), "scratch");
    EXPECT_EQ(HVNCommonFunction::getFileNameByPath(""), "");
    EXPECT_EQ(HVNCommonFunction::getDirPathByPath("/tmp/scratch.tiff"), "/tmp");
    EXPECT_EQ(HVNCommonFunction::getDirPathByPath("/tmp/lock/"), "/tmp");
    EXPECT_EQ(HVNCommonFunction::getDirPathByPath("/tmp"), "/");
    EXPECT_EQ(HVNCommonFunction::getDirPathByPath("/"), "/");
    EXPECT_EQ(HVNCommonFunction::getDirPathByPath("scratch"), "");
    EXPECT_EQ(HVNCommonFunction::getDirPathByPath("/a//b"), "/a");
    EXPECT_TRUE(HVNCommonFunction::isOddNumber(3));
    EXPECT_TRUE(HVNCommonFunction::isOddNumber(-1));
    EXPECT_FALSE(HVNCommonFunction::isOddNumber(0));
}

TEST(VersionTextTest, ThreePartVersionsAndTwoPartMonths) {
    EXPECT_EQ(HVNCommonFunction::getIntValueForVersionNoStr("2.3.1"), 231);
    EXPECT_EQ(HVNCommonFunction::getIntValueForVersionNoStr("10.0.2"), 1002);
    EXPECT_EQ(HVNCommonFunction::getIntValueForVersionNoStr("2.3"), 0);
    EXPECT_EQ(HVNCommonFunction::getIntValueForVersionNoStr("2.3.1.4"), 0);
    EXPECT_EQ(HVNCommonFunction::getIntValueForVersionNoStr(""), 0);
    EXPECT_EQ(HVNCommonFunction::getIntValueForVersionNoStr(std::nullopt), 0);
    EXPECT_EQ(HVNCommonFunction::getIntValueForVersionNoStr("2.x.1"), 201);
    EXPECT_EQ(HVNCommonFunction::getIntFromActiveDateStr("2014-05"), 201405);
    EXPECT_EQ(HVNCommonFunction::getIntFromActiveDateStr("2014-05-01"), 0);
    EXPECT_EQ(HVNCommonFunction::getIntFromActiveDateStr("201405"), 0);
    EXPECT_EQ(HVNCommonFunction::getIntFromActiveDateStr(""), 0);
    EXPECT_EQ(HVNCommonFunction::getIntFromActiveDateStr(std::nullopt), 0);
}

TEST(VersionTextTest, MonthTextUsesTheLocalTimeZone) {
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    // 2014-05-31T20:00:00Z is already June in Tokyo.
    EXPECT_EQ(HVNCommonFunction::getActiveTimeStrFromDate(hvn::Date{1401566400}), "2014-06");
    EXPECT_EQ(HVNCommonFunction::getActiveTimeStrFromDate(hvn::Date{1400000000}), "2014-05");
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(LanguageCodeTest, NationCodeIsThePartBeforeTheFirstSeparator) {
    EXPECT_EQ(HVNCommonFunction::getNationCodeByLanguageCode("zh-Hans"), "zh");
    EXPECT_EQ(HVNCommonFunction::getNationCodeByLanguageCode("pt_BR"), "pt");
    EXPECT_EQ(HVNCommonFunction::getNationCodeByLanguageCode("fr"), "fr");
    EXPECT_EQ(HVNCommonFunction::getNationCodeByLanguageCode("zh_Hant-TW"), "zh_Hant");
    EXPECT_EQ(HVNCommonFunction::getNationCodeByLanguageCode(""), "");
}

class CommonFunctionRootsTest : public hvn::test::RootsTest {};

TEST_F(CommonFunctionRootsTest, FileSizeIsTheItemsOwnLength) {
    std::string file = roots.writeFile(roots.home() + "/a.txt", std::string(1234, 'x'));
    EXPECT_EQ(HVNCommonFunction::getFileSizeByPath(file), 1234);
    std::string link = roots.home() + "/link";
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    EXPECT_EQ(HVNCommonFunction::getFileSizeByPath(link), static_cast<int64_t>(file.size()));
    EXPECT_EQ(HVNCommonFunction::getFileSizeByPath(roots.home() + "/missing"), 0);
    EXPECT_EQ(HVNCommonFunction::getFileSizeByPath(""), 0);
    EXPECT_EQ(HVNCommonFunction::getHomePathByAppendSubPath("Library/Caches"),
              roots.home() + "/Library/Caches");
}

TEST_F(CommonFunctionRootsTest, InstallRecordReadsAndWrites) {
    hvn::test::LogLines log;
    const std::string path = HVNCommonFunction::getVersionFilePath();
    EXPECT_EQ(path, roots.home() + "/Library/Calendars/CalendaStates.plist");

    // Missing record: empty text and a log line.
    EXPECT_EQ(HVNCommonFunction::getVersionNoFromCalendarStates(), std::optional<std::string>(""));
    EXPECT_EQ(HVNCommonFunction::getActiveTimeFromCalendarStates(), std::optional<std::string>(""));
    EXPECT_EQ(log.countLine("Version File is not exist"), 2u);

    // A new record made by the active-time report holds only "activeTime".
    HVNCommonFunction::saveOrUpdateActiveTime("2014-05");
    EXPECT_EQ(*hvn::PropertyList::readFile(path), Value(hvn::Dictionary{{"activeTime", Value("2014-05")}}));
    EXPECT_EQ(HVNCommonFunction::getVersionNoFromCalendarStates(), std::nullopt);  // readable, no key
    EXPECT_TRUE(log.hasLine("Save version file to " + path));

    HVNCommonFunction::saveOrUpdateVersionFile();
    EXPECT_EQ(HVNCommonFunction::getVersionNoFromCalendarStates(), HVNCommonFunction::getProjectVersion());
    EXPECT_EQ(HVNCommonFunction::getActiveTimeFromCalendarStates(), std::optional<std::string>("2014-05"));

    // A corrupt record is replaced by a new one; the version report starts "activeTime" empty.
    roots.writeFile(path, "garbage");
    HVNCommonFunction::saveOrUpdateVersionFile();
    EXPECT_EQ(HVNCommonFunction::getActiveTimeFromCalendarStates(), std::optional<std::string>(""));
    EXPECT_FALSE(HVNCommonFunction::getProjectVersion().empty());
    EXPECT_EQ(HVNCommonFunction::getVersionNoFromCalendarStates(), HVNCommonFunction::getProjectVersion());
}

TEST_F(CommonFunctionRootsTest, BundleAndUserInformation) {
    EXPECT_EQ(HVNCommonFunction::getProjectDirPath(), hvn::test::bundlePath());
    EXPECT_EQ(HVNCommonFunction::getProjectName(), "Halvorn");
    EXPECT_EQ(HVNCommonFunction::getProjectNameForHttpRequest(), "Halvorn");
    EXPECT_EQ(HVNCommonFunction::getOnlineUsersFlag(), 0);

    auto& defaults = hvn::UserDefaults::standardUserDefaults();
    EXPECT_EQ(HVNCommonFunction::localNationCode(), std::nullopt);
    defaults.setObject(Value("zh_Hans_CN"), "NSLocaleCode");
    EXPECT_EQ(HVNCommonFunction::localNationCode(), std::optional<std::string>("zh-Hans-CN"));

    std::string accounts = roots.home() + "/Library/Mail/V2/MailData/Accounts.plist";
    EXPECT_FALSE(HVNCommonFunction::isUserSetupMailbox());
    hvn::PropertyList::writeFile(
        accounts, Value(hvn::Dictionary{{"MailAccounts", Value(hvn::Array{Value(hvn::Dictionary{
                                                             {"AccountName", Value("On My Mac")}})})}}));
    EXPECT_FALSE(HVNCommonFunction::isUserSetupMailbox());
    hvn::PropertyList::writeFile(
        accounts,
        Value(hvn::Dictionary{
            {"MailAccounts",
             Value(hvn::Array{Value("odd"),
                              Value(hvn::Dictionary{{"SMTPIdentifier", Value("smtp.example.org")}})})}}));
    EXPECT_TRUE(HVNCommonFunction::isUserSetupMailbox());
    roots.writeFile(accounts, "not a plist");
    EXPECT_FALSE(HVNCommonFunction::isUserSetupMailbox());
}

TEST(SystemInformationTest, VersionTextsComeFromTheSameNumbers) {
    std::string version = HVNCommonFunction::getSystemVersion();
    int major = -1, minor = -1, patch = -1;
    ASSERT_EQ(std::sscanf(version.c_str(), "%d.%d.%d", &major, &minor, &patch), 3) << version;
    EXPECT_GT(major, 0);
    EXPECT_EQ(HVNCommonFunction::getSystemVersionForUrl(), std::to_string(minor) + std::to_string(patch));
    EXPECT_EQ(HVNCommonFunction::isSystemBefore10_6(), minor < 6);
    EXPECT_FALSE(HVNCommonFunction::getPCArchitecture().empty());
}

TEST(NotificationPostingTest, MainThreadPostingsAreQueuedAndOthersSynchronous) {
    auto& loop = hvn::RunLoop::main();
    loop.reset();
    auto& center = hvn::NotificationCenter::defaultCenter();
    std::vector<std::string> seen;
    std::vector<hvn::ObservationToken> tokens;
    for (const char* name :
         {kCleanFinishNotification, kAllScanFinishNotification, kRAMCleanFinishNotification,
          kCleanBeginNotification, kReloadSearchDetailNotification, kEnterSearchDetailNotification}) {
        tokens.emplace_back(center.addObserver(name, [&seen](const hvn::Notification& n) {
            EXPECT_FALSE(n.object.has_value());
            EXPECT_TRUE(n.userInfo.isNull());
            seen.push_back(n.name);
        }));
    }
    HVNCommonFunction::postCleanNotification();
    HVNCommonFunction::postAllScanNotification();
    HVNCommonFunction::postRAMCleanNotification();
    HVNCommonFunction::postCleanBeginNotification();
    HVNCommonFunction::postUpdateSearchDetailNotification();
    HVNCommonFunction::postEnterSearchDetailNotification();
    EXPECT_EQ(seen, (std::vector<std::string>{"CLEAN_FINISH_NOTFICATION", "ALL_SCAN_FINISH_NOTFICATION",
                                              "RAM_CLEAN_FINISH_NOTFICATION", "CLEAN_BEGIN_NOTFICATION",
                                              "RELOAD_SEARCH_DETAIL_NOTIFICATION",
                                              "ENTER_SEARCH_DETAIL_NOTIFICATION"}));
    seen.clear();
    HVNCommonFunction::postCleanBeginNotificationOnMainThread();
    HVNCommonFunction::postCleanFinishNotificationOnMainThread();
    HVNCommonFunction::postAllScanFinishNotificationOnMainThread();
    HVNCommonFunction::postRAMCleanFinishNotificationOnMainThread();
    EXPECT_TRUE(seen.empty());
    loop.runPending();
    EXPECT_EQ(seen,
              (std::vector<std::string>{"CLEAN_BEGIN_NOTFICATION", "CLEAN_FINISH_NOTFICATION",
                                        "ALL_SCAN_FINISH_NOTFICATION", "RAM_CLEAN_FINISH_NOTFICATION"}));
}
