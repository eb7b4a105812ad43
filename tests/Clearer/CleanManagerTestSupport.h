// Helpers of the clean manager and task queue tests: fake scan operations that report
// canned lists, a notification counter that runs the main loop, and node builders.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNCleanRules.h"
#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "Platform/NotificationCenter.h"
#include "Platform/OperationQueue.h"
#include "Platform/RunLoop.h"
#include "Support/TestRoots.h"

class HVNCleanManager;

namespace hvn::test {

// A scan operation that reports a canned list under its module, unless cancelled first.
class FakeScanOperation : public hvn::Operation {
public:
    FakeScanOperation(HVNScanResultDelegate* target, int32_t module, HVNNodeList result,
                      double delaySeconds = 0);
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

// Removal services that remove with std::filesystem, fail on chosen paths and record the
// privileged batches instead of running them.
struct FakeRemoval {
    std::set<std::string> failing;     // removals of these paths fail
    std::set<std::string> refusing;    // removals of these paths are refused (final)
    std::set<std::string> privilegedLeft;  // the privileged batch reports these as left
    bool realRemoval = false;          // remove through the program's removal (with its gate)
    std::vector<std::string> removed;  // paths removed, in order
    std::vector<std::vector<std::string>> batches;
    std::vector<bool> rewrites;
    bool batchResult = true;
    bool shred = false;
    int stopCalls = 0;
    // Replacements (target <- with) done with rename(); targets in `failing` fail.
    std::vector<std::pair<std::string, std::string>> replaced;
    // Thinnings started (executable, arch), refused ones, and the privileged calls.
    std::vector<std::pair<std::string, std::string>> thinned;
    std::set<std::string> thinRefusing;
    std::vector<std::vector<std::string>> privilegedThins;
    // Login items removed by name; names in loginFailing stay.
    std::vector<std::string> loginRemoved;
    std::set<std::string> loginFailing;
    // The disk check: its finding, the repairs run and their outcome, the stops.
    bool diskIssue = false;
    int repairs = 0;
    bool repairResult = true;
    int diskStops = 0;
    std::function<void(const std::string&)> afterRemove;  // called after each removal

    HVNCleanServices services();
};

// One rule row of the clean-path table (plain texts).
struct RuleRow {
    std::string catalog, path, keyValue, keyWord;
};
// Makes <folder>/Test.app with a plain CleanPath.db holding the rows, and points
// HALVORN_BUNDLE at it (TempRoots restores it). Returns the bundle path; empty on failure.
std::string makeRuleBundle(const std::string& folder, const std::vector<RuleRow>& rows);

// Temporary roots, a manual clock on the main loop, HALVORN_AUTH=deny, and a manager with
// fake removal services (made by makeManager, after any bundle change of the test).
class CleanManagerTestBase : public RootsTest {
protected:
    void SetUp() override;
    void TearDown() override;
    HVNCleanManager& makeManager();
    // A file of `size` bytes below the home folder; returns its path.
    std::string homeFile(const std::string& relativePath, size_t size = 10);

    hvn::ManualClock clock;
    FakeRemoval removal;
    std::unique_ptr<HVNCleanManager> manager;

private:
    std::string oldAuth_;
    bool hadAuth_ = false;
};

}  // namespace hvn::test
