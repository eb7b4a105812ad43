// Distributed notifications over a private session bus.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Platform/DistributedNotificationBus.h"
#include "Platform/DistributedNotificationCenter.h"
#include "Platform/RunLoop.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

using hvn::DistributedNotificationCenter;
using hvn::RunLoop;
using namespace hvn::test;

namespace {

// Generous: only a broken delivery ever waits this long.
constexpr double kDeliveryTimeout = 30.0;

struct Received {
    std::string name, object;
    bool onMainThread = false;
    bool operator==(const Received&) const = default;
};

class DistributedNotificationTest : public RootsTest {
protected:
    void SetUp() override {
        RunLoop::main().reset();
        RunLoop::main().setClock(nullptr);
        RunLoop::main().bindToCurrentThread();
        bus_ = std::make_unique<PrivateBus>(roots.base());
        ASSERT_TRUE(bus_->ready()) << bus_->error();
        env_.set("DBUS_SESSION_BUS_ADDRESS", bus_->address());
        env_.set("XDG_RUNTIME_DIR", std::nullopt);
    }
    void TearDown() override { RunLoop::main().reset(); }

    // An observer that records what it gets into `into`.
    DistributedNotificationCenter::Callback recorder(std::vector<Received>& into) {
        return [&into](const std::string& name, const std::string& object) {
            into.push_back({name, object, RunLoop::main().isMainThread()});
        };
    }
    static bool runUntilCount(const std::vector<Received>& got, size_t count) {
        return RunLoop::main().runUntil([&] { return got.size() >= count; }, kDeliveryTimeout);
    }

    std::unique_ptr<PrivateBus> bus_;
    ScopedEnvironment env_;
};

TEST_F(DistributedNotificationTest, PostReachesObserversOfOtherCentresAndOwnOnTheMainRunLoop) {
    DistributedNotificationCenter poster, listener;
    std::vector<Received> remote, own;
    listener.addObserver("startNotification", recorder(remote));
    poster.addObserver("startNotification", recorder(own));
    ASSERT_TRUE(listener.isListening());

    EXPECT_TRUE(poster.post("startNotification", "startMode4"));
    // Nothing runs on the poster's or the listener's thread: only the run loop delivers.
    EXPECT_TRUE(remote.empty());
    EXPECT_TRUE(own.empty());
    ASSERT_TRUE(runUntilCount(remote, 1));
    ASSERT_TRUE(runUntilCount(own, 1));
    EXPECT_EQ(remote, (std::vector<Received>{{"startNotification", "startMode4", true}}));
    EXPECT_EQ(own, (std::vector<Received>{{"startNotification", "startMode4", true}}));
}

TEST_F(DistributedNotificationTest, ObserversGetTheirNamesOnlyInOrderAndTheEmptyNameGetsAll) {
    DistributedNotificationCenter poster, listener;
    std::vector<Received> ends, starts, all;
    listener.addObserver("appEnd", recorder(ends));
    listener.addObserver("appStart", recorder(starts));
    listener.addObserver("", recorder(all));
    ASSERT_TRUE(poster.post("appStart"));
    ASSERT_TRUE(poster.post("appEnd"));
    ASSERT_TRUE(poster.post("appStart"));
    ASSERT_TRUE(runUntilCount(all, 3));
    ASSERT_TRUE(runUntilCount(starts, 2));
    ASSERT_TRUE(runUntilCount(ends, 1));
    std::vector<std::string> order;
    for (const auto& r : all) order.push_back(r.name);
    EXPECT_EQ(order, (std::vector<std::string>{"appStart", "appEnd", "appStart"}));
    EXPECT_EQ(ends.size(), 1u);
    EXPECT_EQ(starts.size(), 2u);
    EXPECT_EQ(all[0].object, "");
}

TEST_F(DistributedNotificationTest, RemovedObserverGetsNothingAndTheListenerStopsWithTheLast) {
    DistributedNotificationCenter poster, listener;
    std::vector<Received> removed, kept;
    auto gone = listener.addObserver("appEnd", recorder(removed));
    auto keep = listener.addObserver("appStart", recorder(kept));
    listener.removeObserver(gone);
    listener.removeObserver(gone);  // unknown by now: ignored
    EXPECT_TRUE(listener.isListening());
    ASSERT_TRUE(poster.post("appEnd"));
    ASSERT_TRUE(poster.post("appStart"));
    // Signals of one sender arrive in order: once the second is in, the first was seen.
    ASSERT_TRUE(runUntilCount(kept, 1));
    RunLoop::main().runPending();
    EXPECT_TRUE(removed.empty());

    listener.removeObserver(keep);
    EXPECT_FALSE(listener.isListening());
    // A new observer starts the listener again.
    listener.addObserver("appEnd", recorder(removed));
    EXPECT_TRUE(listener.isListening());
    ASSERT_TRUE(poster.post("appEnd"));
    EXPECT_TRUE(runUntilCount(removed, 1));
}

TEST_F(DistributedNotificationTest, NotificationQueuedForAnObserverRemovedMeanwhileIsDropped) {
    DistributedNotificationCenter poster, listener;
    std::vector<Received> second;
    DistributedNotificationCenter::ObserverId secondId = 0;
    bool firstRan = false;
    // Both observers' deliveries are queued together; the first removes the second.
    listener.addObserver("appEnd", [&](const std::string&, const std::string&) {
        firstRan = true;
        listener.removeObserver(secondId);
    });
    secondId = listener.addObserver("appEnd", recorder(second));
    ASSERT_TRUE(poster.post("appEnd"));
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return firstRan; }, kDeliveryTimeout));
    RunLoop::main().runPending();
    EXPECT_TRUE(second.empty());
}

TEST_F(DistributedNotificationTest, InvalidNamesAndObjectsAreNotPosted) {
    DistributedNotificationCenter center;
    LogLines log;
    for (const char* name : {"", "com.corvane.appEnd", "1abc", "app End", "appEnd\n"}) {
        EXPECT_FALSE(DistributedNotificationCenter::isValidName(name)) << name;
        EXPECT_FALSE(center.post(name)) << name;
    }
    EXPECT_TRUE(DistributedNotificationCenter::isValidName("_app9End"));
    EXPECT_FALSE(center.post("appStart", std::string("\xff\xfe", 2)));
    EXPECT_TRUE(log.contains("not UTF-8"));
    // The connection still works after the refusals.
    EXPECT_TRUE(center.post("appStart", "ok"));
}

TEST_F(DistributedNotificationTest, PostingSurvivesARestartedBusAndFollowsAChangedAddress) {
    DistributedNotificationCenter poster;
    ASSERT_TRUE(poster.post("appStart"));
    // The old connection breaks; the next post connects again.
    ASSERT_TRUE(bus_->start()) << bus_->error();
    DistributedNotificationCenter listener;
    std::vector<Received> got;
    listener.addObserver("appEnd", recorder(got));
    EXPECT_TRUE(poster.post("appEnd"));
    EXPECT_TRUE(runUntilCount(got, 1));

    hvn::test::TempRoots other;
    PrivateBus second(other.base());
    ASSERT_TRUE(second.ready()) << second.error();
    env_.set("DBUS_SESSION_BUS_ADDRESS", second.address());
    DistributedNotificationCenter secondListener;
    std::vector<Received> onSecond;
    secondListener.addObserver("appEnd", recorder(onSecond));
    EXPECT_TRUE(poster.post("appEnd"));
    EXPECT_TRUE(runUntilCount(onSecond, 1));
}

TEST_F(DistributedNotificationTest, TheRuntimeFolderBusIsUsedWithoutAnAddress) {
    env_.set("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    env_.set("XDG_RUNTIME_DIR", roots.base());  // the bus socket is <base>/bus
    DistributedNotificationCenter poster, listener;
    std::vector<Received> got;
    listener.addObserver("appStart", recorder(got));
    ASSERT_TRUE(listener.isListening());
    EXPECT_TRUE(poster.post("appStart", "x"));
    ASSERT_TRUE(runUntilCount(got, 1));
    EXPECT_EQ(got[0].object, "x");
}

// Without a bus nothing is posted or received, and the problem is logged once.
TEST(DistributedNotificationNoBusTest, NothingIsPostedAndItIsLoggedOnce) {
    TempRoots roots;
    ScopedEnvironment env;
    hvn::test::TempRoots empty;
    struct Case {
        std::optional<std::string> address, runtime;
    };
    for (const Case& c : {Case{std::nullopt, std::nullopt}, Case{std::nullopt, empty.base()},
                          Case{"unix:path=" + empty.base() + "/no-such-bus", std::nullopt}}) {
        env.set("DBUS_SESSION_BUS_ADDRESS", c.address);
        env.set("XDG_RUNTIME_DIR", c.runtime);
        LogLines log;
        DistributedNotificationCenter center;
        EXPECT_FALSE(center.post("appStart"));
        EXPECT_FALSE(center.post("appEnd"));
        EXPECT_EQ(log.count("nothing is posted"), 1u) << c.address.value_or("-");
        bool called = false;
        center.addObserver("appEnd", [&](const std::string&, const std::string&) { called = true; });
        center.addObserver("appStart", [&](const std::string&, const std::string&) { called = true; });
        EXPECT_FALSE(center.isListening());
        EXPECT_EQ(log.count("nothing will be received"), 1u);
        RunLoop::main().runPending();
        EXPECT_FALSE(called);
    }
}

}  // namespace
