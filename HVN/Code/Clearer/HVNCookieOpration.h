// The cookie scan: the "Cookies" result list (module 4), one ticked node per cookie domain
// of Safari, Chrome and Firefox that the cookies white list does not keep.
//
// Threads: runs on an operation queue thread and reports there; an exception during the
// scan is caught and the delegate then hears nothing.
#pragma once

#include <cstdint>

#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "Platform/OperationQueue.h"

class HVNCookieOpration : public hvn::Operation {
public:
    explicit HVNCookieOpration(HVNScanResultDelegate* delegate = nullptr) : delegate(delegate) {}
    ~HVNCookieOpration() override { delegate = nullptr; }

    void setDelegate(HVNScanResultDelegate* d) { delegate = d; }
    void setModule(int32_t m) { module = m; }
    void main() override;
    void scanCookie();

    HVNScanResultDelegate* delegate;  // not owned
    int32_t module = 4;               // set by the queue; the hand-back always says 4
};
