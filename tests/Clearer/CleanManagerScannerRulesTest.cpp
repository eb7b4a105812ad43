// The clean rules of the language files, the photo library, the universal binaries, the
// broken login items and the disk check, through the clean manager with fake services.
#include <gtest/gtest.h>

#include <filesystem>

#include "Clearer/CleanManagerTestSupport.h"
#include "HVN/Code/Clearer/HVNCleanManager.h"
#include "HVN/Code/Clearer/HVNModuleInfo.h"
#include "HVN/Code/Public/HVNCommonFunction.h"

using namespace hvn::test;
using M = HVNModuleInfo;
namespace fs = std::filesystem;

namespace {

bool exists(const std::string& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

class CleanManagerScannerRulesTest : public CleanManagerTestBase {
protected:
    // A language group with one application child of the given folders.
    HVNScaneOuputObjectPtr languageGroup(const std::string& app, const std::vector<std::string>& folders,
                                         int8_t check = 1) {
        auto child = makeNode(roots.home() + "/Applications", app, 10, check);
        child->removePaths = folders;
        auto group = makeNode("", "French", 10, check, {child});
        group->countryName = "fr";
        return group;
    }
    HVNScaneOuputObjectPtr photoNode(const std::string& name, int8_t check) {
        std::string master = homeFile("Lib/Masters/" + name, 20);
        std::string preview = homeFile("Lib/Previews/e/" + name, 5);
        auto node = makeNode("", name, 25, check);
        node->setFilePath(master);
        node->prePath = preview;
        return node;
    }
    HVNScaneOuputObjectPtr diskCheckNode(int8_t check) {
        auto node = makeNode("", "problem\n", 0, check);
        node->moulde = M::DiskCheck;
        node->hasIssue = true;
        node->issueCount = 1;
        return node;
    }
    void enableDiskCheck() {
        hvn::Array d{hvn::Value("Disk Check")};
        HVNCommonFunction::changeSettingValue(hvn::Value(d), "DiskCleanModules");
    }
};

TEST_F(CleanManagerScannerRulesTest, LanguageEntryLeavesOnceOneFolderWentAndTheFailedOneIsHandedOn) {
    auto& m = makeManager();
    std::string fr = homeFile("Applications/A.app/Contents/Resources/fr.lproj/x");
    std::string frFramework = homeFile("Applications/A.app/Contents/Frameworks/F/fr.lproj/y");
    std::string frDir = fs::path(fr).parent_path().string();
    std::string frFrameworkDir = fs::path(frFramework).parent_path().string();
    std::string kept = homeFile("Applications/B.app/Contents/Resources/fr.lproj/z");
    std::string keptDir = fs::path(kept).parent_path().string();
    auto group = languageGroup("A.app", {frDir, frFrameworkDir});
    auto unticked = languageGroup("B.app", {keptDir}, 0);
    m.scanDisk->setData({{M::LanguageFiles, {group, unticked}}});
    removal.failing = {frFrameworkDir};

    m.clearDiskFile();
    EXPECT_FALSE(exists(frDir));
    EXPECT_TRUE(exists(keptDir));
    ASSERT_EQ(removal.batches.size(), 1u);
    EXPECT_EQ(removal.batches[0], std::vector<std::string>{frFrameworkDir});
    // The application left its language (one folder went); the emptied language left too.
    EXPECT_EQ(*m.scanDiskResultArray(M::LanguageFiles), HVNNodeList{unticked});
}

TEST_F(CleanManagerScannerRulesTest, OnlyTickedPicturesAreReplacedAndAFailureKeepsTheMaster) {
    auto& m = makeManager();
    auto ticked = photoNode("a.jpg", 1), unticked = photoNode("b.jpg", 0), failing = photoNode("c.jpg", 1);
    removal.failing = {failing->filePath()};
    m.scanDisk->setData({{M::IPhoto, {ticked, unticked, failing}}});

    m.clearDiskFile();
    EXPECT_EQ(removal.replaced.size(), 1u);
    EXPECT_FALSE(exists(*ticked->prePath));
    EXPECT_EQ(fs::file_size(ticked->filePath()), 5u);  // the preview took the master's place
    EXPECT_EQ(fs::file_size(unticked->filePath()), 20u);
    EXPECT_TRUE(exists(*unticked->prePath));
    EXPECT_EQ(fs::file_size(failing->filePath()), 20u);
    EXPECT_TRUE(removal.batches.empty());  // a rename is not handed to another route
    EXPECT_EQ(*m.scanDiskResultArray(M::IPhoto), (HVNNodeList{unticked, failing}));
    EXPECT_EQ(m.lastCleanNotRemoved().count(failing->filePath()), 1u);
}

TEST_F(CleanManagerScannerRulesTest, BinariesAreThinnedInPlaceUnlessRefusedOrWithoutExecutable) {
    auto& m = makeManager();
    auto bundle = [&](const std::string& name, bool withExecutable) {
        std::string app = roots.home() + "/Applications/" + name + ".app";
        roots.writeFile(app + "/Contents/Info.plist",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                        "<key>CFBundleExecutable</key><string>" + name + "</string></dict></plist>");
        if (withExecutable) roots.writeFile(app + "/Contents/MacOS/" + name, "x");
        auto node = makeNode(roots.home() + "/Applications", name + ".app", 100, 1);
        return node;
    };
    auto thin = bundle("Thin", true), refused = bundle("Refused", true), none = bundle("None", false);
    auto unticked = bundle("Unticked", true);
    unticked->isCheck = 0;
    std::string refusedExe = roots.home() + "/Applications/Refused.app/Contents/MacOS/Refused";
    removal.thinRefusing = {refusedExe};
    m.scanDisk->setData({{M::UniversalBinaries, {thin, refused, none, unticked}}});

    m.clearDiskFile();
    ASSERT_EQ(removal.thinned.size(), 1u);
    EXPECT_EQ(removal.thinned[0].first, roots.home() + "/Applications/Thin.app/Contents/MacOS/Thin");
    EXPECT_EQ(removal.thinned[0].second, HVNCommonFunction::getPCArchitecture());
    ASSERT_EQ(removal.privilegedThins.size(), 1u);  // one call, here with nothing to thin
    EXPECT_TRUE(removal.privilegedThins[0].empty());
    EXPECT_EQ(*m.scanDiskResultArray(M::UniversalBinaries), (HVNNodeList{refused, none, unticked}));
    auto left = m.lastCleanNotRemoved();
    EXPECT_EQ(left.count(HVNCleanRules::pathOfNode(*refused)), 1u);
    EXPECT_EQ(left.count(HVNCleanRules::pathOfNode(*none)), 1u);
}

TEST_F(CleanManagerScannerRulesTest, BrokenLoginItemsLeaveTheListAndLaunchListsAreRemovedAsFiles) {
    auto& m = makeManager();
    auto loginNode = [](const std::string& name, int8_t check) {
        auto n = makeNode("", name, 0, check);
        n->isLogin = true;
        n->moulde = M::BrokenLoginItems;
        return n;
    };
    auto login = loginNode("Gone Helper", 1), stuck = loginNode("Stuck", 1), untickedLogin = loginNode("Other", 0);
    std::string plist = homeFile("Library/LaunchAgents/com.example.gone.plist");
    auto agent = makeNode(fs::path(plist).parent_path().string(), "com.example.gone.plist", 0, 1);
    removal.loginFailing = {"Stuck"};
    m.scanSystem->setData({{M::BrokenLoginItems, {login, stuck, untickedLogin, agent}}});

    m.clearSystemFile();
    EXPECT_EQ(removal.loginRemoved, std::vector<std::string>{"Gone Helper"});
    EXPECT_FALSE(exists(plist));
    EXPECT_EQ(*m.scanSystemResultArray(M::BrokenLoginItems), (HVNNodeList{stuck, untickedLogin}));
    EXPECT_EQ(m.lastCleanNotRemoved().count("Login item Stuck"), 1u);
}

TEST_F(CleanManagerScannerRulesTest, DiskCheckRepairsOnlyATickedFindingAfterTheDiskClean) {
    enableDiskCheck();
    auto& m = makeManager();
    removal.diskIssue = true;
    m.hasDickCheckIssue = true;
    m.scanDisk->setData({{M::DiskCheck, {diskCheckNode(0)}}});
    m.clearDiskFile();
    EXPECT_EQ(removal.repairs, 0);
    EXPECT_TRUE(m.hasDickCheckIssue.load());

    m.scanDisk->setData({{M::DiskCheck, {diskCheckNode(1)}}});
    m.clearInternetVirus(false, false, true, false);  // one-click care repairs too
    EXPECT_EQ(removal.repairs, 1);
    EXPECT_FALSE(m.hasDickCheckIssue.load());

    // A failed repair leaves the issue; a disabled disk check repairs nothing.
    removal.diskIssue = true;
    removal.repairResult = false;
    m.hasDickCheckIssue = true;
    m.clearDiskFile();
    EXPECT_EQ(removal.repairs, 2);
    EXPECT_TRUE(m.hasDickCheckIssue.load());
    HVNCommonFunction::changeSettingValue(hvn::Value(hvn::Array{}), "DiskCleanModules");
    m.clearDiskFile();
    EXPECT_EQ(removal.repairs, 2);

    m.clearStop();
    EXPECT_EQ(removal.diskStops, 1);
}

}  // namespace
