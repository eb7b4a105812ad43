#include "HVN/Code/ToolBox/Startup/HVNStartupServer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <mutex>

#include "HVN/Code/Public/ReomveFile.h"
#include "Platform/DaemonConnection.h"
#include "Platform/UserDefaults.h"
#include "StartupFixture.h"

namespace fs = std::filesystem;
using startuptest::job;
using startuptest::readAll;

namespace {

// The privileged daemon as the startup list sees it: records what it is asked.
class FakeDaemon : public hvn::DaemonObject {
public:
    bool respondsToSelector(const std::string&) override { return true; }
    void removeFile(const std::vector<std::string>& paths, bool isWrite) override {
        std::lock_guard lock(mutex);
        removals.emplace_back(paths, isWrite);
    }
    void lipoApp(const std::vector<std::string>&) override {}
    bool setServerDisable(const std::string& plistPath, bool disable) override {
        std::lock_guard lock(mutex);
        switches.emplace_back(plistPath, disable);
        return true;
    }
    void stopRemove() override {}

    std::mutex mutex;
    std::vector<std::pair<std::vector<std::string>, bool>> removals;
    std::vector<std::pair<std::string, bool>> switches;
};

class StartupServerTest : public startuptest::StartupTest {
protected:
    void SetUp() override {
        StartupTest::SetUp();
        ReomveFile::resetInstallationFlags();
        fake = std::make_shared<FakeDaemon>();
        oldLookup_ = hvn::DaemonConnection::setLookupForTesting(
            [this](const std::string& name) -> std::shared_ptr<hvn::DaemonObject> {
                return name == hvn::kDaemonConnectionName ? fake : nullptr;
            });
    }
    void TearDown() override {
        hvn::DaemonConnection::setLookupForTesting(oldLookup_);
        ReomveFile::resetInstallationFlags();
        StartupTest::TearDown();
    }
    std::shared_ptr<FakeDaemon> fake;

private:
    hvn::DaemonConnection::Lookup oldLookup_;
};

}  // namespace

TEST_F(StartupServerTest, ListsLoginItemsThenServicesWithTheirNamesAndStates) {
    const std::string tool = program("/usr/bin/tool");
    program("/usr/bin/open");
    const std::string helper = program("/opt/acme/bin/helper");
    program("/opt/acme/bin/first");
    program("/usr/libexec/launchd_startx");
    autostart("a.desktop", "Tray", "tool --tray");

    agent("com.example.sync.plist", job("com.example.sync", {"/usr/bin/open", "-a", "Sync"}));
    agent("com.acme.helper.plist", job("com.acme.helper", {"/opt/acme/bin/helper/disable", "--quiet"}));
    agent("com.acme.both.plist", job("com.acme.both", {"/opt/acme/bin/first"}, "/usr/bin/tool"));
    agent("com.acme.program.plist", job("com.acme.program", {}, "/usr/bin/tool"));
    agent("com.acme.gone.plist", job("com.acme.gone", {"/opt/acme/bin/gone"}));
    agent("com.acme.none.plist", job("com.acme.none", {}));
    agent("com.corvane.HVNMenu.plist", job("com.corvane.HVNMenu", {"/usr/bin/tool"}));
    agent("COM.APPLE.addressbook.scheduledsync.plist", job("x", {"/usr/bin/tool"}));
    agent("com.apple.FolderActions.folders.plist", job("x", {"/usr/bin/tool"}));
    agent("org.x.startx.plist", job("org.x.startx", {"/usr/libexec/launchd_startx"}));
    agent("notes.txt", job("x", {"/usr/bin/tool"}));
    roots.writeFile(roots.home() + "/Library/LaunchAgents/broken.plist", "<plist><dict><key>");
    daemon("org.example.daemon.plist", job("org.example.daemon", {"/usr/bin/tool", "-d"}));

    server->scanStartup();
    // Login items first; then the home launch agents (byte order of names), then the daemons.
    ASSERT_EQ(names(), (std::vector<std::string>{"Tray", "first", "helper", "tool", "sync", "tool"}));
    const auto& d = server->data;
    EXPECT_TRUE(d[0].isLogin);
    EXPECT_EQ(d[0].url, tool);
    EXPECT_FALSE(d[1].isLogin);
    EXPECT_EQ(d[1].type, "Service");
    EXPECT_TRUE(d[2].disable);
    EXPECT_EQ(d[2].icon, helper);
    EXPECT_FALSE(d[3].disable);
    EXPECT_EQ(d[3].path, roots.home() + "/Library/LaunchAgents/com.acme.program.plist");
    EXPECT_EQ(d[5].path, roots.root() + "/Library/LaunchDaemons/org.example.daemon.plist");
    EXPECT_EQ(server->checkCount(), 0u);
}

TEST_F(StartupServerTest, TheLaunchFoldersAreEachRowBelowHomeThenRoot) {
    EXPECT_EQ(server->getLoginItemPathes(),
              (std::vector<std::string>{
                  roots.home() + "/Library/LaunchAgents", roots.root() + "/Library/LaunchAgents",
                  roots.home() + "/Library/LaunchDaemons", roots.root() + "/Library/LaunchDaemons"}));
    EXPECT_EQ(HVNStartupServer::systemServer(),
              (std::vector<std::string>{"launchd_startx", "privileged_startx"}));
}

TEST_F(StartupServerTest, DisablingAndEnablingKeepsTheOtherArgumentsKeysModeAndFormat) {
    program("/opt/t/bin/tool");
    const hvn::Value original = job("com.t.tool", {"/opt/t/bin/tool", "--flag", "x y"});
    const std::string xml = agent("com.t.tool.plist", original);
    ::chmod(xml.c_str(), 0640);
    program("/opt/t/bin/other");
    const std::string bin = agent("com.t.other.plist", job("com.t.other", {"/opt/t/bin/other"}), true);
    server->scanStartup();
    ASSERT_EQ(names(), (std::vector<std::string>{"other", "tool"}));

    std::string error;
    ASSERT_TRUE(server->setServerDisable(*item("tool"), true, &error)) << error;
    hvn::Value off = plistAt(xml);
    ASSERT_TRUE(off.isDictionary());
    const auto& args = off["ProgramArguments"].asArray();
    ASSERT_EQ(args.size(), 3u);
    EXPECT_EQ(args[0].asString(), "/opt/t/bin/tool/disable");
    EXPECT_EQ(args[1].asString(), "--flag");
    EXPECT_EQ(args[2].asString(), "x y");
    EXPECT_TRUE(off["RunAtLoad"].asBool());
    EXPECT_TRUE(item("tool")->disable);
    struct stat st {};
    ASSERT_EQ(::stat(xml.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(readAll(xml).rfind("<?xml", 0), 0u);

    server->scanStartup();
    ASSERT_NE(item("tool"), nullptr);
    EXPECT_TRUE(item("tool")->disable);
    ASSERT_TRUE(server->setServerDisable(*item("tool"), false, &error)) << error;
    EXPECT_EQ(plistAt(xml), original);

    ASSERT_TRUE(server->setServerDisable(*item("other"), true, &error)) << error;
    EXPECT_EQ(readAll(bin).rfind("bplist", 0), 0u);
    EXPECT_EQ(plistAt(bin)["ProgramArguments"].asArray()[0].asString(), "/opt/t/bin/other/disable");
    // No scratch file is left beside the lists.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(roots.home() + "/Library/LaunchAgents"))
        ++entries;
    EXPECT_EQ(entries, 2u);
    EXPECT_TRUE(fake->switches.empty());
}

TEST_F(StartupServerTest, AListChangedSinceItWasListedIsNeitherSwitchedNorRemoved) {
    program("/usr/bin/tool");
    const std::string path = agent("com.t.tool.plist", job("com.t.tool", {"/usr/bin/tool"}));
    server->scanStartup();
    ASSERT_EQ(names(), (std::vector<std::string>{"tool"}));
    const std::string replaced =
        hvn::PropertyList::serialize(job("com.t.tool", {"/usr/bin/tool", "--new-arg"}));
    roots.writeFile(path, replaced);

    std::string error;
    EXPECT_FALSE(server->setServerDisable(server->data[0], true, &error));
    EXPECT_NE(error.find("changed"), std::string::npos) << error;
    EXPECT_EQ(readAll(path), replaced);
    EXPECT_FALSE(server->data[0].disable);

    server->data[0].isCheck = true;
    auto removals = server->removeLogin();
    ASSERT_EQ(removals.size(), 1u);
    EXPECT_FALSE(removals[0].removed);
    EXPECT_EQ(readAll(path), replaced);
    ASSERT_EQ(server->data.size(), 1u);  // still there, so still shown
    EXPECT_FALSE(server->data[0].isCheck);
    EXPECT_TRUE(fake->removals.empty());
}

TEST_F(StartupServerTest, RemovesServicesAndLoginItemsEachTheirOwnWay) {
    program("/usr/bin/tool");
    program("/usr/bin/keep");
    const std::string gone = agent("com.t.gone.plist", job("com.t.gone", {"/usr/bin/tool"}));
    const std::string kept = agent("com.t.keep.plist", job("com.t.keep", {"/usr/bin/keep"}));
    const std::string enabledEntry = autostart("a.desktop", "Enabled", "tool");
    const std::string otherEntry = autostart("b.desktop", "Other", "tool");
    autostart("c.desktop", "Disabled", "tool");
    manager->loadData();
    LoginItem disabled;
    disabled.name = "Disabled";
    ASSERT_TRUE(manager->setItemDisable(disabled, true));

    server->scanStartup();
    ASSERT_EQ(names(), (std::vector<std::string>{"Enabled", "Other", "Disabled", "tool", "keep"}));
    ASSERT_TRUE(item("Disabled")->disable);
    for (auto& i : server->data) i.isCheck = i.name == "Enabled" || i.name == "Disabled" || i.name == "tool";
    EXPECT_EQ(server->checkCount(), 3u);

    auto removals = server->removeLogin();
    ASSERT_EQ(removals.size(), 3u);
    for (const auto& r : removals) EXPECT_TRUE(r.removed) << r.name << ": " << r.outcome;
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_FALSE(fs::exists(enabledEntry));
    EXPECT_TRUE(fs::exists(otherEntry));
    EXPECT_EQ(names(), (std::vector<std::string>{"Other", "keep"}));
    hvn::Value records = hvn::UserDefaults::standardUserDefaults().objectForKey(kDisableItemKey);
    EXPECT_TRUE(records.asArray().empty());
    EXPECT_TRUE(fake->removals.empty());
}

TEST_F(StartupServerTest, UpdateRefreshesTheLoginItemsAndKeepsTheServices) {
    program("/usr/bin/tool");
    agent("com.t.tool.plist", job("com.t.tool", {"/usr/bin/tool"}));
    autostart("a.desktop", "First", "tool");
    server->scanStartup();
    ASSERT_EQ(names(), (std::vector<std::string>{"First", "tool"}));
    ASSERT_TRUE(manager->addItem(roots.root() + "/usr/bin/tool", true));
    server->update();
    EXPECT_EQ(names(), (std::vector<std::string>{"First", "tool", "tool"}));
    EXPECT_TRUE(server->data[1].isLogin);
    EXPECT_FALSE(server->data[2].isLogin);
}

// As an unprivileged user the lists of the system root cannot be written or removed: the
// work goes to the privileged daemon.
TEST_F(StartupServerTest, AnUnwritableListGoesToThePrivilegedRoutes) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root to run as nobody";
    program("/usr/bin/tool");
    const std::string path = daemon("org.t.daemon.plist", job("org.t.daemon", {"/usr/bin/tool", "-x"}));
    const std::string before = readAll(path);
    server->scanStartup();
    ASSERT_EQ(names(), (std::vector<std::string>{"tool"}));

    const int switched = hvn::test::runAsNobody([&] {
        std::string error;
        if (!server->setServerDisable(server->data[0], true, &error)) return 1;
        if (fake->switches.size() != 1 || fake->switches[0] != std::make_pair(path, true)) return 2;
        if (!server->data[0].disable) return 3;
        return 0;
    });
    EXPECT_EQ(switched, 0);
    EXPECT_EQ(readAll(path), before);

    const int removed = hvn::test::runAsNobody([&] {
        server->data[0].isCheck = true;
        auto removals = server->removeLogin();
        if (removals.size() != 1 || !removals[0].removed) return 1;
        if (removals[0].outcome != "handed to the privileged helper") return 2;
        if (fake->removals.size() != 1 || fake->removals[0].first != std::vector<std::string>{path}) return 3;
        if (fake->removals[0].second) return 4;  // never rewritten
        return server->data.empty() ? 0 : 5;
    });
    EXPECT_EQ(removed, 0);
    EXPECT_TRUE(fs::exists(path));  // the fake daemon only records
}
