// The memory page: the chart, the refresh timer and the release flow over a stand-in
// ClearMemory program.
#include "HVN/Code/ToolBox/Memory/HVNSmartRAMVC.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/ToolBox/Memory/HVNGetRAM.h"
#include "HVN/Code/ToolBox/Memory/HVNMemoryClear.h"
#include "MemoryFixtures.h"
#include "Platform/NotificationCenter.h"
#include "Platform/RunLoop.h"
#include "Support/LogLines.h"
#include "Support/RecordingView.h"

namespace {

using hvn::test::Meminfo;

// Also keeps every progress value shown, in order.
class ProgressView : public hvn::test::RecordingView {
public:
    void setProgress(const std::string& element, double fraction) override {
        RecordingView::setProgress(element, fraction);
        if (element == HVNSmartRAMVC::kCleanProgress) shown.push_back(fraction);
    }
    std::vector<double> shown;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class SmartRAMTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        hvn::RunLoop::main().reset();
        hvn::RunLoop::main().bindToCurrentThread();
        hvn::RunLoop::main().setClock(&clock);
        HVNSmartRAMVC::currentVC(true);
        hvn::test::writeMeminfo(roots, m);
    }
    void TearDown() override {
        hvn::RunLoop::main().reset();
        hvn::RunLoop::main().setClock(nullptr);
        HVNSmartRAMVC::currentVC(false);
        HVNMemoryClear::setTimeLimit(300);
    }

    // A stand-in that records its arguments and leaves `after` as the host's figures.
    std::string standIn(const Meminfo& after, const std::string& extra = "") {
        const std::string next =
            roots.writeFile(roots.base() + "/meminfo.after", hvn::test::meminfoText(after));
        return hvn::test::standInClearMemory(roots, "echo \"run $#\" >> '" + runs() + "'\ncp '" + next +
                                                        "' '" + roots.root() + "/proc/meminfo'\n" + extra);
    }
    std::string runs() const { return roots.base() + "/runs"; }

    // Waits (in real time) until the release thread has queued its notification, then runs
    // the main loop until the page is idle again.
    bool finishRelease(HVNSmartRAMVC& page, uint64_t reportedBefore) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (HVNMemoryClear::releasesReported() == reportedBefore) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return hvn::RunLoop::main().runUntil([&] { return page.cleanButtonTag() == 0; }, 600);
    }

    std::vector<std::string> chartLabels(const ProgressView& view) const {
        return view.firstCells(HVNCleanARMVC::kMemoryChart);
    }

    hvn::ManualClock clock;
    Meminfo m;
};

TEST_F(SmartRAMTest, LoadingShowsTheSlicesInOrderWithTheirFractionsAndLabels) {
    ProgressView view;
    HVNSmartRAMVC page(&view);
    const auto& rows = view.rows(HVNCleanARMVC::kMemoryChart);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(chartLabels(view), (std::vector<std::string>{"Inactive: 512.0 MB", "Active: 768.0 MB",
                                                           "Wired: 107.5 MB", "Free: 1024.0 MB"}));
    const double total = double(m.totalBytes());
    const double expected[] = {m.inactiveBytes() / total, m.activeBytes() / total, m.wiredBytes() / total,
                               m.freeBytes() / total};
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(rows[i].cells.size(), 2u);
        EXPECT_EQ(rows[i].cells[1], hvn::format("%f", expected[i]));
        EXPECT_EQ(page.cleanARMVC().memoryPercent[i], rows[i].cells[1]);
    }
    EXPECT_EQ(view.text(HVNCleanARMVC::kInactiveLabel), "Inactive: 512.0 MB");
    EXPECT_EQ(view.text(HVNCleanARMVC::kActiveLabel), "Active: 768.0 MB");
    EXPECT_EQ(view.text(HVNCleanARMVC::kWirdSizeLabel), "Wired: 107.5 MB");
    EXPECT_EQ(view.text(HVNCleanARMVC::kFreeSizeLabel), "Free: 1024.0 MB");
    EXPECT_EQ(HVNCleanARMVC::beforeCleanFreeMemory(), double(m.freeBytes()));

    EXPECT_EQ(view.text(HVNSmartRAMVC::kCleanButton), "Clean");
    EXPECT_EQ(view.enabled(HVNSmartRAMVC::kCleanButton), true);
    EXPECT_EQ(page.cleanButtonTag(), 0);
    EXPECT_EQ(view.hidden(HVNSmartRAMVC::kReleaseTextLabel), true) << "no result before the first clean";
    EXPECT_EQ(view.hidden(HVNSmartRAMVC::kFreeLabel), true);
}

TEST_F(SmartRAMTest, EmptyOrUnreadableFiguresGiveZeroSlicesNotNaN) {
    Meminfo zero{};
    zero.memFree = zero.activeAnon = zero.activeFile = zero.inactiveAnon = zero.inactiveFile = 0;
    zero.unevictable = zero.sUnreclaim = zero.kernelStack = zero.pageTables = zero.percpu = 0;
    hvn::test::writeMeminfo(roots, zero);
    ProgressView view;
    HVNSmartRAMVC page(&view);
    EXPECT_EQ(page.cleanARMVC().memoryPercent, (std::vector<std::string>(4, "0.000000")));
    EXPECT_EQ(chartLabels(view),
              (std::vector<std::string>{"Inactive: 0 KB", "Active: 0 KB", "Wired: 0 KB", "Free: 0 KB"}));

    hvn::test::LogLines log;
    std::remove((roots.root() + "/proc/meminfo").c_str());
    page.cleanARMVC().newInfo(false);
    EXPECT_TRUE(view.rows(HVNCleanARMVC::kMemoryChart).empty());
    EXPECT_EQ(view.text(HVNCleanARMVC::kFreeSizeLabel), "");
    EXPECT_TRUE(log.contains("memory statistics unavailable"));
}

TEST_F(SmartRAMTest, TheTimerRefreshesOnlyWhileThePageIsCurrentAndIdle) {
    ProgressView view;
    auto page = std::make_unique<HVNSmartRAMVC>(&view);
    auto reloads = [&] {
        return std::count(view.calls.begin(), view.calls.end(), "reloadList memoryChart 4");
    };
    ASSERT_EQ(reloads(), 1);

    // Another page is on show: ticks come and go without a refresh.
    HVNSmartRAMVC::currentVC(false);
    m.memFree = 2048;
    hvn::test::writeMeminfo(roots, m);
    clock.advance(5.9);
    hvn::RunLoop::main().runPending();
    clock.advance(6.2 * 2);
    hvn::RunLoop::main().runPending();
    hvn::RunLoop::main().runPending();
    EXPECT_EQ(reloads(), 1);
    EXPECT_EQ(view.text(HVNCleanARMVC::kFreeSizeLabel), "Free: 1024.0 MB");

    // Back on show: the next tick, and not earlier, shows the new figures.
    HVNSmartRAMVC::currentVC(true);
    const double shownAt = clock.now();
    hvn::RunLoop::main().runUntil([&] { return reloads() == 2; }, 10);
    EXPECT_EQ(reloads(), 2);
    EXPECT_GT(clock.now(), shownAt);
    EXPECT_EQ(view.text(HVNCleanARMVC::kFreeSizeLabel), "Free: 2.0 MB");
    // It keeps repeating every 6 seconds.
    const double tick = clock.now();
    hvn::RunLoop::main().runUntil([&] { return reloads() == 3; }, 10);
    EXPECT_NEAR(clock.now() - tick, 6.0, 1e-9);

    // A page that is gone leaves no timer behind that could reach it.
    page.reset();
    const size_t calls = view.calls.size();
    clock.advance(60);
    hvn::RunLoop::main().runPending();
    EXPECT_EQ(view.calls.size(), calls);
}

TEST_F(SmartRAMTest, AReleaseDisablesTheButtonWaitsForTheProgramAndReportsTheGain) {
    Meminfo after = m;
    after.memFree += 102400;  // 100 MB more free
    standIn(after);
    ProgressView view;
    HVNSmartRAMVC page(&view);
    const uint64_t reported = HVNMemoryClear::releasesReported();
    page.clean();
    EXPECT_EQ(page.cleanButtonTag(), 1);
    EXPECT_EQ(view.enabled(HVNSmartRAMVC::kCleanButton), false);
    page.clean();  // a second click meanwhile is ignored

    ASSERT_TRUE(finishRelease(page, reported));
    EXPECT_EQ(readFile(runs()), "run 0\n") << "started once, without arguments";
    EXPECT_EQ(view.enabled(HVNSmartRAMVC::kCleanButton), true);
    EXPECT_EQ(page.cleanARMVC().releaseText, "Memory released");
    EXPECT_EQ(page.cleanARMVC().free, "100.0 MB");
    EXPECT_EQ(view.text(HVNSmartRAMVC::kReleaseTextLabel), "Memory released");
    EXPECT_EQ(view.text(HVNSmartRAMVC::kFreeLabel), "100.0 MB");
    EXPECT_EQ(view.hidden(HVNSmartRAMVC::kFreeLabel), false);
    EXPECT_EQ(HVNCleanARMVC::afterCleanFreeMemory(), double(after.freeBytes()));
    // The chart shows the figures after the release, and they are the next clean's baseline.
    EXPECT_EQ(view.text(HVNCleanARMVC::kFreeSizeLabel), "Free: 1.10 GB");
    EXPECT_EQ(HVNCleanARMVC::beforeCleanFreeMemory(), double(after.freeBytes()));

    // The animation never went back or past the end, and ended at 1.
    ASSERT_FALSE(view.shown.empty());
    for (size_t i = 1; i < view.shown.size(); ++i) EXPECT_GE(view.shown[i], view.shown[i - 1]);
    EXPECT_LE(view.shown.back(), 1.0);
    EXPECT_EQ(page.progress(), 1.0);

    // The next clean starts again from idle.
    page.clean();
    EXPECT_EQ(page.cleanButtonTag(), 1);
    ASSERT_TRUE(finishRelease(page, reported + 1));
    EXPECT_EQ(readFile(runs()), "run 0\nrun 0\n");
    EXPECT_EQ(page.cleanARMVC().free, "optimized RAM") << "nothing more was gained";
}

TEST_F(SmartRAMTest, LessFreeMemoryAFailingOrMissingProgramReadOptimizedRAM) {
    Meminfo after = m;
    after.memFree -= 64;
    standIn(after, "exit 3\n");
    ProgressView view;
    HVNSmartRAMVC page(&view);
    hvn::test::LogLines log;
    uint64_t reported = HVNMemoryClear::releasesReported();
    page.clean();
    ASSERT_TRUE(finishRelease(page, reported));
    EXPECT_EQ(page.cleanARMVC().releaseText, "Memory released");
    EXPECT_EQ(page.cleanARMVC().free, "optimized RAM");
    EXPECT_TRUE(log.contains("ClearMemory exited with status 3"));

    // No program in the bundle at all: the page still comes back with a result.
    setenv("HALVORN_BUNDLE", (roots.base() + "/Empty.app").c_str(), 1);
    reported = HVNMemoryClear::releasesReported();
    page.clean();
    ASSERT_TRUE(finishRelease(page, reported));
    EXPECT_EQ(page.cleanARMVC().free, "optimized RAM");
    EXPECT_TRUE(log.contains("ClearMemory is missing from the bundle"));
    EXPECT_EQ(view.enabled(HVNSmartRAMVC::kCleanButton), true);
}

TEST_F(SmartRAMTest, NoRefreshWhileACleanRunsAndTheAnimationFinishesInTwentySteps) {
    // The stand-in waits until the test lets it go.
    const std::string gate = roots.base() + "/go";
    standIn(m, "while [ ! -e '" + gate + "' ]; do sleep 0.01; done\n");
    ProgressView view;
    HVNSmartRAMVC page(&view);
    const uint64_t reported = HVNMemoryClear::releasesReported();
    page.clean();
    const auto reloadsBefore = std::count(view.calls.begin(), view.calls.end(), "reloadList memoryChart 4");
    // Minutes of timer ticks pass on the page while the program runs.
    hvn::RunLoop::main().runUntil([] { return false; }, 60);
    EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), "reloadList memoryChart 4"), reloadsBefore);
    EXPECT_EQ(page.cleanButtonTag(), 1);
    EXPECT_DOUBLE_EQ(page.progress(), HVNSmartRAMVC::kProgressHold) << "holds until the program has ended";

    roots.writeFile(gate, "");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (HVNMemoryClear::releasesReported() == reported && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const size_t shownBefore = view.shown.size();
    const double finishedAt = clock.now();
    ASSERT_TRUE(hvn::RunLoop::main().runUntil([&] { return page.cleanButtonTag() == 0; }, 600));
    // 20 steps of (1 - 0.9) / 20 each, one every kProgressInterval.
    EXPECT_NEAR(clock.now() - finishedAt, HVNSmartRAMVC::kFinishSteps * HVNSmartRAMVC::kProgressInterval,
                1e-9);
    std::vector<double> steps(view.shown.begin() + shownBefore, view.shown.end());
    // The steps, then the final refresh shows 1 once more.
    ASSERT_GE(steps.size(), 20u);
    EXPECT_NEAR(steps[0], 0.9 + 0.005, 1e-9);
    EXPECT_NEAR(steps[18], 0.9 + 19 * 0.005, 1e-9);
    EXPECT_EQ(steps[19], 1.0);
}

TEST_F(SmartRAMTest, AProgramThatDoesNotEndIsStoppedAndTheFinishStillPosted) {
    standIn(m, "exec sleep 30\n");
    HVNMemoryClear::setTimeLimit(0.2);
    int finished = 0;
    hvn::ObservationToken observer = hvn::NotificationCenter::defaultCenter().addObserver(
        kRAMCleanFinishNotification, [&](const hvn::Notification&) { ++finished; });
    hvn::test::LogLines log;
    std::string error;
    EXPECT_FALSE(HVNMemoryClear::clearMemory(&error));
    EXPECT_EQ(error, "ClearMemory ended by signal 15");
    EXPECT_TRUE(log.contains("ClearMemory still runs after"));
    EXPECT_EQ(finished, 0) << "posted on the main loop, not inside the call";
    hvn::RunLoop::main().runPending();
    EXPECT_EQ(finished, 1);
}

}  // namespace
