#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "Platform/PropertyList.h"
#include "Platform/UserDefaults.h"
#include "Support/ConcurrentProcesses.h"
#include "Support/TestRoots.h"

namespace {

class SettingsCommandTest : public hvn::test::RootsTest {
protected:
    // Runs "halvorn settings ARGS" with the temporary home; returns the exit status.
    int settings(const std::string& args, std::string* out = nullptr) {
        std::string output;
        int rc = hvn::test::runCommand(
            "HALVORN_LOG=quiet " + hvn::test::cliPath() + " settings " + args + " 2>&1", &output);
        if (out) *out = output;
        return rc;
    }
    hvn::Value settingsOnDisk() {
        auto file = hvn::PropertyList::readFile(hvn::UserDefaults::standardUserDefaults().filePath());
        return file ? (*file)["Setting"] : hvn::Value();
    }
};

}  // namespace

TEST_F(SettingsCommandTest, ListWritesDefaultsForANewUserAndPrintsSortedJson) {
    std::string out;
    ASSERT_EQ(settings("list", &out), 0) << out;
    auto json = nlohmann::json::parse(out, nullptr, false);
    ASSERT_TRUE(json.is_object()) << out;
    EXPECT_EQ(json.size(), 19u);
    EXPECT_EQ(json["Send Usage Statistics"], true);
    EXPECT_EQ(json["StartMode"], "一键清理");
    EXPECT_EQ(json["ShowIcon"], 1);
    EXPECT_EQ(json["Insight Clean"], false);
    EXPECT_EQ(json["Language"][0]["localCode"], "en");
    EXPECT_LT(out.find("\"Action\""), out.find("\"CleanAtRegularTime\""));
    EXPECT_LT(out.find("\"ShowIcon\""), out.find("\"StartMode\""));
    EXPECT_TRUE(settingsOnDisk().isDictionary());
}

TEST_F(SettingsCommandTest, SetStoresJsonValuesAndTextOtherwise) {
    ASSERT_EQ(settings("set SystemCleanModules '[\"Cookies\",\"Session\"]'"), 0);
    ASSERT_EQ(settings("set 'Insight Clean' true"), 0);
    ASSERT_EQ(settings("set ShowIcon 0"), 0);
    ASSERT_EQ(settings("set CleanTimeInterval 'Every Week'"), 0);
    ASSERT_EQ(settings("set 'Last Disk Check Date' '\"2024-05-01T12:00:00Z\"'"), 0);

    hvn::Value s = settingsOnDisk();
    EXPECT_EQ(s["SystemCleanModules"], hvn::Value(hvn::Array{"Cookies", "Session"}));
    EXPECT_EQ(s["Insight Clean"], hvn::Value(true));
    EXPECT_EQ(s["ShowIcon"], hvn::Value(0));
    EXPECT_EQ(s["CleanTimeInterval"], hvn::Value("Every Week"));
    EXPECT_EQ(s["Last Disk Check Date"], hvn::Value(hvn::Date{1714564800}));
    EXPECT_EQ(s["StartMode"], hvn::Value("一键清理"));  // defaults were written first

    std::string out;
    ASSERT_EQ(settings("get 'Last Disk Check Date'", &out), 0);
    EXPECT_EQ(out, "\"2024-05-01T12:00:00Z\"\n");
    ASSERT_EQ(settings("get SystemCleanModules", &out), 0);
    EXPECT_EQ(nlohmann::json::parse(out), nlohmann::json::parse(R"(["Cookies","Session"])"));

    ASSERT_EQ(settings("set CleanTime null"), 0);
    EXPECT_EQ(settings("get CleanTime", &out), 1);
    EXPECT_NE(out.find("CleanTime"), std::string::npos);

    // A fraction of a second too small for a double is none.
    const std::string tiny = "2024-05-01T12:00:00." + std::string(400, '0') + "1Z";
    ASSERT_EQ(settings("set 'Last Disk Check Date' '\"" + tiny + "\"'", &out), 0) << out;
    EXPECT_EQ(settingsOnDisk()["Last Disk Check Date"], hvn::Value(hvn::Date{1714564800}));
}

TEST_F(SettingsCommandTest, GetOfAnAbsentKeyFails) {
    std::string out;
    EXPECT_EQ(settings("get NoSuchKey", &out), 1);
    EXPECT_NE(out.find("no setting 'NoSuchKey'"), std::string::npos) << out;
    EXPECT_EQ(settings("get 'Insight Clean'", &out), 0);
    EXPECT_EQ(out, "false\n");
}

TEST_F(SettingsCommandTest, HelpOnEveryLevelAndUsageErrors) {
    std::string out;
    EXPECT_EQ(settings("--help", &out), 0);
    EXPECT_NE(out.find("settings set KEY VALUE"), std::string::npos);
    for (const char* sub : {"list", "get", "set"}) {
        EXPECT_EQ(settings(std::string(sub) + " --help", &out), 0) << sub;
        EXPECT_NE(out.find(std::string("usage: halvorn settings ") + sub), std::string::npos) << out;
    }
    EXPECT_EQ(settings("", &out), 2);
    EXPECT_EQ(settings("frobnicate", &out), 2);
    EXPECT_EQ(settings("get", &out), 2);
    EXPECT_EQ(settings("set OnlyKey", &out), 2);
    EXPECT_EQ(settings("list extra", &out), 2);
    // Help does not write anything.
    EXPECT_TRUE(settingsOnDisk().isNull());
}

TEST_F(SettingsCommandTest, ACorruptPreferencesFileIsReplacedByDefaults) {
    roots.writeFile(hvn::UserDefaults::standardUserDefaults().filePath(), "bplist00 garbage");
    std::string out;
    ASSERT_EQ(settings("get ShowIcon", &out), 0) << out;
    EXPECT_EQ(out, "1\n");
}

TEST_F(SettingsCommandTest, SetsFromManyProcessesAtOnceLoseNoKey) {
    constexpr int kProcesses = 16;
    std::string cli = hvn::test::cliPath();
    auto codes = hvn::test::runInProcessesAtOnce(kProcesses, [&](int p) {
        setenv("HALVORN_LOG", "quiet", 1);
        std::string key = "key" + std::to_string(p);
        std::string value = std::to_string(p);
        ::execl(cli.c_str(), cli.c_str(), "settings", "set", key.c_str(), value.c_str(), nullptr);
        return 127;
    });
    hvn::Value s = settingsOnDisk();
    for (int p = 0; p < kProcesses; ++p) {
        EXPECT_EQ(codes[static_cast<size_t>(p)], 0) << "process " << p;
        EXPECT_EQ(s["key" + std::to_string(p)], hvn::Value(p)) << "key" << p;
    }
    EXPECT_EQ(s.asDictionary().size(), 19u + kProcesses);
}

TEST_F(SettingsCommandTest, SetKeepsTheModeOfThePreferencesFile) {
    ASSERT_EQ(settings("set ShowIcon 0"), 0);
    std::string path = hvn::UserDefaults::standardUserDefaults().filePath();
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(settings("set ShowIcon 1"), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(settingsOnDisk()["ShowIcon"], hvn::Value(1));
}

TEST_F(SettingsCommandTest, ASetThatCannotBeStoredFailsWithAMessage) {
    std::string path = hvn::UserDefaults::standardUserDefaults().filePath();
    roots.makeDir(path);  // no regular file: nothing can be read from it, nor written over it
    std::string out;
    EXPECT_EQ(settings("set ShowIcon 0", &out), 1);
    EXPECT_NE(out.find("halvorn settings: "), std::string::npos) << out;
    EXPECT_NE(out.find(path), std::string::npos) << out;
    EXPECT_TRUE(std::filesystem::is_directory(path));

    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root, to run the command as the user nobody";
    std::filesystem::remove(path);
    passwd* nobody = getpwnam("nobody");
    std::string folder = roots.home() + "/Library/Preferences";
    ASSERT_EQ(::chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    std::string contents = hvn::PropertyList::serialize(hvn::Value(hvn::Dictionary{}));
    roots.writeFile(path, contents);
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);  // root's file, which nobody cannot read
    std::string cli = hvn::test::cliPath();
    // The child reports through its exit code: 0 when the command failed with the message.
    int rc = hvn::test::runAsNobody([&] {
        std::string output;
        int status =
            hvn::test::runCommand("HALVORN_LOG=quiet " + cli + " settings set ShowIcon 0 2>&1", &output);
        bool told = output.find("halvorn settings: ") != std::string::npos &&
                    output.find(path) != std::string::npos &&
                    output.find("Permission denied") != std::string::npos;
        return status == 1 && told ? 0 : 10 + status;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(hvn::readWholeFile(path).value_or(""), contents);
}
