// Helpers of the clean manager and task queue tests: fake scan operations that report
// canned lists, a notification counter that runs the main loop, and node builders.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "Platform/NotificationCenter.h"
#include "Platform/OperationQueue.h"

namespace hvn::test {

// A scan operation that reports a canned list under its module, unless cancelled first.
class FakeScanOperation : public hvn::Operation {
public:
    FakeScanOperation(HVNScanResultDelegate* target, int32_t module, HVNNodeList result, double delaySeconds = 0);
    void main() override;
    bool started() const { return started_.load(); }

    HVNScanResultDelegate* target;
    int32_t module;
    HVNNodeList result;
    double delaySeconds;
    std::atomic<int>* startGate = nullptr;  // when set, waits until it is not 0 (or cancelled)
    bool runUntilCancelled = false;         // waits for cancellation and reports nothing

private:
    std::atomic<bool> started_{false};
};

// Counts the postings of one notification name; waitFor runs the main loop.
class NotificationCounter {
public:
    explicit NotificationCounter(const std::string& name);
    int count() const { return count_.load(); }
    bool allOnMainThread() const { return offMain_.load() == 0; }
    // Runs the main loop until `n` postings arrived (10 s at most).
    bool waitFor(int n);
    // The object of the last posting when it was a list of texts.
    std::vector<std::string> lastTexts() const;

private:
    std::atomic<int> count_{0};
    std::atomic<int> offMain_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> lastTexts_;
    hvn::ObservationToken token_;
};

// A node with a folder, name, size and tick; children are linked to it.
HVNScaneOuputObjectPtr makeNode(const std::string& dirPath, const std::string& name, int64_t fileSize = 0,
                                int8_t isCheck = 1, HVNNodeList children = {});
// Ticked leaf nodes with the given names (folder "/nonexistent", size 1).
HVNNodeList makeNodes(const std::vector<std::string>& names);

}  // namespace hvn::test
