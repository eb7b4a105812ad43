#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNAppLeftoverCleanner.h"
#include "Platform/FileManager.h"
#include "Platform/Workspace.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

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

HVNAppItemPtr application(const std::string& name, const std::string& bundleID,
                          const std::string& executable) {
    auto item = std::make_shared<HVNAppItem>();
    item->name = name;
    item->bundleID = bundleID;
    item->executableString = executable;
    item->path = "/Applications/" + name + ".app";
    return item;
}

class LeftoverTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        hvn::Workspace::setRunningApplicationsForTesting(std::vector<hvn::Workspace::RunningApplication>{});
    }
    void TearDown() override { hvn::Workspace::setRunningApplicationsForTesting(std::nullopt); }

    std::string prefs(const std::string& name) const { return roots.home() + "/Library/Preferences/" + name; }
    std::string systemPrefs(const std::string& name) const {
        return roots.root() + "/Library/Preferences/" + name;
    }

    // The scan over the given rows; the names of what it offers, in order.
    std::vector<std::string> scan(const HVNAppItemList& apps,
                                  std::vector<std::string> rows = {"Library/Preferences"},
                                  HVNNodeList* nodes = nullptr) {
        Recorder rec;
        HVNAppLeftoverCleanner op(&rec, std::move(rows));
        op.setApplications(apps);
        op.main();
        EXPECT_EQ(rec.calls, 1);
        EXPECT_EQ(rec.module, 16);
        std::vector<std::string> names;
        for (const auto& n : rec.results) names.push_back(n->name());
        if (nodes) *nodes = rec.results;
        return names;
    }

    const HVNAppItemList someApp{application("Other", "com.other.Thing", "Thing")};
};

}  // namespace

TEST_F(LeftoverTest, UnclaimedReverseDomainNamesAreOfferedWithTheirDetails) {
    const std::string tool = roots.writeFile(prefs("com.example.tool.plist"), std::string(321, 'x'));
    roots.writeFile(systemPrefs("org.example.daemon.plist"), "x");
    roots.writeFile(prefs("net.example.Folder/inside.plist"), "x");

    HVNNodeList nodes;
    // The system folder is listed first (the stack takes the last folder first).
    EXPECT_EQ(scan(someApp, {"Library/Preferences"}, &nodes),
              (std::vector<std::string>{"org.example.daemon.plist", "com.example.tool.plist",
                                        "net.example.Folder"}));
    const auto& node = nodes[1];
    EXPECT_EQ(node->dirPath(), roots.home() + "/Library/Preferences");
    EXPECT_EQ(node->filePath(), tool);
    EXPECT_EQ(node->fileSize, 321);
    EXPECT_EQ(node->icon, tool);
    EXPECT_EQ(node->isCheck, 1);
    auto folder = hvn::FileManager::attributesOfItemAtPath(node->dirPath());
    ASSERT_TRUE(node->foundIn && folder);
    EXPECT_EQ(*node->foundIn, (hvn::FileIdentity{folder->device, folder->inode}));

    // The piece "tool" of com.example.Tool claims it, whatever the case; so does a name
    // containing the identifier or the executable name.
    HVNAppItemList apps = someApp;
    apps.push_back(application("Tool", "com.example.Tool", "ToolExe"));
    apps.push_back(application("Daemon Helper", "org.example.daemon", ""));
    apps.push_back(application("Folders", "", "net.example.Folder"));
    EXPECT_TRUE(scan(apps).empty());
}

TEST_F(LeftoverTest, AppleDotAndListedNamesAreNeverOffered) {
    roots.writeFile(prefs("com.apple.finder.plist"), "x");
    roots.writeFile(prefs("org.thing.COM.APPLE.helper.plist"), "x");
    roots.writeFile(prefs(".com.hidden.plist"), "x");
    roots.writeFile(prefs("org.postgresql.postgres.plist"), "x");
    roots.writeFile(prefs("org.cups.printers.plist"), "x");
    roots.writeFile(prefs("net.Corvane.Halvorn.plist"), "x");
    roots.writeFile(prefs("Com.example.capital.plist"), "x");  // the prefix is case-sensitive
    EXPECT_TRUE(scan(someApp).empty());
}

TEST_F(LeftoverTest, PlainFoldersAreWalkedUnlessClaimed) {
    roots.writeFile(prefs("Stuff/com.stuffmaker.a.plist"), "x");
    roots.writeFile(prefs("Stuff/plain.plist"), "x");
    roots.writeFile(prefs("Tool/com.zzz.b.plist"), "x");
    roots.writeFile(prefs("loose.plist"), "x");
    HVNAppItemList apps = someApp;
    apps.push_back(application("Tool", "com.example.Tool", "ToolExe"));
    EXPECT_EQ(scan(apps), std::vector<std::string>{"com.stuffmaker.a.plist"});

    HVNAppLeftoverCleanner op(nullptr, {});
    EXPECT_TRUE(op.matchAppNameWithFile("tool", apps));  // "Tool" contains "tool"
    EXPECT_FALSE(op.matchAppNameWithFile("toolbox", apps));
    EXPECT_TRUE(op.matchAppNameWithFile("org.unrelated.THING", apps));  // piece "thing" of com.other.Thing
    op.cancel();
    EXPECT_FALSE(op.matchAppNameWithFile("tool", apps));
}

TEST_F(LeftoverTest, CrashReportsOfTheUsersAreOfferedByAnyName) {
    roots.writeFile(roots.home() + "/Library/Logs/CrashReporter/Widget_2024-01-01.crash", "x");
    roots.writeFile(roots.home() + "/Library/Logs/CrashReporter/Thing_2024-01-01.crash", "x");
    roots.makeDir(roots.home() + "/Library/Logs/CrashReporter/Reports");
    roots.writeFile(roots.root() + "/Library/Logs/CrashReporter/System_2024.crash", "x");
    // A plainly named folder there is offered and walked.
    EXPECT_EQ(scan(someApp, {"Library/Logs/CrashReporter"}),
              (std::vector<std::string>{"Reports", "Widget_2024-01-01.crash"}));

    HVNAppLeftoverCleanner op(nullptr, {"/Library/Logs/CrashReporter", "~/Library/Preferences", "/"});
    EXPECT_EQ(op.getAppLeftOverPathes(),
              (std::vector<std::string>{
                  roots.home() + "/Library/Logs/CrashReporter", roots.root() + "/Library/Logs/CrashReporter",
                  roots.home() + "/Library/Preferences", roots.root() + "/Library/Preferences"}));
}

TEST_F(LeftoverTest, WithoutKnownApplicationsNothingIsOffered) {
    roots.writeFile(prefs("com.example.tool.plist"), "x");
    hvn::test::LogLines log;
    EXPECT_TRUE(scan({}).empty());
    EXPECT_TRUE(log.contains("no installed application is known"));
}

TEST_F(LeftoverTest, AnApplicationWithoutIdentityHoldsTheNamesThatMayBeItsOwn) {
    roots.writeFile(prefs("com.example.ToolBox.plist"), "x");
    roots.writeFile(prefs("com.toolbox.helper.plist"), "x");
    roots.writeFile(prefs("Tool-Box Data/com.inner.x.plist"), "x");
    roots.writeFile(prefs("com.example.unrelated.plist"), "x");
    HVNAppItemList apps = someApp;
    apps.push_back(application("Tool Box", "", ""));
    EXPECT_EQ(scan(apps), std::vector<std::string>{"com.example.unrelated.plist"});
    EXPECT_TRUE(HVNAppLeftoverCleanner::isOwnerUndecidable("COM.TOOL_BOX.X", apps));
    EXPECT_FALSE(HVNAppLeftoverCleanner::isOwnerUndecidable("com.example.ToolBox.plist", someApp));
}

TEST_F(LeftoverTest, LinksAreNeitherOfferedNorWalked) {
    const std::string target = roots.writeFile(roots.base() + "/outside/com.victim.data.plist", "x");
    roots.writeFile(roots.base() + "/outside/folder/com.deeper.plist", "x");
    roots.makeDir(prefs(""));
    ASSERT_EQ(symlink(target.c_str(), prefs("com.example.link.plist").c_str()), 0);
    ASSERT_EQ(symlink((roots.base() + "/outside/folder").c_str(), prefs("Linked").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", prefs("com.example.broken.plist").c_str()), 0);
    EXPECT_TRUE(scan(someApp).empty());
    EXPECT_TRUE(hvn::FileManager::fileExistsAtPath(target));
}

TEST_F(LeftoverTest, RunningApplicationsClaimTheirFiles) {
    roots.writeFile(prefs("com.running.Daemon.plist"), "x");
    roots.writeFile(prefs("com.stopped.Thing2.plist"), "x");
    hvn::Workspace::RunningApplication running;
    running.pid = 42;
    running.bundleIdentifier = "com.running.Daemon";
    running.bundlePath = "/opt/Daemon.app";
    running.executablePath = "/opt/Daemon.app/Contents/MacOS/daemond";
    hvn::Workspace::setRunningApplicationsForTesting(
        std::vector<hvn::Workspace::RunningApplication>{running});
    EXPECT_EQ(scan({application("Other", "com.other.Widget", "Widget")}),
              std::vector<std::string>{"com.stopped.Thing2.plist"});
}

TEST_F(LeftoverTest, ACancelledScanReportsNothing) {
    roots.writeFile(prefs("com.example.tool.plist"), "x");
    Recorder rec;
    HVNAppLeftoverCleanner op(&rec, {"Library/Preferences"});
    op.setApplications(someApp);
    op.cancel();
    op.scanAppLeftOver();
    EXPECT_EQ(rec.calls, 0);
}
