// The bundle's privileged daemon, run as a child process on a socket below a temporary
// system root: removals through the removal service and directly, refusals with their
// reasons in its log, stopping, thinning, job switching, peers it must not serve, broken
// requests, its socket and its end.
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "HVN/Code/Public/ReomveFile.h"
#include "Platform/DaemonConnection.h"
#include "Platform/DaemonRequest.h"
#include "Platform/Host.h"
#include "Platform/MachO.h"
#include "Platform/PropertyList.h"
#include "Support/MachOFixtures.h"
#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using namespace hvn;
using namespace hvn::test;

namespace {

const std::string kDaemon = std::string(HALVORN_TEST_BUNDLE) + "/Contents/MacOS/HVNDaemon";

// Waits (bounded) until pred holds; the daemon works on its own thread.
bool eventually(const std::function<bool()>& pred) {
    for (int i = 0; i < 3000; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pred();
}

// One daemon process serving `uid` under the test's roots, its log (HALVORN_LOG=stderr) in
// a file. Stopped when it goes.
class RunningDaemon {
public:
    RunningDaemon(const TempRoots& roots, const std::string& user, std::vector<std::string> extra = {})
        : logPath_(roots.base() + "/daemon-" + std::to_string(++count_) + ".log") {
        std::vector<std::string> args{kDaemon, "--foreground", "--user", user, "--home", roots.home()};
        for (auto& a : extra) args.push_back(a);
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            if (log < 0 || null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(log, 2) < 0) _exit(126);
            setenv("HALVORN_LOG", "stderr", 1);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(kDaemon.c_str(), argv.data());
            _exit(127);
        }
        const std::string socket = DaemonConnection::socketPath();
        eventually([&] {
            struct stat st {};
            return exited() || (::lstat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
                                log().find("serving") != std::string::npos);
        });
    }
    ~RunningDaemon() { stop(); }

    bool serving() { return !exited(); }
    // SIGTERM, then the exit status (-1 when it did not exit normally).
    int stop() {
        if (pid_ > 0 && !exited()) ::kill(pid_, SIGTERM);
        return wait();
    }
    int wait() {
        if (pid_ > 0 && !reaped_) {
            int status = 0;
            if (::waitpid(pid_, &status, 0) == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            reaped_ = true;
        }
        return status_;
    }
    std::string log() const { return hvn::readWholeFile(logPath_).value_or(""); }
    bool logHas(const std::string& text) {
        return eventually([&] { return log().find(text) != std::string::npos; });
    }

private:
    bool exited() {
        if (reaped_) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            reaped_ = true;
        }
        return reaped_;
    }

    static inline int count_ = 0;
    std::string logPath_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = -1;
};

class HVNDaemonTest : public RootsTest {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "the daemon runs as root; these tests need root";
        if (!getpwnam("nobody")) GTEST_SKIP() << "needs the user nobody, whom the daemon serves";
        nobody_ = getpwnam("nobody")->pw_uid;
    }
    std::string h(const std::string& rel) const { return roots.home() + "/" + rel; }
    std::string r(const std::string& rel) const { return roots.root() + "/" + rel; }
    std::string file(const std::string& path, const std::string& bytes = "junk") const {
        return roots.writeFile(path, bytes);
    }
    static std::optional<FileIdentity> identityOf(const std::string& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
        return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    }
    static bool exists(const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }
    uid_t nobody_ = 0;
};

// Connects to the daemon's socket without the client's checks; -1 when it cannot.
int rawConnect() {
    const std::string path = DaemonConnection::socketPath();
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    timeval t{20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    return fd;
}

std::string header(uint32_t n) {
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
            static_cast<char>(n)};
}

bool sendBytes(int fd, const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// The error text of the next reply, "" when the reply is no error, "<none>" when none came.
std::string nextError(int fd) {
    auto reply = DaemonConnection::readMessage(fd);
    if (!reply) return "<none>";
    std::string error;
    return DaemonReply::resultOf(*reply, &error) ? "" : error;
}

// In a forked child: becomes uid (and its group), keeping only CAP_DAC_OVERRIDE when
// keepDacOverride, so that it can open the 0600 socket but is no one the daemon serves.
bool becomeUser(uid_t uid, bool keepDacOverride) {
    if (keepDacOverride && prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0) return false;
    if (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 || setresuid(uid, uid, uid) != 0)
        return false;
    if (!keepDacOverride) return true;
    __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    data[0].permitted = data[0].effective = 1u << CAP_DAC_OVERRIDE;
    return syscall(SYS_capset, &head, data) == 0;
}

// Runs fn in a child that became uid; its exit code, -1 when it could not run so.
int runAs(uid_t uid, bool keepDacOverride, const std::function<int()>& fn) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (!becomeUser(uid, keepDacOverride)) _exit(125);
        _exit(fn());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 125 ? -1 : WEXITSTATUS(status);
}

}  // namespace

TEST_F(HVNDaemonTest, HelpAndTheUnitForSystemd) {
    std::string out;
    EXPECT_EQ(runCommand("'" + kDaemon + "' --help", &out), 0);
    EXPECT_EQ(out.rfind("usage: HVNDaemon --foreground --user USER [--home DIR]\n", 0), 0u) << out;
    EXPECT_EQ(runCommand("'" + kDaemon + "' --user 0 2>/dev/null"), 2);
    EXPECT_EQ(runCommand("'" + kDaemon + "' --foreground 2>/dev/null"), 2);
    EXPECT_EQ(runCommand("'" + kDaemon + "' --foreground --user no-such-user-here 2>/dev/null"), 2);

    const std::string plist = bundlePath() + "/Contents/Resources/com.corvane.HVNDaemon.plist";
    auto shipped = PropertyList::readFile(plist);
    ASSERT_TRUE(shipped);
    EXPECT_EQ((*shipped)["Label"], Value("com.corvane.HVNDaemon"));
    EXPECT_EQ((*shipped)["MachServices"]["HVNDamonObject"], Value(true));
    EXPECT_EQ((*shipped)["KeepAlive"], Value(true));
    EXPECT_EQ((*shipped)["RunAtLoad"], Value(true));

    ASSERT_EQ(runCommand("HALVORN_ROOT=/ '" + kDaemon + "' --print-unit '" + plist +
                             "' --user nobody --home '/h o%me'",
                         &out),
              0);
    EXPECT_EQ(out,
              "[Unit]\nDescription=com.corvane.HVNDaemon\nAfter=local-fs.target\n\n[Service]\nType=simple\n"
              "ExecStart=\"/Library/PrivilegedHelperTools/HVNDaemon\" \"--foreground\" \"--user\" \"" +
                  std::to_string(nobody_) +
                  "\" \"--home\" \"/h "
                  "o%%me\"\nRestart=always\nRestartSec=1\n\n[Install]\nWantedBy=multi-user.target\n");

    // Under another root the program is found there, the root is passed on, and a job
    // that is not kept alive is not restarted.
    const std::string own = roots.writeFile(
        roots.base() + "/job.plist",
        PropertyList::serialize(
            Value(Dictionary{{"Label", Value("x")},
                             {"Program", Value("/opt/d$x")},
                             {"ProgramArguments", Value(Array{Value("d"), Value("--foreground")})}})));
    ASSERT_EQ(runCommand("'" + kDaemon + "' --print-unit '" + own + "' --user 0", &out), 0);
    EXPECT_NE(out.find("Environment=\"HALVORN_ROOT=" + roots.root() + "\"\n"), std::string::npos) << out;
    EXPECT_NE(out.find("ExecStart=\"" + roots.root() + "/opt/d$$x\" \"--foreground\" \"--user\" \"0\"\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Restart=no\n"), std::string::npos) << out;
    const std::string bad = roots.writeFile(
        roots.base() + "/bad.plist",
        PropertyList::serialize(Value(Dictionary{{"ProgramArguments", Value(Array{Value("/a\nb")})}})));
    EXPECT_EQ(runCommand("'" + kDaemon + "' --print-unit '" + bad + "' --user 0 2>/dev/null"), 1);
}

TEST_F(HVNDaemonTest, ItsSocketIsTheServedUsersAloneAndGoesWithIt) {
    // A socket left behind by a daemon that is gone is replaced.
    {
        fs::create_directories(r("run/halvorn"));
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        DaemonConnection::socketPath().copy(addr.sun_path, sizeof addr.sun_path - 1);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        close(fd);
        ::chmod(r("run/halvorn").c_str(), 0777);
    }
    RunningDaemon daemon(roots, "nobody");
    ASSERT_TRUE(daemon.serving()) << daemon.log();
    struct stat st {};
    ASSERT_EQ(::lstat(DaemonConnection::socketPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, nobody_);
    ASSERT_EQ(::lstat(r("run/halvorn").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(st.st_uid, 0u);

    // A second daemon does not take the socket of one that serves.
    RunningDaemon second(roots, "nobody");
    EXPECT_EQ(second.wait(), 1);
    EXPECT_NE(second.log().find("another daemon already serves"), std::string::npos) << second.log();
    EXPECT_NE(DaemonConnection::rootProxyForName(), nullptr);

    EXPECT_EQ(daemon.stop(), 0);
    EXPECT_FALSE(exists(DaemonConnection::socketPath()));
    EXPECT_NE(daemon.log().find("HVNDaemon: ending"), std::string::npos);

    // Something else at the socket's name, or a link for its folder, stays and stops it.
    file(DaemonConnection::socketPath(), "not a socket");
    RunningDaemon onAFile(roots, "nobody");
    EXPECT_EQ(onAFile.wait(), 1);
    EXPECT_NE(onAFile.log().find("is not a socket; leaving it"), std::string::npos) << onAFile.log();
    EXPECT_EQ(readWholeFile(DaemonConnection::socketPath()), "not a socket");
    fs::remove_all(r("run/halvorn"));
    roots.makeDir(roots.base() + "/elsewhere");
    fs::create_directory_symlink(roots.base() + "/elsewhere", r("run/halvorn"));
    RunningDaemon onALink(roots, "nobody");
    EXPECT_EQ(onALink.wait(), 1);
    EXPECT_TRUE(fs::is_empty(roots.base() + "/elsewhere"));
}

TEST_F(HVNDaemonTest, BatchesHandedOverByTheRemovalServiceAreRemovedWithAndWithoutOverwriting) {
    RunningDaemon daemon(roots, "nobody");
    ASSERT_TRUE(daemon.serving()) << daemon.log();
    for (bool rewrite : {false, true}) {
        const std::string top = h("Library/Caches/app-" + std::to_string(rewrite));
        const std::string a = file(top + "/a.cache", std::string(10000, 'a'));
        const std::string tree = top + "/tree";
        file(tree + "/x/y/z.bin", "zz");
        file(tree + "/.hidden", "h");
        const std::string keep = file(top + "/keep", "keep");
        std::vector<RemovalBatch::Request> batch{{a, identityOf(top)}, {tree, identityOf(top)}};
        std::map<std::string, std::string> notRemoved;
        ASSERT_TRUE(ReomveFile::removeSystemFile(batch, rewrite, &notRemoved));
        EXPECT_TRUE(notRemoved.empty());
        ASSERT_TRUE(daemon.logHas(std::string("removed 2 of 2 paths") +
                                  (rewrite ? ", overwriting files first" : "\n")))
            << daemon.log();
        EXPECT_FALSE(exists(a));
        EXPECT_FALSE(exists(tree));
        EXPECT_EQ(readWholeFile(keep), "keep");
    }
    // A folder that was replaced since it was listed is refused, and said so at once.
    const std::string top = h("Library/Caches/moved");
    const std::string f = file(top + "/f");
    auto listedIn = identityOf(top);
    fs::rename(top, h("Library/Caches/moved-away"));
    file(f, "new");
    auto proxy = DaemonConnection::rootProxyForName();
    ASSERT_NE(proxy, nullptr);
    auto refused = proxy->removeFileFoundIn({{f, listedIn}}, false);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(refused.at(f).find("the folder it was found in has been replaced"), std::string::npos);
    EXPECT_EQ(readWholeFile(f), "new");
}

TEST_F(HVNDaemonTest, LinksProtectedFoldersRelativeAndDotDotPathsAreRefusedWithTheirReasonLogged) {
    RunningDaemon daemon(roots, "nobody");
    ASSERT_TRUE(daemon.serving()) << daemon.log();
    const std::string outside = file(roots.base() + "/outside/precious", "precious");
    fs::create_directories(h("Library/Caches"));
    fs::create_directory_symlink(roots.base() + "/outside", h("Library/Caches/through"));
    fs::create_symlink(outside, h("Library/Caches/final-link"));
    file(h("Library/Caches/a/x"));
    roots.makeDir(r("Library"));
    const std::string dotdot = h("Library/Caches/a/../a/x");
    const std::vector<std::string> refusedPaths = {h("Library/Caches/through/precious"),
                                                   roots.home(),
                                                   h("Library"),
                                                   r("Library"),
                                                   roots.root(),
                                                   "Library/Caches/a/x",
                                                   dotdot};

    auto proxy = DaemonConnection::rootProxyForName();
    ASSERT_NE(proxy, nullptr);
    std::vector<RemovalBatch::Request> batch;
    for (const auto& p : refusedPaths) batch.push_back({p, std::nullopt});
    batch.push_back({h("Library/Caches/final-link"), std::nullopt});
    auto refused = proxy->removeFileFoundIn(batch, false);
    EXPECT_EQ(refused.size(), refusedPaths.size());
    const std::map<std::string, std::string> reasons = {
        {h("Library/Caches/through/precious"), "a folder on its path is a symbolic link"},
        {roots.home(), "the home folder and the folders that hold them are never removed"},
        {h("Library"), "nothing directly inside the system root or the home folder is removed"},
        {r("Library"), "nothing directly inside the system root or the home folder is removed"},
        {roots.root(), "are never removed"},
        {"Library/Caches/a/x", "the path is not absolute"},
        {dotdot, "holds \".\" or \"..\""},
    };
    for (const auto& [path, reason] : reasons) {
        ASSERT_TRUE(refused.count(path)) << path;
        EXPECT_NE(refused.at(path).find(reason), std::string::npos) << refused.at(path);
        EXPECT_TRUE(daemon.logHas("Refusing to remove " + path + ": ")) << path << "\n" << daemon.log();
    }
    // The final link goes as a link; what it and the other link lead to stays.
    ASSERT_TRUE(daemon.logHas("removed 1 of 1 paths")) << daemon.log();
    EXPECT_FALSE(exists(h("Library/Caches/final-link")));
    EXPECT_EQ(readWholeFile(outside), "precious");
    EXPECT_TRUE(exists(h("Library/Caches/a/x")));
    EXPECT_TRUE(exists(h("Library")));
}

TEST_F(HVNDaemonTest, APathThatIsNotUtf8IsRemovedByteForByte) {
    RunningDaemon daemon(roots, "nobody");
    ASSERT_TRUE(daemon.serving()) << daemon.log();
    const std::string odd = h("Library/Caches/bad\xff\xfe name\nwith newline");
    const std::string twin =
        h("Library/Caches/bad\xef\xbf\xbd\xef\xbf\xbd name\nwith newline");  // its U+FFFD look-alike
    file(odd + "/data");
    file(twin + "/data");
    std::map<std::string, std::string> notRemoved;
    ASSERT_TRUE(ReomveFile::removeSystemFile({{odd, identityOf(h("Library/Caches"))}}, false, &notRemoved));
    ASSERT_TRUE(daemon.logHas("removed 1 of 1 paths")) << daemon.log();
    EXPECT_FALSE(exists(odd));
    EXPECT_TRUE(exists(twin + "/data"));
}

TEST_F(HVNDaemonTest, StopRemoveEndsTheRemovalUnderWayAndTheQueuedOnes) {
    RunningDaemon daemon(roots, "nobody");
    ASSERT_TRUE(daemon.serving()) << daemon.log();
    // A large folder first: the stop arrives while it goes, and is seen before the next path.
    const std::string big = h("Library/Caches/big");
    for (int d = 0; d < 100; ++d) {
        const std::string folder = big + "/" + std::to_string(d);
        fs::create_directories(folder);
        for (int i = 0; i < 200; ++i) {
            int fd = ::open((folder + "/" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            ASSERT_GE(fd, 0);
            close(fd);
        }
    }
    const std::string later = file(h("Library/Caches/later"));
    const std::string queued = file(h("Library/Caches/queued"));
    auto proxy = DaemonConnection::rootProxyForName();
    ASSERT_NE(proxy, nullptr);
    proxy->removeFile({big, later}, false);
    proxy->removeFile({queued}, false);
    proxy->stopRemove();
    ASSERT_TRUE(daemon.logHas("the removal was stopped after 1 of 2 paths")) << daemon.log();
    EXPECT_FALSE(exists(big));
    EXPECT_TRUE(exists(later));
    EXPECT_TRUE(exists(queued));
    // A removal asked for after the stop runs as usual.
    ReomveFile::stopClearSystemFile();
    proxy->removeFile({later, queued}, false);
    ASSERT_TRUE(daemon.logHas("removed 2 of 2 paths")) << daemon.log();
    EXPECT_FALSE(exists(later));
    EXPECT_FALSE(exists(queued));
}

TEST_F(HVNDaemonTest, OnlyRootAndTheServedUserAreServed) {
    RunningDaemon daemon(roots, "nobody");
    ASSERT_TRUE(daemon.serving()) << daemon.log();
    constexpr uid_t kStranger = 54321;
    const std::string victim = file(h("Library/Caches/victim/f"));
    auto ask = [&] {
        auto proxy = DaemonConnection::rootProxyForName();
        if (!proxy) return 3;                                           // could not connect
        if (!proxy->respondsToSelector(kRemoveFileSelector)) return 4;  // refused
        proxy->removeFile({victim}, false);
        return 0;
    };
    // Another user who may open the socket is refused and logged.
    int stranger = runAs(kStranger, true, ask);
    if (stranger == -1) GTEST_SKIP() << "cannot drop to another uid keeping CAP_DAC_OVERRIDE here";
    EXPECT_EQ(stranger, 4);
    EXPECT_TRUE(daemon.logHas("refusing a request from uid 54321")) << daemon.log();
    // Without the capability the 0600 socket does not even open.
    EXPECT_EQ(runAs(kStranger, false, ask), 3);
    EXPECT_TRUE(exists(victim));
    // The served user is served.
    EXPECT_EQ(runAs(nobody_, false, ask), 0);
    ASSERT_TRUE(daemon.logHas("removed 1 of 1 paths")) << daemon.log();
    EXPECT_FALSE(exists(victim));
}

TEST_F(HVNDaemonTest, LipoAppThinsUniversalExecutablesInPlaceKeepingOwnerAndMode) {
    const std::string machine = Host::machine();
    auto cpu = MachO::cpuTypeNamed(machine);
    if (!cpu) GTEST_SKIP() << "this machine's architecture " << machine << " has no Mach-O name";
    const int32_t other = *cpu == kCpuArm64 ? kCpuX86_64 : kCpuArm64;
    RunningDaemon daemon(roots, "nobody");
    ASSERT_TRUE(daemon.serving()) << daemon.log();

    const std::string app =
        makeAppBundle(roots.root() + "/Applications", "Fat.app", fatOf({other, *cpu, kCpuI386}));
    const std::string exe = bundleExecutable(app);
    ASSERT_EQ(::chown(exe.c_str(), nobody_, 0), 0);
    ASSERT_EQ(::chmod(exe.c_str(), 0750), 0);
    // A link to another universal file, and a thin file of another architecture.
    const std::string target = writeBinary(roots.base() + "/outside-fat", fatOf({other, *cpu}));
    const std::string linkApp = makeAppBundle(roots.root() + "/Applications", "Link.app", "");
    fs::remove(bundleExecutable(linkApp));
    fs::create_symlink(target, bundleExecutable(linkApp));
    const std::string thinApp = makeAppBundle(roots.root() + "/Applications", "Thin.app", thinMachO(other));

    auto proxy = DaemonConnection::rootProxyForName();
    ASSERT_NE(proxy, nullptr);
    proxy->lipoApp({exe, bundleExecutable(linkApp), bundleExecutable(thinApp)});
    ASSERT_TRUE(daemon.logHas("thinned 1 of 3 executables to " + machine)) << daemon.log();
    EXPECT_EQ(fileBytes(exe), sliceOf(*cpu));
    struct stat st {};
    ASSERT_EQ(::lstat(exe.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_EQ(st.st_uid, nobody_);
    EXPECT_EQ(folderNames(app + "/Contents/MacOS"), std::vector<std::string>{"App"});
    EXPECT_NE(
        daemon.log().find("Refusing to thin " + bundleExecutable(linkApp) + ": it is not a regular file"),
        std::string::npos);
    EXPECT_EQ(fileBytes(target), fatOf({other, *cpu}));
    EXPECT_TRUE(fs::is_symlink(bundleExecutable(linkApp)));
    EXPECT_NE(daemon.log().find("Could not thin " + bundleExecutable(thinApp)), std::string::npos);
    EXPECT_EQ(fileBytes(bundleExecutable(thinApp)), thinMachO(other));
}

TEST_F(HVNDaemonTest, SetServerDisableSwitchesARootOwnedJobKeepingItsFormatOwnerAndMode) {
    RunningDaemon daemon(roots, "nobody");
    ASSERT_TRUE(daemon.serving()) << daemon.log();
    const std::string xml = r("Library/LaunchDaemons/com.example.agent.plist");
    const Value job(Dictionary{{"Label", Value("com.example.agent")},
                               {"ProgramArguments", Value(Array{Value("/usr/local/bin/agent"), Value("-d")})},
                               {"RunAtLoad", Value(true)}});
    file(xml, PropertyList::serialize(job, PlistFormat::XML));
    ASSERT_EQ(::chmod(xml.c_str(), 0640), 0);
    const std::string binary = r("Library/LaunchDaemons/com.example.bin.plist");
    file(binary,
         PropertyList::serialize(Value(Dictionary{{"Program", Value("/opt/bin/run")}}), PlistFormat::Binary));

    EXPECT_TRUE(ReomveFile::setServerDisable(xml, true));
    auto now = PropertyList::readFile(xml);
    ASSERT_TRUE(now);
    EXPECT_EQ((*now)["ProgramArguments"], Value(Array{Value("/usr/local/bin/agent/disable"), Value("-d")}));
    EXPECT_EQ((*now)["RunAtLoad"], Value(true));
    EXPECT_EQ(readWholeFile(xml)->rfind("<?xml", 0), 0u);
    struct stat st {};
    ASSERT_EQ(::lstat(xml.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_TRUE(ReomveFile::setServerDisable(xml, true));  // already off: stays so
    EXPECT_EQ((*PropertyList::readFile(xml))["ProgramArguments"].asArray()[0],
              Value("/usr/local/bin/agent/disable"));
    EXPECT_TRUE(ReomveFile::setServerDisable(xml, false));
    EXPECT_EQ(*PropertyList::readFile(xml), job);

    EXPECT_TRUE(ReomveFile::setServerDisable(binary, true));
    EXPECT_EQ(readWholeFile(binary)->rfind("bplist", 0), 0u);
    EXPECT_EQ((*PropertyList::readFile(binary))["Program"], Value("/opt/bin/run/disable"));
    EXPECT_EQ(folderNames(r("Library/LaunchDaemons")),
              (std::vector<std::string>{"com.example.agent.plist", "com.example.bin.plist"}));

    // A link, a list without a program, a file that is no list: false, and nothing changes.
    const std::string linked = r("Library/LaunchDaemons/linked.plist");
    fs::create_symlink(xml, linked);
    const std::string noProgram = file(r("Library/LaunchDaemons/empty.plist"),
                                       PropertyList::serialize(Value(Dictionary{{"Label", Value("e")}})));
    const std::string garbage = file(r("Library/LaunchDaemons/garbage.plist"), "garbage");
    const std::string before = *readWholeFile(xml);
    EXPECT_FALSE(ReomveFile::setServerDisable(linked, true));
    EXPECT_FALSE(ReomveFile::setServerDisable(noProgram, true));
    EXPECT_FALSE(ReomveFile::setServerDisable(garbage, true));
    EXPECT_FALSE(ReomveFile::setServerDisable(r("Library/LaunchDaemons/missing.plist"), true));
    EXPECT_EQ(readWholeFile(xml), before);
    EXPECT_EQ(readWholeFile(garbage), "garbage");
    EXPECT_TRUE(daemon.logHas("Refusing to rewrite " + linked + ": it is not a regular file"))
        << daemon.log();
    EXPECT_TRUE(daemon.logHas("HVNDaemon: switched off " + xml));
}

TEST_F(HVNDaemonTest, BrokenRequestsAreAnsweredWithAnErrorAndTheDaemonGoesOnServing) {
    RunningDaemon daemon(roots, "nobody");
    ASSERT_TRUE(daemon.serving()) << daemon.log();
    DaemonRequest question;
    question.kind = DaemonRequest::Kind::RespondsToSelector;
    question.selector = kLipoAppSelector;
    const std::string questionBody = PropertyList::serialize(question.encode(), PlistFormat::Binary);

    // A client that connects and says nothing holds up no one.
    int silent = rawConnect();
    ASSERT_GE(silent, 0);

    // Malformed bodies and requests: an error each, and the connection goes on.
    int fd = rawConnect();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendBytes(fd, header(7) + "garbage"));
    EXPECT_EQ(nextError(fd), "the message is not a property list");
    ASSERT_TRUE(sendBytes(fd, header(0)));
    EXPECT_EQ(nextError(fd), "the message is not a property list");
    const std::string unknown =
        PropertyList::serialize(Value(Dictionary{{"selector", Value("rmrf:")}}), PlistFormat::Binary);
    ASSERT_TRUE(sendBytes(fd, header(static_cast<uint32_t>(unknown.size())) + unknown));
    EXPECT_EQ(nextError(fd), "unrecognized selector rmrf:");
    ASSERT_TRUE(sendBytes(fd, header(static_cast<uint32_t>(questionBody.size())) + questionBody));
    EXPECT_EQ(nextError(fd), "");
    // An oversized frame: an error, then the connection ends.
    ASSERT_TRUE(sendBytes(fd, header(0x7fffffff)));
    EXPECT_NE(nextError(fd).find("malformed message length"), std::string::npos);
    EXPECT_EQ(nextError(fd), "<none>");
    close(fd);

    // A truncated frame: an error once the client has finished sending.
    fd = rawConnect();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendBytes(fd, header(100) + "only a part"));
    ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(nextError(fd), "the connection was closed in the middle of a message");
    close(fd);

    // Many connections at once: the ones past the limit are turned away with an error (the
    // last one certainly: the silent one and the others before it are all still open).
    std::vector<int> many;
    for (int i = 0; i < 40; ++i) {
        many.push_back(rawConnect());
        ASSERT_GE(many.back(), 0);
    }
    EXPECT_EQ(nextError(many.back()), "the daemon is busy with too many connections");
    for (int c : many) close(c);

    // The closed connections free their places once the daemon has seen them go.
    std::shared_ptr<hvn::DaemonObject> proxy;
    bool answers = false;
    for (int i = 0; i < 100 && !answers; ++i) {
        proxy = DaemonConnection::rootProxyForName();
        answers = proxy && proxy->respondsToSelector(kSetServerDisableSelector);
        if (!answers) usleep(50 * 1000);
    }
    ASSERT_TRUE(answers);
    EXPECT_FALSE(proxy->respondsToSelector("removeItem:"));
    close(silent);
    EXPECT_TRUE(daemon.serving());
    EXPECT_EQ(daemon.stop(), 0);
}
