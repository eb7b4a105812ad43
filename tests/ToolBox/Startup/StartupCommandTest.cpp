#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "StartupFixture.h"

namespace fs = std::filesystem;
using startuptest::job;

namespace {

class StartupCommandTest : public startuptest::StartupTest {
protected:
    int run(const std::string& args, std::string* out, const std::string& input = "/dev/null") {
        return hvn::test::runCommand("HALVORN_LOG=quiet '" + hvn::test::cliPath() + "' startup " + args +
                                         " < " + input + " 2>/dev/null",
                                     out);
    }
};

}  // namespace

TEST_F(StartupCommandTest, ListsDisablesEnablesAndRemovesByName) {
    program("/usr/bin/tool");
    program("/opt/bin/helper");
    autostart("a.desktop", "Tray", "tool");
    const std::string list = agent("com.t.helper.plist", job("com.t.helper", {"/opt/bin/helper", "-q"}));

    std::string out;
    ASSERT_EQ(run("list --json", &out), 0) << out;
    auto j = nlohmann::json::parse(out);
    ASSERT_EQ(j["items"].size(), 2u);
    EXPECT_EQ(j["items"][0]["name"], "Tray");
    EXPECT_EQ(j["items"][0]["kind"], "login item");
    EXPECT_EQ(j["items"][1]["name"], "helper");
    EXPECT_EQ(j["items"][1]["status"], "ON");
    EXPECT_EQ(j["items"][1]["filePath"], list);

    ASSERT_EQ(run("disable helper", &out), 0) << out;
    EXPECT_EQ(out, "Disabled helper\n");
    EXPECT_EQ(plistAt(list)["ProgramArguments"].asArray()[0].asString(), "/opt/bin/helper/disable");
    ASSERT_EQ(run("", &out), 0);
    EXPECT_NE(out.find("OFF  launch service  helper"), std::string::npos) << out;
    ASSERT_EQ(run("enable helper --json", &out), 0) << out;
    EXPECT_EQ(nlohmann::json::parse(out)["status"], "ON");
    EXPECT_EQ(plistAt(list)["ProgramArguments"].asArray()[0].asString(), "/opt/bin/helper");

    // Without --yes and without an answer nothing goes.
    EXPECT_EQ(run("remove helper", &out), 1);
    EXPECT_TRUE(fs::exists(list));
    const std::string yes = roots.writeFile(roots.base() + "/yes", "y\n");
    ASSERT_EQ(run("remove helper", &out, yes), 0);
    EXPECT_FALSE(fs::exists(list));
    EXPECT_EQ(out, "Removed helper: deleted (" + list + ")\n");

    ASSERT_EQ(run("remove Tray --yes --json", &out), 0) << out;
    auto r = nlohmann::json::parse(out);
    EXPECT_EQ(r["removals"][0]["wentTo"], "removed from the login items");
    EXPECT_FALSE(fs::exists(roots.home() + "/.config/autostart/a.desktop"));
    ASSERT_EQ(run("", &out), 0);
    EXPECT_EQ(out, "No applications are running at startup\n");
}

TEST_F(StartupCommandTest, RejectsUnknownEntriesAndBadUsage) {
    std::string out;
    EXPECT_EQ(run("disable nothing", &out), 1);
    EXPECT_EQ(run("frobnicate", &out), 2);
    EXPECT_EQ(run("remove", &out), 2);
    EXPECT_EQ(run("list --bogus", &out), 2);
    EXPECT_EQ(run("--help", &out), 0);
    EXPECT_NE(out.find("usage: halvorn startup"), std::string::npos);
}

TEST_F(StartupCommandTest, TrashMovesTheServiceFileToTheHomeTrashWithItsInfoFile) {
    program("/opt/bin/helper");
    const std::string list = agent("com.t.helper.plist", job("com.t.helper", {"/opt/bin/helper"}));
    std::string out;
    ASSERT_EQ(run("remove helper --trash --yes --json", &out), 0) << out;
    auto r = nlohmann::json::parse(out)["removals"][0];
    EXPECT_EQ(r["wentTo"], "moved to the trash");
    const std::string trashed = r["trashedPath"];
    EXPECT_EQ(trashed, roots.home() + "/.local/share/Trash/files/com.t.helper.plist");
    EXPECT_FALSE(fs::exists(list));
    EXPECT_TRUE(fs::exists(trashed));
    EXPECT_TRUE(fs::exists(roots.home() + "/.local/share/Trash/info/com.t.helper.plist.trashinfo"));
}
