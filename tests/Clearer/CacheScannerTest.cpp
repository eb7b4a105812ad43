// The scan task queue: one completion per run on the main thread, results stored under
// their modules, stopping, and the "diskCheck" rule of the disk queue.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Clearer/CleanManagerTestSupport.h"
#include "HVN/Code/Clearer/HVNCacheScanner.h"
#include "Platform/NotificationCenter.h"
#include "Platform/RunLoop.h"

using namespace hvn::test;

namespace {

class CacheScannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        hvn::RunLoop::main().reset();
        hvn::RunLoop::main().setClock(&clock);
    }
    void TearDown() override {
        hvn::RunLoop::main().setClock(nullptr);
        hvn::RunLoop::main().reset();
    }
    hvn::ManualClock clock;
};

TEST_F(CacheScannerTest, RunPostsOneCompletionOnTheMainThreadWithEveryResult) {
    NotificationCounter finished(kScanFinishNotification);
    HVNCacheScanner queue;
    queue.addOperation(std::make_shared<FakeScanOperation>(&queue, 1, makeNodes({"a", "b"})));
    queue.addOperation(std::make_shared<FakeScanOperation>(&queue, 3, makeNodes({"c"}), 0.02));
    queue.addOperation(std::make_shared<FakeScanOperation>(&queue, 7, HVNNodeList{}));
    EXPECT_EQ(queue.pendingTaskCount(), 3u);
    queue.start();
    EXPECT_EQ(queue.pendingTaskCount(), 0u);
    EXPECT_EQ(queue.taskCount.load(), 3u);

    ASSERT_TRUE(finished.waitFor(1));
    EXPECT_TRUE(finished.allOnMainThread());
    EXPECT_FALSE(queue.isRunning());
    EXPECT_EQ(queue.modules(), (std::vector<int32_t>{1, 3, 7}));
    EXPECT_EQ(queue.resultFor(1)->size(), 2u);
    EXPECT_EQ(queue.resultFor(3)->at(0)->name(), "c");
    EXPECT_TRUE(queue.resultFor(7)->empty());
    EXPECT_FALSE(queue.resultFor(2).has_value());
    EXPECT_TRUE(queue.hasData());
    EXPECT_TRUE(queue.hasNonEmptyList());

    // Nothing else arrives later.
    hvn::RunLoop::main().runUntil([] { return false; }, 0.1);
    EXPECT_EQ(finished.count(), 1);
}

TEST_F(CacheScannerTest, ManyOperationsReportingAtOnceAreAllKept) {
    NotificationCounter finished(kScanFinishNotification);
    HVNCacheScanner queue;
    std::atomic<int> gate{0};
    constexpr int kTasks = 40;
    for (int i = 0; i < kTasks; ++i) {
        // Identifiers without a special rule (9, the trash, is regrouped on arrival).
        auto op = std::make_shared<FakeScanOperation>(&queue, 100 + i, makeNodes({"n" + std::to_string(i)}));
        op->startGate = &gate;
        queue.addOperation(op);
    }
    queue.start();
    gate.store(1);  // release them together
    ASSERT_TRUE(finished.waitFor(1));
    ASSERT_EQ(queue.modules().size(), static_cast<size_t>(kTasks));
    for (int i = 0; i < kTasks; ++i) {
        auto list = queue.resultFor(100 + i);
        ASSERT_TRUE(list && list->size() == 1) << i;
        EXPECT_EQ(list->at(0)->name(), "n" + std::to_string(i));
    }
}

TEST_F(CacheScannerTest, AnEmptyRunStillCompletesAndANewRunForgetsOldResults) {
    NotificationCounter finished(kScanFinishNotification);
    HVNCacheScanner queue;
    queue.addOperation(std::make_shared<FakeScanOperation>(&queue, 5, makeNodes({"x"})));
    queue.start();
    ASSERT_TRUE(finished.waitFor(1));
    ASSERT_TRUE(queue.resultFor(5).has_value());

    queue.start();  // no tasks
    EXPECT_FALSE(queue.hasData());
    ASSERT_TRUE(finished.waitFor(2));
    EXPECT_FALSE(queue.hasData());
    EXPECT_FALSE(queue.hasNonEmptyList());
}

TEST_F(CacheScannerTest, StopKeepsWhatFinishedAndStillCompletesOnce) {
    NotificationCounter finished(kScanFinishNotification);
    HVNCacheScanner queue;
    auto quick = std::make_shared<FakeScanOperation>(&queue, 1, makeNodes({"done"}));
    auto slow = std::make_shared<FakeScanOperation>(&queue, 2, makeNodes({"never"}));
    slow->runUntilCancelled = true;
    queue.addOperation(quick);
    queue.addOperation(slow);
    queue.start();
    ASSERT_TRUE(
        hvn::RunLoop::main().runUntil([&] { return queue.resultFor(1).has_value() && slow->started(); }, 10));
    EXPECT_TRUE(queue.isRunning());
    queue.stop();

    ASSERT_TRUE(finished.waitFor(1));
    EXPECT_TRUE(slow->isCancelled());
    EXPECT_EQ(queue.modules(), (std::vector<int32_t>{1}));
    hvn::RunLoop::main().runUntil([] { return false; }, 0.1);
    EXPECT_EQ(finished.count(), 1);
}

TEST_F(CacheScannerTest, StopRightAfterStartReachesTasksNotYetHandedOver) {
    NotificationCounter finished(kScanFinishNotification);
    HVNCacheScanner queue;
    std::vector<std::shared_ptr<FakeScanOperation>> ops;
    // The gate never opens: a task ends only when the stop reaches it, whether it had
    // been handed to the operation queue already or not.
    std::atomic<int> closedGate{0};
    for (int i = 0; i < 4; ++i) {
        ops.push_back(std::make_shared<FakeScanOperation>(&queue, i, makeNodes({"x"})));
        ops.back()->startGate = &closedGate;
        queue.addOperation(ops.back());
    }
    queue.start();
    queue.stop();
    ASSERT_TRUE(finished.waitFor(1));
    for (auto& op : ops) EXPECT_TRUE(op->isCancelled());
    EXPECT_FALSE(queue.hasData());
}

// Reports after it was cancelled, as a scan does that passed its last check just before
// the stop.
class LateReporter : public hvn::Operation {
public:
    explicit LateReporter(HVNScanResultDelegate* target) : target_(target) {}
    void main() override {
        started.store(true);
        while (!isCancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        target_->finishScan(makeNodes({"stale"}), 9);
    }
    std::atomic<bool> started{false};

private:
    HVNScanResultDelegate* target_;
};

TEST_F(CacheScannerTest, ANewRunAfterAStopGetsNoResultsOfTheStoppedOne) {
    NotificationCounter finished(kScanFinishNotification);
    HVNCacheScanner queue;
    auto late = std::make_shared<LateReporter>(&queue);
    queue.addOperation(late);
    queue.start();
    ASSERT_TRUE(hvn::RunLoop::main().runUntil([&] { return late->started.load(); }, 10));
    queue.stop();
    queue.addOperation(std::make_shared<FakeScanOperation>(&queue, 1, makeNodes({"fresh"})));
    queue.start();
    ASSERT_TRUE(finished.waitFor(2));
    EXPECT_FALSE(queue.isRunning());
    EXPECT_EQ(queue.modules(), std::vector<int32_t>{1});
}

// Reports some time after it started, whether it was cancelled or not.
class SlowReporter : public hvn::Operation {
public:
    explicit SlowReporter(HVNScanResultDelegate* target) : target_(target) {}
    void main() override {
        started.store(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        target_->finishScan(makeNodes({"stale"}), 5);
    }
    std::atomic<bool> started{false};

private:
    HVNScanResultDelegate* target_;
};

TEST_F(CacheScannerTest, AStartWhileARunIsGoingNeverMixesTheTwoRunsResults) {
    NotificationCounter finished(kScanFinishNotification);
    HVNCacheScanner queue;
    auto slow = std::make_shared<SlowReporter>(&queue);
    queue.addOperation(slow);
    queue.start();
    ASSERT_TRUE(hvn::RunLoop::main().runUntil([&] { return slow->started.load(); }, 10));
    queue.addOperation(std::make_shared<FakeScanOperation>(&queue, 1, makeNodes({"fresh"})));
    queue.start();  // no stop before it
    EXPECT_TRUE(slow->isCancelled());
    ASSERT_TRUE(finished.waitFor(2));
    hvn::RunLoop::main().runUntil([] { return false; }, 0.2);
    EXPECT_EQ(queue.modules(), std::vector<int32_t>{1});
}

TEST_F(CacheScannerTest, DiskQueuePostsDiskCheckWhenOnlyTheVerifyTaskIsLeft) {
    NotificationCounter diskCheck(kDiskCheckNotification);
    NotificationCounter finished(kScanFinishNotification);
    HVNCacheScanner queue(true);
    std::atomic<int> verifyGate{0};
    queue.addOperation(std::make_shared<FakeScanOperation>(&queue, 0, makeNodes({"a"})));
    queue.addOperation(std::make_shared<FakeScanOperation>(&queue, 2, makeNodes({"b"})));
    auto verify = std::make_shared<FakeScanOperation>(&queue, 19, makeNodes({"check"}));
    verify->startGate = &verifyGate;  // the verify task ends after "diskCheck"
    queue.addOperation(verify);
    queue.sendNotfication = true;
    queue.start();

    ASSERT_TRUE(hvn::RunLoop::main().runUntil([&] { return diskCheck.count() == 1; }, 10));
    EXPECT_FALSE(queue.resultFor(19).has_value());
    EXPECT_EQ(queue.finishTask.load(), 2u);
    verifyGate.store(1);
    ASSERT_TRUE(finished.waitFor(1));
    EXPECT_EQ(diskCheck.count(), 1);
    EXPECT_EQ(queue.finishTask.load(), 3u);
    EXPECT_FALSE(queue.sendNotfication.load());  // cleared at the end of the run
}

TEST_F(CacheScannerTest, NoDiskCheckWithoutVerifyTaskOrOutsideTheDiskQueue) {
    NotificationCounter diskCheck(kDiskCheckNotification);
    NotificationCounter finished(kScanFinishNotification);
    HVNCacheScanner disk(true);
    disk.addOperation(std::make_shared<FakeScanOperation>(&disk, 0, makeNodes({"a"})));
    disk.addOperation(std::make_shared<FakeScanOperation>(&disk, 2, makeNodes({"b"})));
    disk.start();
    HVNCacheScanner system(false);
    system.addOperation(std::make_shared<FakeScanOperation>(&system, 1, makeNodes({"a"})));
    system.addOperation(std::make_shared<FakeScanOperation>(&system, 3, makeNodes({"b"})));
    system.sendNotfication = true;
    system.start();
    ASSERT_TRUE(finished.waitFor(2));
    EXPECT_EQ(diskCheck.count(), 0);
    EXPECT_EQ(disk.finishTask.load(), 2u);
    EXPECT_EQ(system.finishTask.load(), 0u);  // counted in the disk queue only
}

TEST_F(CacheScannerTest, DestroyingARunningQueueCancelsAndWaits) {
    auto slow = std::make_shared<FakeScanOperation>(nullptr, 2, HVNNodeList{});
    slow->runUntilCancelled = true;
    {
        HVNCacheScanner queue;
        slow->target = &queue;
        queue.addOperation(slow);
        queue.start();
        ASSERT_TRUE(hvn::RunLoop::main().runUntil([&] { return slow->started(); }, 10));
    }
    EXPECT_TRUE(slow->isCancelled());
    EXPECT_TRUE(slow->isFinished());
}

}  // namespace
