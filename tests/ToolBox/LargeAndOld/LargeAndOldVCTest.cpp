// The tool's page and its result list driven through recording views and the manual clock:
// the folder list and its stored paths, the run and its states, stopping, the nothing-found
// page, the filters and ticks, and the removals with their confirmation.
#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeAndOldVC.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "LargeTestSupport.h"
#include "Platform/UserDefaults.h"
#include "Support/RecordingView.h"

namespace {

using hvn::test::makeSizedFile;
using hvn::test::pathExists;
using hvn::test::RecordingView;
using Strings = std::vector<std::string>;

class LargeAndOldVCTest : public hvn::test::LargeToolTest {
protected:
    void SetUp() override {
        LargeToolTest::SetUp();
        const char* user = std::getenv("USER");
        if (user) oldUser_ = user;
        ::setenv("USER", "ann", 1);
        HVNCommonFunction::initialSettingInfo();
    }
    void TearDown() override {
        if (oldUser_) {
            ::setenv("USER", oldUser_->c_str(), 1);
        } else {
            ::unsetenv("USER");
        }
        LargeToolTest::TearDown();
    }

    static void storePaths(const Strings& paths) {
        hvn::Array a;
        for (const auto& p : paths) a.emplace_back(p);
        ASSERT_TRUE(hvn::UserDefaults::standardUserDefaults().setObject(hvn::Value(a), "LargeAndOldPaths"));
    }
    static std::optional<Strings> storedPaths() {
        hvn::Value v = hvn::UserDefaults::standardUserDefaults().objectForKey("LargeAndOldPaths");
        if (!v.isArray()) return std::nullopt;
        Strings out;
        for (const auto& s : v.asArray()) out.push_back(s.asString());
        return out;
    }
    static void setting(const char* key, bool on) {
        ASSERT_TRUE(HVNCommonFunction::changeSettingValue(hvn::Value(on), key));
    }
    static bool settingValue(const char* key) {
        return HVNCommonFunction::getSettingValueByKey(key).asBool();
    }

    std::unique_ptr<HVNLargeAndOldVC> makePage() {
        return std::make_unique<HVNLargeAndOldVC>(&page, &results, &nothing);
    }
    // Column `column` of every folder row.
    Strings folderColumn(size_t column) const {
        Strings out;
        for (const auto& r : page.rows(HVNLargeAndOldVC::kFolderList)) out.push_back(r.cells.at(column));
        return out;
    }
    Strings resultNames() const {
        Strings out;
        for (const auto& r : results.rows(HVNLargeResultVC::kResultList)) out.push_back(r.cells.at(0));
        return out;
    }
    // Scans to the end and waits for the result (or nothing-found) page.
    void runToResults(HVNLargeAndOldVC& vc) {
        vc.scanButtonClicked();
        ASSERT_TRUE(runUntil([&] { return vc.curShowVC || vc.noProblemVC; }));
    }
    // Ticks the result entry of a path.
    void tick(HVNLargeAndOldVC& vc, const std::string& path) {
        for (const auto& e : vc.curShowVC->allNodes) {
            if (e->filePath() == path) vc.curShowVC->setEntryChecked(e, true);
        }
    }
    std::string bigDir() const { return roots.home() + "/Big"; }

    RecordingView page, results, nothing;

private:
    std::optional<std::string> oldUser_;
};

TEST_F(LargeAndOldVCTest, WithoutAStoredListTheHomeIsListedUnderTheLoginName) {
    auto vc = makePage();
    EXPECT_EQ(folderColumn(0), Strings{"ann"});
    EXPECT_EQ(folderColumn(1), Strings{roots.home()});
    EXPECT_EQ(page.text(HVNLargeAndOldVC::kScanButton), "Scan");
    EXPECT_FALSE(storedPaths()) << "reading the list writes nothing";
    EXPECT_EQ(HVNLargeAndOldVC::folderEntry("/")->name(), "ann");
    EXPECT_EQ(HVNLargeAndOldVC::folderEntry("/srv/media")->name(), "media");
}

TEST_F(LargeAndOldVCTest, TheStoredListIsReadInOrderAndRewrittenWhenFoldersAreRemoved) {
    storePaths({"/srv/a", "/srv/b", "/srv/c"});
    auto vc = makePage();
    EXPECT_EQ(folderColumn(1), (Strings{"/srv/a", "/srv/b", "/srv/c"}));
    EXPECT_FALSE(page.enabled(HVNLargeAndOldVC::kRemoveButton).value_or(true));

    vc->clickFolderRow(0);
    vc->clickFolderRow(1);
    EXPECT_EQ(vc->selectPaths.size(), 1u) << "a click selects exactly one row";
    EXPECT_FALSE(vc->showPaths[0]->isSelected);
    vc->setFolderSelected(2, true);
    EXPECT_TRUE(page.enabled(HVNLargeAndOldVC::kRemoveButton).value_or(false));
    vc->removeSelectedFolders();
    EXPECT_EQ(folderColumn(1), Strings{"/srv/a"});
    EXPECT_EQ(storedPaths(), Strings{"/srv/a"});
    EXPECT_FALSE(page.enabled(HVNLargeAndOldVC::kRemoveButton).value_or(true));

    vc->clickFolderRow(0);
    vc->clickFolderRow(std::nullopt);
    EXPECT_TRUE(vc->selectPaths.empty()) << "a click outside the rows clears the selection";
}

TEST_F(LargeAndOldVCTest, AddingRefusesFoldersThatContainAListedPathAndThenNeitherShowsNorSaves) {
    storePaths({"/Users/ann"});
    auto vc = makePage();
    vc->addFolders();
    ASSERT_TRUE(page.hasPanel());
    EXPECT_EQ(page.panel().prompt, "Add");
    EXPECT_EQ(page.panel().directory, roots.home() + "/Desktop");
    EXPECT_TRUE(page.panel().canChooseDirectories);
    EXPECT_FALSE(page.panel().canChooseFiles);
    page.choose({"/Users/ann/Documents", "/srv/new", "/Users/annette"});
    hvn::RunLoop::main().runPending();
    ASSERT_TRUE(page.hasAlert());
    EXPECT_EQ(page.alert().messageText, "The selected item has already existed.");
    EXPECT_EQ(page.alert().buttons, Strings{"OK"});
    EXPECT_EQ(vc->showPaths.size(), 2u) << "the accepted folder stays in the list";
    EXPECT_EQ(folderColumn(1), Strings{"/Users/ann"}) << "not shown again";
    EXPECT_EQ(storedPaths(), Strings{"/Users/ann"}) << "not saved";
    page.answerAlert(0);

    vc->addFolders();
    page.choose({});
    hvn::RunLoop::main().runPending();
    EXPECT_EQ(vc->showPaths.size(), 2u) << "a cancelled panel adds nothing";

    vc->addChosenFolders({"/opt/x/"});
    EXPECT_EQ(folderColumn(1), (Strings{"/Users/ann", "/srv/new", "/opt/x"}));
    EXPECT_EQ(storedPaths(), (Strings{"/Users/ann", "/srv/new", "/opt/x"}));
    EXPECT_TRUE(page.enabled(HVNLargeAndOldVC::kScanButton).value_or(false));
}

TEST_F(LargeAndOldVCTest, ScanningAnEmptyListOnlyAsks) {
    storePaths({});
    auto vc = makePage();
    vc->scanButtonClicked();
    hvn::RunLoop::main().runPending();
    ASSERT_TRUE(page.hasAlert());
    EXPECT_EQ(page.alert().style, HVNAlert::Style::Sheet);
    EXPECT_EQ(page.alert().messageText, "You must select at least one item to continue the scan.");
    EXPECT_EQ(page.alert().informativeText, "Please select one option at least.");
    EXPECT_EQ(vc->curState, 0);
}

TEST_F(LargeAndOldVCTest, ARunSearchesTheFoldersInTurnAndShowsEverythingBySize) {
    const std::string a = roots.home() + "/A", b = roots.home() + "/B";
    makeSizedFile(a + "/one.zip", 60000000);
    makeSizedFile(a + "/two.mov", 200000000, 40 * 86400);
    makeSizedFile(b + "/disk.img", 6000000000LL);
    storePaths({a, b});
    auto vc = makePage();

    vc->scanButtonClicked();
    EXPECT_EQ(vc->curState, 1);
    EXPECT_EQ(page.text(HVNLargeAndOldVC::kScanButton), "Stop");
    EXPECT_EQ(folderColumn(3), (Strings{"busy", ""}));
    vc->clickFolderRow(0);
    EXPECT_TRUE(vc->selectPaths.empty()) << "clicks are ignored while scanning";

    ASSERT_TRUE(runUntil([&] { return vc->curShowVC != nullptr; }));
    EXPECT_EQ(vc->curState, 2);
    EXPECT_EQ(page.text(HVNLargeAndOldVC::kScanButton), "Remove");
    EXPECT_EQ(folderColumn(2), (Strings{"complete", "complete"}));
    EXPECT_EQ(folderColumn(3), (Strings{"", ""}));
    EXPECT_EQ(results.parent, &page);
    EXPECT_EQ(resultNames(), (Strings{">5G", "disk.img", "100 to 300M", "two.mov", "50 to 100M", "one.zip"}));
    EXPECT_EQ(results.text(HVNLargeResultVC::kSummaryLabel), "select 0 items :0 KB");

    vc->clickFolderRow(0);  // finished: a folder's own results
    EXPECT_EQ(resultNames(), (Strings{"100 to 300M", "two.mov", "50 to 100M", "one.zip"}));
}

TEST_F(LargeAndOldVCTest, StoppingShowsWhatWasFoundAndLeavesLaterFoldersUnsearched) {
    const std::string a = roots.home() + "/A", b = roots.home() + "/B";
    makeSizedFile(a + "/one.zip", 60000000);
    makeSizedFile(b + "/two.zip", 60000000);
    storePaths({a, b});
    auto vc = makePage();
    vc->scanButtonClicked();
    ASSERT_TRUE(runUntil([&] { return vc->showPaths[1]->animi; }));
    vc->scanButtonClicked();  // "Stop" before the second folder's search begins
    ASSERT_TRUE(runUntil([&] { return vc->curShowVC != nullptr; }));
    hvn::RunLoop::main().runPending();
    EXPECT_EQ(vc->curState, 2);
    EXPECT_EQ(page.text(HVNLargeAndOldVC::kScanButton), "Remove");
    EXPECT_EQ(folderColumn(2), (Strings{"complete", ""}));
    EXPECT_EQ(folderColumn(3), (Strings{"", ""}));
    EXPECT_EQ(resultNames(), (Strings{"50 to 100M", "one.zip"}));
}

TEST_F(LargeAndOldVCTest, NothingFoundShowsItsPageAndDoneResets) {
    makeSizedFile(bigDir() + "/small.bin", 1000);
    storePaths({bigDir()});
    auto vc = makePage();
    runToResults(*vc);
    ASSERT_TRUE(vc->noProblemVC);
    EXPECT_EQ(nothing.parent, &page);
    EXPECT_EQ(page.text(HVNLargeAndOldVC::kScanButton), "Done");
    vc->scanButtonClicked();
    EXPECT_EQ(vc->curState, 0);
    EXPECT_FALSE(vc->noProblemVC);
    EXPECT_EQ(nothing.parent, nullptr);
    EXPECT_EQ(page.text(HVNLargeAndOldVC::kScanButton), "Scan");
    EXPECT_EQ(folderColumn(2), Strings{""});
    EXPECT_FALSE(vc->showPaths[0]->scanDone);
    EXPECT_FALSE(vc->showPaths[0]->isCheck);
}

TEST_F(LargeAndOldVCTest, BackFromTheResultsResetsAndTheNextRunStartsEmpty) {
    std::string file = makeSizedFile(bigDir() + "/one.zip", 60000000);
    storePaths({bigDir()});
    auto vc = makePage();
    runToResults(*vc);
    ASSERT_TRUE(vc->curShowVC);
    vc->curShowVC->back();
    EXPECT_EQ(results.parent, nullptr);
    hvn::RunLoop::main().runPending();
    EXPECT_EQ(vc->curState, 0);
    EXPECT_FALSE(vc->curShowVC);
    EXPECT_TRUE(vc->scanner->scanOutObjs.empty());
    runToResults(*vc);
    EXPECT_EQ(vc->scanner->scanOutObjs.size(), 1u) << "not the first run's entry again";
}

TEST_F(LargeAndOldVCTest, FiltersUntickWhatTheyHideAndTellWhichControlToChange) {
    makeSizedFile(bigDir() + "/recent.zip", 60000000, 29 * 86400);
    std::string old = makeSizedFile(bigDir() + "/old.zip", 400000000, 31 * 86400);
    storePaths({bigDir()});
    auto vc = makePage();
    runToResults(*vc);
    HVNLargeResultVC& r = *vc->curShowVC;
    r.setAllCheckBoxStatus(1);
    EXPECT_EQ(r.selectedNodes.size(), 2u);
    EXPECT_EQ(results.text(HVNLargeResultVC::kSummaryLabel), "select 2 items :460.0 MB");

    r.onTimeFilter(30, 0, 70);  // "a month ago"
    EXPECT_EQ(results.text(HVNLargeResultVC::kTimeButton), "a month ago");
    EXPECT_EQ(resultNames(), (Strings{"300 to 500M", "old.zip"}));
    EXPECT_EQ(r.selectedNodes.size(), 1u) << "the hidden file is no longer ticked";
    EXPECT_EQ(results.text(HVNLargeResultVC::kSummaryLabel), "select 1 items :400.0 MB");

    r.onSlider(45, 0, 70);  // "1G"
    EXPECT_EQ(results.text(HVNLargeResultVC::kSizeButton), "1G");
    EXPECT_FALSE(results.hidden(HVNLargeResultVC::kNothingFoundView).value_or(true));
    EXPECT_EQ(results.text(HVNLargeResultVC::kNothingFoundLabel), HVNLargeResultVC::kChangeSizeText);
    r.onTimeFilter(70, 0, 70);
    EXPECT_EQ(results.text(HVNLargeResultVC::kNothingFoundLabel), HVNLargeResultVC::kChangeTimeText);

    r.onSlider(0, 0, 70);
    r.onTimeFilter(0, 0, 70);
    EXPECT_TRUE(results.hidden(HVNLargeResultVC::kNothingFoundView).value_or(false));
    r.onSortType(2);
    EXPECT_EQ(resultNames(), (Strings{"old.zip", "recent.zip"}));
    r.onSortType(0);
    EXPECT_EQ(resultNames(), (Strings{"Archivers", "old.zip", "recent.zip"}));
    EXPECT_TRUE(r.selectedNodes.empty());
    r.setRowChecked(0, true);  // the group row ticks its members
    EXPECT_EQ(r.selectedNodes.size(), 2u);
    EXPECT_EQ(results.rows(HVNLargeResultVC::kResultList)[0].checkState, 1);
    r.setRowChecked(1, false);
    EXPECT_EQ(results.rows(HVNLargeResultVC::kResultList)[0].checkState, -1);
    EXPECT_TRUE(pathExists(old));
}

TEST_F(LargeAndOldVCTest, RemovingWithNothingTickedOnlyAsks) {
    makeSizedFile(bigDir() + "/one.zip", 60000000);
    storePaths({bigDir()});
    auto vc = makePage();
    runToResults(*vc);
    vc->scanButtonClicked();
    hvn::RunLoop::main().runPending();
    ASSERT_TRUE(page.hasAlert());
    EXPECT_EQ(page.alert().messageText, "You must select at least one item to remove.");
    EXPECT_EQ(page.alert().informativeText, "Please select one option at least.");
    EXPECT_EQ(page.alert().style, HVNAlert::Style::Sheet);
}

TEST_F(LargeAndOldVCTest, TheConfirmationWritesItsChoicesAndOKMovesToTheTrash) {
    std::string file = makeSizedFile(bigDir() + "/one.zip", 60000000);
    std::string other = makeSizedFile(bigDir() + "/two.zip", 70000000);
    storePaths({bigDir()});
    auto vc = makePage();
    runToResults(*vc);
    tick(*vc, file);

    vc->scanButtonClicked();
    ASSERT_TRUE(page.hasAlert());
    const HVNAlert& a = page.alert();
    EXPECT_EQ(a.style, HVNAlert::Style::Sheet);
    EXPECT_EQ(a.messageText, "Are you sure you want to delete the item?");
    EXPECT_EQ(a.informativeText, "Please note that the deleted items can not be restored.");
    EXPECT_EQ(a.buttons, (Strings{"OK", "Cancel"}));
    EXPECT_EQ(a.suppressionTitle, "Never remind");
    EXPECT_EQ(a.choices, (Strings{"Remove to trash", "Delete permanently"}));
    EXPECT_EQ(a.selectedChoice, 0u);
    page.answerAlert(1, false, 1);  // "Delete permanently", then Cancel
    hvn::RunLoop::main().runPending();
    EXPECT_FALSE(vc->lastRemoval.size());
    EXPECT_FALSE(settingValue("Delete Is Safety")) << "the radio choice is stored whatever the button";
    EXPECT_TRUE(settingValue("Show Clean Notification"));
    EXPECT_TRUE(pathExists(file)) << "Cancel removes nothing";

    vc->scanButtonClicked();
    ASSERT_TRUE(page.hasAlert());
    EXPECT_EQ(page.alert().selectedChoice, 1u);
    page.answerAlert(0, true, 0);  // "Remove to trash", "Never remind", OK
    hvn::RunLoop::main().runPending();
    EXPECT_TRUE(settingValue("Delete Is Safety"));
    EXPECT_FALSE(settingValue("Show Clean Notification"));
    EXPECT_TRUE(pathExists(file)) << "the removal waits a second";
    ASSERT_TRUE(runUntil([&] { return !vc->lastRemoval.empty(); }));

    EXPECT_FALSE(pathExists(file));
    ASSERT_EQ(vc->lastRemoval.size(), 1u);
    const auto& o = vc->lastRemoval[0];
    EXPECT_TRUE(o.removed());
    EXPECT_EQ(o.trashedPath.rfind(roots.home() + "/.local/share/Trash/files/", 0), 0u) << o.trashedPath;
    EXPECT_TRUE(pathExists(o.trashedPath));
    EXPECT_TRUE(pathExists(other)) << "what was not ticked stays";
    EXPECT_EQ(resultNames(), (Strings{"50 to 100M", "two.zip"}));
    EXPECT_EQ(folderColumn(2), Strings{"1 items"});
    EXPECT_EQ(vc->scanner->scanOutObjs.size(), 1u);
}

TEST_F(LargeAndOldVCTest, WithoutConfirmationsAndSafetyOffRemoveDeletesAtOnce) {
    setting("Show Clean Notification", false);
    setting("Delete Is Safety", false);
    std::string file = makeSizedFile(bigDir() + "/one.zip", 60000000);
    storePaths({bigDir()});
    auto vc = makePage();
    runToResults(*vc);
    tick(*vc, file);
    vc->scanButtonClicked();
    EXPECT_FALSE(page.hasAlert());
    ASSERT_TRUE(runUntil([&] { return !vc->lastRemoval.empty(); }));
    EXPECT_FALSE(pathExists(file));
    EXPECT_TRUE(vc->lastRemoval[0].removed());
    EXPECT_TRUE(vc->lastRemoval[0].trashedPath.empty());
    EXPECT_FALSE(pathExists(roots.home() + "/.local/share/Trash/files/one.zip"));
    EXPECT_TRUE(vc->curShowVC->allNodes.empty());
}

// A file that changed after it was listed is left in place, listed and ticked, by both
// removals; the others go, and each folder counts what it still holds.
class ChangedFileTest : public LargeAndOldVCTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ChangedFileTest, AChangedFileStaysListedAndTicked) {
    const bool toTrash = GetParam();
    setting("Show Clean Notification", false);
    setting("Delete Is Safety", toTrash);
    std::string kept = makeSizedFile(bigDir() + "/changed.zip", 60000000);
    std::string gone = makeSizedFile(bigDir() + "/plain.zip", 70000000);
    storePaths({bigDir()});
    auto vc = makePage();
    runToResults(*vc);
    tick(*vc, kept);
    tick(*vc, gone);
    {
        std::ofstream out(kept, std::ios::app);
        out << "grown since";
    }
    vc->scanButtonClicked();
    ASSERT_TRUE(runUntil([&] { return !vc->lastRemoval.empty(); }));

    EXPECT_TRUE(pathExists(kept));
    EXPECT_FALSE(pathExists(gone));
    HVNLargeResultVC& r = *vc->curShowVC;
    ASSERT_EQ(r.allNodes.size(), 1u);
    EXPECT_EQ(r.allNodes[0]->filePath(), kept);
    EXPECT_EQ(r.allNodes[0]->isCheck, 1);
    EXPECT_EQ(r.selectedNodes, r.allNodes);
    EXPECT_EQ(results.text(HVNLargeResultVC::kSummaryLabel), "select 1 items :60.0 MB");
    EXPECT_EQ(folderColumn(2), Strings{"1 items"});
    bool reported = false;
    for (const auto& o : vc->lastRemoval) {
        if (o.entry->filePath() != kept) continue;
        EXPECT_EQ(o.status, hvn::RemovalStatus::Refused);
        EXPECT_NE(o.error.find("changed since it was listed"), std::string::npos) << o.error;
        reported = true;
    }
    EXPECT_TRUE(reported);
}

INSTANTIATE_TEST_SUITE_P(TrashAndDelete, ChangedFileTest, ::testing::Bool());

TEST_F(LargeAndOldVCTest, AFileReplacedByAnotherOfTheSameSizeIsNotRemoved) {
    setting("Show Clean Notification", false);
    setting("Delete Is Safety", false);
    std::string file = makeSizedFile(bigDir() + "/one.zip", 60000000, 100);
    storePaths({bigDir()});
    auto vc = makePage();
    runToResults(*vc);
    tick(*vc, file);
    // Same name, size and time: only its identity tells it apart.
    std::string twin = makeSizedFile(bigDir() + "/twin", 60000000, 100);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, twin.c_str(), times, 0), 0);
    ASSERT_EQ(::rename(twin.c_str(), file.c_str()), 0);
    vc->scanButtonClicked();
    ASSERT_TRUE(runUntil([&] { return !vc->lastRemoval.empty(); }));
    EXPECT_TRUE(pathExists(file));
    EXPECT_FALSE(vc->lastRemoval[0].gone());
}

}  // namespace
