// The install report: sent after a first installation (user=1) and after each upgrade to
// a higher version (user=2), as "install.php?operate=1&user=…&system=…&app=…&ver=…&pr=ovra"
// below the statistics server. The install record is updated before the request goes out,
// so a failed request is not repeated. Main thread only; the answer arrives on the main
// run loop and is only logged. Create with create(): the object keeps itself alive until
// its request has ended.
#pragma once

#include <memory>
#include <string>

#include "Platform/HTTPRequest.h"

class HttpLoginService : public std::enable_shared_from_this<HttpLoginService> {
public:
    static std::shared_ptr<HttpLoginService> create();

    // Decides whether a report is due and sends it. Nothing is sent (and the record is left
    // alone) when the statistics are off or no server is configured, or when the recorded
    // version is not lower than the bundle's. A second call while a request runs does
    // nothing.
    void sendInstallEvent();
    // True when no request of this object is running or waiting to be answered.
    bool isFinished() const;

    // The statistics server's address joined with path ("%@/%@").
    static std::string createRequestWithUrl(const std::string& path);

    // The body of the last answer; cleared when a request fails.
    std::string receivedData;

private:
    HttpLoginService() = default;
    std::shared_ptr<hvn::HTTPRequest> request_;
};
