// The disk check's scan operation (module 19): verifies the start-up volume's permissions
// when the weekly check is due and reports the outcome as exactly one node.
//
// The node: moulde 19; after a verification name = the problem lines (issueStr), hasIssue =
// issue, issueCount and isCheck YES; when no verification was due name "", hasIssue NO,
// issueCount 0 and isCheck NO. A verification copies hasIssue to the clean manager's flag and,
// when it ran to its end and found nothing, stores now as "Last Disk Check Date"; a
// verification that could not run to its end (no utility, a failing utility) reports no
// problem but leaves the date, so that the next scan verifies again. When no verification
// was due the flag is set NO.
//
// Threads: runs on an operation queue thread; finishScan() is delivered on that thread.
// Cancelling the operation also stops the running utility (the wait polls isCancelled());
// a cancelled operation reports nothing and changes neither the flag nor the date. Any
// exception is caught in main() and dropped (logged).
#pragma once

#include <atomic>
#include <cstdint>

#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "HVN/Code/ToolBox/DiskPermissionsTool/DiskPermissionsTool.h"
#include "Platform/OperationQueue.h"

class HVNDiskVerifyOperation : public hvn::Operation {
public:
    static constexpr int32_t kModule = 19;

    // delegate and hasDickCheckIssue are not owned and may be null; tool null means the
    // shared tool (DiskPermissionsTool::shareDiskPermissionsTool()).
    HVNDiskVerifyOperation(HVNScanResultDelegate* delegate, std::atomic<bool>* hasDickCheckIssue,
                           DiskPermissionsTool* tool = nullptr)
        : delegate(delegate), hasDickCheckIssue(hasDickCheckIssue), tool_(tool) {}

    HVNScanResultDelegate* delegate = nullptr;
    std::atomic<bool>* hasDickCheckIssue = nullptr;

    // Verifies (when due) and reports unless cancelled; exceptions are caught and dropped.
    void main() override;

private:
    void verifyAndReport();

    DiskPermissionsTool* tool_ = nullptr;
};
