// The companion programs of the launch agents run as programs: HVNMenu on a private session
// bus, and HVNUpdate with and without an update feed.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Platform/DistributedNotificationBus.h"
#include "Platform/DistributedNotificationCenter.h"
#include "Platform/Process.h"
#include "Platform/PropertyList.h"
#include "Support/TestRoots.h"

using namespace hvn::test;

namespace {

const std::string kMenu =
    std::string(HALVORN_TEST_BUNDLE) + "/Contents/Resources/HVNMenu.app/Contents/MacOS/HVNMenu";
const std::string kUpdate =
    std::string(HALVORN_TEST_BUNDLE) + "/Contents/Resources/HVNUpdate.app/Contents/MacOS/HVNUpdate";

// Generous bounds for a loaded machine; only a fault ever waits this long.
constexpr int kWaitMilliseconds = 30000;

std::string fileText(const std::string& path) {
    return hvn::readWholeFile(path).value_or("");
}

bool waitFor(const std::function<bool()>& pred) {
    for (int i = 0; i < kWaitMilliseconds / 10; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pred();
}

// A program started with its log lines (standard error) going to a file.
class Running {
public:
    Running(const std::string& program, const std::vector<std::string>& arguments,
            const std::string& logFile) {
        hvn::ProcessOptions options;
        options.captureOutput = false;
        options.environment.emplace_back("HALVORN_LOG", "stderr");
        std::vector<std::string> args = {"-c", "exec \"$0\" \"$@\" 2>>\"$LOGFILE\"", program};
        args.insert(args.end(), arguments.begin(), arguments.end());
        options.environment.emplace_back("LOGFILE", logFile);
        started_ = process_.start("/bin/sh", args, options, &error_);
    }
    ~Running() {
        if (process_.isRunning()) process_.terminate(9);
        if (started_) process_.waitUntilExit();
    }
    bool started() const { return started_; }
    const std::string& error() const { return error_; }
    // The exit status once it has ended, or -1 when it is still running after the wait.
    int exitStatus() {
        if (!waitFor([&] { return !process_.isRunning(); })) return -1;
        hvn::ProcessResult r = process_.waitUntilExit();
        return r.exited ? r.exitStatus : 128 + r.terminationSignal;
    }
    bool isRunning() { return process_.isRunning(); }

private:
    hvn::Process process_;
    bool started_ = false;
    std::string error_;
};

class HVNMenuTest : public RootsTest {
protected:
    void SetUp() override {
        bus_ = std::make_unique<PrivateBus>(roots.base());
        ASSERT_TRUE(bus_->ready()) << bus_->error();
        env_.set("DBUS_SESSION_BUS_ADDRESS", bus_->address());
        env_.set("XDG_RUNTIME_DIR", roots.makeDir(roots.base() + "/run"));
    }
    std::string log(const std::string& name) const { return roots.base() + "/" + name + ".log"; }

    std::unique_ptr<PrivateBus> bus_;
    ScopedEnvironment env_;
};

TEST_F(HVNMenuTest, ObservesAppStartAndExitsOnAppEndWhileASecondInstanceLeavesAtOnce) {
    Running menu(kMenu, {}, log("menu"));
    ASSERT_TRUE(menu.started()) << menu.error();
    ASSERT_TRUE(waitFor([&] { return fileText(log("menu")).find("observing") != std::string::npos; }))
        << fileText(log("menu"));

    Running second(kMenu, {}, log("second"));
    EXPECT_EQ(second.exitStatus(), 0);
    EXPECT_NE(fileText(log("second")).find("another instance is running"), std::string::npos);
    EXPECT_EQ(fileText(log("second")).find("observing"), std::string::npos);

    hvn::DistributedNotificationCenter center;
    ASSERT_TRUE(center.post("appStart"));
    ASSERT_TRUE(waitFor([&] { return fileText(log("menu")).find("appStart") != std::string::npos; }));
    EXPECT_TRUE(menu.isRunning());
    ASSERT_TRUE(center.post("appEnd"));
    EXPECT_EQ(menu.exitStatus(), 0);
    EXPECT_NE(fileText(log("menu")).find("appEnd: quitting"), std::string::npos);

    // The lock went with the first instance: a new one runs.
    Running third(kMenu, {}, log("third"));
    EXPECT_TRUE(waitFor([&] { return fileText(log("third")).find("observing") != std::string::npos; }));
    ASSERT_TRUE(center.post("appEnd"));
    EXPECT_EQ(third.exitStatus(), 0);
}

TEST_F(HVNMenuTest, WithoutABusOrWhenTheBusEndsItQuitsWithStatusOne) {
    {
        ScopedEnvironment noBus;
        noBus.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + roots.base() + "/no-bus");
        Running menu(kMenu, {}, log("nobus"));
        EXPECT_EQ(menu.exitStatus(), 1);
        EXPECT_NE(fileText(log("nobus")).find("no session bus"), std::string::npos) << fileText(log("nobus"));
    }
    Running menu(kMenu, {}, log("menu"));
    ASSERT_TRUE(waitFor([&] { return fileText(log("menu")).find("observing") != std::string::npos; }));
    bus_->stop();
    EXPECT_EQ(menu.exitStatus(), 1);
}

TEST_F(HVNMenuTest, HelpAndUnknownArguments) {
    std::string out;
    EXPECT_EQ(runCommand("'" + kMenu + "' --help", &out), 0);
    EXPECT_EQ(out.rfind("usage: HVNMenu", 0), 0u) << out;
    EXPECT_NE(out.find("appEnd"), std::string::npos);
    EXPECT_EQ(runCommand("'" + kMenu + "' --bogus 2>/dev/null", &out), 2);
    EXPECT_EQ(runCommand("'" + kUpdate + "' --help", &out), 0);
    EXPECT_EQ(out.rfind("usage: HVNUpdate", 0), 0u) << out;
    EXPECT_NE(out.find("HVNUpdateFeed"), std::string::npos);
}

// A one-request HTTP server on 127.0.0.1 that answers with the given body.
class FeedServer {
public:
    explicit FeedServer(std::string body) : body_(std::move(body)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd_, 4) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            return;
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            char buf[4096];
            std::string request;
            while (request.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = ::read(c, buf, sizeof buf);
                if (n <= 0) break;
                request.append(buf, static_cast<size_t>(n));
            }
            std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body_.size()) +
                                "\r\nConnection: close\r\n\r\n" + body_;
            [[maybe_unused]] ssize_t w = ::write(c, reply.data(), reply.size());
            ::close(c);
        });
    }
    ~FeedServer() {
        if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    int port() const { return port_; }

private:
    std::string body_;
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

class HVNUpdateTest : public RootsTest {
protected:
    // Points the main bundle at a test bundle whose Info.plist names the feed (or none).
    void bundleWithFeed(const std::optional<std::string>& feed) {
        hvn::Dictionary info{{"CFBundleShortVersionString", "1.9.2"}};
        if (feed) info["HVNUpdateFeed"] = *feed;
        const std::string app = roots.base() + "/Test.app";
        hvn::PropertyList::writeFile(app + "/Contents/Info.plist", hvn::Value(info));
        env_.set("HALVORN_BUNDLE", app);
    }
    int update(std::string* logText) {
        const std::string file = roots.base() + "/update.log";
        Running run(kUpdate, {}, file);
        int status = run.exitStatus();
        *logText = fileText(file);
        return status;
    }
    static std::string feedList(const std::string& version) {
        return hvn::PropertyList::serialize(hvn::Value(
            hvn::Dictionary{{"CFBundleShortVersionString", version}, {"URL", "https://example.org/get"}}));
    }
    ScopedEnvironment env_;
};

TEST_F(HVNUpdateTest, WithoutAFeedItSaysSoAndEnds) {
    std::string text;
    for (const std::optional<std::string>& feed :
         {std::optional<std::string>(), std::optional<std::string>("")}) {
        bundleWithFeed(feed);
        EXPECT_EQ(update(&text), 0);
        EXPECT_NE(text.find("no update feed is configured"), std::string::npos) << text;
    }
    // The shipped bundle names none.
    env_.set("HALVORN_BUNDLE", std::nullopt);
    EXPECT_EQ(update(&text), 0);
    EXPECT_NE(text.find("no update feed is configured"), std::string::npos) << text;
}

TEST_F(HVNUpdateTest, TheFeedsVersionIsComparedNumerically) {
    struct Case {
        const char* latest;
        const char* expected;
    };
    for (const Case& c :
         {Case{"1.10", "Halvorn 1.10 is available (installed: 1.9.2): https://example.org/get"},
          Case{"1.9.2", "Halvorn 1.9.2 is up to date"}, Case{"1.9", "Halvorn 1.9.2 is up to date"},
          Case{"1.9.2.1", "Halvorn 1.9.2.1 is available"}}) {
        FeedServer server(feedList(c.latest));
        ASSERT_GT(server.port(), 0);
        bundleWithFeed("http://127.0.0.1:" + std::to_string(server.port()) + "/feed.plist");
        std::string text;
        EXPECT_EQ(update(&text), 0) << text;
        EXPECT_NE(text.find(c.expected), std::string::npos) << c.latest << ": " << text;
    }
}

TEST_F(HVNUpdateTest, AnUnreadableFeedEndsWithStatusOne) {
    std::string text;
    {
        FeedServer server("not a property list");
        bundleWithFeed("http://127.0.0.1:" + std::to_string(server.port()) + "/feed.plist");
        EXPECT_EQ(update(&text), 1);
        EXPECT_NE(text.find("names no version"), std::string::npos) << text;
    }
    bundleWithFeed("file:///etc/passwd");
    EXPECT_EQ(update(&text), 1);
    EXPECT_NE(text.find("cannot read the update feed"), std::string::npos) << text;
}

}  // namespace
