// The disk permission tool over a scripted stand-in for the disk utility (and over the
// bundle's real one), and the disk verify operation's node and date rules.
#include "HVN/Code/ToolBox/DiskPermissionsTool/DiskPermissionsTool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "HVN/Code/Clearer/HVNDiskVerifyOperation.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/PropertyList.h"
#include "Platform/UserDefaults.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;

namespace {

constexpr double kDay = 86400;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Recorder : HVNScanResultDelegate {
    std::vector<std::pair<HVNNodeList, int32_t>> calls;
    void finishScan(HVNNodeList results, int32_t moudle) override {
        calls.emplace_back(std::move(results), moudle);
    }
};

class DiskPermissionsToolTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        hvn::UserDefaults::standardUserDefaults().reload();
        // A folder name that a shell would take apart.
        dir_ = roots.makeDir(roots.base() + "/fake utility $(touch injected)");
        setIdentifier("fake0s1");
    }

    void setIdentifier(const std::string& identifier) {
        hvn::Dictionary info{{"DeviceIdentifier", identifier}, {"MountPoint", "/"}};
        roots.writeFile(dir_ + "/info.plist", hvn::PropertyList::serialize(hvn::Value(info)));
    }

    // A utility whose verbs other than "info" run `body` (sh); each run writes its
    // arguments, one per line, to args.<verb> beside it.
    std::string utility(const std::string& body) {
        const std::string path = dir_ + "/diskutil";
        roots.writeFile(path,
                        "#!/bin/sh\n"
                        "D=$(dirname \"$0\")\n"
                        "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$D/args.$1\"\n"
                        "if [ \"$1\" = info ]; then cat \"$D/info.plist\"; exit 0; fi\n" +
                            body + "\n");
        ::chmod(path.c_str(), 0755);
        return path;
    }
    // A utility that prints the text and exits with the status.
    std::string printing(const std::string& text, int status = 0) {
        roots.writeFile(dir_ + "/out", text);
        return utility("cat \"$D/out\"\nexit " + std::to_string(status));
    }

    bool ran(const std::string& verb) const { return fs::exists(dir_ + "/args." + verb); }
    std::vector<std::string> args(const std::string& verb) const {
        std::vector<std::string> out;
        std::istringstream in(slurp(dir_ + "/args." + verb));
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }

    static void setLastCheck(std::optional<double> secondsAgo) {
        hvn::Value v;
        if (secondsAgo) v = hvn::Value(hvn::Date{hvn::Date::now().secondsSince1970 - *secondsAgo});
        ASSERT_TRUE(HVNCommonFunction::changeSettingValue(v, DiskPermissionsTool::kLastDiskCheckDateKey));
    }
    static hvn::Value lastCheck() {
        return HVNCommonFunction::getSettingValueByKey(DiskPermissionsTool::kLastDiskCheckDateKey);
    }

    // Waits (without a clock) until the running utility has printed `text`, then stops it.
    static std::thread stopWhenPrinted(DiskPermissionsTool& tool, const std::string& text) {
        return std::thread([&tool, text] {
            while (tool.issueStr().find(text) == std::string::npos) std::this_thread::yield();
            tool.stop();
        });
    }

    std::string dir_;
};

TEST_F(DiskPermissionsToolTest, IdentifierComesFromThePipeAndCommandsGetAnArgumentVector) {
    setIdentifier("disk0s2; touch \"$D/pwned\" #");
    roots.writeFile(roots.home() + "/1.plist", "mine");
    DiskPermissionsTool tool(printing(""));
    EXPECT_EQ(tool.deskIdentifier(), "disk0s2; touch \"$D/pwned\" #");
    EXPECT_EQ(args("info"), (std::vector<std::string>{"info", "-plist", "/"}));

    tool.verifyDiskPermission();
    EXPECT_EQ(args("verifyPermissions"),
              (std::vector<std::string>{"verifyPermissions", tool.deskIdentifier()}));
    EXPECT_FALSE(fs::exists(dir_ + "/pwned"));
    EXPECT_FALSE(fs::exists(roots.base() + "/injected"));
    EXPECT_FALSE(fs::exists("injected"));
    // The user's own ~/1.plist is neither read, replaced nor removed.
    EXPECT_EQ(slurp(roots.home() + "/1.plist"), "mine");
}

TEST_F(DiskPermissionsToolTest, ProblemLinesFollowTheLineCount) {
    struct Case {
        std::string output;
        bool issue;
        std::string problems;
        int64_t count;
    };
    const std::vector<Case> cases = {
        {"", false, "", 0},
        {"Started\nDone\n", false, "", 0},
        {"Started\nP1\nDone", false, "", 0},  // three pieces: no final line feed
        {"Started\nP1\nDone\n", true, "P1\n", 1},
        {"Started\nP1\nP2\nP3\nDone\n", true, "P1\nP2\nP3\n", 3},
        {"Started\nP1\n\nDone\n", true, "P1\n\n", 2},
    };
    for (const Case& c : cases) {
        DiskPermissionsTool tool(printing(c.output));
        EXPECT_TRUE(tool.verifyDiskPermission()) << c.output;
        EXPECT_EQ(tool.issue(), c.issue) << c.output;
        EXPECT_EQ(tool.issueStr(), c.problems) << c.output;
        EXPECT_EQ(tool.issueCount(), c.count) << c.output;
    }
}

TEST_F(DiskPermissionsToolTest, AQuestionIsAnsweredAndNotCounted) {
    DiskPermissionsTool tool(
        utility("printf 'Verify the disk? (y/N) '\n"
                "read answer\n"
                "printf '%s' \"$answer\" > \"$D/answer\"\n"
                "printf 'Started\\nP1\\nDone\\n'"));
    EXPECT_TRUE(tool.verifyDiskPermission());
    EXPECT_EQ(slurp(dir_ + "/answer"), "y");
    EXPECT_TRUE(tool.issue());
    EXPECT_EQ(tool.issueCount(), 1);
    EXPECT_EQ(tool.issueStr(), "P1\n");
}

TEST_F(DiskPermissionsToolTest, AQuestionSplitAcrossPiecesIsStillRecognised) {
    DiskPermissionsTool tool(printing(""));
    tool.receivedData("Started\nRepair? (y/");
    EXPECT_EQ(tool.issueStr(), "Started\n");
    tool.receivedData("N) ");
    tool.receivedData("P1\nDo");
    tool.receivedData("ne\n");
    EXPECT_EQ(tool.issueStr(), "Started\nP1\nDone\n");
}

TEST_F(DiskPermissionsToolTest, AFailingOrMissingUtilityIsNoProblemButNoCompleteCheck) {
    DiskPermissionsTool failing(printing("Started\nP1\n", 3));
    EXPECT_FALSE(failing.verifyDiskPermission());
    EXPECT_FALSE(failing.issue());
    EXPECT_EQ(failing.issueCount(), 0);

    DiskPermissionsTool missing(roots.base() + "/no-such-utility");
    EXPECT_EQ(missing.deskIdentifier(), "");
    EXPECT_FALSE(missing.verifyDiskPermission());
    EXPECT_FALSE(missing.issue());
    EXPECT_FALSE(missing.repairDiskPermission());
}

TEST_F(DiskPermissionsToolTest, StopEndsARunningVerification) {
    DiskPermissionsTool tool(utility("printf 'Started\\n'\nsleep 30 &\nwait\nprintf 'P1\\nP2\\nDone\\n'"));
    bool asked = false;
    EXPECT_FALSE(tool.verifyDiskPermission([&] {
        asked = true;
        return tool.issueStr().find("Started") != std::string::npos;
    }));
    EXPECT_TRUE(asked);
    EXPECT_TRUE(tool.isStopped());
    EXPECT_FALSE(tool.issue());
    // The next command clears the flag.
    utility("printf 'Started\\nDone\\n'");
    EXPECT_TRUE(tool.verifyDiskPermission());
    EXPECT_FALSE(tool.isStopped());
}

class RepairTest : public DiskPermissionsToolTest {
protected:
    std::string repairingUtility(const std::string& afterAnswer = "") {
        return utility(
            "printf 'Repair permissions on disk %s? (y/N) ' \"$2\"\n"
            "read answer\n"
            "printf '%s' \"$answer\" > \"$D/answer\"\n"
            "[ \"$answer\" = y ] || exit 1\n"
            "printf 'Started repair permissions on disk %s\\n' \"$2\"\n" +
            afterAnswer + "\nprintf 'Permissions repair complete\\n'");
    }
};

TEST_F(RepairTest, ARepairAnswersClearsTheIssueAndStoresTheDate) {
    setLastCheck(10 * kDay);
    DiskPermissionsTool tool(repairingUtility());
    tool.setIssue(true);
    const double before = hvn::Date::now().secondsSince1970;
    EXPECT_TRUE(tool.repairDiskPermission());
    EXPECT_EQ(slurp(dir_ + "/answer"), "y");
    EXPECT_FALSE(tool.issue());
    ASSERT_TRUE(lastCheck().isDate());
    EXPECT_GE(lastCheck().asDate().secondsSince1970, before - 1);
    EXPECT_EQ(tool.issueStr(), "Started repair permissions on disk fake0s1\nPermissions repair complete\n");
    EXPECT_FALSE(fs::exists(roots.home() + "/1.plist"));
}

TEST_F(RepairTest, AStoppedOrFailedRepairLeavesTheIssueAndTheDate) {
    setLastCheck(10 * kDay);
    const hvn::Value date = lastCheck();
    {
        DiskPermissionsTool tool(repairingUtility("sleep 30 &\nwait"));
        tool.setIssue(true);
        std::thread stopper = stopWhenPrinted(tool, "Started");
        EXPECT_FALSE(tool.repairDiskPermission());
        stopper.join();
        EXPECT_TRUE(tool.issue());
        EXPECT_EQ(lastCheck(), date);
    }
    {
        DiskPermissionsTool tool(utility("printf 'Repair? (y/N) '\nread answer\nexit 2"));
        tool.setIssue(true);
        EXPECT_FALSE(tool.repairDiskPermission());
        EXPECT_TRUE(tool.issue());
        EXPECT_EQ(lastCheck(), date);
    }
}

TEST_F(RepairTest, StartRepairReturnsAtOnceAndTheNextCommandWaitsForIt) {
    DiskPermissionsTool tool(repairingUtility("printf 'R1\\n'"));
    ASSERT_TRUE(tool.startRepair());
    // execDiscCommand waits for the repair first, then runs (and waits for) its own command.
    EXPECT_TRUE(tool.execDiscCommand("repairPermissions", false));
    EXPECT_EQ(slurp(dir_ + "/answer"), "y");
    EXPECT_EQ(tool.issueStr(),
              "Started repair permissions on disk fake0s1\nR1\nPermissions repair complete\n");
}

// --- The scan operation ---

class DiskVerifyOperationTest : public DiskPermissionsToolTest {
protected:
    HVNNodeList runOperation(DiskPermissionsTool& tool, bool cancelFirst = false) {
        HVNDiskVerifyOperation op(&delegate, &flag, &tool);
        if (cancelFirst) op.cancel();
        op.main();
        if (delegate.calls.empty()) return {};
        EXPECT_EQ(delegate.calls.size(), 1u);
        EXPECT_EQ(delegate.calls[0].second, 19);
        return delegate.calls[0].first;
    }
    Recorder delegate;
    std::atomic<bool> flag{true};
};

TEST_F(DiskVerifyOperationTest, NoCheckWithinAWeek) {
    setLastCheck(6 * kDay);
    const hvn::Value date = lastCheck();
    DiskPermissionsTool tool(printing("Started\nP1\nDone\n"));
    HVNNodeList nodes = runOperation(tool);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_FALSE(ran("verifyPermissions"));
    EXPECT_EQ(nodes[0]->moulde, 19);
    EXPECT_EQ(nodes[0]->name(), "");
    EXPECT_FALSE(nodes[0]->hasIssue);
    EXPECT_EQ(nodes[0]->issueCount, 0);
    EXPECT_EQ(nodes[0]->isCheck.load(), 0);
    EXPECT_FALSE(flag.load());
    EXPECT_EQ(lastCheck(), date);
}

TEST_F(DiskVerifyOperationTest, ProblemsAreReportedAndKeepTheCheckDue) {
    DiskPermissionsTool tool(printing("Started\nP1\nP2\nDone\n"));
    HVNNodeList nodes = runOperation(tool);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0]->name(), "P1\nP2\n");
    EXPECT_TRUE(nodes[0]->hasIssue);
    EXPECT_EQ(nodes[0]->issueCount, 2);
    EXPECT_EQ(nodes[0]->isCheck.load(), 1);
    EXPECT_TRUE(flag.load());
    EXPECT_TRUE(lastCheck().isNull());
    EXPECT_TRUE(HVNCommonFunction::shouldCheckDisk());
}

TEST_F(DiskVerifyOperationTest, ACleanCheckStoresTheDate) {
    setLastCheck(8 * kDay);
    DiskPermissionsTool tool(printing("Started\nDone\n"));
    const double before = hvn::Date::now().secondsSince1970;
    HVNNodeList nodes = runOperation(tool);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0]->name(), "");
    EXPECT_FALSE(nodes[0]->hasIssue);
    EXPECT_EQ(nodes[0]->isCheck.load(), 1);
    EXPECT_FALSE(flag.load());
    ASSERT_TRUE(lastCheck().isDate());
    EXPECT_GE(lastCheck().asDate().secondsSince1970, before - 1);
    EXPECT_FALSE(HVNCommonFunction::shouldCheckDisk());
}

TEST_F(DiskVerifyOperationTest, AFailedCheckIsNoProblemButStoresNoDate) {
    DiskPermissionsTool tool(printing("", 3));
    HVNNodeList nodes = runOperation(tool);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_FALSE(nodes[0]->hasIssue);
    EXPECT_EQ(nodes[0]->isCheck.load(), 1);
    EXPECT_TRUE(lastCheck().isNull());
}

TEST_F(DiskVerifyOperationTest, CancellingReportsNothingAndStopsTheUtility) {
    DiskPermissionsTool first(printing("Started\nDone\n"));
    EXPECT_TRUE(runOperation(first, true).empty());
    EXPECT_FALSE(ran("verifyPermissions"));

    DiskPermissionsTool tool(utility("printf 'Started\\n'\nsleep 30 &\nwait\nprintf 'P1\\nDone\\n'"));
    HVNDiskVerifyOperation op(&delegate, &flag, &tool);
    std::thread canceller([&] {
        while (tool.issueStr().find("Started") == std::string::npos) std::this_thread::yield();
        op.cancel();
    });
    op.main();
    canceller.join();
    EXPECT_TRUE(delegate.calls.empty());
    EXPECT_TRUE(tool.isStopped());
    EXPECT_TRUE(flag.load());  // untouched
    EXPECT_TRUE(lastCheck().isNull());
}

// --- Over the bundle's own utility ---

TEST_F(DiskPermissionsToolTest, TheBundlesUtilityVerifiesAndRepairsTheHome) {
    const std::string open = roots.writeFile(roots.home() + "/open.txt", "x");
    ::chmod(open.c_str(), 0666);
    DiskPermissionsTool tool(std::string(HALVORN_TEST_BUNDLE) + "/Contents/MacOS/diskutil");
    EXPECT_FALSE(tool.deskIdentifier().empty());
    EXPECT_TRUE(tool.verifyDiskPermission());
    EXPECT_TRUE(tool.issue());
    EXPECT_EQ(tool.issueCount(), 1);
    EXPECT_EQ(tool.issueStr(),
              "Permissions differ on \"" + open + "\"; should be -rw-rw-r-- ; they are -rw-rw-rw- .\n");

    EXPECT_TRUE(tool.repairDiskPermission());
    EXPECT_FALSE(tool.issue());
    struct stat st {};
    ASSERT_EQ(::stat(open.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_TRUE(lastCheck().isDate());
    EXPECT_FALSE(fs::exists(roots.home() + "/1.plist"));
}

}  // namespace
