#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <any>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNBrokenLoginItemOperation.h"
#include "HVN/Code/ToolBox/Startup/LoginItemManager.h"
#include "Platform/NotificationCenter.h"
#include "Platform/PropertyList.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using hvn::test::RootsTest;

namespace {

struct Recorder : HVNScanResultDelegate {
    int calls = 0;
    int32_t module = -1;
    HVNNodeList results;
    void finishScan(HVNNodeList r, int32_t m) override {
        ++calls;
        module = m;
        results = std::move(r);
    }
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class BrokenLoginItemTest : public RootsTest {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("XDG_CONFIG_DIRS")) oldConfigDirs_ = v;
        ::unsetenv("XDG_CONFIG_DIRS");
    }
    void TearDown() override {
        if (oldConfigDirs_) ::setenv("XDG_CONFIG_DIRS", oldConfigDirs_->c_str(), 1);
    }

    std::string agents() const { return roots.home() + "/Library/LaunchAgents"; }
    std::string systemDaemons() const { return roots.root() + "/Library/LaunchDaemons"; }
    std::string program(const std::string& rel) const {
        auto p = roots.writeFile(roots.root() + rel, "#!/bin/sh\n");
        ::chmod(p.c_str(), 0755);
        return p;
    }
    std::string job(const std::string& path, hvn::Dictionary dict,
                    hvn::PlistFormat format = hvn::PlistFormat::XML) const {
        return roots.writeFile(path, hvn::PropertyList::serialize(hvn::Value(std::move(dict)), format));
    }
    static std::string entry(const std::string& name, const std::string& exec) {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n";
    }

    HVNNodeList scan(LoginItemManager& manager,
                     std::vector<std::string> rows = {"Library/LaunchAgents", "Library/LaunchDaemons"}) {
        Recorder rec;
        HVNBrokenLoginItemOperation op(&rec, std::move(rows), &manager);
        op.main();
        EXPECT_EQ(rec.calls, 1);
        EXPECT_EQ(rec.module, 18);
        return rec.results;
    }
    static std::vector<std::string> names(const HVNNodeList& nodes) {
        std::vector<std::string> out;
        for (const auto& n : nodes) out.push_back(n->name());
        return out;
    }

    std::optional<std::string> oldConfigDirs_;
};

}  // namespace

TEST_F(BrokenLoginItemTest, FoldersAreTheHomesCopyThenTheSystemsForEachRow) {
    LoginItemManager manager;
    HVNBrokenLoginItemOperation op(nullptr, {"Library/LaunchAgents", "/Library/LaunchDaemons", "~/Odd", ""},
                                   &manager);
    EXPECT_EQ(op.getLoginItemPathes(),
              (std::vector<std::string>{
                  roots.home() + "/Library/LaunchAgents", roots.root() + "/Library/LaunchAgents",
                  roots.home() + "/Library/LaunchDaemons", roots.root() + "/Library/LaunchDaemons",
                  roots.home() + "/Odd", roots.root() + "/Odd"}));
}

TEST_F(BrokenLoginItemTest, JobsWhoseProgramIsGoneAreReported) {
    program("/usr/local/bin/present");
    program("/usr/bin/onpath");
    const std::string mine = roots.writeFile(roots.home() + "/bin/mine", "x");
    job(agents() + "/com.example.deleted.plist",
        {{"ProgramArguments", hvn::Array{"/usr/local/bin/deleted", "-d"}}});
    job(agents() + "/com.example.present.plist",
        {{"ProgramArguments", hvn::Array{"/usr/local/bin/present", "-d"}}});
    job(agents() + "/com.example.binary.plist", {{"Program", "/usr/local/bin/present"}},
        hvn::PlistFormat::Binary);
    job(agents() + "/com.example.home.plist", {{"Program", mine}});
    job(agents() + "/com.example.bare.plist", {{"ProgramArguments", hvn::Array{"onpath"}}});
    job(agents() + "/com.example.baregone.plist", {{"ProgramArguments", hvn::Array{"notthere"}}});
    // launchd runs Program; the first argument is only the name the program sees.
    job(agents() + "/com.example.named.plist",
        {{"Program", "/usr/local/bin/present"}, {"ProgramArguments", hvn::Array{"present-daemon", "--x"}}});
    job(agents() + "/com.example.noprogram.plist", {{"Label", "com.example.noprogram"}});
    job(agents() + "/com.example.emptyargs.plist", {{"ProgramArguments", hvn::Array{}}});
    roots.writeFile(agents() + "/com.example.corrupt.plist", "<?xml version=\"1.0\"?><plist><dict><key>Prog");
    roots.writeFile(agents() + "/README.txt", "not a job");
    ::symlink("/usr/local/bin/dangling-target", (roots.root() + "/usr/local/bin/dangling").c_str());
    job(agents() + "/com.example.dangling.plist", {{"Program", "/usr/local/bin/dangling"}});
    job(systemDaemons() + "/com.example.daemon.plist", {{"Program", "/usr/libexec/gone-daemon"}});

    LoginItemManager manager;
    auto results = scan(manager);
    EXPECT_EQ(names(results),
              (std::vector<std::string>{"com.example.baregone.plist", "com.example.corrupt.plist",
                                        "com.example.dangling.plist", "com.example.deleted.plist",
                                        "com.example.emptyargs.plist", "com.example.noprogram.plist",
                                        "com.example.daemon.plist"}));
    const auto& node = results[3];
    EXPECT_EQ(node->dirPath(), agents());
    EXPECT_EQ(node->filePath(), agents() + "/com.example.deleted.plist");
    EXPECT_EQ(node->fileSize, 0);
    EXPECT_FALSE(node->isLogin);
    EXPECT_NE(node->isCheck, 0);
    EXPECT_EQ(node->icon, agents() + "/com.example.deleted.plist");
    EXPECT_TRUE(node->foundIn.has_value());
    EXPECT_EQ(results.back()->dirPath(), systemDaemons());
}

TEST_F(BrokenLoginItemTest, FolderActionsLinksAndSpecialFilesAreNeverReported) {
    job(agents() + "/com.apple.FolderActions.folders.plist", {{"Program", "/gone"}});
    roots.writeFile(roots.root() + "/Library/LaunchAgents/com.apple.FolderActions.folders.plist", "corrupt");
    const std::string target = job(roots.base() + "/elsewhere.plist", {{"Program", "/gone"}});
    ::symlink(target.c_str(), (agents() + "/com.example.link.plist").c_str());
    ::symlink("/nowhere.plist", (agents() + "/com.example.dangling.plist").c_str());
    roots.makeDir(agents() + "/com.example.folder.plist");
    ::mkfifo((agents() + "/com.example.fifo.plist").c_str(), 0644);
    LoginItemManager manager;
    EXPECT_TRUE(scan(manager).empty());
}

TEST_F(BrokenLoginItemTest, AJobTheStartupToolSwitchedOffIsNotBroken) {
    program("/usr/local/bin/tool");
    job(agents() + "/com.example.off.plist",
        {{"ProgramArguments", hvn::Array{"/usr/local/bin/tool/disable", "-x"}}});
    job(agents() + "/com.example.offgone.plist", {{"Program", "/usr/local/bin/gone/disable"}});
    LoginItemManager manager;
    EXPECT_EQ(names(scan(manager)), (std::vector<std::string>{"com.example.offgone.plist"}));
}

TEST_F(BrokenLoginItemTest, BrokenLoginItemsComeFirst) {
    program("/usr/bin/tool");
    roots.writeFile(roots.home() + "/.config/autostart/gone.desktop",
                    entry("Gone App", "/opt/gone/app --tray"));
    roots.writeFile(roots.home() + "/.config/autostart/ok.desktop", entry("Fine", "tool"));
    job(agents() + "/com.example.deleted.plist", {{"Program", "/usr/local/bin/deleted"}});
    LoginItemManager manager;
    auto results = scan(manager);
    ASSERT_EQ(names(results), (std::vector<std::string>{"Gone App", "com.example.deleted.plist"}));
    EXPECT_TRUE(results[0]->isLogin);
    EXPECT_NE(results[0]->isCheck, 0);
    EXPECT_EQ(results[0]->fileSize, 0);
    EXPECT_FALSE(results[1]->isLogin);
}

TEST_F(BrokenLoginItemTest, PostsEachListedFolderAndACancelledScanHandsBackNothing) {
    job(agents() + "/com.example.deleted.plist", {{"Program", "/usr/local/bin/deleted"}});
    roots.makeDir(systemDaemons());
    std::vector<std::string> posted;
    hvn::ObservationToken token = hvn::NotificationCenter::defaultCenter().addObserver(
        kPathUpdateNotification, [&](const hvn::Notification& n) {
            if (auto* s = std::any_cast<std::string>(&n.object)) posted.push_back(*s);
        });
    LoginItemManager manager;
    scan(manager);
    EXPECT_EQ(posted, (std::vector<std::string>{agents(), systemDaemons()}));

    Recorder rec;
    HVNBrokenLoginItemOperation op(&rec, {"Library/LaunchAgents"}, &manager);
    op.cancel();
    op.main();
    op.scanBrokenLoginItems();
    EXPECT_EQ(rec.calls, 0);
}

TEST_F(BrokenLoginItemTest, AnUnreadableListNamesNoProgram) {
    if (!hvn::test::canRunAsNobody()) GTEST_SKIP() << "needs root to drop to nobody";
    program("/usr/bin/tool");
    const std::string secret = job(agents() + "/com.example.secret.plist", {{"Program", "/usr/bin/tool"}});
    const std::string open = job(agents() + "/com.example.open.plist", {{"Program", "/usr/bin/tool"}});
    ::chmod(secret.c_str(), 0600);
    ::chmod(open.c_str(), 0644);
    for (std::string p = agents(); p.size() >= roots.base().size(); p = p.substr(0, p.rfind('/'))) {
        ::chmod(p.c_str(), 0755);
    }
    int rc = hvn::test::runAsNobody([&] {
        Recorder rec;
        LoginItemManager manager;
        HVNBrokenLoginItemOperation op(&rec, {"Library/LaunchAgents"}, &manager);
        op.main();
        return rec.calls == 1 && rec.results.size() == 1 &&
                       rec.results[0]->name() == "com.example.secret.plist"
                   ? 0
                   : 1;
    });
    EXPECT_EQ(rc, 0);
}

TEST_F(BrokenLoginItemTest, CleaningRemovesUserEntriesAndHidesSystemOnes) {
    const std::string userEntry = roots.home() + "/.config/autostart/gone.desktop";
    const std::string systemEntry = roots.root() + "/etc/xdg/autostart/oldsys.desktop";
    roots.writeFile(userEntry, entry("Gone App", "/opt/gone/app"));
    roots.writeFile(systemEntry, entry("Old System Helper", "old-helper"));
    ::chmod(systemEntry.c_str(), 0444);
    LoginItemManager manager;
    auto results = scan(manager, {});
    ASSERT_EQ(names(results), (std::vector<std::string>{"Gone App", "Old System Helper"}));

    auto failures = manager.removeBreakLoginItemFromOuputObjs(results);
    EXPECT_TRUE(failures.empty());
    EXPECT_FALSE(fs::exists(fs::symlink_status(userEntry)));
    EXPECT_EQ(readAll(systemEntry), entry("Old System Helper", "old-helper"));
    struct ::stat st {};
    ASSERT_EQ(::stat(systemEntry.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    const std::string copy = roots.home() + "/.config/autostart/oldsys.desktop";
    EXPECT_NE(readAll(copy).find("Hidden=true"), std::string::npos);
    EXPECT_TRUE(scan(manager, {}).empty());
}
