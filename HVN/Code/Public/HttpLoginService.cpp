#include "HVN/Code/Public/HttpLoginService.h"

#include <unicode/unistr.h>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/HVNUsageStatistics.h"
#include "Platform/Log.h"

namespace {

constexpr const char* kReportName = "install report";

// The body as UTF-8 text for the log; malformed sequences become U+FFFD.
std::string responseText(const std::string& body) {
    std::string text;
    icu::UnicodeString::fromUTF8(body).toUTF8String(text);
    return text;
}

}  // namespace

std::shared_ptr<HttpLoginService> HttpLoginService::create() {
    return std::shared_ptr<HttpLoginService>(new HttpLoginService);
}

bool HttpLoginService::isFinished() const {
    return !request_ || request_->isFinished();
}

std::string HttpLoginService::createRequestWithUrl(const std::string& path) {
    return HVNUsageStatistics::statisticsServer() + "/" + path;
}

void HttpLoginService::sendInstallEvent() {
    if (!isFinished()) return;
    if (!HVNUsageStatistics::canSend(kReportName, false)) return;

    const std::string current = HVNCommonFunction::getProjectVersion();
    auto stored = HVNCommonFunction::getVersionNoFromCalendarStates();
    long user;
    if (!stored || stored->empty()) {
        user = 1;
    } else if (HVNCommonFunction::getIntValueForVersionNoStr(stored) >=
               HVNCommonFunction::getIntValueForVersionNoStr(current)) {
        return;
    } else {
        user = 2;
    }
    // Recorded first: a request that fails is not repeated at the next launch.
    HVNCommonFunction::saveOrUpdateVersionFile();

    using hvn::HTTPRequest;
    std::string path =
        hvn::format("install.php?operate=1&user=%ld&system=%s&app=%s&ver=%s&pr=%s", user,
                    HTTPRequest::percentEncode(HVNCommonFunction::getSystemVersionForUrl()).c_str(),
                    HTTPRequest::percentEncode(HVNCommonFunction::getProjectNameForHttpRequest()).c_str(),
                    HTTPRequest::percentEncode(current).c_str(), HTTPRequest::percentEncode("ovra").c_str());
    std::string url = createRequestWithUrl(path);
    hvn::Log::writef("the url is %s", url.c_str());
    auto self = shared_from_this();
    request_ =
        HTTPRequest::get(url, HVNUsageStatistics::requestOptions(), [self](const hvn::HTTPResponse& r) {
            if (!r.ok()) {
                self->receivedData.clear();
                hvn::Log::writef("The install report failed: %s", r.error.c_str());
                return;
            }
            self->receivedData = r.body;
            hvn::Log::writef("response is :[%s]", responseText(self->receivedData).c_str());
        });
}
