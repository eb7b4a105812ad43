#include "HVN/Code/ToolBox/Startup/HVNStartupVC.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "Platform/NotificationCenter.h"
#include "Platform/RunLoop.h"
#include "StartupFixture.h"
#include "Support/RecordingView.h"

namespace fs = std::filesystem;
using startuptest::job;
using VC = HVNStartupVC;

namespace {

class StartupVCTest : public startuptest::StartupTest {
protected:
    void runLoop() { hvn::RunLoop::main().runPending(); }
    hvn::test::RecordingView view;
};

}  // namespace

TEST_F(StartupVCTest, EnteringShowsTheTextsAndTheListOrTheEmptyText) {
    VC page(&view, server.get());
    page.enter();
    EXPECT_EQ(view.text(VC::kTitleLabel), "Startup Optimization");
    EXPECT_EQ(view.text(VC::kDescriptionLabel),
              "Login items are displayed below. You can click Status button to disable them. ");
    EXPECT_EQ(view.text(VC::kKindHeading), "Kind");
    EXPECT_EQ(view.text(VC::kStatusHeading), "Status");
    EXPECT_EQ(view.text(VC::kItemsHeading), "Items");
    EXPECT_EQ(view.text(VC::kEmptyLabel), "No applications are running at startup");
    EXPECT_EQ(view.hidden(VC::kEmptyLabel), false);
    EXPECT_TRUE(view.rows(VC::kItemList).empty());

    program("/usr/bin/tool");
    program("/opt/bin/helper");
    autostart("a.desktop", "Tray", "tool");
    agent("com.t.helper.plist", job("com.t.helper", {"/opt/bin/helper/disable"}));
    page.enter();
    EXPECT_EQ(view.hidden(VC::kEmptyLabel), true);
    const auto& rows = view.rows(VC::kItemList);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].cells, (std::vector<std::string>{"Tray", "Application", "ON"}));
    EXPECT_EQ(rows[1].cells, (std::vector<std::string>{"helper", "Service", "OFF"}));
    EXPECT_EQ(rows[1].icon, roots.root() + "/opt/bin/helper");
}

TEST_F(StartupVCTest, TheStatusSwitchTogglesLoginItemsAndServices) {
    program("/usr/bin/tool");
    const std::string entry = autostart("a.desktop", "Tray", "tool");
    const std::string list = agent("com.t.tool.plist", job("com.t.tool", {"/usr/bin/tool"}));
    VC page(&view, server.get());
    page.enter();
    ASSERT_EQ(view.firstCells(VC::kItemList), (std::vector<std::string>{"Tray", "tool"}));

    ASSERT_TRUE(page.toggleStatus(1));
    EXPECT_EQ(view.rows(VC::kItemList)[1].cells[2], "OFF");
    EXPECT_EQ(plistAt(list)["ProgramArguments"].asArray()[0].asString(), "/usr/bin/tool/disable");

    ASSERT_TRUE(page.toggleStatus(0));
    EXPECT_FALSE(fs::exists(entry));
    ASSERT_EQ(view.rows(VC::kItemList).size(), 2u);
    EXPECT_EQ(view.rows(VC::kItemList)[0].cells, (std::vector<std::string>{"Tray", "Application", "OFF"}));

    ASSERT_TRUE(page.toggleStatus(0));
    EXPECT_EQ(view.rows(VC::kItemList)[0].cells[2], "ON");
    EXPECT_FALSE(page.toggleStatus(7));
}

TEST_F(StartupVCTest, RemoveTakesTheSelectedRowOnlyAndAsksForOneWithoutASelection) {
    program("/usr/bin/tool");
    program("/usr/bin/keep");
    const std::string gone = agent("com.t.tool.plist", job("com.t.tool", {"/usr/bin/tool"}));
    const std::string kept = agent("com.t.keep.plist", job("com.t.keep", {"/usr/bin/keep"}));
    VC page(&view, server.get());
    page.enter();
    ASSERT_EQ(view.firstCells(VC::kItemList), (std::vector<std::string>{"keep", "tool"}));

    page.removeClick();
    runLoop();
    ASSERT_TRUE(view.hasAlert());
    EXPECT_EQ(view.alert().style, HVNAlert::Style::Sheet);
    EXPECT_EQ(view.alert().messageText, "You must select at least one item to clean.");
    EXPECT_EQ(view.alert().informativeText, "Please select one option at least.");
    EXPECT_EQ(view.alert().buttons, std::vector<std::string>{"OK"});
    EXPECT_TRUE(view.answerAlert(0));
    runLoop();
    EXPECT_TRUE(fs::exists(gone));

    // Marks left over from elsewhere do not widen the removal.
    server->data[0].isCheck = true;
    page.selectRow(1);
    page.removeClick();
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_EQ(view.firstCells(VC::kItemList), std::vector<std::string>{"keep"});
    ASSERT_EQ(page.lastRemovals().size(), 1u);
    EXPECT_EQ(page.lastRemovals()[0].outcome, "deleted");
    EXPECT_FALSE(page.selectedRow().has_value());
}

TEST_F(StartupVCTest, AddOpensAFilePanelAtApplicationsAndAddsTheFirstChoice) {
    program("/usr/bin/tool");
    const std::string app = program("/Applications/Viewer");
    VC page(&view, server.get());
    page.enter();
    int updates = 0;
    auto token = hvn::NotificationCenter::defaultCenter().addObserver(
        kLoginItemUpdateNotification, [&](const hvn::Notification&) { ++updates; });
    page.addClick();
    ASSERT_TRUE(view.hasPanel());
    EXPECT_EQ(view.panel().prompt, "Add");
    EXPECT_EQ(view.panel().directory, roots.root() + "/Applications");
    EXPECT_TRUE(view.panel().canChooseFiles);
    EXPECT_FALSE(view.panel().canChooseDirectories);
    ASSERT_TRUE(view.choose({app, roots.root() + "/usr/bin/tool"}));
    runLoop();
    EXPECT_EQ(updates, 1);
    ASSERT_EQ(view.rows(VC::kItemList).size(), 1u);
    EXPECT_EQ(view.rows(VC::kItemList)[0].cells[0], "Viewer");
    ASSERT_EQ(server->data.size(), 1u);
    EXPECT_EQ(server->data[0].url, app);

    // A cancelled panel adds nothing.
    page.addClick();
    ASSERT_TRUE(view.choose({}));
    runLoop();
    EXPECT_EQ(server->data.size(), 1u);
    hvn::NotificationCenter::defaultCenter().removeObserver(token);
}
