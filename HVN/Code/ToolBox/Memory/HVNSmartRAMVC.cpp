#include "HVN/Code/ToolBox/Memory/HVNSmartRAMVC.h"

#include <atomic>

namespace {
std::atomic<int> gCurrentPage{0};
}  // namespace

HVNSmartRAMVC::HVNSmartRAMVC(HVNScreenView* view) : HVNBaseVC(view), armVC_(view, this) {
    armVC_.newInfo(true);
    scheduleRefresh();
}

HVNSmartRAMVC::~HVNSmartRAMVC() {
    if (refreshTimer_) hvn::RunLoop::main().cancel(refreshTimer_);
    if (progressTimer_) hvn::RunLoop::main().cancel(progressTimer_);
}

void HVNSmartRAMVC::clean() {
    if (title_ != kCleanTitle || tag_ != 0) return;
    setEnabled(kCleanButton, false);
    tag_ = 1;
    progress_ = 0;
    speed_ = kProgressStep;
    finishing_ = false;
    stepsLeft_ = 0;
    setProgress(kCleanProgress, progress_);
    scheduleProgress();
    armVC_.getCleannedSize();
}

void HVNSmartRAMVC::update() {
    if (gCurrentPage.load() == 1 && tag_ == 0) armVC_.newInfo(false);
}

void HVNSmartRAMVC::updateAllUI() {
    setText(kCleanButton, title_);
    setEnabled(kCleanButton, tag_ == 0);
    const bool haveResult = !armVC_.releaseText.empty();
    setText(kReleaseTextLabel, armVC_.releaseText);
    setText(kFreeLabel, armVC_.free);
    setHidden(kReleaseTextLabel, !haveResult);
    setHidden(kFreeLabel, !haveResult);
    setProgress(kCleanProgress, progress_);
}

void HVNSmartRAMVC::finsihProgress() {
    if (tag_ != 1 || finishing_) return;
    finishing_ = true;
    speed_ = (1.0 - progress_) / kFinishSteps;
    stepsLeft_ = kFinishSteps;
    if (!progressTimer_) scheduleProgress();
}

void HVNSmartRAMVC::changeBtnStatus() {
    setEnabled(kCleanButton, true);
    tag_ = 0;
    armVC_.afterCleaned();
    armVC_.cleanedMemory();
    armVC_.newInfo(false);
}

void HVNSmartRAMVC::currentVC(bool isCurrent) {
    gCurrentPage.store(isCurrent ? 1 : 0);
}

bool HVNSmartRAMVC::isCurrentVC() {
    return gCurrentPage.load() == 1;
}

void HVNSmartRAMVC::scheduleRefresh() {
    std::weak_ptr<int> alive = alive_;
    refreshTimer_ = hvn::RunLoop::main().performAfter(kRefreshInterval, [this, alive] {
        if (!alive.lock()) return;
        scheduleRefresh();
        update();
    });
}

void HVNSmartRAMVC::scheduleProgress() {
    std::weak_ptr<int> alive = alive_;
    progressTimer_ = hvn::RunLoop::main().performAfter(kProgressInterval, [this, alive] {
        if (!alive.lock()) return;
        progressTimer_ = 0;
        progressTick();
    });
}

void HVNSmartRAMVC::progressTick() {
    if (tag_ != 1) return;
    progress_ += speed_;
    if (finishing_) {
        if (--stepsLeft_ <= 0) {
            progress_ = 1.0;
            setProgress(kCleanProgress, progress_);
            finishing_ = false;
            changeBtnStatus();
            return;
        }
    } else if (progress_ >= kProgressHold) {
        // Hold until the release has ended; finsihProgress starts the steps again.
        progress_ = kProgressHold;
        setProgress(kCleanProgress, progress_);
        return;
    }
    setProgress(kCleanProgress, progress_);
    scheduleProgress();
}
