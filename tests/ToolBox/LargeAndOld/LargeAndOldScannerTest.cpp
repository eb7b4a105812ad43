#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeAndOldFileScanner.h"

#include <gtest/gtest.h>

#include <set>

#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeAndOldVC.h"
#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeFileRemoval.h"
#include "LargeTestSupport.h"
#include "Platform/NotificationCenter.h"

namespace {

using hvn::test::makeSizedFile;

class Recorder : public HVNLargeAndOldFileScannerDelegate {
public:
    void resetProgressSpeed() override { ++resets; }
    void didEndScanObj(const HVNScaneOuputObjectPtr& f) override { ended.push_back(f); }
    void cancelScan(const HVNScaneOuputObjectPtr& f) override {
        cancelled.push_back(f);
        ++cancels;
    }
    int resets = 0, cancels = 0;
    HVNNodeList ended, cancelled;
};

class LargeAndOldScannerTest : public hvn::test::LargeToolTest {
protected:
    std::set<std::string> paths(const HVNNodeList& list) {
        std::set<std::string> out;
        for (const auto& e : list) out.insert(e->filePath());
        return out;
    }
    // Scans one folder to its end through the main loop.
    HVNScaneOuputObjectPtr scan(const std::string& dir) {
        auto folder = HVNLargeAndOldVC::folderEntry(dir);
        scanner.startScanObj(folder, HVNLargeAndOldFileScanner::kDefaultLimitSize);
        EXPECT_TRUE(runUntil([&] { return !recorder.ended.empty(); }));
        return folder;
    }
    void writeBundle(const std::string& app, const std::string& identifier, int64_t size) {
        roots.writeFile(app + "/Contents/Info.plist",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                        "<key>CFBundleIdentifier</key><string>" +
                            identifier + "</string></dict></plist>\n");
        makeSizedFile(app + "/Contents/Resources/payload", size);
    }

    void SetUp() override {
        LargeToolTest::SetUp();
        scanner.delegate = &recorder;
    }
    Recorder recorder;
    HVNLargeAndOldFileScanner scanner;
};

TEST_F(LargeAndOldScannerTest, FindsFilesStrictlyAboveTheThresholdWithTheirAttributes) {
    const std::string dir = roots.home() + "/Big";
    makeSizedFile(dir + "/exact.bin", 50000000);
    std::string above = makeSizedFile(dir + "/deep/er/above.iso", 50000001, 3 * 86400);
    makeSizedFile(dir + "/small.zip", 1000);
    auto folder = scan(dir);

    ASSERT_EQ(scanner.scanOutObjs.size(), 1u) << "exactly 50,000,000 bytes is never found";
    const auto& e = scanner.scanOutObjs[0];
    EXPECT_EQ(e->filePath(), above);
    EXPECT_EQ(e->name(), "above.iso");
    EXPECT_EQ(e->fileSize, 50000001);
    EXPECT_EQ(e->firstNameword, "A");
    EXPECT_EQ(e->icon, above);
    EXPECT_FALSE(e->isDir);
    EXPECT_EQ(e->isCheck, 0);
    ASSERT_TRUE(e->accessDate);
    EXPECT_NEAR(hvn::Date::now().secondsSince1970 - e->accessDate->secondsSince1970, 3 * 86400.0, 5);
    EXPECT_TRUE(HVNLargeFileRemoval::listingOf(*e)) << "what was listed is noted for the removal";
    EXPECT_EQ(scanner.outdataInfo[folder], scanner.scanOutObjs);
    EXPECT_EQ(recorder.resets, 1);
    ASSERT_EQ(recorder.ended.size(), 1u);
    EXPECT_EQ(recorder.ended[0], folder);
    EXPECT_EQ(scanner.scanSize.load(), 50000001);
}

TEST_F(LargeAndOldScannerTest, BundlesOfTheSystemVendorAreNeverListedOthersAre) {
    const std::string dir = roots.home() + "/Apps";
    writeBundle(dir + "/Mail.app", "com.apple.mail", 60000000);
    writeBundle(dir + "/Tool.app", "org.example.tool", 60000000);
    writeBundle(dir + "/Bare.app", "", 60000000);
    scan(dir);
    std::set<std::string> found = paths(scanner.scanOutObjs);
    EXPECT_EQ(found.count(dir + "/Mail.app"), 0u);
    EXPECT_EQ(found.count(dir + "/Tool.app"), 1u);
    EXPECT_EQ(found.count(dir + "/Bare.app"), 1u);
}

TEST_F(LargeAndOldScannerTest, AMissingFolderEndsWithNothing) {
    scan(roots.home() + "/does-not-exist");
    EXPECT_TRUE(scanner.scanOutObjs.empty());
    EXPECT_EQ(recorder.ended.size(), 1u);
}

TEST_F(LargeAndOldScannerTest, ProgressNamesTheFolderAndTheLastFileFound) {
    const std::string dir = roots.home() + "/Big";
    std::string file = makeSizedFile(dir + "/one.dmg", 70000000);
    std::vector<std::pair<HVNScaneOuputObjectPtr, std::string>> updates;
    hvn::ObservationToken token(hvn::NotificationCenter::defaultCenter().addObserver(
        kUpdateLargeAndOldFilePathNotification, [&](const hvn::Notification& n) {
            const auto* u = std::any_cast<HVNLargeAndOldPathUpdate>(&n.object);
            ASSERT_TRUE(u);
            ASSERT_EQ(u->size(), 1u);
            updates.emplace_back(u->begin()->first, u->begin()->second);
        }));
    auto folder = scan(dir);
    ASSERT_FALSE(updates.empty());
    EXPECT_EQ(updates.back().first, folder);
    EXPECT_EQ(updates.back().second, file);
}

TEST_F(LargeAndOldScannerTest, StoppingKeepsWhatWasFoundAndDropsTheQueuedEnd) {
    const std::string dir = roots.home() + "/Big";
    makeSizedFile(dir + "/a.bin", 60000000);
    makeSizedFile(dir + "/b.bin", 70000000);
    auto folder = HVNLargeAndOldVC::folderEntry(dir);
    scanner.curScanobj = folder;
    scanner.queryFiles(folder);
    scanner.query->waitUntilFinished();  // the end is queued on the loop, not yet handled

    scanner.cancel.store(true);
    scanner.cancelScan();
    EXPECT_TRUE(recorder.cancelled.empty()) << "the delegate hears of it later, on the loop";
    runUntil([&] { return recorder.cancels > 0; });
    hvn::RunLoop::main().runPending();
    ASSERT_EQ(recorder.cancelled.size(), 1u);
    EXPECT_EQ(recorder.cancelled[0], folder);
    EXPECT_EQ(scanner.scanOutObjs.size(), 2u);
    EXPECT_EQ(scanner.outdataInfo[folder].size(), 2u);
    EXPECT_TRUE(recorder.ended.empty()) << "a stopped folder does not also end";
}

TEST_F(LargeAndOldScannerTest, CleanupAndClearEmptyTheListsAndForgetTheListings) {
    const std::string dir = roots.home() + "/Big";
    makeSizedFile(dir + "/a.bin", 60000000);
    makeSizedFile(dir + "/b.bin", 70000000);
    auto folder = scan(dir);
    ASSERT_EQ(scanner.scanOutObjs.size(), 2u);
    auto first = scanner.scanOutObjs[0];
    auto second = scanner.scanOutObjs[1];
    scanner.cleanupObjs({first});
    EXPECT_EQ(scanner.scanOutObjs, HVNNodeList{second});
    EXPECT_EQ(scanner.outdataInfo[folder], HVNNodeList{second});
    EXPECT_FALSE(HVNLargeFileRemoval::listingOf(*first));
    EXPECT_TRUE(HVNLargeFileRemoval::listingOf(*second));
    scanner.clearResults();
    EXPECT_TRUE(scanner.scanOutObjs.empty());
    EXPECT_TRUE(scanner.outdataInfo.empty());
    EXPECT_FALSE(HVNLargeFileRemoval::listingOf(*second));
}

}  // namespace
