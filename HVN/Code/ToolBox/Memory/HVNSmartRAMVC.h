// The memory page: the chart of the statistics part (HVNCleanARMVC, sharing this page's
// view), the "Clean" button with its progress animation, and the result of the last clean
// ("Memory released" and the amount gained, or "optimized RAM").
//
// States: idle (button "Clean" enabled, tag 0) -> cleaning (button disabled, tag 1) from
// the click until the progress animation completes after the release has ended -> idle.
// While the page exists a repeating 6-second timer refreshes the chart, but only while the
// page is the current page (currentVC) and no clean runs.
//
// The progress animation advances every kProgressInterval seconds: slowly while the
// release runs (holding at kProgressHold), then, once it has ended, at
// (1 - progress) / 20 per step, so that it completes 20 steps later.
//
// Threads: the main thread; the timers run on the main run loop (Platform/RunLoop).
#pragma once

#include <memory>
#include <string>

#include "HVN/Code/Public/HVNBaseVC.h"
#include "HVN/Code/ToolBox/Memory/HVNCleanARMVC.h"
#include "Platform/RunLoop.h"

class HVNSmartRAMVC : public HVNBaseVC, public HVNCleanARMDelegate {
public:
    // Elements.
    static constexpr const char* kCleanButton = "cleanButton";
    static constexpr const char* kCleanProgress = "cleanProgress";
    static constexpr const char* kReleaseTextLabel = "releaseTextLabel";
    static constexpr const char* kFreeLabel = "freeLabel";

    static constexpr const char* kCleanTitle = "Clean";
    static constexpr double kRefreshInterval = 6.0;
    static constexpr double kProgressInterval = 0.05;
    static constexpr double kProgressStep = 0.01;
    static constexpr double kProgressHold = 0.9;
    static constexpr int kFinishSteps = 20;

    // Loads the page: builds the chart, shows the page and schedules the refresh timer.
    explicit HVNSmartRAMVC(HVNScreenView* view = nullptr);
    ~HVNSmartRAMVC() override;
    HVNSmartRAMVC(const HVNSmartRAMVC&) = delete;
    HVNSmartRAMVC& operator=(const HVNSmartRAMVC&) = delete;

    // The button's action: starts a release, only while the title is "Clean" and no clean
    // runs (a second click meanwhile is ignored).
    void clean();
    // The refresh timer's tick: rebuilds the chart when the page is current and idle.
    void update();
    // Shows the button, the result texts (hidden until a clean has ended) and the progress.
    void updateAllUI() override;
    // The release has ended: the animation speeds up to complete in kFinishSteps steps.
    void finsihProgress() override;
    // The animation has completed: back to idle, measure again, show the result and refresh
    // the chart.
    void changeBtnStatus();

    // The page switcher's program-wide flag: whether the memory page is on show.
    static void currentVC(bool isCurrent);
    static bool isCurrentVC();

    // 1 while a clean runs, 0 otherwise.
    int cleanButtonTag() const { return tag_; }
    const std::string& cleanButtonTitle() const { return title_; }
    double progress() const { return progress_; }
    HVNCleanARMVC& cleanARMVC() { return armVC_; }

private:
    void scheduleRefresh();
    void scheduleProgress();
    void progressTick();

    HVNCleanARMVC armVC_;
    std::string title_ = kCleanTitle;
    int tag_ = 0;
    double progress_ = 0;
    double speed_ = 0;
    bool finishing_ = false;
    int stepsLeft_ = 0;
    hvn::RunLoop::TimerId refreshTimer_ = 0;
    hvn::RunLoop::TimerId progressTimer_ = 0;
    // Expires with the page: a timer that fires afterwards does nothing.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
