// The bad-cookie scan (module 22, "Cookie Virus"): the cookies of the browsers whose domain
// the bad-cookie table lists, as one group per browser ("Safari", "Firefox", "Chrome", in
// that order) whose children are named "domain [information]".
//
// Threads: runs on an operation queue thread and reports there; an exception during the
// scan is caught and the delegate then hears nothing. Cancellation is looked at before the
// search starts and before the hand-back.
#pragma once

#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "Platform/OperationQueue.h"

class HVNBadCookiesOperation : public hvn::Operation {
public:
    explicit HVNBadCookiesOperation(HVNScanResultDelegate* delegate = nullptr) : delegate(delegate) {}

    void setDelegate(HVNScanResultDelegate* d) { delegate = d; }
    void main() override;
    void searchBadCookies();

    HVNScanResultDelegate* delegate;  // not owned
};
