#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "Platform/DaemonConnection.h"
#include "Support/TestRoots.h"

using namespace hvn;

namespace {

int listenAt(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A daemon that answers every request but "lipoApp:" and records what it receives.
// With closeAfter > 0 it hangs up after that many requests without replying to the last.
class TestDaemon {
public:
    explicit TestDaemon(const std::string& path, int closeAfter = 0) : closeAfter_(closeAfter) {
        listenFd_ = listenAt(path);
        if (listenFd_ >= 0) thread_ = std::thread([this] { serve(); });
    }
    ~TestDaemon() {
        shutdown(listenFd_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        close(listenFd_);
    }
    bool listening() const { return listenFd_ >= 0; }
    std::vector<Value> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void serve() {
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        int handled = 0;
        while (auto request = DaemonConnection::readMessage(fd)) {
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(*request);
            }
            if (closeAfter_ > 0 && ++handled >= closeAfter_) break;
            const Dictionary& d = request->asDictionary();
            std::string selector = d.at("selector").asString();
            const Array& args = d.at("arguments").asArray();
            Dictionary reply;
            if (selector == kRespondsToSelector) {
                reply["result"] = args.at(0).asString() != kLipoAppSelector;
            } else if (selector == kSetServerDisableSelector) {
                reply["result"] = args.at(1).asBool();
            } else if (selector == kLipoAppSelector) {
                reply["error"] = "unrecognized selector";
            }
            DaemonConnection::writeMessage(fd, Value(reply));
        }
        close(fd);
    }

    int listenFd_ = -1;
    int closeAfter_;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<Value> requests_;
};

}  // namespace

TEST(DaemonConnectionTest, NoDaemonIsNotReachable) {
    test::TempRoots roots;
    EXPECT_EQ(DaemonConnection::socketPath(), roots.root() + "/run/halvorn/HVNDamonObject.sock");
    EXPECT_EQ(DaemonConnection::rootProxyForName(), nullptr);
    // A socket file nobody listens on any more.
    int fd = listenAt(DaemonConnection::socketPath());
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(DaemonConnection::rootProxyForName(), nullptr);
}

TEST(DaemonConnectionTest, RequestsReachTheDaemonAsPropertyLists) {
    test::TempRoots roots;
    TestDaemon daemon(DaemonConnection::socketPath());
    ASSERT_TRUE(daemon.listening());
    auto proxy = DaemonConnection::rootProxyForName(kDaemonConnectionName);
    ASSERT_NE(proxy, nullptr);
    EXPECT_TRUE(proxy->respondsToSelector(kRemoveFileSelector));
    EXPECT_FALSE(proxy->respondsToSelector(kLipoAppSelector));
    proxy->removeFile({"/a b/c", "/d"}, true);
    EXPECT_TRUE(proxy->setServerDisable("/x.plist", true));
    EXPECT_FALSE(proxy->setServerDisable("/x.plist", false));
    proxy->stopRemove();

    auto requests = daemon.requests();
    ASSERT_EQ(requests.size(), 6u);
    Dictionary remove{{"selector", Value(kRemoveFileSelector)},
                      {"arguments", Value(Array{Value(Array{Value("/a b/c"), Value("/d")}), Value(true)})}};
    EXPECT_EQ(requests[2], Value(remove));
    EXPECT_EQ(requests[5].asDictionary().at("selector"), Value(kStopRemoveSelector));
}

TEST(DaemonConnectionTest, ADaemonThatHangsUpAnswersNothing) {
    test::TempRoots roots;
    TestDaemon daemon(DaemonConnection::socketPath(), 1);
    auto proxy = DaemonConnection::rootProxyForName();
    ASSERT_NE(proxy, nullptr);
    EXPECT_FALSE(proxy->setServerDisable("/x.plist", true));
    EXPECT_FALSE(proxy->respondsToSelector(kRemoveFileSelector));  // the connection is gone
}

TEST(DaemonConnectionTest, MalformedMessagesAreRejected) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    const char hugeLength[4] = {'\x7f', '\x00', '\x00', '\x00'};
    ASSERT_EQ(write(fds[0], hugeLength, 4), 4);
    std::string error;
    EXPECT_FALSE(DaemonConnection::readMessage(fds[1], &error));
    EXPECT_FALSE(error.empty());

    const char garbage[] = {'\0', '\0', '\0', '\3', 'a', 'b', 'c'};
    ASSERT_EQ(write(fds[0], garbage, sizeof garbage), static_cast<ssize_t>(sizeof garbage));
    EXPECT_FALSE(DaemonConnection::readMessage(fds[1], &error));
    EXPECT_EQ(error, "the message is not a property list");

    ASSERT_TRUE(DaemonConnection::writeMessage(fds[0], Value(Dictionary{{"k", Value(1)}})));
    close(fds[0]);
    EXPECT_EQ(DaemonConnection::readMessage(fds[1]), Value(Dictionary{{"k", Value(1)}}));
    EXPECT_FALSE(DaemonConnection::readMessage(fds[1], &error));  // closed
    close(fds[1]);
}

TEST(DaemonConnectionTest, ATestLookupReplacesTheSocket) {
    struct Fake : DaemonObject {
        bool respondsToSelector(const std::string&) override { return true; }
        void removeFile(const std::vector<std::string>&, bool) override {}
        void lipoApp(const std::vector<std::string>&) override {}
        bool setServerDisable(const std::string&, bool) override { return true; }
        void stopRemove() override {}
    };
    auto fake = std::make_shared<Fake>();
    std::string asked;
    auto old = DaemonConnection::setLookupForTesting([&](const std::string& name) {
        asked = name;
        return fake;
    });
    EXPECT_EQ(DaemonConnection::rootProxyForName(), fake);
    EXPECT_EQ(asked, "HVNDamonObject");
    DaemonConnection::setLookupForTesting(old);
    test::TempRoots roots;
    EXPECT_EQ(DaemonConnection::rootProxyForName(), nullptr);
}
