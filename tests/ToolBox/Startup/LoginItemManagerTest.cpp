#include "HVN/Code/ToolBox/Startup/LoginItemManager.h"

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

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/NotificationCenter.h"
#include "Platform/UserDefaults.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using hvn::test::RootsTest;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class LoginItemManagerTest : public RootsTest {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("XDG_CONFIG_DIRS")) oldConfigDirs_ = v;
        ::unsetenv("XDG_CONFIG_DIRS");
    }
    void TearDown() override {
        if (oldConfigDirs_) ::setenv("XDG_CONFIG_DIRS", oldConfigDirs_->c_str(), 1);
    }

    std::string user(const std::string& name) const { return roots.home() + "/.config/autostart/" + name; }
    std::string system(const std::string& name) const { return roots.root() + "/etc/xdg/autostart/" + name; }
    std::string program(const std::string& rel) const {
        auto p = roots.writeFile(roots.root() + rel, "#!/bin/sh\n");
        ::chmod(p.c_str(), 0755);
        return p;
    }
    static std::string entry(const std::string& name, const std::string& exec) {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n";
    }
    static std::vector<std::string> names(const std::vector<LoginItem>& items) {
        std::vector<std::string> out;
        for (const auto& i : items) out.push_back(i.name);
        return out;
    }
    static LoginItem named(const std::string& name) {
        LoginItem item;
        item.name = name;
        return item;
    }
    hvn::Array disabled() const {
        hvn::Value v = hvn::UserDefaults::standardUserDefaults().objectForKey(kDisableItemKey);
        return v.isArray() ? v.asArray() : hvn::Array{};
    }

    std::optional<std::string> oldConfigDirs_;
};

}  // namespace

TEST_F(LoginItemManagerTest, LoadsTheListInOrderWithTargetsTypesAndIcons) {
    const std::string tool = program("/usr/bin/tool");
    const std::string app = roots.makeDir(roots.root() + "/opt/Viewer.app");
    roots.writeFile(user("a.desktop"), entry("Tool", "tool --tray"));
    roots.writeFile(user("b.desktop"), entry("Viewer", app));
    roots.writeFile(user("c.desktop"), entry("Gone", "/opt/gone/bin"));
    roots.writeFile(user("d.desktop"), entry("Hidden on launch", "tool") + "X-Halvorn-Hidden=true\n");

    LoginItemManager manager;
    auto data = manager.loginData();
    ASSERT_EQ(names(data), (std::vector<std::string>{"Tool", "Viewer", "Gone", "Hidden on launch"}));
    EXPECT_EQ(data[0].url, tool);
    EXPECT_EQ(data[0].type, "Application");
    EXPECT_EQ(data[0].icon, tool);
    EXPECT_TRUE(data[0].isLogin);
    EXPECT_FALSE(data[0].disable);
    EXPECT_EQ(data[1].type, "Application");
    EXPECT_FALSE(data[2].url.has_value());
    EXPECT_EQ(data[2].type, "Unknown");
    EXPECT_TRUE(data[3].hidden);
    EXPECT_FALSE(data[0].hidden);
}

TEST(LoginItemTypeTest, DescribesTheKindOfTheTarget) {
    hvn::test::TempRoots roots;
    auto exe = roots.writeFile(roots.base() + "/run", "x");
    ::chmod(exe.c_str(), 0755);
    EXPECT_EQ(LoginItem::typeDescription(exe), "Application");
    EXPECT_EQ(LoginItem::typeDescription(roots.makeDir(roots.base() + "/X.app")), "Application");
    EXPECT_EQ(LoginItem::typeDescription(roots.makeDir(roots.base() + "/folder")), "Folder");
    EXPECT_EQ(LoginItem::typeDescription(roots.writeFile(roots.base() + "/notes.txt", "x")), "Text document");
    EXPECT_EQ(LoginItem::typeDescription(roots.writeFile(roots.base() + "/blob.zzz", "x")), "Document");
    EXPECT_EQ(LoginItem::typeDescription(roots.base() + "/missing"), "Unknown");
    EXPECT_EQ(LoginItem::typeDescription(std::nullopt), "Unknown");
}

TEST_F(LoginItemManagerTest, DisablingThenEnablingLeavesTheItemLastAsItWas) {
    program("/usr/bin/tool");
    roots.writeFile(user("a.desktop"), entry("A", "tool --minimized"));
    roots.writeFile(user("b.desktop"), entry("B", "tool"));
    roots.writeFile(system("c.desktop"), entry("C", "tool"));
    LoginItemManager manager;
    ASSERT_EQ(names(manager.loginData()), (std::vector<std::string>{"A", "B", "C"}));

    ASSERT_TRUE(manager.setItemDisable(named("A"), true));
    ASSERT_TRUE(manager.setItemDisable(named("C"), true));
    EXPECT_FALSE(fs::exists(user("a.desktop")));
    EXPECT_EQ(readAll(system("c.desktop")), entry("C", "tool"));
    EXPECT_EQ(names(manager.loginData()), (std::vector<std::string>{"B"}));
    auto records = disabled();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["Name"], hvn::Value("A"));
    EXPECT_EQ(records[0]["URL"], hvn::Value(roots.root() + "/usr/bin/tool"));

    auto all = manager.allLoginData();
    ASSERT_EQ(names(all), (std::vector<std::string>{"B", "A", "C"}));
    EXPECT_TRUE(all[1].disable);
    EXPECT_TRUE(all[1].isLogin);
    EXPECT_EQ(all[1].url, roots.root() + "/usr/bin/tool");
    EXPECT_EQ(all[1].type, "Application");

    // Still disabled for a new manager: the list and the record persist.
    EXPECT_EQ(names(LoginItemManager().loginData()), (std::vector<std::string>{"B"}));

    ASSERT_TRUE(manager.setItemDisable(named("A"), false));
    ASSERT_TRUE(manager.setItemDisable(named("C"), false));
    auto data = manager.loginData();
    ASSERT_EQ(names(data), (std::vector<std::string>{"B", "A", "C"}));
    EXPECT_TRUE(disabled().empty());
    // The entry comes back with its arguments, not as a bare program.
    auto again = hvn::LoginItems::list();
    EXPECT_EQ(again[1].command, "tool --minimized");
    EXPECT_EQ(readAll(system("c.desktop")), entry("C", "tool"));

    EXPECT_FALSE(manager.setItemDisable(named("Nobody"), true));
    EXPECT_FALSE(manager.setItemDisable(named("B"), false));
}

TEST_F(LoginItemManagerTest, EnablingAnOldRecordAddsItsURL) {
    const std::string tool = program("/usr/bin/tool");
    hvn::UserDefaults::standardUserDefaults().setObject(
        hvn::Array{hvn::Dictionary{{"Name", "Tool"}, {"URL", "file://" + tool}}}, kDisableItemKey);
    LoginItemManager manager;
    ASSERT_TRUE(manager.setItemDisable(named("Tool"), false));
    auto data = manager.loginData();
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].url, tool);
    EXPECT_TRUE(disabled().empty());
}

TEST_F(LoginItemManagerTest, AFailedDisableTakesItsRecordBack) {
    // The gate admits no entry whose folder is reached through a link.
    program("/usr/bin/tool");
    const std::string real = roots.makeDir(roots.base() + "/elsewhere");
    roots.makeDir(roots.home() + "/.config");
    ASSERT_EQ(::symlink(real.c_str(), (roots.home() + "/.config/autostart").c_str()), 0);
    roots.writeFile(real + "/a.desktop", entry("A", "tool"));
    LoginItemManager manager;
    ASSERT_EQ(manager.loginData().size(), 1u);
    EXPECT_FALSE(manager.setItemDisable(named("A"), true));
    EXPECT_TRUE(disabled().empty());
    EXPECT_TRUE(fs::exists(real + "/a.desktop"));
}

TEST_F(LoginItemManagerTest, RemovingADisabledItemDeletesItsRecordOnly) {
    program("/usr/bin/tool");
    roots.writeFile(user("a.desktop"), entry("A", "tool"));
    roots.writeFile(user("b.desktop"), entry("B", "tool"));
    LoginItemManager manager;
    ASSERT_TRUE(manager.setItemDisable(named("A"), true));
    const std::string before = readAll(user("b.desktop"));
    ASSERT_TRUE(manager.deleteDataWithDisable({named("A")}));
    EXPECT_TRUE(disabled().empty());
    EXPECT_EQ(readAll(user("b.desktop")), before);
    EXPECT_FALSE(fs::exists(user("a.desktop")));
    manager.loadData();
    EXPECT_EQ(names(manager.allLoginData()), (std::vector<std::string>{"B"}));
}

TEST_F(LoginItemManagerTest, DeleteDataRemovesByNameFromTheSnapshot) {
    program("/usr/bin/tool");
    roots.writeFile(user("a.desktop"), entry("Twin", "tool"));
    roots.writeFile(user("b.desktop"), entry("Twin", "tool"));
    roots.writeFile(user("c.desktop"), entry("Other", "tool"));
    LoginItemManager manager;
    EXPECT_TRUE(manager.deleteData({named("Twin"), named("Twin")}));
    EXPECT_FALSE(fs::exists(user("a.desktop")));
    EXPECT_FALSE(fs::exists(user("b.desktop")));
    EXPECT_FALSE(manager.deleteData({named("Twin")}));
    EXPECT_TRUE(fs::exists(user("c.desktop")));
}

TEST_F(LoginItemManagerTest, AddRemoveAndHasMyApp) {
    const std::string app = roots.makeDir(roots.root() + "/Applications/Halvorn.app");
    LoginItemManager manager;
    EXPECT_FALSE(manager.hasMyApp());
    int posted = 0;
    hvn::ObservationToken token = hvn::NotificationCenter::defaultCenter().addObserver(
        kLoginItemUpdateNotification, [&](const hvn::Notification&) { ++posted; });
    ASSERT_TRUE(manager.addItem(app, true));
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(names(manager.loginData()), (std::vector<std::string>{"Halvorn"}));
    EXPECT_TRUE(manager.hasMyApp());

    // addItem alone does not reload; removeItem finds the item all the same.
    const std::string other = program("/opt/My Tool");
    ASSERT_TRUE(manager.addItemWithURL("file:///" + other.substr(1, other.size() - 8) + "/My%20Tool"));
    EXPECT_EQ(manager.loginData().size(), 1u);
    EXPECT_EQ(posted, 1);
    EXPECT_TRUE(manager.removeItem("My Tool"));
    EXPECT_TRUE(manager.removeItem("Halvorn"));
    EXPECT_FALSE(manager.hasMyApp());
    EXPECT_FALSE(manager.removeItem("Halvorn"));
    EXPECT_FALSE(manager.addItem("not/absolute"));
}

TEST_F(LoginItemManagerTest, HiddenPropertyByIndex) {
    program("/usr/bin/tool");
    roots.writeFile(user("a.desktop"), entry("A", "tool"));
    roots.writeFile(system("b.desktop"), entry("B", "tool"));
    LoginItemManager manager;
    ASSERT_TRUE(manager.setItemHidden(1, true));
    auto data = manager.loginData();
    ASSERT_EQ(names(data), (std::vector<std::string>{"A", "B"}));
    EXPECT_FALSE(data[0].hidden);
    EXPECT_TRUE(data[1].hidden);
    EXPECT_TRUE(fs::exists(user("b.desktop")));
    ASSERT_TRUE(manager.setItemHidden(1, false));
    EXPECT_FALSE(manager.loginData()[1].hidden);
    EXPECT_FALSE(manager.setItemHidden(2, true));
}

TEST_F(LoginItemManagerTest, BrokenItemsAreFoundAndOnlyTheyAreRemoved) {
    program("/usr/bin/tool");
    roots.writeFile(user("a.desktop"), entry("Sync", "/opt/removed/sync"));
    roots.writeFile(user("b.desktop"), entry("Sync", "tool"));
    roots.writeFile(system("c.desktop"), entry("Old Daemon", "removed-daemon"));
    roots.writeFile(user("d.desktop"), entry("Fine", "tool"));
    LoginItemManager manager;
    auto broken = manager.scanBreakLoginItem();
    ASSERT_EQ(names(broken), (std::vector<std::string>{"Sync", "Old Daemon"}));

    HVNNodeList nodes;
    for (const auto& item : broken) nodes.push_back(HVNCommonFunction::convertLoginItemToScanOutputObj(item));
    auto failures = manager.removeBreakLoginItemFromOuputObjs(nodes);
    EXPECT_TRUE(failures.empty());
    EXPECT_FALSE(fs::exists(user("a.desktop")));
    EXPECT_TRUE(fs::exists(user("b.desktop")));
    EXPECT_EQ(readAll(system("c.desktop")), entry("Old Daemon", "removed-daemon"));
    EXPECT_NE(readAll(user("c.desktop")).find("Hidden=true"), std::string::npos);
    EXPECT_EQ(names(manager.loginData()), (std::vector<std::string>{"Sync", "Fine"}));
    EXPECT_TRUE(manager.scanBreakLoginItem().empty());

    // Working again by the time of the removal: kept, and told.
    roots.writeFile(user("e.desktop"), entry("Later", "/opt/later/run"));
    auto later = manager.scanBreakLoginItem();
    ASSERT_EQ(later.size(), 1u);
    program("/opt/later/run");
    failures = manager.removeBreakLoginItem(later);
    EXPECT_EQ(failures.count("Later"), 1u);
    EXPECT_TRUE(fs::exists(user("e.desktop")));
}

TEST(LoginItemConversionTest, NodesAndItemsCarryTheirFields) {
    LoginItem item;
    item.name = "Tool";
    item.icon = "/icons/tool.png";
    item.url = "/usr/bin/tool";
    item.isCheck = true;
    auto node = HVNCommonFunction::convertLoginItemToScanOutputObj(item);
    EXPECT_EQ(node->name(), "Tool");
    EXPECT_EQ(node->icon, "/icons/tool.png");
    EXPECT_EQ(node->filePath(), "/usr/bin/tool");
    EXPECT_TRUE(node->isLogin);
    EXPECT_NE(node->isCheck, 0);
    auto back = HVNCommonFunction::convertScanOutputObjToLoginItem(*node);
    EXPECT_EQ(back.name, "Tool");
    EXPECT_EQ(back.url, "/usr/bin/tool");
    EXPECT_EQ(back.icon, "/icons/tool.png");
    EXPECT_TRUE(back.isCheck);

    LoginItem broken;
    broken.name = "Gone";
    auto brokenNode = HVNCommonFunction::convertLoginItemToScanOutputObj(broken);
    EXPECT_EQ(brokenNode->isCheck, 0);
    EXPECT_FALSE(HVNCommonFunction::convertScanOutputObjToLoginItem(*brokenNode).url.has_value());
}
