// The launch agents of the menu-bar and update programs: their lists, key by key, and the
// programs they start, in a test bundle whose companions are copies of the built HVNMenu
// (it runs until "appEnd" on the private bus of the test).
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "HVN/Code/Public/HVNAuthorization.h"
#include "Platform/DistributedNotificationBus.h"
#include "Platform/Launchctl.h"
#include "Platform/PropertyList.h"
#include "Platform/Workspace.h"
#include "Support/TestRoots.h"

using namespace hvn::test;
namespace fs = std::filesystem;

namespace {

const std::string kBuiltMenu =
    std::string(HALVORN_TEST_BUNDLE) + "/Contents/Resources/HVNMenu.app/Contents/MacOS/HVNMenu";

bool isLive(int pid) {
    struct stat st {};
    if (::stat(("/proc/" + std::to_string(pid)).c_str(), &st) != 0) return false;
    for (const auto& p : hvn::Workspace::processesOfCurrentUser()) {
        if (p.pid == pid) return true;
    }
    return false;
}

std::vector<int> running(const std::string& program) {
    std::vector<int> pids;
    for (const auto& p : hvn::Workspace::processesOfCurrentUser()) {
        if (hvn::Workspace::runsExecutable(p, program)) pids.push_back(p.pid);
    }
    return pids;
}

hvn::Value readList(const std::string& path) {
    return hvn::PropertyList::readFile(path).value_or(hvn::Value());
}

class LaunchAgentsTest : public RootsTest {
protected:
    void SetUp() override {
        bus_ = std::make_unique<PrivateBus>(roots.base());
        ASSERT_TRUE(bus_->ready()) << bus_->error();
        env_.set("DBUS_SESSION_BUS_ADDRESS", bus_->address());
        env_.set("XDG_RUNTIME_DIR", roots.makeDir(roots.base() + "/run"));
        bundle_ = makeBundle("Test.app");
        env_.set("HALVORN_BUNDLE", bundle_);
    }
    void TearDown() override {
        for (const auto& program : programs_) {
            for (int pid : running(program)) ::kill(pid, SIGKILL);
        }
    }

    // A bundle whose HVNMenu.app and HVNUpdate.app hold copies of the built menu program.
    std::string makeBundle(const std::string& name) {
        const std::string app = roots.base() + "/" + name;
        hvn::PropertyList::writeFile(app + "/Contents/Info.plist",
                                     hvn::Value(hvn::Dictionary{{"CFBundleIdentifier", "com.test.Halvorn"}}));
        for (const char* companion : {"HVNMenu", "HVNUpdate"}) {
            const std::string contents = app + "/Contents/Resources/" + companion + ".app/Contents";
            hvn::PropertyList::writeFile(contents + "/Info.plist",
                                         hvn::Value(hvn::Dictionary{{"CFBundleExecutable", companion}}));
            fs::create_directories(contents + "/MacOS");
            const std::string program = contents + "/MacOS/" + companion;
            fs::copy_file(kBuiltMenu, program, fs::copy_options::overwrite_existing);
            ::chmod(program.c_str(), 0755);
            programs_.push_back(program);
        }
        return app;
    }
    std::string menuProgram() const {
        return bundle_ + "/Contents/Resources/HVNMenu.app/Contents/MacOS/HVNMenu";
    }
    std::string updateProgram() const {
        return bundle_ + "/Contents/Resources/HVNUpdate.app/Contents/MacOS/HVNUpdate";
    }
    std::string agents() const { return roots.home() + "/Library/LaunchAgents"; }
    std::string menuList() const { return agents() + "/com.corvane.HVNMenu.plist"; }
    std::string updateList() const { return agents() + "/com.corvane.HVNUpdate.plist"; }

    hvn::Value expectedMenuList() const {
        return hvn::Value(hvn::Dictionary{{"Label", "com.corvane.HVNMenu"},
                                          {"Program", menuProgram()},
                                          {"KeepAlive", true},
                                          {"Version", 1}});
    }
    hvn::Value expectedUpdateList() const {
        return hvn::Value(hvn::Dictionary{{"Label", "com.corvane.HVNUpdate"},
                                          {"Program", updateProgram()},
                                          {"Disabled", false},
                                          {"OnDemand", false},
                                          {"KeepAlive", false},
                                          {"LaunchOnlyOnce", true}});
    }
    // The start-up's menu-bar step.
    static void startUp() {
        if (!HVNAuthorization::checkForHVNMenuBar()) HVNAuthorization::installHVNMenuBar();
    }

    std::unique_ptr<PrivateBus> bus_;
    ScopedEnvironment env_;
    std::string bundle_;
    std::vector<std::string> programs_;
};

TEST_F(LaunchAgentsTest, PathsLieInTheHomeAndTheMainBundle) {
    EXPECT_EQ(HVNAuthorization::menubarVersion(), 1);
    EXPECT_EQ(HVNAuthorization::menuBarPlistPath(), menuList());
    EXPECT_EQ(HVNAuthorization::updatePlistPath(), updateList());
    EXPECT_EQ(HVNAuthorization::menuBarProgramPath(), menuProgram());
    EXPECT_EQ(HVNAuthorization::updateProgramPath(), updateProgram());
}

TEST_F(LaunchAgentsTest, AMissingFolderIsCreatedAndTheMenuBarAgentInstalledInTheSameStart) {
    ASSERT_FALSE(fs::exists(roots.home() + "/Library"));
    startUp();
    EXPECT_TRUE(fs::is_directory(agents()));
    EXPECT_EQ(readList(menuList()), expectedMenuList());
    EXPECT_EQ(running(menuProgram()).size(), 1u);
    EXPECT_TRUE(HVNAuthorization::checkForHVNMenuBar());

    // The next start finds it current and leaves the running program alone.
    std::vector<int> before = running(menuProgram());
    startUp();
    EXPECT_EQ(running(menuProgram()), before);
}

TEST_F(LaunchAgentsTest, AStaleMenuBarListIsRewrittenAndReloaded) {
    const std::string other = makeBundle("Other.app");
    const std::string otherProgram = other + "/Contents/Resources/HVNMenu.app/Contents/MacOS/HVNMenu";
    struct Case {
        const char* name;
        hvn::Dictionary list;
        std::string runs;  // the program the stale list started
    };
    const std::vector<Case> cases = {
        {"another copy",
         {{"Label", "com.corvane.HVNMenu"}, {"Program", otherProgram}, {"KeepAlive", true}, {"Version", 1}},
         otherProgram},
        {"version 0",
         {{"Label", "com.corvane.HVNMenu"}, {"Program", menuProgram()}, {"KeepAlive", true}, {"Version", 0}},
         menuProgram()},
        {"no version",
         {{"Label", "com.corvane.HVNMenu"}, {"Program", menuProgram()}, {"KeepAlive", true}},
         menuProgram()},
        {"program not text",
         {{"Label", "com.corvane.HVNMenu"},
          {"Program", hvn::Array{menuProgram()}},
          {"ProgramArguments", hvn::Array{menuProgram()}},
          {"Version", 1}},
         menuProgram()},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(hvn::PropertyList::writeFile(menuList(), hvn::Value(c.list))) << c.name;
        std::string error;
        ASSERT_TRUE(hvn::Launchctl::load(menuList(), &error)) << c.name << ": " << error;
        std::vector<int> stale = running(c.runs);
        ASSERT_EQ(stale.size(), 1u) << c.name;

        EXPECT_FALSE(HVNAuthorization::checkForHVNMenuBar()) << c.name;
        startUp();
        EXPECT_EQ(readList(menuList()), expectedMenuList()) << c.name;
        EXPECT_FALSE(isLive(stale[0])) << c.name;
        std::vector<int> now = running(menuProgram());
        ASSERT_EQ(now.size(), 1u) << c.name;
        EXPECT_NE(now[0], stale[0]) << c.name;
        EXPECT_TRUE(running(otherProgram).empty()) << c.name;
        EXPECT_TRUE(HVNAuthorization::checkForHVNMenuBar()) << c.name;
        for (int pid : now) ::kill(pid, SIGKILL);
    }
}

TEST_F(LaunchAgentsTest, ANewerVersionCountsAsCurrent) {
    hvn::Dictionary list = expectedMenuList().asDictionary();
    list["Version"] = 2;
    fs::create_directories(agents());
    hvn::PropertyList::writeFile(menuList(), hvn::Value(list));
    EXPECT_TRUE(HVNAuthorization::checkForHVNMenuBar());
    list["Version"] = "1";  // read as an integer, as a number text is
    hvn::PropertyList::writeFile(menuList(), hvn::Value(list));
    EXPECT_TRUE(HVNAuthorization::checkForHVNMenuBar());
}

TEST_F(LaunchAgentsTest, ALinkedMenuBarListIsNeitherWrittenThroughNorReplaced) {
    fs::create_directories(agents());
    const std::string target = roots.writeFile(roots.home() + "/dotfiles/menu.plist", "keep");
    fs::create_symlink(target, menuList());
    startUp();
    EXPECT_TRUE(fs::is_symlink(menuList()));
    EXPECT_EQ(*hvn::readWholeFile(target), "keep");
    EXPECT_TRUE(running(menuProgram()).empty());
}

TEST_F(LaunchAgentsTest, ABundleWithoutTheMenuBarProgramInstallsNothing) {
    fs::remove_all(bundle_ + "/Contents/Resources/HVNMenu.app");
    startUp();
    EXPECT_FALSE(fs::exists(menuList()));
    fs::remove_all(bundle_ + "/Contents/Resources/HVNUpdate.app");
    HVNAuthorization::checkUpdatePlist();
    EXPECT_FALSE(fs::exists(updateList()));
}

TEST_F(LaunchAgentsTest, TheUpdateAgentIsInstalledAndLoadedFromTheResourceCopy) {
    HVNAuthorization::checkUpdatePlist();
    const std::string resourceCopy = bundle_ + "/Contents/Resources/com.corvane.HVNUpdate.plist";
    EXPECT_EQ(readList(updateList()), expectedUpdateList());
    EXPECT_EQ(*hvn::readWholeFile(resourceCopy), *hvn::readWholeFile(updateList()));
    EXPECT_EQ(running(updateProgram()).size(), 1u);
}

TEST_F(LaunchAgentsTest, AMatchingUpdateListIsKeptAndTheProgramStillOpenedOncePerStart) {
    HVNAuthorization::checkUpdatePlist();
    struct stat before {};
    ASSERT_EQ(::lstat(updateList().c_str(), &before), 0);
    std::vector<int> first = running(updateProgram());
    ASSERT_EQ(first.size(), 1u);

    // Running already: opening it again starts no second instance.
    HVNAuthorization::checkUpdatePlist();
    EXPECT_EQ(running(updateProgram()), first);

    // Ended since (LaunchOnlyOnce): the next start opens it again.
    ::kill(first[0], SIGKILL);
    for (int i = 0; i < 3000 && isLive(first[0]); ++i) usleep(1000);
    HVNAuthorization::checkUpdatePlist();
    std::vector<int> second = running(updateProgram());
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0], first[0]);
    struct stat after {};
    ASSERT_EQ(::lstat(updateList().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_F(LaunchAgentsTest, ANonMatchingUpdateListIsDeletedAndInstalledAgain) {
    const std::string other = makeBundle("Other.app");
    hvn::Dictionary stale = expectedUpdateList().asDictionary();
    stale["Program"] = other + "/Contents/Resources/HVNUpdate.app/Contents/MacOS/HVNUpdate";
    stale["Extra"] = "old";
    fs::create_directories(agents());
    hvn::PropertyList::writeFile(updateList(), hvn::Value(stale));
    HVNAuthorization::checkUpdatePlist();
    EXPECT_EQ(readList(updateList()), expectedUpdateList());
    // Opened once for the existing list; the load that follows finds it running.
    EXPECT_EQ(running(updateProgram()).size(), 1u);
    EXPECT_TRUE(running(stale["Program"].asString()).empty());

    // A link in the list's place is removed as a link; what it points at stays.
    ASSERT_TRUE(fs::remove(updateList()));
    const std::string target = roots.writeFile(roots.home() + "/dotfiles/update.plist", "keep");
    fs::create_symlink(target, updateList());
    HVNAuthorization::checkUpdatePlist();
    EXPECT_FALSE(fs::is_symlink(updateList()));
    EXPECT_EQ(readList(updateList()), expectedUpdateList());
    EXPECT_EQ(*hvn::readWholeFile(target), "keep");

    // A folder in its place is left alone.
    ASSERT_TRUE(fs::remove(updateList()));
    roots.writeFile(updateList() + "/inside", "x");
    HVNAuthorization::checkUpdatePlist();
    EXPECT_TRUE(fs::exists(updateList() + "/inside"));
}

TEST_F(LaunchAgentsTest, AnUnwritableResourceFolderFallsBackToTheCaches) {
    if (!canRunAsNobody()) GTEST_SKIP() << "needs root to run as a user who cannot write the bundle";
    const std::string home = roots.makeDir(roots.base() + "/nobody-home");
    passwd* nobody = getpwnam("nobody");
    ASSERT_EQ(::chown(home.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    const std::string expected = home + "/Library/Caches/com.test.Halvorn/com.corvane.HVNUpdate.plist";
    int rc = runAsNobody([&] {
        setenv("HOME", home.c_str(), 1);
        std::string written = HVNAuthorization::createUpdateplist();
        return written == expected ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(readList(expected), expectedUpdateList());
    EXPECT_FALSE(fs::exists(bundle_ + "/Contents/Resources/com.corvane.HVNUpdate.plist"));

    // Something that is no file in the resource folder's place is not replaced either.
    roots.makeDir(bundle_ + "/Contents/Resources/com.corvane.HVNUpdate.plist");
    EXPECT_EQ(HVNAuthorization::createUpdateplist(),
              roots.home() + "/Library/Caches/com.test.Halvorn/com.corvane.HVNUpdate.plist");
}

TEST_F(LaunchAgentsTest, AFailedFolderCreationStillOpensTheUpdateProgram) {
    // A file where the Library folder would be: LaunchAgents cannot be made.
    roots.writeFile(roots.home() + "/Library", "not a folder");
    HVNAuthorization::checkUpdatePlist();
    EXPECT_EQ(running(updateProgram()).size(), 1u);
    EXPECT_FALSE(fs::exists(roots.home() + "/Library/LaunchAgents"));
}

}  // namespace
