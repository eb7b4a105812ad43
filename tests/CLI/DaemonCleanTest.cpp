// The whole privileged route: the bundle's install script puts the daemon below a temporary
// system root and starts it for the user nobody; a one-click care run as nobody then hands
// what it cannot remove itself to that daemon, which removes it.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "CLI/CareTestSupport.h"
#include "Platform/DaemonConnection.h"

using namespace caretest;

namespace {

bool eventually(const std::function<bool()>& pred) {
    for (int i = 0; i < 3000; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pred();
}

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class DaemonCleanTest : public CareTestBase {
protected:
    void TearDown() override { stopInstalledDaemon(); }

    // Ends the daemon the install script started (its pid file says which).
    void stopInstalledDaemon() {
        auto pidText = hvn::readWholeFile(r("run/halvorn/HVNDaemon.pid"));
        if (!pidText) return;
        const pid_t pid = static_cast<pid_t>(std::stol(*pidText));
        if (pid <= 1) return;
        ::kill(pid, SIGTERM);
        EXPECT_TRUE(eventually([&] { return ::kill(pid, 0) != 0; })) << "the daemon did not end";
        fs::remove(r("run/halvorn/HVNDaemon.pid"));
    }

    // Runs `halvorn ARGS` as nobody with the administrator prompt refused, so that only the
    // daemon can help.
    CareRun runNobody(const std::vector<std::string>& args) {
        CareRun run;
        const std::string outPath = roots.base() + "/nobody-out", errPath = roots.base() + "/nobody-err";
        int out = ::open(outPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        EXPECT_TRUE(out >= 0 && err >= 0);
        if (out < 0 || err < 0) return run;
        run.rc = hvn::test::runAsNobody([&] {
            int in = ::open("/dev/null", O_RDONLY);
            if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir("/") != 0)
                return 126;
            setenv("HALVORN_AUTH", "deny", 1);
            setenv("HALVORN_LOG", "stderr", 1);
            unsetenv("XDG_DATA_HOME");
            std::vector<char*> argv;
            std::string cli = hvn::test::cliPath();
            argv.push_back(cli.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(cli.c_str(), argv.data());
            return 127;
        });
        ::close(out);
        ::close(err);
        run.out = hvn::readWholeFile(outPath).value_or("");
        run.err = hvn::readWholeFile(errPath).value_or("");
        return run;
    }
};

}  // namespace

TEST_F(DaemonCleanTest, TheInstalledDaemonRemovesWhatTheUsersOwnRightsCannot) {
    if (!hvn::test::canRunAsNobody())
        GTEST_SKIP() << "needs root (to install the daemon) and the user nobody";
    const std::string info = hvn::test::bundlePath() + "/Contents/Info.plist";
    if (hvn::test::runAsNobody([&] {
            return access(hvn::test::cliPath().c_str(), X_OK) == 0 && access(info.c_str(), R_OK) == 0 ? 0 : 1;
        }) != 0) {
        GTEST_SKIP() << "nobody cannot run the built command in this build folder";
    }
    const uid_t nobody = getpwnam("nobody")->pw_uid;
    const std::string bundle = hvn::test::bundlePath();
    const std::string daemonLog = roots.base() + "/daemon.log";

    // Install as the application's installation does, with this test's roots.
    std::string out;
    const int installed = hvn::test::runCommand(
        "HALVORN_ROOT=" + quoted(roots.root()) + " HALVORN_DAEMON_HOME=" + quoted(roots.home()) +
            " HALVORN_DAEMON_LOG=" + quoted(daemonLog) + " HALVORN_LOG=stderr /bin/sh " +
            quoted(bundle + "/Contents/Resources/copy.sh") + " " +
            quoted(bundle + "/Contents/MacOS/HVNDaemon") + " " +
            quoted(bundle + "/Contents/Resources/com.corvane.HVNDaemon.plist") + " " +
            std::to_string(nobody) + " 2>&1",
        &out);
    ASSERT_EQ(installed, 0) << out;
    struct stat st {};
    ASSERT_EQ(::lstat(r("Library/PrivilegedHelperTools/HVNDaemon").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(st.st_uid, 0u);
    ASSERT_EQ(::lstat(r("Library/LaunchDaemons/com.corvane.HVNDaemon.plist").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    ASSERT_EQ(::lstat(hvn::DaemonConnection::socketPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_uid, nobody);

    // Junk of root's in a folder of root's, in a cache folder of nobody's home.
    const std::string locked = h("Library/Caches/com.example.locked");
    file(locked + "/junk.bin", 4000);
    file(h("Library/Caches/com.example.own/data"), 1000);
    const std::string keep = file(h("Documents/keep.txt"), 10);
    settings("list");
    ASSERT_EQ(hvn::test::runCommand("chown -R nobody " + quoted(roots.home()) + " && chown -R root " +
                                    quoted(locked)),
              0);
    // nobody alone cannot remove it.
    EXPECT_NE(hvn::test::runAsNobody([&] { return ::unlink((locked + "/junk.bin").c_str()) == 0 ? 0 : 1; }),
              0);

    CareRun run = runNobody({"care", "--json", "--fix", "--yes", "--only", "1"});
    EXPECT_EQ(run.rc, 0) << run.err << run.out;
    json doc = json::parse(run.out, nullptr, false);
    ASSERT_TRUE(doc.is_object()) << run.out;
    EXPECT_EQ(doc["clean"]["notRemoved"].size(), 0u) << doc["clean"].dump();
    EXPECT_TRUE(eventually([&] { return !fs::exists(locked); }))
        << hvn::readWholeFile(daemonLog).value_or("") << run.err;
    EXPECT_FALSE(fs::exists(h("Library/Caches/com.example.own")));
    EXPECT_TRUE(fs::exists(keep));
    EXPECT_TRUE(fs::exists(h("Library/Caches")));
    EXPECT_NE(hvn::readWholeFile(daemonLog).value_or("").find("HVNDaemon: removed 1 of 1 paths"),
              std::string::npos)
        << hvn::readWholeFile(daemonLog).value_or("");

    // Installing again replaces the running daemon by the new one.
    const std::string firstPid = hvn::readWholeFile(r("run/halvorn/HVNDaemon.pid")).value_or("");
    ASSERT_EQ(hvn::test::runCommand("HALVORN_ROOT=" + quoted(roots.root()) + " /bin/sh " +
                                        quoted(bundle + "/Contents/Resources/copy.sh") + " " +
                                        quoted(bundle + "/Contents/MacOS/HVNDaemon") + " " +
                                        quoted(bundle + "/Contents/Resources/com.corvane.HVNDaemon.plist") +
                                        " " + std::to_string(nobody) + " 2>&1",
                                    &out),
              0)
        << out;
    const std::string secondPid = hvn::readWholeFile(r("run/halvorn/HVNDaemon.pid")).value_or("");
    EXPECT_NE(firstPid, secondPid);
    EXPECT_NE(::kill(static_cast<pid_t>(std::stol(firstPid)), 0), 0);
    EXPECT_NE(hvn::DaemonConnection::rootProxyForName(), nullptr);
}

TEST_F(DaemonCleanTest, TheInstallScriptRefusesBadArgumentsAndInstallsNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "the install script runs as root";
    const std::string bundle = hvn::test::bundlePath();
    const std::string script = quoted(bundle + "/Contents/Resources/copy.sh");
    const std::string daemon = quoted(bundle + "/Contents/MacOS/HVNDaemon");
    const std::string plist = quoted(bundle + "/Contents/Resources/com.corvane.HVNDaemon.plist");
    const std::string env = "HALVORN_ROOT=" + quoted(roots.root()) + " ";
    const std::vector<std::string> commands = {
        env + "/bin/sh " + script + " " + daemon + " " + plist,
        env + "/bin/sh " + script + " " + daemon + " " + plist + " 12x",
        env + "/bin/sh " + script + " " + daemon + " " + plist + " '0; touch /tmp/x'",
        env + "/bin/sh " + script + " " + quoted(roots.base() + "/none") + " " + plist + " 0",
        "HALVORN_ROOT=relative /bin/sh " + script + " " + daemon + " " + plist + " 0",
    };
    for (const auto& c : commands) {
        std::string out;
        EXPECT_NE(hvn::test::runCommand(c + " 2>&1", &out), 0) << c;
        EXPECT_NE(out.find("copy.sh: "), std::string::npos) << out;
    }
    EXPECT_FALSE(fs::exists(r("Library")));
    // A daemon that cannot start (a file where its socket goes) fails the installation.
    file(r("run/halvorn/HVNDamonObject.sock"), 1);
    std::string out;
    EXPECT_NE(hvn::test::runCommand(env + "/bin/sh " + script + " " + daemon + " " + plist + " 0 2>&1", &out),
              0);
    EXPECT_NE(out.find("the daemon ended before it served"), std::string::npos) << out;
}
