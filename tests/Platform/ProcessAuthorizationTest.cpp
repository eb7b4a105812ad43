#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "Platform/Authorization.h"
#include "Platform/FileManager.h"
#include "Platform/Process.h"
#include "Support/TestRoots.h"

using namespace hvn;

namespace {

// Sets an environment variable for the scope of a test.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(ProcessTest, RunReturnsStatusAndBothOutputs) {
    ProcessResult r = Process::run("/bin/sh", {"-c", "printf out; printf err >&2; exit 3"});
    EXPECT_TRUE(r.launched);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_FALSE(r.succeeded());
    EXPECT_EQ(r.output, "out");
    EXPECT_EQ(r.errorOutput, "err");

    ProcessOptions merged;
    merged.mergeErrorIntoOutput = true;
    r = Process::run("sh", {"-c", "printf a; printf b >&2"}, merged);  // looked up in PATH
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(r.output, "ab");
}

TEST(ProcessTest, LargeInputAndOutputDoNotDeadlock) {
    std::string input(3 * 1024 * 1024, 'q');
    for (size_t i = 0; i < input.size(); i += 997) input[i] = static_cast<char>('a' + i % 26);
    ProcessOptions o;
    o.standardInput = input;
    ProcessResult r = Process::run("/bin/cat", {}, o);
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(r.output, input);

    // A child that leaves without reading its input: an error for the writer, not a signal.
    o.standardInput = std::string(8 * 1024 * 1024, 'x');
    r = Process::run("/bin/sh", {"-c", "exit 4"}, o);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exitStatus, 4);
}

TEST(ProcessTest, EnvironmentAndWorkingFolder) {
    test::TempRoots roots;
    setenv("HALVORN_PROCESS_TEST_UNSET", "present", 1);
    ProcessOptions o;
    o.environment = {{"HALVORN_PROCESS_TEST", "v 1"}};
    o.unsetEnvironment = {"HALVORN_PROCESS_TEST_UNSET"};
    o.workingDirectory = roots.home();
    ProcessResult r = Process::run(
        "/bin/sh", {"-c", "echo \"$HALVORN_PROCESS_TEST|${HALVORN_PROCESS_TEST_UNSET-none}\"; pwd"}, o);
    unsetenv("HALVORN_PROCESS_TEST_UNSET");
    EXPECT_EQ(r.output, "v 1|none\n" + roots.home() + "\n");
}

TEST(ProcessTest, AMissingProgramIsNotLaunched) {
    ProcessResult r = Process::run("/nonexistent/program", {});
    EXPECT_FALSE(r.launched);
    EXPECT_NE(r.error.find("No such file or directory"), std::string::npos) << r.error;
    r = Process::run("halvorn-no-such-program", {});
    EXPECT_FALSE(r.launched);
}

TEST(ProcessTest, StartTerminateAndDetached) {
    Process p;
    std::string error;
    ASSERT_TRUE(p.start("/bin/sleep", {"30"}, {}, &error)) << error;
    EXPECT_FALSE(p.start("/bin/true", {}));
    EXPECT_TRUE(p.isRunning());
    EXPECT_TRUE(p.terminate());
    ProcessResult r = p.waitUntilExit();
    EXPECT_FALSE(r.exited);
    EXPECT_EQ(r.terminationSignal, SIGTERM);
    EXPECT_FALSE(p.isRunning());
    EXPECT_FALSE(p.terminate());

    pid_t pid = Process::startDetached("/bin/sh", {"-c", "exit 0"}, &error);
    ASSERT_GT(pid, 0) << error;
    // Reaped in the background: the pid disappears instead of staying a zombie.
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        gone = kill(pid, 0) != 0;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
}

TEST(AuthorizationTest, TestBackendsDenyOrRunAsTheCurrentUser) {
    test::TempRoots roots;
    std::string marker = roots.home() + "/ran";
    {
        ScopedEnv env("HALVORN_AUTH", "deny");
        Authorization::Result r = Authorization().executeWithPrivileges("/usr/bin/touch", {marker});
        EXPECT_TRUE(r.canceled());
        EXPECT_EQ(r.errorMessage, "User canceled.");
        EXPECT_FALSE(FileManager::fileExistsAtPath(marker));
    }
    {
        ScopedEnv env("HALVORN_AUTH", "allow");
        Authorization::Result r = Authorization().executeWithPrivileges("/bin/sh", {"-c", "echo ok; exit 2"});
        EXPECT_EQ(r.status, Authorization::Status::Ran);
        EXPECT_EQ(r.exitStatus, 2);
        EXPECT_EQ(r.output, "ok\n");
        EXPECT_FALSE(r.succeeded());
    }
    {
        ScopedEnv env("HALVORN_AUTH", nullptr);
        EXPECT_EQ(Authorization::currentBackend(),
                  geteuid() == 0 ? Authorization::Backend::Root : Authorization::Backend::Polkit);
        // A fixed backend does not follow the environment.
        Authorization fixed(Authorization::Backend::Deny);
        EXPECT_TRUE(fixed.executeWithPrivileges("/bin/true", {}).canceled());
    }
}

TEST(AuthorizationTest, AnUnprivilegedUserGoesThroughPolkit) {
    if (!test::canRunAsNobody()) GTEST_SKIP() << "needs root and the user nobody";
    ScopedEnv env("HALVORN_AUTH", nullptr);
    bool hasPkexec = access("/usr/bin/pkexec", X_OK) == 0;
    int rc = test::runAsNobody([&] {
        if (Authorization::currentBackend() != Authorization::Backend::Polkit) return 1;
        if (hasPkexec) return 0;  // would prompt; not run here
        Authorization::Result r = Authorization().executeWithPrivileges("/bin/true", {});
        if (r.status != Authorization::Status::Failed || r.canceled()) return 2;
        return r.errorMessage.find("pkexec") != std::string::npos ? 0 : 3;
    });
    EXPECT_EQ(rc, 0);
}
