#include "HVN/Code/ToolBox/Startup/HVNUserUnits.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "StartupFixture.h"

namespace fs = std::filesystem;

namespace {

class UserUnitsTest : public startuptest::StartupTest {
protected:
    std::string link(const std::string& unitName) const {
        return unitFolder() + "/default.target.wants/" + unitName;
    }
    static std::string linkText(const std::string& path) {
        std::error_code ec;
        return fs::read_symlink(path, ec).string();
    }
};

}  // namespace

TEST(UserUnitsExecTest, ReadsTheProgramOfTheFirstExecStartOfTheServiceSection) {
    hvn::test::TempRoots roots;
    EXPECT_EQ(HVNUserUnits::execProgram("[Service]\nExecStart=-/usr/bin/foo --x\nExecStart=/usr/bin/bar\n"),
              "/usr/bin/foo");
    EXPECT_EQ(HVNUserUnits::execProgram("[Service]\nExecStart = @\"/opt/my tool/run\" a\n"),
              "/opt/my tool/run");
    EXPECT_EQ(HVNUserUnits::execProgram("[Service]\nExecStart=%h/bin/sync\n"), roots.home() + "/bin/sync");
    EXPECT_EQ(HVNUserUnits::execProgram("[Unit]\nExecStart=/usr/bin/foo\n[Service]\nType=simple\n"),
              std::nullopt);
    EXPECT_EQ(HVNUserUnits::execProgram("[Service]\n# ExecStart=/usr/bin/foo\nExecStartPre=/bin/true\n"),
              std::nullopt);
    EXPECT_EQ(HVNUserUnits::execProgram("[Service]\nExecStart=\"/unterminated\n"), std::nullopt);
}

TEST_F(UserUnitsTest, ListsEnabledUnitsAndTheOnesDisabledHereOnly) {
    const std::string tool = program("/usr/bin/tool");
    unit("sync.service", "/usr/bin/tool --daemon", true);
    unit("idle.service", "/usr/bin/tool", false);
    unit("gone.service", "/usr/bin/nothing", true);
    unit("notes.txt", "/usr/bin/tool", false);
    // A link in a wants folder that points at another file does not enable the unit.
    const std::string other = unit("other.service", "/usr/bin/tool", false);
    const std::string elsewhere =
        roots.writeFile(roots.base() + "/other.service", "[Service]\nExecStart=/usr/bin/tool\n");
    ASSERT_EQ(::symlink(elsewhere.c_str(), link("other.service").c_str()), 0);

    auto units = HVNUserUnits::list();
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].name, "sync");
    EXPECT_EQ(units[0].program, tool);
    EXPECT_FALSE(units[0].disable);
    EXPECT_EQ(units[0].links, std::vector<std::string>{link("sync.service")});

    server->scanStartup();
    EXPECT_EQ(names(), std::vector<std::string>{"sync"});
    EXPECT_TRUE(HVNStartupServer::isUserUnit(server->data[0]));
    EXPECT_TRUE(fs::exists(other));
}

TEST_F(UserUnitsTest, DisablingRemovesTheLinksAndEnablingPutsThemBackAsTheyWere) {
    program("/usr/bin/tool");
    const std::string path = unit("sync.service", "/usr/bin/tool", true);
    roots.makeDir(unitFolder() + "/graphical-session.target.wants");
    const std::string second = unitFolder() + "/graphical-session.target.wants/sync.service";
    ASSERT_EQ(::symlink("../sync.service", second.c_str()), 0);
    const std::string firstText = linkText(link("sync.service"));
    server->scanStartup();
    ASSERT_EQ(names(), std::vector<std::string>{"sync"});

    std::string error;
    ASSERT_TRUE(server->setServerDisable(server->data[0], true, &error)) << error;
    EXPECT_FALSE(fs::is_symlink(link("sync.service")));
    EXPECT_FALSE(fs::is_symlink(second));
    EXPECT_TRUE(fs::exists(path));
    EXPECT_TRUE(server->data[0].disable);

    server->scanStartup();
    ASSERT_EQ(names(), std::vector<std::string>{"sync"});
    EXPECT_TRUE(server->data[0].disable);

    ASSERT_TRUE(server->setServerDisable(server->data[0], false, &error)) << error;
    EXPECT_EQ(linkText(link("sync.service")), firstText);
    EXPECT_EQ(linkText(second), "../sync.service");
    server->scanStartup();
    ASSERT_EQ(server->data.size(), 1u);
    EXPECT_FALSE(server->data[0].disable);
    // Enabling again changes nothing and still succeeds.
    EXPECT_TRUE(HVNUserUnits::enable(path, &error)) << error;
}

TEST_F(UserUnitsTest, EnablingNeverReplacesWhatNowStandsInTheLinksPlace) {
    program("/usr/bin/tool");
    const std::string path = unit("sync.service", "/usr/bin/tool", true);
    server->scanStartup();
    std::string error;
    ASSERT_TRUE(server->setServerDisable(server->data[0], true, &error)) << error;
    roots.writeFile(link("sync.service"), "user data");
    EXPECT_FALSE(HVNUserUnits::enable(path, &error));
    EXPECT_EQ(startuptest::readAll(link("sync.service")), "user data");
}

TEST_F(UserUnitsTest, RemovingDeletesTheUnitItsLinksAndItsRecord) {
    program("/usr/bin/tool");
    const std::string path = unit("sync.service", "/usr/bin/tool", true);
    const std::string kept = unit("kept.service", "/usr/bin/tool", true);
    server->scanStartup();
    ASSERT_EQ(names(), (std::vector<std::string>{"kept", "sync"}));
    server->data[1].isCheck = true;
    auto removals = server->removeLogin();
    ASSERT_EQ(removals.size(), 1u);
    EXPECT_TRUE(removals[0].removed) << removals[0].outcome;
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::is_symlink(link("sync.service")));
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_TRUE(fs::is_symlink(link("kept.service")));
    EXPECT_EQ(names(), std::vector<std::string>{"kept"});
}

TEST_F(UserUnitsTest, AUnitChangedSinceItWasListedIsKept) {
    program("/usr/bin/tool");
    const std::string path = unit("sync.service", "/usr/bin/tool", true);
    server->scanStartup();
    ASSERT_EQ(server->data.size(), 1u);
    roots.writeFile(path, "[Service]\nExecStart=/usr/bin/tool --changed\n");
    server->data[0].isCheck = true;
    auto removals = server->removeLogin();
    ASSERT_EQ(removals.size(), 1u);
    EXPECT_FALSE(removals[0].removed);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_TRUE(fs::is_symlink(link("sync.service")));
}
