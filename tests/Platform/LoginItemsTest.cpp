#include "Platform/LoginItems.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Platform/DesktopEntry.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
namespace LoginItems = hvn::LoginItems;
using hvn::AutostartEntry;
using hvn::test::RootsTest;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The system folders follow XDG_CONFIG_DIRS, which the temporary roots leave as they are.
class LoginItemsTest : public RootsTest {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("XDG_CONFIG_DIRS")) oldConfigDirs_ = v;
        ::unsetenv("XDG_CONFIG_DIRS");
    }
    void TearDown() override {
        if (oldConfigDirs_) {
            ::setenv("XDG_CONFIG_DIRS", oldConfigDirs_->c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_DIRS");
        }
    }
    std::optional<std::string> oldConfigDirs_;

    std::string user(const std::string& name) const { return roots.home() + "/.config/autostart/" + name; }
    std::string system(const std::string& name) const { return roots.root() + "/etc/xdg/autostart/" + name; }
    std::string program(const std::string& rel) const {
        auto p = roots.writeFile(roots.root() + rel, "#!/bin/sh\n");
        ::chmod(p.c_str(), 0755);
        return p;
    }
    static std::string entry(const std::string& name, const std::string& exec,
                             const std::string& extra = "") {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" + extra;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : LoginItems::list()) out.push_back(e.displayName);
        return out;
    }
    const AutostartEntry* find(const std::vector<AutostartEntry>& list, const std::string& name) const {
        for (const auto& e : list) {
            if (e.displayName == name) return &e;
        }
        return nullptr;
    }
    size_t filesIn(const std::string& folder) const {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
        return n;
    }
};

}  // namespace

TEST_F(LoginItemsTest, UserEntriesWinOverSystemOnesAndHiddenOnesAreNoLoginItems) {
    program("/usr/bin/mailer");
    roots.writeFile(system("mail.desktop"), entry("System Mail", "mailer"));
    roots.writeFile(user("mail.desktop"), entry("User Mail", "mailer --user"));
    roots.writeFile(system("blue.desktop"), entry("Bluetooth", "mailer"));
    roots.writeFile(user("blue.desktop"), "[Desktop Entry]\nHidden=true\n");
    roots.writeFile(system("gnome-off.desktop"), entry("Off", "mailer", "X-GNOME-Autostart-enabled=false\n"));
    roots.writeFile(system("sys-only.desktop"), entry("Sys", "mailer"));
    roots.writeFile(user("hidden.desktop"), entry("Gone", "mailer", "Hidden=true\n"));
    roots.writeFile(user("noname.desktop"), "[Desktop Entry]\nExec=mailer\n");
    roots.writeFile(user("readme.txt"), entry("Not an entry", "mailer"));

    auto list = LoginItems::list();
    ASSERT_EQ(names(), (std::vector<std::string>{"User Mail", "noname", "Sys"}));
    EXPECT_TRUE(list[0].isUserEntry);
    EXPECT_TRUE(list[0].shadowsSystemEntry);
    EXPECT_EQ(list[0].command, "mailer --user");
    EXPECT_EQ(list[0].target, roots.root() + "/usr/bin/mailer");
    EXPECT_FALSE(list[1].shadowsSystemEntry);
    EXPECT_FALSE(list[2].isUserEntry);
    EXPECT_EQ(list[2].filePath, system("sys-only.desktop"));
}

TEST_F(LoginItemsTest, UnreadableAndExeclessEntriesAreSkippedWithALogLine) {
    program("/usr/bin/tool");
    roots.writeFile(user("noexec.desktop"), "[Desktop Entry]\nName=NoExec\n");
    roots.writeFile(user("junk.desktop"), std::string("\x7f"
                                                      "ELF\0\0\1",
                                                      7));
    roots.writeFile(system("junk.desktop"), entry("Shadowed by junk", "tool"));
    roots.writeFile(user("ok.desktop"), entry("OK", "tool"));
    hvn::test::LogLines log;
    EXPECT_EQ(names(), (std::vector<std::string>{"OK"}));
    EXPECT_TRUE(log.contains("noexec.desktop: it has no Exec"));
    EXPECT_TRUE(log.contains("junk.desktop"));
}

TEST_F(LoginItemsTest, TargetsAreLocatedBelowTheRootsAndBrokenWhenMissing) {
    const std::string inHome = roots.writeFile(roots.home() + "/bin/mine", "x");
    program("/usr/local/bin/onpath");
    program("/opt/app/run");
    roots.writeFile(roots.root() + "/usr/bin/notexec", "x");
    ::symlink("/nonexistent/target", (roots.root() + "/usr/bin/dangling").c_str());
    roots.writeFile(user("a.desktop"), entry("Absolute", "/opt/app/run --flag"));
    roots.writeFile(user("b.desktop"), entry("Home", inHome));
    roots.writeFile(user("c.desktop"), entry("Bare", "env FOO=1 onpath %U"));
    roots.writeFile(user("d.desktop"), entry("Deleted", "/opt/deleted/run"));
    roots.writeFile(user("e.desktop"), entry("NotOnPath", "nowhere"));
    roots.writeFile(user("f.desktop"), entry("NotExecutable", "notexec"));
    roots.writeFile(user("g.desktop"), entry("Dangling", "/usr/bin/dangling"));
    roots.writeFile(user("h.desktop"), entry("Unclosed", "\"/opt/app/run"));
    roots.writeFile(user("i.desktop"), entry("Relative", "bin/mine"));

    auto list = LoginItems::list();
    ASSERT_EQ(list.size(), 9u);
    EXPECT_EQ(find(list, "Absolute")->target, roots.root() + "/opt/app/run");
    EXPECT_EQ(find(list, "Home")->target, inHome);
    EXPECT_EQ(find(list, "Bare")->target, roots.root() + "/usr/local/bin/onpath");
    EXPECT_EQ(find(list, "Relative")->target, inHome);
    for (const char* broken : {"Deleted", "NotOnPath", "NotExecutable", "Dangling", "Unclosed"}) {
        EXPECT_TRUE(find(list, broken)->isBroken()) << broken;
    }
    EXPECT_EQ(find(list, "Deleted")->program, "/opt/deleted/run");
}

TEST_F(LoginItemsTest, XdgConfigHomeAndConfigDirsChooseTheFolders) {
    program("/usr/bin/tool");
    const std::string config = roots.makeDir(roots.base() + "/xdg-config");
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", "/etc/first:relative:/etc/second", 1);
    EXPECT_EQ(LoginItems::userFolder(), config + "/autostart");
    EXPECT_EQ(LoginItems::systemFolders(),
              (std::vector<std::string>{roots.root() + "/etc/first/autostart",
                                        roots.root() + "/etc/second/autostart"}));
    roots.writeFile(config + "/autostart/x.desktop", entry("From XDG home", "tool"));
    roots.writeFile(roots.root() + "/etc/first/autostart/y.desktop", entry("First", "tool"));
    roots.writeFile(roots.root() + "/etc/second/autostart/y.desktop", entry("Second", "tool"));
    roots.writeFile(user("z.desktop"), entry("Plain home", "tool"));
    EXPECT_EQ(names(), (std::vector<std::string>{"From XDG home", "First"}));
}

TEST_F(LoginItemsTest, AddWritesANewEntryLastUnderAFreeName) {
    const std::string tool = program("/usr/bin/my tool");
    roots.writeFile(user("my-tool.desktop"), entry("Other entry", "/usr/bin/other"));
    roots.writeFile(system("my-tool-2.desktop"), entry("System entry", "/usr/bin/other"));
    roots.writeFile(user("zzz.desktop"), entry("Last by name", "/usr/bin/other"));

    std::string error;
    auto first = LoginItems::add(tool, &error);
    ASSERT_TRUE(first) << error;
    EXPECT_EQ(*first, "my-tool-3.desktop");
    auto second = LoginItems::add(tool, &error);
    ASSERT_TRUE(second) << error;
    EXPECT_EQ(*second, "my-tool-4.desktop");
    EXPECT_EQ(readAll(user("my-tool.desktop")), entry("Other entry", "/usr/bin/other"));

    auto list = LoginItems::list();
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[3].fileName, "my-tool-3.desktop");
    EXPECT_EQ(list[4].fileName, "my-tool-4.desktop");
    EXPECT_EQ(list[3].displayName, "my tool");
    EXPECT_EQ(list[3].target, tool);
    EXPECT_EQ(list[3].order, 1);
    EXPECT_EQ(list[4].order, 2);

    struct ::stat st {};
    ASSERT_EQ(::stat(user("my-tool-3.desktop").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0022, 0u);
    // No temporary file is left behind.
    EXPECT_EQ(filesIn(roots.home() + "/.config/autostart"), 4u);

    EXPECT_FALSE(LoginItems::add("relative/path", &error));
}

TEST_F(LoginItemsTest, AddingABundleStartsTheProgramInside) {
    const std::string app = roots.makeDir(roots.root() + "/Applications/Halvorn.app");
    roots.writeFile(app + "/Contents/Info.plist",
                    "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
                    "<string>Halvorn</string></dict></plist>");
    program("/Applications/Halvorn.app/Contents/MacOS/Halvorn");
    auto name = LoginItems::add(app);
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, "Halvorn.desktop");
    auto list = LoginItems::list();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].displayName, "Halvorn");
    EXPECT_EQ(list[0].target, app + "/Contents/MacOS/Halvorn");
}

TEST_F(LoginItemsTest, RemovingAUserEntryDeletesItsFileOnly) {
    program("/usr/bin/tool");
    roots.writeFile(user("a.desktop"), entry("A", "tool"));
    roots.writeFile(user("b.desktop"), entry("B", "tool"));
    auto list = LoginItems::list();
    LoginItems::RemovedEntry removed;
    std::string error;
    ASSERT_TRUE(LoginItems::remove(list[0], &removed, &error)) << error;
    EXPECT_FALSE(fs::exists(user("a.desktop")));
    EXPECT_TRUE(fs::exists(user("b.desktop")));
    EXPECT_EQ(removed.fileName, "a.desktop");
    EXPECT_EQ(removed.contents, entry("A", "tool"));

    // Gone already, or replaced by another file since the listing: refused.
    EXPECT_FALSE(LoginItems::remove(list[0], nullptr, &error));
    // The new file is made before the old one goes, so that it cannot take its inode.
    roots.writeFile(user("b2.tmp"), entry("B2", "tool"));
    ::rename(user("b2.tmp").c_str(), user("b.desktop").c_str());
    EXPECT_FALSE(LoginItems::remove(list[1], nullptr, &error));
    EXPECT_NE(error.find("changed"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists(user("b.desktop")));
}

TEST_F(LoginItemsTest, RemovingASystemEntryWritesAHiddenUserCopy) {
    program("/usr/bin/tool");
    const std::string text = entry("Sys", "tool", "Comment=keep\n");
    roots.writeFile(system("sys.desktop"), text);
    ::chmod(system("sys.desktop").c_str(), 0444);
    auto list = LoginItems::list();
    ASSERT_EQ(list.size(), 1u);
    std::string error;
    ASSERT_TRUE(LoginItems::remove(list[0], nullptr, &error)) << error;
    EXPECT_EQ(readAll(system("sys.desktop")), text);
    auto copy = hvn::DesktopEntry::readFile(user("sys.desktop"));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->booleanValue("Desktop Entry", "Hidden"), true);
    EXPECT_EQ(copy->value("Desktop Entry", "Comment"), "keep");
    EXPECT_TRUE(LoginItems::list().empty());

    // A user file of that name appearing meanwhile is not replaced.
    roots.writeFile(system("other.desktop"), entry("Other", "tool"));
    auto again = LoginItems::list();
    ASSERT_EQ(again.size(), 1u);
    roots.writeFile(user("other.desktop"), "[Desktop Entry]\nName=mine\n");
    EXPECT_FALSE(LoginItems::remove(again[0], nullptr, &error));
    EXPECT_EQ(readAll(user("other.desktop")), "[Desktop Entry]\nName=mine\n");
}

TEST_F(LoginItemsTest, RemovingAUserEntryThatShadowsASystemOneHidesItInPlace) {
    program("/usr/bin/tool");
    roots.writeFile(system("s.desktop"), entry("Sys", "tool"));
    roots.writeFile(user("s.desktop"), entry("Mine", "tool --mine"));
    ::chmod(user("s.desktop").c_str(), 0600);
    auto list = LoginItems::list();
    ASSERT_EQ(list.size(), 1u);
    ASSERT_TRUE(LoginItems::remove(list[0]));
    EXPECT_TRUE(LoginItems::list().empty());
    struct ::stat st {};
    ASSERT_EQ(::stat(user("s.desktop").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_NE(readAll(user("s.desktop")).find("Exec=tool --mine\nHidden=true\n"), std::string::npos);
}

TEST_F(LoginItemsTest, ALinkedEntryIsReplacedNotWrittenThrough) {
    program("/usr/bin/tool");
    const std::string shared =
        roots.writeFile(roots.root() + "/usr/share/applications/t.desktop", entry("T", "tool"));
    roots.makeDir(roots.home() + "/.config/autostart");
    ASSERT_EQ(::symlink(shared.c_str(), user("t.desktop").c_str()), 0);
    auto list = LoginItems::list();
    ASSERT_EQ(list.size(), 1u);
    ASSERT_TRUE(LoginItems::setHidden(list[0], true));
    EXPECT_EQ(readAll(shared), entry("T", "tool"));
    struct ::stat st {};
    ASSERT_EQ(::lstat(user("t.desktop").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_TRUE(LoginItems::list()[0].hidden);

    // Removing a link removes the link, never the file it points at.
    ::unlink(user("t.desktop").c_str());
    ::symlink(shared.c_str(), user("t.desktop").c_str());
    ASSERT_TRUE(LoginItems::remove(LoginItems::list()[0]));
    EXPECT_TRUE(fs::exists(shared));
    EXPECT_FALSE(fs::exists(fs::symlink_status(user("t.desktop"))));
}

TEST_F(LoginItemsTest, HiddenPropertyOfASystemEntryGoesToAUserCopy) {
    program("/usr/bin/tool");
    roots.writeFile(system("s.desktop"), entry("Sys", "tool"));
    ASSERT_TRUE(LoginItems::setHidden(LoginItems::list()[0], true));
    auto list = LoginItems::list();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].isUserEntry);
    EXPECT_TRUE(list[0].hidden);
    ASSERT_TRUE(LoginItems::setHidden(list[0], false));
    EXPECT_FALSE(LoginItems::list()[0].hidden);
    EXPECT_EQ(readAll(system("s.desktop")), entry("Sys", "tool"));
}

TEST_F(LoginItemsTest, RestorePutsARemovedEntryBackLast) {
    program("/usr/bin/tool");
    roots.writeFile(user("a.desktop"), entry("A", "tool --keep-this-argument"));
    roots.writeFile(user("b.desktop"), entry("B", "tool"));
    roots.writeFile(system("c.desktop"), entry("C", "tool"));
    auto list = LoginItems::list();
    LoginItems::RemovedEntry a, c;
    ASSERT_TRUE(LoginItems::remove(list[0], &a));
    ASSERT_TRUE(LoginItems::remove(list[2], &c));
    ASSERT_EQ(names(), (std::vector<std::string>{"B"}));

    ASSERT_EQ(LoginItems::restore(a), "a.desktop");
    // The Hidden copy the removal wrote is taken over.
    ASSERT_EQ(LoginItems::restore(c), "c.desktop");
    auto after = LoginItems::list();
    ASSERT_EQ(names(), (std::vector<std::string>{"B", "A", "C"}));
    EXPECT_EQ(after[1].command, "tool --keep-this-argument");

    // The name is taken by a live entry now: a free one is used.
    roots.writeFile(user("d.desktop"), entry("D", "tool"));
    LoginItems::RemovedEntry d{"d.desktop", entry("Old D", "tool")};
    EXPECT_EQ(LoginItems::restore(d), "d-2.desktop");
    EXPECT_FALSE(LoginItems::restore({"x.desktop", "garbage"}).has_value());
}

TEST_F(LoginItemsTest, RemovalOfAnEntryThatIsAProtectedFolderIsRefused) {
    // An autostart folder that is reached through a link is not one the gate admits for writing.
    program("/usr/bin/tool");
    const std::string real = roots.makeDir(roots.base() + "/real-autostart");
    roots.makeDir(roots.home() + "/.config");
    ASSERT_EQ(::symlink(real.c_str(), (roots.home() + "/.config/autostart").c_str()), 0);
    roots.writeFile(real + "/l.desktop", entry("L", "tool"));
    auto list = LoginItems::list();
    ASSERT_EQ(list.size(), 1u);
    std::string error;
    EXPECT_FALSE(LoginItems::remove(list[0], nullptr, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::exists(real + "/l.desktop"));
}
