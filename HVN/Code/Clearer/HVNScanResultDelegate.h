// The one callback of every scan operation to the task queue that created it.
#pragma once

#include <cstdint>

#include "HVN/Code/Clearer/HVNScaneOuputObject.h"

// Posted by the scan operations on their own threads; object: the path (std::string) being
// looked at, for the progress label.
inline constexpr const char* kPathUpdateNotification = "PathUpdate";

class HVNScanResultDelegate {
public:
    virtual ~HVNScanResultDelegate() = default;
    // Called once, on the operation's thread, when the operation has scanned to the end
    // (never by a cancelled operation). The operation does not touch the list afterwards.
    virtual void finishScan(HVNNodeList results, int32_t moudle) = 0;
};
