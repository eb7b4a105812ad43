#include "HVN/Code/ToolBox/Uninstall/HVNUninstallVC.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "HVN/Code/Public/HVNSearchApplications.h"
#include "Platform/NotificationCenter.h"
#include "Platform/RunLoop.h"
#include "Platform/Workspace.h"
#include "Public/AppSearchFixtures.h"
#include "Support/RecordingView.h"
#include "Support/TestRoots.h"

using hvn::test::FakeBundle;
using hvn::test::makeBundle;

namespace {

bool exists(const std::string& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

FakeBundle bundle(const std::string& id, const std::string& exe) {
    FakeBundle b;
    b.bundleID = id;
    b.executable = exe;
    b.name = exe;
    return b;
}

}  // namespace

class HVNUninstallVCTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        hvn::RunLoop::main().reset();
        hvn::RunLoop::main().bindToCurrentThread();
        editor = makeBundle(roots, roots.root() + "/Applications/Editor.app",
                            bundle("com.example.Editor", "Editor"));
        makeBundle(roots, roots.root() + "/Applications/alpha.app", bundle("org.alpha.Alpha", "alpha"));
        makeBundle(roots, roots.home() + "/Library/Widgets/Clock.wdgt", bundle("com.example.clock", "Clock"));
        makeBundle(roots, roots.home() + "/Library/Internet Plug-Ins/Flash.plugin",
                   bundle("com.example.flash", "Flash"));
        makeBundle(roots, roots.root() + "/Library/PreferencePanes/Pane.prefPane",
                   bundle("com.example.pane", "Pane"));
        prefs = roots.writeFile(roots.home() + "/Library/Preferences/com.example.Editor.plist", "prefs");
        cache = roots.writeFile(roots.home() + "/Library/Caches/Editor_1/blob", "cache");
        cache = cache.substr(0, cache.rfind('/'));
        search.searchApplications();
        search.searchOtherTypeApp();
        search.waitFinish();
        search.waitOtherTypeFinish();
    }
    void TearDown() override {
        hvn::Workspace::setRunningApplicationsForTesting(std::nullopt);
        HVNUninstallVC::setTerminator(nullptr);
        hvn::RunLoop::main().reset();
    }

    bool run(const std::function<bool()>& pred) { return hvn::RunLoop::main().runUntil(pred, 20); }

    // Loads the page and selects Editor in the All tab, with its files found.
    void selectEditor(HVNUninstallVC& vc) {
        vc.loadView();
        ASSERT_TRUE(vc.loaded());
        auto it = std::find_if(vc.ContentArray.begin(), vc.ContentArray.end(),
                               [](const HVNAppItemPtr& i) { return i->name == "Editor"; });
        ASSERT_NE(it, vc.ContentArray.end());
        vc.selectItem(static_cast<size_t>(it - vc.ContentArray.begin()));
        ASSERT_TRUE(run([&] { return vc.filesReady(); }));
    }

    void confirm(HVNUninstallVC& vc) {
        vc.uninstall();
        hvn::RunLoop::main().runPending();
        ASSERT_TRUE(view.hasAlert());
        view.answerAlert(0);
        ASSERT_TRUE(run([&] { return vc.removalFinished(); }));
    }

    HVNSearchApplications search;
    hvn::test::RecordingView view;
    std::string editor, prefs, cache;
};

TEST_F(HVNUninstallVCTest, TabsListEveryKindByNameAndResetTheFilters) {
    HVNUninstallVC vc(&view, &search);
    vc.loadView();
    EXPECT_EQ(view.text(HVNUninstallVC::kAllTab), "All(5)");
    EXPECT_EQ(view.text(HVNUninstallVC::kApplicationsTab), "Applications(2)");
    EXPECT_EQ(view.text(HVNUninstallVC::kWidgetsTab), "Widgets(1)");
    EXPECT_EQ(view.text(HVNUninstallVC::kPluginsTab), "Plugins(1)");
    EXPECT_EQ(view.text(HVNUninstallVC::kPreferencesTab), "Preferences(1)");
    EXPECT_EQ(view.firstCells(HVNUninstallVC::kAppList),
              (std::vector<std::string>{"alpha", "Clock", "Editor", "Flash", "Pane"}));

    vc.selectTab(HVNUninstallVC::ApplicationsTab);
    EXPECT_EQ(view.state(HVNUninstallVC::kTabBar), 1);
    EXPECT_EQ(view.firstCells(HVNUninstallVC::kAppList), (std::vector<std::string>{"alpha", "Editor"}));

    vc.searchTextChanged("EDI");
    EXPECT_EQ(view.firstCells(HVNUninstallVC::kAppList), (std::vector<std::string>{"Editor"}));
    vc.sizeSliderChanged(40);
    EXPECT_EQ(view.text(HVNUninstallVC::kSizeSliderTitle), "40 M");
    EXPECT_EQ(view.text(HVNUninstallVC::kSearchField), "");  // a slider clears the search
    EXPECT_EQ(vc.ContentArray.size(), 2u);
    vc.sortChanged(HVNUninstallFilters::BySize);
    EXPECT_EQ(view.state(HVNUninstallVC::kSortMenu), 1);

    vc.selectTab(HVNUninstallVC::WidgetsTab);
    EXPECT_EQ(vc.SizeSliderValue, 0);
    EXPECT_EQ(vc.DateSliderValue, 0);
    EXPECT_EQ(vc.searchText, "");
    EXPECT_EQ(view.text(HVNUninstallVC::kSizeSliderTitle), "0 M");
    EXPECT_EQ(view.text(HVNUninstallVC::kDateSliderTitle), "0 day");
    EXPECT_EQ(view.state(HVNUninstallVC::kSortMenu), 0);
    EXPECT_EQ(view.firstCells(HVNUninstallVC::kAppList), (std::vector<std::string>{"Clock"}));
}

TEST_F(HVNUninstallVCTest, SlidersFilterBySizeAndLastUseWithTheTitledThreshold) {
    HVNUninstallVC vc(&view, &search);
    vc.loadView();
    vc.selectTab(HVNUninstallVC::ApplicationsTab);
    ASSERT_EQ(vc.ContentArray.size(), 2u);
    // alpha last used 25 days ago, Editor 10 days ago.
    const double t = 1'800'000'000;
    vc.now = [t] { return hvn::Date{t}; };
    for (auto& i : vc.applications) i->lastUseDate = hvn::Date{t - (i->name == "alpha" ? 25 : 10) * 86400.0};
    vc.dateSliderChanged(20);
    EXPECT_EQ(view.text(HVNUninstallVC::kDateSliderTitle), "20 days");
    EXPECT_EQ(view.firstCells(HVNUninstallVC::kAppList), (std::vector<std::string>{"Editor"}));
    vc.dateSliderChanged(30);  // 45 days
    EXPECT_EQ(view.text(HVNUninstallVC::kDateSliderTitle), "2 months");
    EXPECT_EQ(vc.ContentArray.size(), 2u);

    vc.applications.front()->appSize = "3000000";
    vc.sizeSliderChanged(2);  // the date filter stays on
    EXPECT_EQ(vc.ContentArray.size(), 1u);
    vc.dateSliderChanged(0);
    vc.sizeSliderChanged(0);
    EXPECT_EQ(vc.ContentArray.size(), 2u);
    EXPECT_EQ(view.hidden(HVNUninstallVC::kNothingFoundView), true);
    vc.searchTextChanged("nothing like it");
    EXPECT_EQ(view.hidden(HVNUninstallVC::kNothingFoundView), false);
}

TEST_F(HVNUninstallVCTest, UninstallRemovesTheChosenFilesAndKeepsOneLeftOut) {
    HVNUninstallVC vc(&view, &search);
    selectEditor(vc);
    std::vector<std::string> files = vc.delFilesArray;
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files.back(), editor);
    EXPECT_EQ(view.rows(HVNUninstallVC::kFileList).size(), 3u);

    hvn::NotificationCenter::defaultCenter().post(kRemovePathNotification, {},
                                                  hvn::Value(hvn::Dictionary{{"path", hvn::Value(cache)}}));
    EXPECT_EQ(vc.delFilesArray.size(), 2u);
    for (const auto& row : view.rows(HVNUninstallVC::kFileList))
        EXPECT_EQ(*row.checkState, row.cells[2] == cache ? 0 : 1) << row.cells[2];
    vc.toggleFile("/etc/passwd");  // never found for the item: not added
    EXPECT_EQ(vc.delFilesArray.size(), 2u);

    vc.uninstall();
    hvn::RunLoop::main().runPending();
    ASSERT_TRUE(view.hasAlert());
    EXPECT_EQ(view.alert().messageText, "Warning");
    EXPECT_EQ(view.alert().informativeText,
              "Are you sure you want to uninstall Editor? You can't recover it.");
    EXPECT_EQ(view.alert().buttons, (std::vector<std::string>{"OK", "Cancel"}));
    view.answerAlert(1);  // Cancel
    hvn::RunLoop::main().runPending();
    EXPECT_FALSE(vc.removing());
    EXPECT_TRUE(exists(editor));

    confirm(vc);
    EXPECT_TRUE(vc.lastResult());
    EXPECT_FALSE(exists(editor));
    EXPECT_FALSE(exists(prefs));
    EXPECT_TRUE(exists(cache + "/blob"));
    EXPECT_EQ(view.text(HVNUninstallVC::kAllTab), "All(4)");
    EXPECT_EQ(view.text(HVNUninstallVC::kApplicationsTab), "Applications(1)");
    EXPECT_EQ(vc.selectedItem, nullptr);
    EXPECT_TRUE(vc.delFilesArray.empty());
    std::vector<std::string> shown = view.firstCells(HVNUninstallVC::kAppList);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "Editor"), 0);
}

TEST_F(HVNUninstallVCTest, NothingToRemoveAsksForASelection) {
    HVNUninstallVC vc(&view, &search);
    vc.loadView();
    vc.uninstall();
    hvn::RunLoop::main().runPending();
    ASSERT_TRUE(view.hasAlert());
    EXPECT_EQ(view.alert().style, HVNAlert::Style::Sheet);
    EXPECT_EQ(view.alert().messageText, "You must select at least one item to continue the uninstall.");
    EXPECT_EQ(view.alert().informativeText, "Please select one option at least.");
    EXPECT_EQ(view.alert().buttons, (std::vector<std::string>{"OK"}));
}

TEST_F(HVNUninstallVCTest, ARunningApplicationIsClosedFirstAndKeptWhenItWillNotClose) {
    hvn::Workspace::RunningApplication running;
    running.pid = 4242;
    running.bundleIdentifier = "com.example.Editor";
    running.bundlePath = editor;
    hvn::Workspace::setRunningApplicationsForTesting(
        std::vector<hvn::Workspace::RunningApplication>{running});
    std::vector<int> ended;
    bool willEnd = false;
    HVNUninstallVC::setTerminator([&](int pid) {
        ended.push_back(pid);
        return willEnd;
    });

    HVNUninstallVC vc(&view, &search);
    selectEditor(vc);
    vc.uninstall();
    hvn::RunLoop::main().runPending();
    ASSERT_TRUE(view.hasAlert());
    EXPECT_EQ(view.alert().informativeText,
              "The application Editor is currently open, Are you sure you want to close it, and then "
              "uninstall it?");
    view.answerAlert(0);
    hvn::RunLoop::main().runPending();
    EXPECT_EQ(ended, (std::vector<int>{4242}));
    EXPECT_FALSE(vc.removing());
    EXPECT_TRUE(exists(editor));
    EXPECT_TRUE(exists(prefs));

    willEnd = true;
    confirm(vc);
    EXPECT_FALSE(exists(editor));
}

TEST_F(HVNUninstallVCTest, AFileChangedAfterListingIsLeftAndReported) {
    HVNUninstallVC vc(&view, &search);
    selectEditor(vc);
    // Replaced by another file of the same name since the list was made (written beside it
    // first, so that it cannot reuse the listed file's inode).
    std::string other = roots.writeFile(prefs + ".new", "someone else's");
    ASSERT_EQ(::rename(other.c_str(), prefs.c_str()), 0);

    confirm(vc);
    EXPECT_FALSE(vc.lastResult());
    EXPECT_TRUE(exists(prefs));
    EXPECT_FALSE(exists(editor));
    EXPECT_FALSE(exists(cache));
    EXPECT_EQ(view.text(HVNUninstallVC::kStatusLabel),
              "com.example.Editor.plist was left in place: it has been replaced since it was listed");
    EXPECT_EQ(vc.delFilesArray, (std::vector<std::string>{prefs}));
    EXPECT_EQ(vc.delItemArray.size(), 1u);
    EXPECT_EQ(view.text(HVNUninstallVC::kApplicationsTab), "Applications(1)");  // the bundle went
}

TEST_F(HVNUninstallVCTest, ChoosingAnotherItemDropsTheFilesStillBeingFound) {
    HVNUninstallVC vc(&view, &search);
    vc.loadView();
    vc.selectItem(2);  // Editor
    vc.selectItem(0);  // alpha, before Editor's files arrive
    ASSERT_TRUE(run([&] { return vc.filesReady(); }));
    hvn::RunLoop::main().runPending();
    ASSERT_EQ(vc.selectedItem->name, "alpha");
    EXPECT_EQ(vc.delFilesArray.size(), 1u);
    EXPECT_EQ(vc.delFilesArray.front(), roots.root() + "/Applications/alpha.app");
}
