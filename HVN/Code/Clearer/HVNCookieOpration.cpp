#include "HVN/Code/Clearer/HVNCookieOpration.h"

#include <exception>

#include "HVN/Code/Setting/HVNWhiteListVC.h"
#include "Platform/Log.h"

void HVNCookieOpration::main() {
    try {
        if (!isCancelled()) scanCookie();
    } catch (const std::exception& e) {
        hvn::Log::writef("HVNCookieOpration: scan abandoned: %s", e.what());
    } catch (...) {
        hvn::Log::write("HVNCookieOpration: scan abandoned");
    }
}

void HVNCookieOpration::scanCookie() {
    HVNWhiteListVC whiteList;
    HVNNodeList nodes;
    nodes.reserve(100);
    for (const auto& n : whiteList.getCookies()) nodes.push_back(n);
    if (delegate && !isCancelled()) delegate->finishScan(std::move(nodes), 4);
}
