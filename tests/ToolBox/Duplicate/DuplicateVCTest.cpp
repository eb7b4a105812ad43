// The duplicate finder's page, its result list and its group view, driven through recording
// views and the manual clock: the folder list and its stored file, the scan and its
// progress rows, the results, the removals with and without the confirmation sheet, and the
// way back to the folder list.
#include "HVN/Code/ToolBox/Duplicate/HVNDuplicateVC.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "DuplicateFixtures.h"
#include "DuplicateTestSupport.h"
#include "HVN/Code/ToolBox/Duplicate/DuplicationPathSetting.h"
#include "Support/RecordingView.h"

namespace {

using dupes_test::pathExists;
using dupes_test::pattern;
using dupes_test::setYear;
using hvn::test::RecordingView;
using Strings = std::vector<std::string>;

Strings storedFolders() {
    Strings out;
    for (const auto& e : DuplicationPathSetting::loadFilePathArray()) out.push_back(e["path"].asString());
    return out;
}

void storeFolders(const Strings& paths) {
    hvn::Array a;
    for (const auto& p : paths) a.push_back(DuplicationPathSetting::entryForPath(p));
    ASSERT_TRUE(DuplicationPathSetting::saveFilePathArray(a));
}

Strings column(const RecordingView& v, const char* list, size_t c) {
    Strings out;
    for (const auto& r : v.rows(list)) out.push_back(r.cells.at(c));
    return out;
}

class DuplicateVCTest : public dupes_test::DuplicateToolTest {
protected:
    std::unique_ptr<HVNDuplicateVC> makePage() {
        return std::make_unique<HVNDuplicateVC>(&page, &results, &group);
    }
    std::string dir() const { return roots.home() + "/D"; }
    std::string put(const std::string& rel, const std::string& contents, int year) const {
        std::string p = roots.writeFile(dir() + "/" + rel, contents);
        setYear(p, year);
        return p;
    }
    // The 2010/2012/2014 copies of one content, and a pair of another, larger one.
    void makeCopies() {
        const std::string three = pattern(60000, 1);
        c2014 = put("c/late.bin", three, 2014);
        c2010 = put("a/early.bin", three, 2010);
        c2012 = put("b/middle.bin", three, 2012);
        const std::string two = pattern(90000, 2);
        p1 = put("p/one.dat", two, 2011);
        p2 = put("p/two.dat", two, 2013);
        put("unique.bin", pattern(70000, 3), 2015);
        put("small.bin", pattern(40000, 1), 2015);
        put("small-copy.bin", pattern(40000, 1), 2015);
        storeFolders({dir()});
    }
    void scanToResults(HVNDuplicateVC& vc) {
        vc.scanButtonClicked();
        ASSERT_TRUE(
            runUntil([&] { return vc.resultVC != nullptr || vc.state == HVNDuplicateVC::State::Done; }));
    }
    // Shows the group holding path.
    void showGroupOf(HVNDuplicateVC& vc, const std::string& path) {
        auto& r = *vc.resultVC;
        for (size_t i = 0; i < r.keys.size(); ++i) {
            for (const auto& p : r.duplictionDic.at(r.keys[i])["list"].asArray()) {
                if (p.asString() == path) return r.selectGroup(i);
            }
        }
        FAIL() << "no group holds " << path;
    }
    void waitForRemoval(HVNDuplicateVC& vc, uint64_t count) {
        ASSERT_TRUE(runUntil([&] { return vc.resultVC && vc.resultVC->pathVC->finishedRemovals >= count; }));
    }

    RecordingView page, results, group;
    std::string c2010, c2012, c2014, p1, p2;
};

TEST_F(DuplicateVCTest, TheFolderListRefusesSystemFoldersAndRepeatsAndIsStored) {
    auto vc = makePage();
    EXPECT_EQ(column(page, HVNDuplicateVC::kPathList, 0), Strings{roots.home()})
        << "the home folder at first";
    EXPECT_EQ(page.text(HVNDuplicateVC::kAddButtonToolTip), "Add an item to the path list");
    EXPECT_EQ(page.text(HVNDuplicateVC::kRemoveButtonToolTip), "Delete the selected item");
    EXPECT_EQ(vc->moulde, 4);
    EXPECT_EQ(page.text(HVNDuplicateVC::kScanButton), "Scan");

    vc->addFolders();
    ASSERT_TRUE(page.hasPanel());
    EXPECT_EQ(page.panel().prompt, "Add");
    EXPECT_TRUE(page.panel().canChooseDirectories);
    EXPECT_FALSE(page.panel().canChooseFiles);
    EXPECT_TRUE(page.panel().allowsMultipleSelection);
    page.choose({"/System/Library", "/Volumes/Data", "/Volumes", "/", roots.root() + "/Volumes/USB",
                 roots.home(), roots.home() + "/Docs", "/srv/x/"});
    hvn::RunLoop::main().runPending();
    const Strings expected = {roots.home(), roots.home() + "/Docs", "/srv/x"};
    EXPECT_EQ(column(page, HVNDuplicateVC::kPathList, 0), expected)
        << "sub-folders of listed ones are accepted";
    EXPECT_EQ(storedFolders(), expected) << "saved even though one was refused";
    ASSERT_TRUE(page.hasAlert());
    EXPECT_EQ(page.alert().messageText, "The selected item has already existed.");
    EXPECT_EQ(page.alert().buttons, Strings{"OK"});
    EXPECT_EQ(page.alert().style, HVNAlert::Style::Alert);
    page.answerAlert(0);

    // Only system folders: ignored without a word.
    vc->addChosenFolders({"/System"});
    hvn::RunLoop::main().runPending();
    EXPECT_FALSE(page.hasAlert());

    EXPECT_FALSE(page.enabled(HVNDuplicateVC::kRemoveButton).value_or(true));
    vc->selectRow(1);
    EXPECT_TRUE(page.enabled(HVNDuplicateVC::kRemoveButton).value_or(false));
    vc->removeSelectedRow();
    EXPECT_EQ(storedFolders(), (Strings{roots.home(), "/srv/x"}));
    auto again = makePage();
    EXPECT_EQ(column(page, HVNDuplicateVC::kPathList, 0), (Strings{roots.home(), "/srv/x"}));
}

TEST_F(DuplicateVCTest, ScanningAnEmptyListOnlyAsks) {
    auto vc = makePage();
    vc->selectRow(0);
    vc->removeSelectedRow();
    vc->scanButtonClicked();
    hvn::RunLoop::main().runPending();
    ASSERT_TRUE(page.hasAlert());
    EXPECT_EQ(page.alert().style, HVNAlert::Style::Sheet);
    EXPECT_EQ(page.alert().messageText, "You must select at least one item to continue the scan.");
    EXPECT_EQ(page.alert().informativeText, "Please select one option at least.");
    EXPECT_EQ(page.alert().buttons, Strings{"OK"});
    EXPECT_EQ(vc->state, HVNDuplicateVC::State::Idle);
    EXPECT_FALSE(vc->engine);
}

TEST_F(DuplicateVCTest, AScanShowsTheGroupsLargestFirstWithTheOldestCopyKept) {
    makeCopies();
    const std::string other = roots.makeDir(roots.home() + "/Other");
    storeFolders({dir(), other});
    auto vc = makePage();
    vc->scanButtonClicked();
    EXPECT_EQ(page.text(HVNDuplicateVC::kScanButton), "Stop");
    EXPECT_FALSE(page.enabled(HVNDuplicateVC::kAddButton).value_or(true));
    EXPECT_EQ(column(page, HVNDuplicateVC::kPathList, 2), (Strings{"busy", ""}));
    ASSERT_TRUE(runUntil([&] { return vc->resultVC != nullptr; }));

    EXPECT_TRUE(page.enabled(HVNDuplicateVC::kAddButton).value_or(false));
    EXPECT_EQ(page.text(HVNDuplicateVC::kScanButton), "Remove");
    EXPECT_EQ(column(page, HVNDuplicateVC::kPathList, 1), (Strings{"Complete", "Complete"}));
    EXPECT_EQ(page.progress(HVNDuplicateVC::kProgress), 1.0);
    EXPECT_TRUE(page.hidden(HVNDuplicateVC::kPathList).value_or(false)) << "kScanViewHiddenUI n";
    EXPECT_EQ(results.parent, &page);
    EXPECT_EQ(group.parent, &results);

    // Two groups: files of 51,200 bytes or less are never candidates.
    ASSERT_EQ(vc->scanResultDic.size(), 2u);
    ScannerResultViewController& r = *vc->resultVC;
    EXPECT_EQ(column(results, ScannerResultViewController::kGroupList, 2), (Strings{"90KB", "60KB"}));
    EXPECT_EQ(column(results, ScannerResultViewController::kGroupList, 3), (Strings{"2", "3"}));
    EXPECT_EQ(column(results, ScannerResultViewController::kGroupList, 1), (Strings{"dat", "bin"}));
    const hvn::Value& three = vc->scanResultDic.at(r.keys[1]);
    EXPECT_EQ(three["size"].asInteger(), 60000);
    EXPECT_EQ(three["list"].asArray().size(), 3u);
    EXPECT_EQ(three["name"].asString(),
              hvn::FileManager::lastPathComponent(three["list"].asArray().back().asString()));

    // The first group is on show, oldest copy first and unselected.
    EXPECT_EQ(r.pathVC->list, (Strings{p1, p2}));
    const std::string firstOfPair = vc->scanResultDic.at(r.keys[0])["list"].asArray().at(0).asString();
    EXPECT_EQ(results.text(ScannerResultViewController::kDetailsLabel),
              hvn::FileManager::lastPathComponent(firstOfPair) + "\n90KB\nQuantity: 2\n");
    EXPECT_EQ(results.text(ScannerResultViewController::kPreview), firstOfPair);
    r.selectGroup(1);
    EXPECT_EQ(r.pathVC->list, (Strings{c2010, c2012, c2014}));
    EXPECT_EQ(r.pathVC->checkSelectedDic, (hvn::Dictionary{{"1", hvn::Value("1")}, {"2", hvn::Value("1")}}));
    EXPECT_EQ(group.rows(ResultPathViewController::kPathList).at(0).checkState, 0);
    EXPECT_EQ(group.rows(ResultPathViewController::kPathList).at(2).checkState, 1);
}

TEST_F(DuplicateVCTest, TheConfirmationWritesItsChoicesAndOnlyOKRemoves) {
    makeCopies();
    auto vc = makePage();
    scanToResults(*vc);
    ASSERT_TRUE(vc->resultVC);
    showGroupOf(*vc, c2010);
    EXPECT_EQ(group.text(ResultPathViewController::kNeverRemindToolTip), "Reveal in Cleanup Assistant");

    vc->scanButtonClicked();  // "Remove"
    hvn::RunLoop::main().runPending();
    ASSERT_TRUE(page.hasAlert() || group.hasAlert());
    RecordingView& sheetView = group.hasAlert() ? group : page;
    const HVNAlert& a = sheetView.alert();
    EXPECT_EQ(a.style, HVNAlert::Style::Sheet);
    EXPECT_EQ(a.messageText, "Are you sure you want to delete the itme?");
    EXPECT_EQ(a.informativeText, "Please note that the deleted items can not be restored.");
    EXPECT_EQ(a.buttons, (Strings{"OK", "Cancel"}));
    EXPECT_EQ(a.choices, (Strings{"Remove to trash", "Delete permanently"}));
    EXPECT_EQ(a.selectedChoice, 0u);
    EXPECT_EQ(a.suppressionTitle, "Never remind");
    sheetView.answerAlert(1, false, 1);  // "Delete permanently", then Cancel
    hvn::RunLoop::main().runPending();
    EXPECT_FALSE(settingValue("Delete Dupfiles Is Safety").asBool())
        << "the radio is stored whatever the button";
    EXPECT_TRUE(settingValue("Duplicate Notification").asBool());
    EXPECT_TRUE(pathExists(c2012) && pathExists(c2014)) << "Cancel removes nothing";
    EXPECT_EQ(vc->resultVC->pathVC->finishedRemovals, 0u);

    vc->scanButtonClicked();
    hvn::RunLoop::main().runPending();
    ASSERT_TRUE(sheetView.hasAlert());
    EXPECT_EQ(sheetView.alert().selectedChoice, 1u);
    sheetView.answerAlert(0, true, 0);  // "Remove to trash", "Never remind", OK
    waitForRemoval(*vc, 1);
    EXPECT_TRUE(settingValue("Delete Dupfiles Is Safety").asBool());
    EXPECT_FALSE(settingValue("Duplicate Notification").asBool());

    EXPECT_TRUE(pathExists(c2010)) << "the oldest copy stays";
    EXPECT_FALSE(pathExists(c2012));
    EXPECT_FALSE(pathExists(c2014));
    const auto& outcomes = vc->resultVC->pathVC->lastRemoval;
    ASSERT_EQ(outcomes.size(), 2u);
    for (const auto& o : outcomes) {
        EXPECT_TRUE(o.removed()) << o.error;
        EXPECT_EQ(o.trashedPath.rfind(roots.home() + "/.local/share/Trash/files/", 0), 0u) << o.trashedPath;
        EXPECT_TRUE(pathExists(o.trashedPath));
        EXPECT_TRUE(pathExists(roots.home() + "/.local/share/Trash/info/" +
                               hvn::FileManager::lastPathComponent(o.trashedPath) + ".trashinfo"));
    }
    // Its only copy left, the group leaves the list; the other group is on show.
    ScannerResultViewController& r = *vc->resultVC;
    EXPECT_EQ(r.keys.size(), 1u);
    EXPECT_EQ(column(results, ScannerResultViewController::kGroupList, 3), Strings{"2"});
    EXPECT_EQ(r.pathVC->list, (Strings{p1, p2}));
    EXPECT_EQ(page.text(HVNDuplicateVC::kScanButton), "Remove");
}

TEST_F(DuplicateVCTest, WithoutTheSheetTheLastGroupResolvedReadsDoneAndDoneGoesBack) {
    setting("Duplicate Notification", false);
    setting("Delete Dupfiles Is Safety", false);
    makeCopies();
    auto vc = makePage();
    scanToResults(*vc);
    ASSERT_TRUE(vc->resultVC);
    vc->scanButtonClicked();  // the pair: p2 goes
    waitForRemoval(*vc, 1);
    EXPECT_FALSE(page.hasAlert() || group.hasAlert());
    EXPECT_FALSE(pathExists(p2));
    EXPECT_TRUE(vc->resultVC->pathVC->lastRemoval.at(0).trashedPath.empty()) << "deleted, not trashed";
    EXPECT_FALSE(pathExists(roots.home() + "/.local/share/Trash/files/two.dat"));

    // Nothing selected: the sheet, and nothing removed.
    ResultPathViewController& g = *vc->resultVC->pathVC;
    ASSERT_EQ(g.list.size(), 3u);
    g.setRowChecked(1, false);
    g.setRowChecked(2, false);
    vc->scanButtonClicked();
    hvn::RunLoop::main().runPending();
    RecordingView& sheetView = group.hasAlert() ? group : page;
    ASSERT_TRUE(sheetView.hasAlert());
    EXPECT_EQ(sheetView.alert().messageText, "You must select at least one item to continue the remove.");
    EXPECT_EQ(sheetView.alert().informativeText, "Please select one option at least.");
    sheetView.answerAlert(0);

    // A row's own delete action: one file, then every row but the first selected again.
    hvn::NotificationCenter::defaultCenter().post(
        kTableRowActionNotName, {},
        hvn::Value(
            hvn::Dictionary{{"type", hvn::Value("delete")}, {"ox", hvn::Value(5)}, {"oy", hvn::Value(90)}}));
    waitForRemoval(*vc, 2);
    EXPECT_FALSE(pathExists(c2014)) << "row 2 (oy 90 / 40)";
    EXPECT_EQ(g.list, (Strings{c2010, c2012}));
    EXPECT_EQ(g.checkSelectedDic, (hvn::Dictionary{{"1", hvn::Value("1")}}));

    vc->scanButtonClicked();
    waitForRemoval(*vc, 3);
    EXPECT_TRUE(pathExists(c2010));
    EXPECT_FALSE(pathExists(c2012));
    EXPECT_TRUE(vc->resultVC->keys.empty());
    EXPECT_EQ(results.text(ScannerResultViewController::kNothingLabel),
              "No cloned files are found in your Mac.");
    EXPECT_FALSE(results.hidden(ScannerResultViewController::kNothingView).value_or(true));
    EXPECT_EQ(page.text(HVNDuplicateVC::kScanButton), "Done");

    vc->scanButtonClicked();  // "Done"
    EXPECT_FALSE(vc->resultVC);
    EXPECT_EQ(results.parent, nullptr);
    EXPECT_EQ(page.text(HVNDuplicateVC::kScanButton), "Scan");
    EXPECT_FALSE(page.hidden(HVNDuplicateVC::kPathList).value_or(true));
    EXPECT_EQ(vc->state, HVNDuplicateVC::State::Idle);
}

TEST_F(DuplicateVCTest, AFileChangedAfterListingStaysListedAndTheGroupStays) {
    setting("Duplicate Notification", false);
    makeCopies();
    auto vc = makePage();
    scanToResults(*vc);
    ASSERT_TRUE(vc->resultVC);
    showGroupOf(*vc, c2010);
    setYear(c2014, 2015);  // touched since the scan
    vc->scanButtonClicked();
    waitForRemoval(*vc, 1);
    EXPECT_FALSE(pathExists(c2012));
    EXPECT_TRUE(pathExists(c2014));
    ResultPathViewController& g = *vc->resultVC->pathVC;
    EXPECT_EQ(g.list, (Strings{c2010, c2014}));
    EXPECT_TRUE(g.checkSelectedDic.empty()) << "the selection is empty after the batch";
    bool reported = false;
    for (const auto& o : g.lastRemoval) {
        if (o.path != c2014) continue;
        EXPECT_EQ(o.status, hvn::RemovalStatus::Refused);
        EXPECT_NE(o.error.find("changed since it was listed"), std::string::npos) << o.error;
        reported = true;
    }
    EXPECT_TRUE(reported);
    EXPECT_EQ(vc->resultVC->keys.size(), 2u);
    EXPECT_EQ(
        results.text(ScannerResultViewController::kDetailsLabel).find("Quantity: 2\n") != std::string::npos,
        true);
}

TEST_F(DuplicateVCTest, NothingIsRemovedWhenTheCopyThatStaysHasChanged) {
    setting("Duplicate Notification", false);
    makeCopies();
    auto vc = makePage();
    scanToResults(*vc);
    ASSERT_TRUE(vc->resultVC);
    showGroupOf(*vc, c2010);
    {
        std::ofstream out(c2010, std::ios::app);
        out << "edited";
    }
    vc->scanButtonClicked();
    waitForRemoval(*vc, 1);
    EXPECT_TRUE(pathExists(c2012));
    EXPECT_TRUE(pathExists(c2014));
    EXPECT_EQ(vc->resultVC->pathVC->list.size(), 3u);
}

TEST_F(DuplicateVCTest, NothingFoundShowsItsViewAndDoneGoesBack) {
    roots.writeFile(dir() + "/one.bin", pattern(60000, 1));
    roots.writeFile(dir() + "/two.bin", pattern(60000, 2));
    storeFolders({dir()});
    auto vc = makePage();
    scanToResults(*vc);
    EXPECT_FALSE(vc->resultVC);
    EXPECT_FALSE(page.hidden(HVNDuplicateVC::kNothingFoundView).value_or(true));
    EXPECT_EQ(page.text(HVNDuplicateVC::kScanButton), "Done");
    vc->scanButtonClicked();
    EXPECT_TRUE(page.hidden(HVNDuplicateVC::kNothingFoundView).value_or(false));
    EXPECT_EQ(page.text(HVNDuplicateVC::kScanButton), "Scan");
    EXPECT_EQ(column(page, HVNDuplicateVC::kPathList, 1), Strings{""});

    // A second scan starts from an empty result dictionary.
    roots.writeFile(dir() + "/one-copy.bin", pattern(60000, 1));
    scanToResults(*vc);
    ASSERT_TRUE(vc->resultVC);
    EXPECT_EQ(vc->scanResultDic.size(), 1u);
}

// Holds the engine's final notification on the page's notification queue until released,
// so that the page is still searching while the test drives its timer. Registered before
// the page observes the engine, it is called first.
class FinishGate {
public:
    FinishGate()
        : token_(hvn::NotificationCenter::defaultCenter().addObserver(
              kTHDuplicationNotification, [this](const hvn::Notification& n) {
                  if (!n.userInfo.find(kTHDuplicationFinished)) return;
                  std::unique_lock<std::mutex> lock(m_);
                  held_ = true;
                  cv_.notify_all();
                  cv_.wait(lock, [this] { return open_; });
              })) {}
    ~FinishGate() { release(); }
    bool waitHeld() {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, std::chrono::seconds(30), [this] { return held_; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(m_);
        open_ = true;
        cv_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool held_ = false, open_ = false;
    hvn::ObservationToken token_;
};

TEST_F(DuplicateVCTest, TheTimerSamplesTheWalkAndMovesTheMarkedRowOn) {
    const std::string a = roots.home() + "/A", b = roots.home() + "/B",
                      c = roots.makeDir(roots.home() + "/C");
    roots.writeFile(a + "/x.bin", pattern(60000, 1));
    roots.writeFile(a + "/y.bin", pattern(60000, 1));
    const std::string last = roots.writeFile(b + "/z.bin", pattern(60000, 2));
    storeFolders({a, b, c});
    auto vc = makePage();
    FinishGate gate;  // after the page: released before the page waits for its queue
    vc->scanButtonClicked();
    ASSERT_TRUE(gate.waitHeld());
    EXPECT_EQ(column(page, HVNDuplicateVC::kPathList, 2), (Strings{"busy", "", ""}));

    clock.advance(0.9 / 3);
    hvn::RunLoop::main().runPending();
    EXPECT_EQ(page.text(HVNDuplicateVC::kCountLabel), "3");
    EXPECT_EQ(column(page, HVNDuplicateVC::kPathList, 1), (Strings{"Complete", last, ""}));
    EXPECT_EQ(column(page, HVNDuplicateVC::kPathList, 2), (Strings{"", "busy", ""}));
    EXPECT_NEAR(page.progress(HVNDuplicateVC::kProgress).value_or(0), 2.0 / 3, 1e-9);
    clock.advance(0.9 / 3);
    hvn::RunLoop::main().runPending();
    clock.advance(0.9 / 3);
    hvn::RunLoop::main().runPending();
    EXPECT_EQ(column(page, HVNDuplicateVC::kPathList, 2), (Strings{"", "", "busy"}))
        << "never past the last row";
    EXPECT_EQ(vc->state, HVNDuplicateVC::State::Searching);

    gate.release();
    ASSERT_TRUE(runUntil([&] { return vc->resultVC != nullptr; }));
    EXPECT_EQ(column(page, HVNDuplicateVC::kPathList, 1), (Strings{"Complete", "Complete", "Complete"}));
}

TEST_F(DuplicateVCTest, StopReadsScanAndShowsWhatWasFound) {
    makeCopies();
    auto vc = makePage();
    vc->scanButtonClicked();
    vc->scanButtonClicked();  // "Stop"
    EXPECT_EQ(page.text(HVNDuplicateVC::kScanButton), "Scan");
    EXPECT_TRUE(vc->stoppedByUser);
    ASSERT_TRUE(runUntil([&] { return vc->state != HVNDuplicateVC::State::Searching; }));
    hvn::RunLoop::main().runPending();
    EXPECT_TRUE(vc->resultVC || vc->state == HVNDuplicateVC::State::Done);
    EXPECT_TRUE(page.enabled(HVNDuplicateVC::kAddButton).value_or(false));
}

// The result list on its own, over a dictionary made by hand.
class ScannerResultTest : public dupes_test::DuplicateToolTest {
protected:
    static hvn::Value groupOf(int64_t size, const Strings& paths) {
        hvn::Array list;
        for (const auto& p : paths) list.emplace_back(p);
        return hvn::Value(
            hvn::Dictionary{{"size", hvn::Value(size)},
                            {"name", hvn::Value(hvn::FileManager::lastPathComponent(paths.back()))},
                            {"list", hvn::Value(list)}});
    }
    RecordingView results, group;
};

TEST_F(ScannerResultTest, SizeTextsExtensionsAndFilterSteps) {
    using R = ScannerResultViewController;
    EXPECT_EQ(R::returnFileSize(51200), "51KB");
    EXPECT_EQ(R::returnFileSize(999000), "999KB");
    EXPECT_EQ(R::returnFileSize(999600), "1.0MB");
    EXPECT_EQ(R::returnFileSize(25300000), "25.3MB");
    EXPECT_EQ(R::returnFileSize(2500000000ULL), "2.50G");
    EXPECT_EQ(R::extensionOf("photo.2.JPG"), "JPG");
    EXPECT_EQ(R::extensionOf("README"), "README");
    EXPECT_EQ(R::filterStep(0), 0);
    EXPECT_EQ(R::filterStep(39), 3);
    EXPECT_EQ(R::filterStep(90), 9);
    EXPECT_EQ(R::filterStep(100), 9) << "10 counts as 9";
    EXPECT_EQ(R::filterThreshold(0), 50000u);
    EXPECT_EQ(R::filterThreshold(3), 500000u);
    EXPECT_EQ(R::filterThreshold(4), 1000000u);
    EXPECT_EQ(R::filterThreshold(9), 50000000u);
}

TEST_F(ScannerResultTest, SortingAndTheSizeFilter) {
    hvn::Dictionary dic{{"h1", groupOf(60000, {"/d/b1.bin", "/d/Beta.bin"})},
                        {"h2", groupOf(2000000, {"/d/z1.mov", "/d/zeta.mov"})},
                        {"h3", groupOf(300000, {"/d/a1", "/d/a2", "/d/alpha.txt"})}};
    ScannerResultViewController r(&results, &group);
    r.setResults(dic, {"h2", "h3", "h1"});
    EXPECT_EQ(r.keys, (Strings{"h2", "h3", "h1"}));
    EXPECT_EQ(results.text(ScannerResultViewController::kPreview), "/d/z1.mov");

    r.sortByTitle("Sort by quantity");
    EXPECT_EQ(r.sortKey, "number");
    EXPECT_EQ(r.keys.front(), "h3");
    EXPECT_EQ(results.text(ScannerResultViewController::kSortMenu), "Sort by quantity");
    r.sortByTitle("Sort by name");
    EXPECT_EQ(r.keys, (Strings{"h3", "h1", "h2"})) << "by the first letter of the name, lower-cased";
    r.sortByTitle("Sort by size");
    r.toggleSizeArrow();
    EXPECT_EQ(r.keys, (Strings{"h1", "h3", "h2"})) << "smallest first";
    EXPECT_EQ(results.state(ScannerResultViewController::kSizeArrow), 0);
    EXPECT_EQ(r.selectedIndex, 0u);
    EXPECT_EQ(r.pathVC->groupKey, "h1");

    r.releaseSlider(30);  // "500KB"
    EXPECT_EQ(results.text(ScannerResultViewController::kSizeFilterLabel), "500KB");
    EXPECT_EQ(r.keys, Strings{"h2"}) << "in the order of the first display";
    EXPECT_EQ(r.pathVC->groupKey, "h2");
    r.releaseSlider(100);  // "50MB"
    EXPECT_TRUE(r.keys.empty());
    EXPECT_FALSE(results.hidden(ScannerResultViewController::kNothingView).value_or(true));
    r.releaseSlider(0);
    EXPECT_EQ(r.keys, (Strings{"h2", "h3", "h1"}));
    EXPECT_TRUE(results.hidden(ScannerResultViewController::kNothingView).value_or(false));
}

TEST_F(ScannerResultTest, RowActionsCheckAndReveal) {
    ScannerResultViewController r(&results, &group);
    r.setResults({{"h", groupOf(60000, {"/d/x", "/d/y", "/d/z"})}}, {"h"});
    auto& center = hvn::NotificationCenter::defaultCenter();
    center.post(kTableRowActionNotName, {},
                hvn::Value(hvn::Dictionary{
                    {"type", hvn::Value("check")}, {"row", hvn::Value(0)}, {"state", hvn::Value("1")}}));
    center.post(kTableRowActionNotName, {},
                hvn::Value(hvn::Dictionary{
                    {"type", hvn::Value("check")}, {"row", hvn::Value("2")}, {"state", hvn::Value("0")}}));
    EXPECT_EQ(r.pathVC->checkSelectedDic, (hvn::Dictionary{{"0", hvn::Value("1")}, {"1", hvn::Value("1")}}));
    center.post(kTableRowActionNotName, {},
                hvn::Value(hvn::Dictionary{{"type", hvn::Value("goto")}, {"row", hvn::Value(1)}}));
    EXPECT_EQ(group.text(ResultPathViewController::kRevealedPath), r.pathVC->list[1]);
    center.post(kTableRowActionNotName, {},
                hvn::Value(hvn::Dictionary{
                    {"type", hvn::Value("check")}, {"row", hvn::Value(7)}, {"state", hvn::Value("1")}}));
    EXPECT_EQ(r.pathVC->checkSelectedDic.size(), 2u) << "a row outside the list is ignored";
}

}  // namespace
