// Loading and unloading launch agents: programs started once, stopped by program or label,
// and never another user's process.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Platform/Launchctl.h"
#include "Platform/Process.h"
#include "Platform/PropertyList.h"
#include "Platform/Workspace.h"
#include "Support/TestRoots.h"

using namespace hvn::test;
namespace fs = std::filesystem;

namespace {

// "" once the process is gone (a read of a vanished process's file fails with ESRCH).
std::string readProcFile(int pid, const char* name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
    try {
        return std::string(std::istreambuf_iterator<char>(in), {});
    } catch (const std::ios_base::failure&) {
        return {};
    }
}

bool isLive(int pid) {
    std::string status = readProcFile(pid, "status");
    size_t state = status.find("State:");
    if (state == std::string::npos) return false;
    size_t code = status.find_first_not_of(" \t", state + 6);
    return code != std::string::npos && status[code] != 'Z' && status[code] != 'X';
}

class LaunchctlTest : public RootsTest {
protected:
    void SetUp() override { hvn::Launchctl::setStopGracePeriod(5); }
    void TearDown() override {
        // Whatever a case left running is stopped here.
        for (int pid : started()) ::kill(pid, SIGKILL);
        hvn::Launchctl::setStopGracePeriod(5);
    }

    // A program of this test: a copy of sleep, a file no other process runs.
    std::string program(const std::string& name) {
        std::string path = roots.base() + "/bin/" + name;
        fs::create_directories(fs::path(path).parent_path());
        fs::copy_file("/bin/sleep", path, fs::copy_options::overwrite_existing);
        ::chmod(path.c_str(), 0755);
        programs_.push_back(path);
        return path;
    }
    std::string list(const std::string& name, hvn::Dictionary fields) {
        std::string path = roots.home() + "/Library/LaunchAgents/" + name + ".plist";
        EXPECT_TRUE(hvn::PropertyList::writeFile(path, hvn::Value(std::move(fields))));
        return path;
    }
    hvn::Dictionary agent(const std::string& label, const std::string& prog) {
        return {{"Label", label}, {"Program", prog}, {"ProgramArguments", hvn::Array{prog, "600"}}};
    }
    // This user's processes running the program.
    static std::vector<int> running(const std::string& prog) {
        std::vector<int> pids;
        for (const auto& p : hvn::Workspace::processesOfCurrentUser()) {
            if (hvn::Workspace::runsExecutable(p, prog)) pids.push_back(p.pid);
        }
        return pids;
    }
    // This user's processes that carry the label, as load() marks them.
    static std::vector<int> labelled(const std::string& label) {
        std::vector<int> pids;
        for (const auto& p : hvn::Workspace::processesOfCurrentUser()) {
            std::string env = readProcFile(p.pid, "environ");
            if (env.find(std::string("XPC_SERVICE_NAME=") + label + '\0') != std::string::npos)
                pids.push_back(p.pid);
        }
        return pids;
    }
    std::vector<int> started() {
        std::vector<int> pids;
        for (const auto& prog : programs_) {
            for (int pid : running(prog)) pids.push_back(pid);
        }
        for (const auto& label : labels_) {
            for (int pid : labelled(label)) pids.push_back(pid);
        }
        return pids;
    }

    std::vector<std::string> programs_;
    std::vector<std::string> labels_{"com.test.agent", "com.test.stubborn"};
};

TEST_F(LaunchctlTest, LoadStartsTheProgramOnceWithItsArgumentsAndLabel) {
    const std::string prog = program("agent");
    const std::string path = list("com.test.agent", agent("com.test.agent", prog));
    std::string error;
    ASSERT_TRUE(hvn::Launchctl::load(path, &error)) << error;
    std::vector<int> first = running(prog);
    ASSERT_EQ(first.size(), 1u);
    // A child in the middle of its exec shows neither its arguments nor its environment yet.
    const std::string expected = prog + '\0' + "600" + '\0';
    std::string cmdline;
    for (int i = 0; i < 100; ++i) {
        cmdline = readProcFile(first[0], "cmdline");
        if (cmdline == expected && labelled("com.test.agent") == first) break;
        usleep(20 * 1000);
    }
    EXPECT_EQ(labelled("com.test.agent"), first);
    EXPECT_EQ(cmdline, expected);

    EXPECT_TRUE(hvn::Launchctl::load(path, &error)) << error;
    EXPECT_EQ(running(prog), first);

    ASSERT_TRUE(hvn::Launchctl::unload(path, &error)) << error;
    EXPECT_TRUE(running(prog).empty());
    EXPECT_FALSE(isLive(first[0]));
    // Unloading what is not running is done at once.
    EXPECT_TRUE(hvn::Launchctl::unload(path, &error)) << error;
}

TEST_F(LaunchctlTest, AnAgentWhoseListNowNamesAnotherCopyIsKnownByItsLabel) {
    const std::string oldCopy = program("old-agent");
    const std::string newCopy = program("new-agent");
    const std::string path = list("com.test.agent", agent("com.test.agent", oldCopy));
    ASSERT_TRUE(hvn::Launchctl::load(path));
    std::vector<int> old = running(oldCopy);
    ASSERT_EQ(old.size(), 1u);

    list("com.test.agent", agent("com.test.agent", newCopy));
    // Still loaded: the running copy carries the label.
    EXPECT_TRUE(hvn::Launchctl::load(path));
    EXPECT_TRUE(running(newCopy).empty());

    ASSERT_TRUE(hvn::Launchctl::unload(path));
    EXPECT_FALSE(isLive(old[0]));
    ASSERT_TRUE(hvn::Launchctl::load(path));
    EXPECT_EQ(running(newCopy).size(), 1u);
    EXPECT_TRUE(running(oldCopy).empty());
}

TEST_F(LaunchctlTest, ProgramArgumentsAloneNameTheProgram) {
    const std::string prog = program("agent");
    const std::string path =
        list("com.test.agent", {{"Label", "com.test.agent"}, {"ProgramArguments", hvn::Array{prog, "600"}}});
    ASSERT_TRUE(hvn::Launchctl::load(path));
    EXPECT_EQ(running(prog).size(), 1u);
}

TEST_F(LaunchctlTest, AProcessThatIgnoresTermIsKilledAfterTheGracePeriod) {
    const std::string script =
        roots.writeFile(roots.base() + "/bin/stubborn.sh", "#!/bin/sh\ntrap '' TERM\nexec sleep 600\n");
    ::chmod(script.c_str(), 0755);
    const std::string path = list("com.test.stubborn", {{"Label", "com.test.stubborn"}, {"Program", script}});
    ASSERT_TRUE(hvn::Launchctl::load(path));
    // The shell reads as no one's while it turns into sleep: wait for it to settle.
    std::vector<int> pids;
    for (int i = 0; i < 30000 && (pids = labelled("com.test.stubborn")).empty(); ++i) usleep(1000);
    ASSERT_EQ(pids.size(), 1u);
    hvn::Launchctl::setStopGracePeriod(0.2);
    std::string error;
    EXPECT_TRUE(hvn::Launchctl::unload(path, &error)) << error;
    EXPECT_FALSE(isLive(pids[0]));
}

TEST_F(LaunchctlTest, BadListsStartAndStopNothing) {
    const std::string prog = program("agent");
    const std::string plain = roots.writeFile(roots.base() + "/bin/not-executable", "data");
    ::chmod(plain.c_str(), 0644);
    const std::string dir = roots.home() + "/Library/LaunchAgents/";
    struct Case {
        std::string name;
        std::string path;
    };
    std::vector<Case> cases = {
        {"missing", dir + "missing.plist"},
        {"corrupt", roots.writeFile(dir + "corrupt.plist", "<?xml version=\"1.0\"?><plist><dict><key>")},
        {"not a dictionary", list("array", {})},
        {"no label", list("nolabel", {{"Program", prog}})},
        {"relative program", list("relative", {{"Label", "com.test.agent"}, {"Program", "bin/agent"}})},
        {"disabled", list("disabled", {{"Label", "com.test.agent"}, {"Program", prog}, {"Disabled", true}})},
        {"not executable", list("plain", {{"Label", "com.test.agent"}, {"Program", plain}})},
        {"missing program", list("gone", {{"Label", "com.test.agent"}, {"Program", prog + "-gone"}})},
        {"a folder", roots.makeDir(dir + "folder.plist")},
    };
    hvn::PropertyList::writeFile(dir + "array.plist", hvn::Value(hvn::Array{"x"}));
    fs::create_symlink(dir + "nolabel.plist", dir + "link.plist");
    cases.push_back({"a symbolic link", dir + "link.plist"});
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(hvn::Launchctl::load(c.path, &error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_TRUE(running(prog).empty()) << c.name;
    }
    // Unloading a list that cannot be read signals nothing.
    const std::string good = list("com.test.agent", agent("com.test.agent", prog));
    ASSERT_TRUE(hvn::Launchctl::load(good));
    for (const char* bad : {"missing", "corrupt", "link"}) {
        std::string error;
        EXPECT_FALSE(hvn::Launchctl::unload(dir + bad + ".plist", &error)) << bad;
        EXPECT_EQ(running(prog).size(), 1u) << bad;
    }
}

TEST_F(LaunchctlTest, AnotherUsersProcessIsNeitherCountedNorStopped) {
    if (!canRunAsNobody()) GTEST_SKIP() << "needs root to start a process as another user";
    const std::string prog = program("agent");
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int rc = runAsNobody([&] {
        hvn::ProcessOptions options;
        options.newSession = true;
        options.environment.emplace_back("XPC_SERVICE_NAME", "com.test.agent");
        pid_t pid = hvn::Process::startDetached(prog, {"600"}, nullptr, options);
        return ::write(fds[1], &pid, sizeof pid) == sizeof pid && pid > 0 ? 0 : 1;
    });
    ::close(fds[1]);
    pid_t foreign = -1;
    ASSERT_EQ(::read(fds[0], &foreign, sizeof foreign), static_cast<ssize_t>(sizeof foreign));
    ::close(fds[0]);
    ASSERT_EQ(rc, 0);
    ASSERT_GT(foreign, 0);
    ASSERT_TRUE(isLive(foreign));

    const std::string path = list("com.test.agent", agent("com.test.agent", prog));
    ASSERT_TRUE(hvn::Launchctl::load(path));
    std::vector<int> mine = running(prog);
    ASSERT_EQ(mine.size(), 1u);
    EXPECT_NE(mine[0], foreign);
    ASSERT_TRUE(hvn::Launchctl::unload(path));
    EXPECT_TRUE(running(prog).empty());
    EXPECT_TRUE(isLive(foreign));
    ::kill(foreign, SIGKILL);
}

TEST_F(LaunchctlTest, OpenApplicationStartsTheBundlesProgramAndRefusesOneWithoutAProgram) {
    const std::string app = roots.base() + "/Tool.app";
    fs::create_directories(app + "/Contents/MacOS");
    hvn::PropertyList::writeFile(app + "/Contents/Info.plist",
                                 hvn::Value(hvn::Dictionary{{"CFBundleExecutable", "tool"}}));
    // The bundle's program is a script that runs the copied sleep (which needs an argument).
    const std::string prog = program("tool-real");
    const std::string exe =
        roots.writeFile(app + "/Contents/MacOS/tool", "#!/bin/sh\nexec '" + prog + "' 600\n");
    ::chmod(exe.c_str(), 0755);
    std::string error;
    ASSERT_TRUE(hvn::Workspace::openApplication(app, &error)) << error;
    // The script runs the copy a moment after it was started.
    for (int i = 0; i < 30000 && running(prog).empty(); ++i) usleep(1000);
    ASSERT_EQ(running(prog).size(), 1u);

    for (const std::string& bad : {roots.base() + "/None.app", app + "-missing"}) {
        fs::create_directories(roots.base() + "/None.app/Contents/MacOS");
        error.clear();
        EXPECT_FALSE(hvn::Workspace::openApplication(bad, &error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
    const std::string escape = roots.base() + "/Escape.app";
    hvn::PropertyList::writeFile(
        escape + "/Contents/Info.plist",
        hvn::Value(hvn::Dictionary{{"CFBundleExecutable", "../../Tool.app/Contents/MacOS/tool"}}));
    EXPECT_FALSE(hvn::Workspace::openApplication(escape, &error));
    EXPECT_EQ(running(prog).size(), 1u);
}

}  // namespace
