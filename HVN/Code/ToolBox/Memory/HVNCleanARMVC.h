// The memory page's statistics part: the chart of free, wired, active and inactive memory
// with a label per slice, and the measurement of free memory before and after a release.
//
// Slices come in the order Inactive, Active, Wired, Free; each is the fraction of the total
// that its category holds, as "%f" text. The chart is the list kMemoryChart, one row per
// slice with the cells {label, fraction} ("Inactive: 1.50 GB", "0.375000").
//
// Threads: the main thread. The release runs on a background thread of its own and reports
// back through "RAM_CLEAN_FINISH_NOTFICATION" on the main run loop.
#pragma once

#include <string>
#include <vector>

#include "HVN/Code/Public/HVNBaseVC.h"
#include "Platform/NotificationCenter.h"

// What the statistics part asks of the page that holds it.
class HVNCleanARMDelegate {
public:
    virtual ~HVNCleanARMDelegate() = default;
    // Show everything again (the chart has been rebuilt).
    virtual void updateAllUI() = 0;
    // The release program has ended: bring the progress animation to its end.
    virtual void finsihProgress() = 0;
};

class HVNCleanARMVC : public HVNBaseVC {
public:
    // Elements.
    static constexpr const char* kMemoryChart = "memoryChart";
    static constexpr const char* kInactiveLabel = "inactiveLabel";
    static constexpr const char* kActiveLabel = "activeLabel";
    static constexpr const char* kWirdSizeLabel = "wirdSizeLabel";
    static constexpr const char* kFreeSizeLabel = "freeSizeLabel";

    // The result texts.
    static constexpr const char* kMemoryReleased = "Memory released";
    static constexpr const char* kOptimizedRAM = "optimized RAM";

    explicit HVNCleanARMVC(HVNScreenView* view = nullptr, HVNCleanARMDelegate* delegate = nullptr);
    ~HVNCleanARMVC() override;

    // Rebuilds the chart and the slice labels from fresh statistics, then updateUI. first is
    // true for the chart's first build; otherwise the previous chart is replaced.
    void newInfo(bool first);
    // Reads the statistics and fills memoryInfo, memoryPercent and the slice texts; records
    // the free bytes as the before-clean value. Returns memoryPercent. A category whose entry
    // is missing (statistics unreadable) is left out; a total of 0 gives fractions of 0.
    std::vector<std::string> fetchMemoryInfo();
    // Starts a release: measures free memory as the before-clean value, waits for the
    // finish notification and runs HVNMemoryClear::clearMemory on a background thread.
    // When the notification arrives the delegate's finsihProgress is called (once).
    void getCleannedSize();
    // Measures free memory again as the after-clean value (0 when unreadable).
    void afterCleaned();
    // releaseText = "Memory released"; free = the gain's amount text, or "optimized RAM"
    // when free memory did not grow.
    void cleanedMemory();
    // Forwards updateAllUI to the delegate.
    void updateUI();

    // The amount text (HVNGetRAM::convertMemorySizeInfo).
    static std::string convertMemory(double bytes);
    // The `free` text of a release that went from `before` to `after` free bytes.
    static std::string releaseResult(double before, double after);

    // The free bytes measured before the last clean (overwritten by every refresh and at the
    // start of every clean) and after it (overwritten by every clean). Program-wide; main
    // thread.
    static double beforeCleanFreeMemory();
    static double afterCleanFreeMemory();

    HVNCleanARMDelegate* delegate = nullptr;

    // --- State ---
    std::vector<std::string> memoryInfo;     // the slice labels, Inactive, Active, Wired, Free
    std::vector<std::string> memoryPercent;  // the slice fractions, same order, "%f"
    std::string inactive, active, wirdSize, freeSize;
    std::string free;         // the gain of the last clean, or "optimized RAM"
    std::string releaseText;  // "Memory released" once a clean has ended
    bool releaseRunning() const { return releaseRunning_; }

private:
    void showChart();
    bool releaseRunning_ = false;
    hvn::ObservationToken finishObserver_;
};
