// The launch's usage statistics against a loopback server that plays both the statistics
// server and the date server, with a bundle of the test's own.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/HVNUsageStatistics.h"
#include "HVN/Code/Public/HttpActiveUserSever.h"
#include "Platform/PropertyList.h"
#include "Platform/RunLoop.h"
#include "Platform/UserDefaults.h"
#include "Support/LogLines.h"
#include "Support/LoopbackHttpServer.h"
#include "Support/TestRoots.h"

using hvn::Value;
using hvn::test::LoopbackHttpServer;

namespace {

// A loopback port that nothing listens on.
int closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

class UsageStatisticsTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        for (const char* name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
        ASSERT_TRUE(server.running());
        hvn::RunLoop::main().reset();
        hvn::RunLoop::main().bindToCurrentThread();
        setDate("Wed, 14 May 2014 12:00:00 GMT");
    }

    // A bundle of its own: version, "OnlineUsers" and the two server keys.
    void useBundle(const std::string& version, Value onlineUsers, std::optional<std::string> statistics = {},
                   std::optional<std::string> date = {}) {
        std::string bundle = roots.base() + "/Stats.app";
        hvn::Dictionary info{{"CFBundleName", Value("Halvorn")},
                             {"CFBundleIdentifier", Value("com.corvane.Halvorn")},
                             {"CFBundleShortVersionString", Value(version)},
                             {"OnlineUsers", onlineUsers},
                             {"HVNStatisticsServer", Value(statistics.value_or(server.url("/stats")))},
                             {"HVNDateServer", Value(date.value_or(server.url("/date")))}};
        ASSERT_TRUE(hvn::PropertyList::writeFile(bundle + "/Contents/Info.plist", Value(info)));
        setenv("HALVORN_BUNDLE", bundle.c_str(), 1);
        defaults().reload();
    }
    void setDate(std::optional<std::string> date) {
        LoopbackHttpServer::Reply reply;
        reply.date = std::move(date);
        reply.body = "<html>date page</html>";
        server.setReply("/date", reply);
    }
    static hvn::UserDefaults& defaults() { return hvn::UserDefaults::standardUserDefaults(); }

    // One launch's reports, waited for.
    void launch() {
        HVNUsageStatistics::sendLaunchReports();
        ASSERT_TRUE(HVNUsageStatistics::waitForReports(20)) << "the reports did not end";
    }

    std::string recordPath() const { return roots.home() + "/Library/Calendars/CalendaStates.plist"; }
    Value record() const { return hvn::PropertyList::readFile(recordPath()).value_or(Value()); }
    void writeRecord(const std::string& version, const std::string& activeTime) const {
        ASSERT_TRUE(hvn::PropertyList::writeFile(
            recordPath(),
            Value(hvn::Dictionary{{"VersionApp", Value(version)}, {"activeTime", Value(activeTime)}})));
    }

    std::string installTarget(int user, const std::string& ver) const {
        return "/stats/install.php?operate=1&user=" + std::to_string(user) +
               "&system=" + HVNCommonFunction::getSystemVersionForUrl() + "&app=Halvorn&ver=" + ver +
               "&pr=ovra";
    }
    static constexpr const char* kActiveTarget = "/stats/active.php?uid=1&type=2&app=Halvorn&pr=corvane";

    LoopbackHttpServer server;
};

}  // namespace

TEST_F(UsageStatisticsTest, FirstLaunchReportsANewInstallationAndRecordsTheVersion) {
    useBundle("2.2.0", Value(0));
    hvn::test::LogLines log;
    launch();
    EXPECT_EQ(server.targets(), std::vector<std::string>{installTarget(1, "2.2.0")});
    Value r = record();
    EXPECT_EQ(r["VersionApp"], Value("2.2.0"));
    EXPECT_EQ(r["activeTime"], Value(""));
    EXPECT_TRUE(log.hasLine("the url is " + server.url(installTarget(1, "2.2.0"))));
    EXPECT_TRUE(log.hasLine("Save version file to " + recordPath()));
    EXPECT_TRUE(log.hasLine("response is :[ok]"));
}

TEST_F(UsageStatisticsTest, OnlyAHigherVersionThanTheRecordedOneIsReported) {
    struct Case {
        const char* recorded;
        const char* current;
        int user;  // 0: nothing is sent
    } cases[] = {
        {"2.1.0", "2.2.0", 2}, {"2.2.0", "2.2.0", 0}, {"3.0.0", "2.2.0", 0},  // a downgrade is no upgrade
        {"2.1", "2.2.0", 2},                                                  // two parts count as 0
        {"", "2.2.0", 1},  // an empty record is a new installation
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.recorded) + " -> " + c.current);
        server.clearRequests();
        useBundle(c.current, Value(0));
        writeRecord(c.recorded, "2014-04");
        launch();
        if (c.user == 0) {
            EXPECT_TRUE(server.targets().empty());
            EXPECT_EQ(record()["VersionApp"], Value(c.recorded));
        } else {
            EXPECT_EQ(server.targets(), std::vector<std::string>{installTarget(c.user, c.current)});
            EXPECT_EQ(record()["VersionApp"], Value(c.current));
        }
        EXPECT_EQ(record()["activeTime"], Value("2014-04"));
    }
}

TEST_F(UsageStatisticsTest, QueryValuesAreEncodedAndTheBaseMayEndInASlash) {
    useBundle("2.2.0 beta&user=9", Value(0), server.url("/stats/"));
    launch();
    EXPECT_EQ(server.targets(), std::vector<std::string>{installTarget(1, "2.2.0%20beta%26user%3D9")});
}

TEST_F(UsageStatisticsTest, OnlineUsersTwoReportsOncePerServerMonth) {
    useBundle("2.2.0", Value(2));
    launch();
    launch();
    EXPECT_EQ(server.targets("/date").size(), 2u) << "every launch asks for the date";
    EXPECT_EQ(server.targets("/stats/active"), std::vector<std::string>{kActiveTarget});
    EXPECT_EQ(record()["activeTime"], Value("2014-05"));
    EXPECT_EQ(record()["VersionApp"], Value("2.2.0"));

    // The server's month decides, not this computer's clock.
    setDate("Sun, 15 Jun 2014 12:00:00 GMT");
    launch();
    EXPECT_EQ(server.targets("/stats/active").size(), 2u);
    EXPECT_EQ(record()["activeTime"], Value("2014-06"));
    EXPECT_EQ(server.targets("/stats/install").size(), 1u);
}

TEST_F(UsageStatisticsTest, OnlineUsersOneReportsAtEveryLaunch) {
    useBundle("2.2.0", Value(1));
    launch();
    launch();
    EXPECT_EQ(server.targets("/stats/active"), (std::vector<std::string>{kActiveTarget, kActiveTarget}));
    EXPECT_EQ(record()["activeTime"], Value("2014-05"));
}

TEST_F(UsageStatisticsTest, OnlineUsersZeroOrAbsentAsksNothingOfTheDateServer) {
    for (Value flag : {Value(0), Value()}) {
        server.clearRequests();
        useBundle("2.2.0", flag);
        launch();
        EXPECT_TRUE(server.targets("/date").empty());
        EXPECT_TRUE(server.targets("/stats/active").empty());
    }
}

TEST_F(UsageStatisticsTest, EveryRequestCarriesTheLowerCasedLocaleCode) {
    useBundle("2.2.0", Value(1));
    ASSERT_TRUE(defaults().setObject(Value("zh_Hans_CN"), "NSLocaleCode"));
    launch();
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);  // install, date, active
    for (const auto& r : requests) {
        EXPECT_EQ(r.headerValues("Accept-Language"), std::vector<std::string>{"zh-hans-cn"}) << r.target;
    }
}

TEST_F(UsageStatisticsTest, AMissingOrUnsafeLocaleCodeSendsNoAcceptLanguage) {
    useBundle("2.2.0", Value(0));
    launch();
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(server.requests()[0].headerValues("Accept-Language").empty());

    // A code that would end the header field early is left out, not sent.
    server.clearRequests();
    useBundle("2.3.0", Value(0));
    ASSERT_TRUE(defaults().setObject(Value("en_US\r\nX-Injected: 1"), "NSLocaleCode"));
    hvn::test::LogLines log;
    launch();
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].headerValues("Accept-Language").empty());
    EXPECT_TRUE(requests[0].headerValues("X-Injected").empty());
    EXPECT_TRUE(log.contains("Accept-Language"));
}

TEST_F(UsageStatisticsTest, NoUsableDateSkipsTheActiveReportAndKeepsTheRecord) {
    for (std::optional<std::string> date :
         {std::optional<std::string>(), std::optional<std::string>("soon")}) {
        server.clearRequests();
        setDate(date);
        useBundle("2.2.0", Value(1));
        writeRecord("2.2.0", "2014-04");
        hvn::test::LogLines log;
        launch();
        EXPECT_EQ(server.targets("/date").size(), 1u);
        EXPECT_TRUE(server.targets("/stats").empty());
        EXPECT_EQ(record()["activeTime"], Value("2014-04"));
        EXPECT_TRUE(log.contains("no usable Date field"));
    }
}

TEST_F(UsageStatisticsTest, TheRecordIsWrittenBeforeSendingSoAFailedReportIsNotRepeated) {
    useBundle("2.2.0", Value(2), "http://127.0.0.1:" + std::to_string(closedPort()));
    hvn::test::LogLines log;
    launch();
    EXPECT_EQ(record()["VersionApp"], Value("2.2.0"));
    EXPECT_EQ(record()["activeTime"], Value("2014-05"));
    EXPECT_TRUE(log.contains("The install report failed"));
    EXPECT_TRUE(log.contains("The active-user report failed"));

    // The server is back in the same month: nothing is due.
    server.clearRequests();
    useBundle("2.2.0", Value(2));
    launch();
    EXPECT_TRUE(server.targets("/stats").empty());
}

TEST_F(UsageStatisticsTest, AnUnreachableDateServerSkipsTheActiveReport) {
    useBundle("2.2.0", Value(1), std::nullopt, "http://127.0.0.1:" + std::to_string(closedPort()) + "/");
    hvn::test::LogLines log;
    launch();
    EXPECT_EQ(server.targets(), std::vector<std::string>{installTarget(1, "2.2.0")});
    EXPECT_EQ(record()["activeTime"], Value(""));
    EXPECT_TRUE(log.contains("The date request failed"));
}

TEST_F(UsageStatisticsTest, TheShippedInfoPlistSendsNothingAndSaysWhy) {
    // TempRoots points the main bundle at the built one.
    Value info =
        hvn::PropertyList::readFile(hvn::test::bundlePath() + "/Contents/Info.plist").value_or(Value());
    EXPECT_EQ(info["HVNStatisticsServer"], Value(""));
    EXPECT_EQ(info["HVNDateServer"], Value(""));
    hvn::test::LogLines log;
    HVNUsageStatistics::sendLaunchReports();
    EXPECT_FALSE(HVNUsageStatistics::reportsInFlight());
    EXPECT_TRUE(log.contains("No statistics server is configured"));
    EXPECT_FALSE(std::filesystem::exists(recordPath()));

    // A statistics server without a date server still sends the install report.
    useBundle("2.2.0", Value(1), std::nullopt, "");
    log.clear();
    launch();
    EXPECT_EQ(server.targets(), std::vector<std::string>{installTarget(1, "2.2.0")});
    EXPECT_TRUE(log.contains("No date server is configured"));
}

TEST_F(UsageStatisticsTest, TurnedOffSendsNothingAndWritesNoRecord) {
    useBundle("2.2.0", Value(1));
    HVNCommonFunction::initialSettingInfo();
    ASSERT_TRUE(HVNCommonFunction::changeSettingValue(Value(false), kSendUsageStatisticsSetting));
    hvn::test::LogLines log;
    launch();
    EXPECT_TRUE(server.requests().empty());
    EXPECT_FALSE(std::filesystem::exists(recordPath()));
    EXPECT_TRUE(log.contains("Usage statistics are turned off"));
}

TEST_F(UsageStatisticsTest, OneActiveUserObjectSendsAtMostOneReport) {
    useBundle("2.2.0", Value(1));
    auto active = HttpActiveUserSever::create();
    active->sendActiveUserEvent();
    active->sendActiveUserEvent();  // still waiting for the date: ignored
    ASSERT_TRUE(hvn::RunLoop::main().runUntil([&] { return active->isFinished(); }, 20));
    EXPECT_TRUE(active->hasSendRequest);
    ASSERT_TRUE(active->currentSeviceDate);
    EXPECT_EQ(active->currentSeviceDate->secondsSince1970, 1400068800.0);
    EXPECT_EQ(active->receivedData, "ok");
    active->sendActiveUserEvent();
    EXPECT_TRUE(active->isFinished());
    EXPECT_EQ(server.targets("/date").size(), 1u);
    EXPECT_EQ(server.targets("/stats/active").size(), 1u);
}

// The setting in the settings store.
TEST_F(UsageStatisticsTest, TheSettingIsOnForNewUsersAndAddedAloneForExistingOnes) {
    defaults().setObject(hvn::Array{Value("en")}, "AppleLanguages");
    HVNCommonFunction::initialSettingInfo();
    EXPECT_EQ(HVNCommonFunction::getSettingValueByKey(kSendUsageStatisticsSetting), Value(true));
    EXPECT_TRUE(HVNUsageStatistics::isEnabled());

    // Settings of an older version: the key is added, nothing else changes.
    hvn::Dictionary old{{"ShowIcon", Value(0)}, {"Insight Clean", Value(true)}};
    ASSERT_TRUE(defaults().setObject(Value(old), "Setting"));
    HVNCommonFunction::initialSettingInfo();
    hvn::Dictionary expected = old;
    expected[kSendUsageStatisticsSetting] = Value(true);
    EXPECT_EQ(defaults().objectForKey("Setting"), Value(expected));

    // A user's choice stays.
    ASSERT_TRUE(HVNCommonFunction::changeSettingValue(Value(false), kSendUsageStatisticsSetting));
    HVNCommonFunction::initialSettingInfo();
    EXPECT_EQ(HVNCommonFunction::getSettingValueByKey(kSendUsageStatisticsSetting), Value(false));
    EXPECT_FALSE(HVNUsageStatistics::isEnabled());
}
