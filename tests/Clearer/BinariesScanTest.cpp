#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <any>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNLipo.h"
#include "HVN/Code/Clearer/HVNScanBinariesOperation.h"
#include "Platform/NotificationCenter.h"
#include "Platform/PropertyList.h"
#include "Support/LogLines.h"
#include "Support/MachOFixtures.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using namespace hvn::test;

namespace {

constexpr size_t kSlice = 4000;

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

class PathUpdates {
public:
    explicit PathUpdates(std::function<void(const std::string&)> hook = {}) : hook_(std::move(hook)) {
        token_ = hvn::NotificationCenter::defaultCenter().addObserver(
            kPathUpdateNotification, [this](const hvn::Notification& n) {
                const auto* p = std::any_cast<std::string>(&n.object);
                seen.push_back(p ? *p : "<not a string>");
                if (hook_) hook_(seen.back());
            });
    }
    ~PathUpdates() { hvn::NotificationCenter::defaultCenter().removeObserver(token_); }
    std::vector<std::string> seen;

private:
    std::function<void(const std::string&)> hook_;
    hvn::NotificationCenter::Token token_ = 0;
};

class BinariesScanTest : public RootsTest {
protected:
    std::string apps() const { return roots.root() + "/Applications"; }
    std::string app(const std::string& name, const std::vector<int32_t>& types) const {
        return makeAppBundle(apps(), name, fatOf(types, kSlice));
    }
    static int64_t lengthOf(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
    }
    HVNNodeList scan(const std::vector<std::string>& bundles, const std::string& machine = "x86_64") {
        Recorder recorder;
        HVNScanBinariesOperation op(bundles, 13, &recorder);
        op.machineArchitecture = machine;
        op.main();
        EXPECT_EQ(recorder.calls, 1);
        EXPECT_EQ(recorder.module, 13);
        return recorder.results;
    }
    // A stand-in for the system's lipo under the test system root: it records its
    // arguments, one per line, and writes `bytes` bytes to the output (or fails).
    std::string plantSystemLipo(int bytes, int status = 0, mode_t mode = 0755) const {
        // The record folder is open to all, so that a scan run as nobody could leave a trace.
        ::chmod(roots.makeDir(recordFolder()).c_str(), 0777);
        const std::string script =
            "#!/bin/sh\n"
            "printf '%s\\n' \"$@\" > '" +
            recordFolder() +
            "/lipo-args'\n"
            "head -c " +
            std::to_string(bytes) +
            " /dev/zero > \"$5\"\n"
            "exit " +
            std::to_string(status) + "\n";
        return writeBinary(roots.root() + "/usr/bin/lipo", script, mode);
    }
    std::string recordFolder() const { return roots.base() + "/record"; }
    std::vector<std::string> recordedArguments() const {
        std::vector<std::string> lines;
        std::string text = fileBytes(recordFolder() + "/lipo-args");
        size_t start = 0;
        for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
            lines.push_back(text.substr(start, nl - start));
        }
        return lines;
    }
};

TEST(BinariesScanTables, RemovableTypesAreTheRowsNotNamingTheMachine) {
    using Op = HVNScanBinariesOperation;
    EXPECT_EQ(Op::removableCpuTypes("x86_64"), (std::vector<int32_t>{7, 18, 0x01000012}));
    EXPECT_EQ(Op::removableCpuTypes("X86_64"), (std::vector<int32_t>{7, 18, 0x01000012}));
    EXPECT_EQ(Op::removableCpuTypes("i386"), (std::vector<int32_t>{18, 0x01000007, 0x01000012}));
    // "ppc" is inside "ppc64": an ppc machine keeps both PowerPC rows.
    EXPECT_EQ(Op::removableCpuTypes("ppc"), (std::vector<int32_t>{7, 0x01000007}));
    EXPECT_EQ(Op::cpuTypeOfMachine("x86_64"), 0x01000007);
    EXPECT_FALSE(Op::cpuTypeOfMachine("aarch64"));
    EXPECT_FALSE(Op::cpuTypeOfMachine("arm64"));
}

TEST_F(BinariesScanTest, OneNodePerApplicationThatHoldsTheMachineAndAnotherKnownArchitecture) {
    const std::string onlyMachine = app("Only.app", {kCpuX86_64});
    const std::string two =
        makeAppBundle(apps(), "Two.app", fatOf({kCpuI386, kCpuX86_64}, kSlice), "Two", "Two.icns");
    const std::string three = app("Three.app", {kCpuX86_64, kCpuPpc, kCpuI386});
    const std::string noMachine = app("Old.app", {kCpuI386, kCpuPpc, kCpuPpc64});
    const std::string outsideTable = app("Arm.app", {kCpuX86_64, kCpuArm64, kCpuArm});
    PathUpdates updates;
    HVNNodeList nodes = scan({onlyMachine, two, three, noMachine, outsideTable});
    EXPECT_EQ(updates.seen, (std::vector<std::string>{onlyMachine, two, three, noMachine, outsideTable}));
    ASSERT_EQ(nodes.size(), 2u);

    EXPECT_EQ(nodes[0]->dirPath(), apps());
    EXPECT_EQ(nodes[0]->name(), "Two.app");
    EXPECT_EQ(nodes[0]->icon, two + "/Contents/Resources/Two.icns");
    EXPECT_EQ(nodes[0]->isCheck, 1);
    EXPECT_EQ(nodes[0]->moulde, 13);
    EXPECT_EQ(nodes[0]->fileSize, lengthOf(bundleExecutable(two, "Two")) - static_cast<int64_t>(kSlice));

    EXPECT_EQ(nodes[1]->name(), "Three.app");
    EXPECT_EQ(nodes[1]->icon, three);
    EXPECT_EQ(nodes[1]->fileSize, lengthOf(bundleExecutable(three)) - static_cast<int64_t>(kSlice));
    // Nothing was changed by the scan.
    EXPECT_EQ(fileBytes(bundleExecutable(three)), fatOf({kCpuX86_64, kCpuPpc, kCpuI386}, kSlice));
}

TEST_F(BinariesScanTest, TheMachineNameDecidesWhatIsKept) {
    const std::string both = app("Both.app", {kCpuI386, kCpuX86_64});
    HVNNodeList onI386 = scan({both}, "i386");
    ASSERT_EQ(onI386.size(), 1u);
    EXPECT_EQ(onI386[0]->fileSize, lengthOf(bundleExecutable(both)) - static_cast<int64_t>(kSlice));
    EXPECT_TRUE(scan({both}, "aarch64").empty());
    EXPECT_TRUE(scan({both}, "").empty());
}

TEST_F(BinariesScanTest, UnreadableBundlesAreSkippedWithALogLine) {
    const std::string noPlist = roots.makeDir(apps() + "/Empty.app/Contents/MacOS");
    const std::string garbage = makeAppBundle(apps(), "Garbage.app", "not a binary");
    const std::string missingExe = makeAppBundle(apps(), "Missing.app", fatOf({kCpuI386, kCpuX86_64}));
    fs::remove(bundleExecutable(missingExe));
    const std::string linked = makeAppBundle(apps(), "Linked.app", "");
    writeBinary(roots.home() + "/real-exe", fatOf({kCpuI386, kCpuX86_64}));
    fs::remove(bundleExecutable(linked));
    fs::create_symlink(roots.home() + "/real-exe", bundleExecutable(linked));
    LogLines log;
    EXPECT_TRUE(scan({apps() + "/Empty.app", garbage, missingExe, linked, apps() + "/Nothing.app"}).empty());
    EXPECT_TRUE(log.contains("Garbage.app/Contents/MacOS/App: not a Mach-O file"));
    EXPECT_TRUE(log.contains("Missing.app has no executable"));
    EXPECT_TRUE(log.contains("skipping " + linked + ": its executable is not a regular file"));
    EXPECT_TRUE(log.contains("scanResults  ()"));
}

TEST_F(BinariesScanTest, APlantedSystemLipoIsPreferredAndItsOutputGoesToAPrivateFolder) {
    EXPECT_EQ(HVNLipo::toolPath(), std::string(HALVORN_TEST_BUNDLE) + "/Contents/MacOS/lipo");
    plantSystemLipo(100, 0, 0644);  // not executable: not taken
    EXPECT_EQ(HVNLipo::toolPath(), std::string(HALVORN_TEST_BUNDLE) + "/Contents/MacOS/lipo");
    const std::string tool = plantSystemLipo(100);
    EXPECT_EQ(HVNLipo::toolPath(), tool);

    const std::string bundle = app("Two.app", {kCpuI386, kCpuX86_64});
    const std::string exe = bundleExecutable(bundle);
    // A file of the user's that an output beside the executable would have overwritten and removed.
    writeBinary(exe + ".x86_64", "the user's own file", 0600);
    HVNNodeList nodes = scan({bundle});
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0]->fileSize, lengthOf(exe) - 100);

    std::vector<std::string> args = recordedArguments();
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(args[0], exe);
    EXPECT_EQ(args[1], "-thin");
    EXPECT_EQ(args[2], "x86_64");
    EXPECT_EQ(args[3], "-output");
    const fs::path output = args[4];
    EXPECT_EQ(output.parent_path().parent_path(), fs::temp_directory_path());
    EXPECT_EQ(output.parent_path().filename().string().rfind("halvorn-lipo-", 0), 0u) << output;
    EXPECT_FALSE(pathExists(output.parent_path().string())) << "the scratch folder is removed";
    EXPECT_EQ(fileBytes(exe + ".x86_64"), "the user's own file");
    EXPECT_EQ(folderNames(bundle + "/Contents/MacOS"), (std::vector<std::string>{"App", "App.x86_64"}));
}

TEST_F(BinariesScanTest, AFailedTrialCountsTheWholeExecutable) {
    plantSystemLipo(100, 3);
    const std::string bundle = app("Two.app", {kCpuI386, kCpuX86_64});
    LogLines log;
    HVNNodeList nodes = scan({bundle});
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0]->fileSize, lengthOf(bundleExecutable(bundle)));
    EXPECT_TRUE(log.contains("the trial thinning of " + bundleExecutable(bundle) +
                             " failed: lipo exited with status 3"));
}

TEST_F(BinariesScanTest, AnExecutableThisUserMayNotDeleteCountsWhole) {
    if (!canRunAsNobody()) GTEST_SKIP() << "needs root to scan as nobody";
    const std::string tool = plantSystemLipo(100);
    const std::string bundle = app("Two.app", {kCpuI386, kCpuX86_64});
    const int64_t whole = lengthOf(bundleExecutable(bundle));
    int rc = runAsNobody([&] {
        Recorder recorder;
        HVNScanBinariesOperation op({bundle}, 13, &recorder);
        op.machineArchitecture = "x86_64";
        op.main();
        if (recorder.calls != 1 || recorder.results.size() != 1) return 1;
        return recorder.results[0]->fileSize == whole ? 0 : 2;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(pathExists(recordFolder() + "/lipo-args"))
        << "no trial thinning for a file that may not be changed";
}

TEST_F(BinariesScanTest, ACancelledScanStopsBeforeTheNextApplicationAndReportsNothing) {
    const std::string a = app("A.app", {kCpuI386, kCpuX86_64});
    const std::string b = app("B.app", {kCpuI386, kCpuX86_64});
    Recorder recorder;
    HVNScanBinariesOperation op({a, b}, 13, &recorder);
    op.machineArchitecture = "x86_64";
    PathUpdates updates([&](const std::string&) { op.cancel(); });
    op.main();
    EXPECT_EQ(recorder.calls, 0);
    EXPECT_EQ(updates.seen, (std::vector<std::string>{a}));

    HVNScanBinariesOperation early({a}, 13, &recorder);
    early.cancel();
    early.main();
    EXPECT_EQ(recorder.calls, 0);
}

// --- Thinning in place ---

class LipoThinningTest : public RootsTest {
protected:
    void TearDown() override { HVNLipo::waitForThinnings(); }
};

TEST_F(LipoThinningTest, ThinsInPlaceWithTheCompanionKeepingTheMode) {
    const std::string bundle =
        makeAppBundle(roots.root() + "/Applications", "Two.app", fatOf({kCpuI386, kCpuX86_64}));
    const std::string exe = bundleExecutable(bundle);
    ::chmod(exe.c_str(), 0751);
    std::string reason;
    ASSERT_TRUE(HVNLipo::startThinning(exe, "x86_64", &reason)) << reason;
    EXPECT_EQ(HVNLipo::waitForThinnings().size(), 0u);
    EXPECT_EQ(HVNLipo::pendingThinnings(), 0u);
    EXPECT_EQ(fileBytes(exe), sliceOf(kCpuX86_64));
    struct stat st {};
    ASSERT_EQ(::stat(exe.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(HVNLipo::executableArchitectures(bundle), (std::vector<int32_t>{kCpuX86_64}));
}

TEST_F(LipoThinningTest, AFailedToolIsReportedOnceWithItsStatus) {
    const std::string a =
        makeAppBundle(roots.root() + "/Applications", "A.app", fatOf({kCpuI386, kCpuX86_64}));
    const std::string b = makeAppBundle(roots.root() + "/Applications", "B.app", fatOf({kCpuI386, kCpuPpc}));
    std::string reason;
    ASSERT_TRUE(HVNLipo::startThinning(bundleExecutable(a), "x86_64", &reason)) << reason;
    ASSERT_TRUE(HVNLipo::startThinning(bundleExecutable(b), "x86_64", &reason)) << reason;
    EXPECT_EQ(HVNLipo::pendingThinnings(), 2u);
    auto failures = HVNLipo::waitForThinnings();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].executable, bundleExecutable(b));
    EXPECT_NE(failures[0].reason.find("lipo exited with status 1"), std::string::npos) << failures[0].reason;
    EXPECT_NE(failures[0].reason.find("does not contain the architecture x86_64"), std::string::npos);
    EXPECT_EQ(fileBytes(bundleExecutable(b)), fatOf({kCpuI386, kCpuPpc}));
    EXPECT_TRUE(HVNLipo::waitForThinnings().empty());
}

TEST_F(LipoThinningTest, RefusalsAreFinalAndStartNothing) {
    const std::string fat = fatOf({kCpuI386, kCpuX86_64});
    const std::string target = writeBinary(roots.root() + "/Applications/Real/App", fat);
    const std::string bundle = makeAppBundle(roots.root() + "/Applications", "Link.app", "");
    const std::string link = bundleExecutable(bundle);
    fs::remove(link);
    fs::create_symlink(target, link);
    const std::string inHome = writeBinary(roots.home() + "/App", fat);  // directly in the home folder
    struct Case {
        std::string path, reason;
    };
    for (const Case& c :
         {Case{link, "Refusing to thin " + link + ": it is a symbolic link"},
          Case{inHome, "Refusing to remove " + inHome}, Case{"Applications/Real/App", "Refusing"},
          Case{roots.root() + "/Applications/Real/../Real/App", "Refusing"},
          Case{roots.root() + "/Applications/Real/Gone", "no such file"},
          Case{roots.root() + "/Applications/Real", "not a regular file"}}) {
        std::string reason;
        EXPECT_FALSE(HVNLipo::startThinning(c.path, "x86_64", &reason)) << c.path;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.path << ": " << reason;
    }
    EXPECT_EQ(HVNLipo::pendingThinnings(), 0u);
    EXPECT_EQ(fileBytes(target), fat);
    EXPECT_EQ(fileBytes(inHome), fat);
    EXPECT_TRUE(fs::is_symlink(link));
}

TEST_F(LipoThinningTest, TheExecutableOfABundleIsNamedByItsInformation) {
    const std::string apps = roots.root() + "/Applications";
    const std::string good = makeAppBundle(apps, "Good.app", "x", "Good Name");
    EXPECT_EQ(HVNLipo::executableOfBundle(good), good + "/Contents/MacOS/Good Name");
    EXPECT_EQ(HVNLipo::executableOfBundle(good + "/"), good + "/Contents/MacOS/Good Name");
    // Names that would lead out of Contents/MacOS.
    const std::string odd = makeAppBundle(apps, "Odd.app", "x");
    writeBinary(odd + "/Outside", "x");
    for (const char* name : {"..", ".", "../../Outside", ""}) {
        hvn::Dictionary info;
        info["CFBundleExecutable"] = hvn::Value(name);
        ASSERT_TRUE(hvn::PropertyList::writeFile(odd + "/Contents/Info.plist", hvn::Value(info)));
        EXPECT_EQ(HVNLipo::executableOfBundle(odd), "") << name;
    }
    const std::string gone = makeAppBundle(apps, "Gone.app", "x");
    fs::remove(bundleExecutable(gone));
    EXPECT_EQ(HVNLipo::executableOfBundle(gone), "");
    EXPECT_EQ(HVNLipo::executableOfBundle(roots.makeDir(apps + "/Bare.app/Contents/MacOS")), "");
    EXPECT_EQ(HVNLipo::executableOfBundle(apps + "/Nowhere.app"), "");
}

}  // namespace
