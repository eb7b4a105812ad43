#include "HVN/Code/ToolBox/Memory/HVNCleanARMVC.h"

#include <cstdio>
#include <thread>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/ToolBox/Memory/HVNGetRAM.h"
#include "HVN/Code/ToolBox/Memory/HVNMemoryClear.h"
#include "Platform/Log.h"

namespace {

double gBeforeFree = 0;
double gAfterFree = 0;

struct Category {
    const char* name;
    size_t length;  // how many leading characters of a label name it
    std::string HVNCleanARMVC::*text;
};

const Category kCategories[] = {
    {"Inactive", 8, &HVNCleanARMVC::inactive},
    {"Active", 6, &HVNCleanARMVC::active},
    {"Wired", 5, &HVNCleanARMVC::wirdSize},
    {"Free", 4, &HVNCleanARMVC::freeSize},
};

double freeBytesNow() {
    auto entry = HVNGetRAM::entryBeginningWith(HVNGetRAM::getMemoryInfo(), "Free", 4);
    return entry ? entry->second : 0;
}

}  // namespace

HVNCleanARMVC::HVNCleanARMVC(HVNScreenView* view, HVNCleanARMDelegate* delegate)
    : HVNBaseVC(view), delegate(delegate) {}

HVNCleanARMVC::~HVNCleanARMVC() = default;

void HVNCleanARMVC::newInfo(bool first) {
    (void)first;  // the view replaces the previous chart in either case
    fetchMemoryInfo();
    showChart();
    updateUI();
}

std::vector<std::string> HVNCleanARMVC::fetchMemoryInfo() {
    const hvn::Dictionary info = HVNGetRAM::getMemoryInfo();
    memoryInfo.clear();
    memoryPercent.clear();
    const auto totalEntry = HVNGetRAM::entryBeginningWith(info, "Total");
    const double total = totalEntry ? totalEntry->second : 0;
    for (const Category& category : kCategories) {
        auto entry = HVNGetRAM::entryBeginningWith(info, category.name, category.length);
        if (!entry) {
            this->*category.text = std::string();
            continue;
        }
        // An empty or unreadable total would give "nan" slices.
        const double fraction = total > 0 ? entry->second / total : 0.0;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%f", fraction);
        memoryPercent.emplace_back(buf);
        memoryInfo.push_back(entry->first);
        this->*category.text = entry->first;
        if (category.text == &HVNCleanARMVC::freeSize) gBeforeFree = entry->second;
    }
    return memoryPercent;
}

void HVNCleanARMVC::getCleannedSize() {
    if (releaseRunning_) return;
    releaseRunning_ = true;
    gBeforeFree = freeBytesNow();
    finishObserver_ = hvn::NotificationCenter::defaultCenter().addObserver(
        kRAMCleanFinishNotification, [this](const hvn::Notification&) {
            if (!releaseRunning_) return;
            releaseRunning_ = false;
            finishObserver_ = hvn::ObservationToken();
            if (delegate) delegate->finsihProgress();
        });
    try {
        // The thread touches nothing of this controller: the result comes back through the
        // notification, which a destroyed controller no longer observes.
        std::thread([] { HVNMemoryClear::clearMemory(); }).detach();
    } catch (...) {
        hvn::Log::write("memory release thread could not be started");
        HVNCommonFunction::postRAMCleanFinishNotificationOnMainThread();
    }
}

void HVNCleanARMVC::afterCleaned() {
    gAfterFree = freeBytesNow();
}

void HVNCleanARMVC::cleanedMemory() {
    releaseText = kMemoryReleased;
    free = releaseResult(gBeforeFree, gAfterFree);
}

void HVNCleanARMVC::updateUI() {
    if (delegate) delegate->updateAllUI();
}

std::string HVNCleanARMVC::convertMemory(double bytes) {
    return HVNGetRAM::convertMemorySizeInfo(bytes);
}

std::string HVNCleanARMVC::releaseResult(double before, double after) {
    const double gained = after - before;
    return gained > 0 ? convertMemory(gained) : std::string(kOptimizedRAM);
}

double HVNCleanARMVC::beforeCleanFreeMemory() {
    return gBeforeFree;
}

double HVNCleanARMVC::afterCleanFreeMemory() {
    return gAfterFree;
}

void HVNCleanARMVC::showChart() {
    std::vector<HVNListRow> rows;
    for (size_t i = 0; i < memoryInfo.size() && i < memoryPercent.size(); ++i) {
        HVNListRow row;
        row.cells = {memoryInfo[i], memoryPercent[i]};
        rows.push_back(std::move(row));
    }
    reloadList(kMemoryChart, rows);
    setText(kInactiveLabel, inactive);
    setText(kActiveLabel, active);
    setText(kWirdSizeLabel, wirdSize);
    setText(kFreeSizeLabel, freeSize);
}
