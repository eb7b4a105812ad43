#include "HVN/Code/Public/HttpActiveUserSever.h"

#include <unicode/unistr.h>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/HVNUsageStatistics.h"
#include "Platform/Log.h"

namespace {

constexpr const char* kReportName = "active-user report";

std::string responseText(const std::string& body) {
    std::string text;
    icu::UnicodeString::fromUTF8(body).toUTF8String(text);
    return text;
}

}  // namespace

std::shared_ptr<HttpActiveUserSever> HttpActiveUserSever::create() {
    return std::shared_ptr<HttpActiveUserSever>(new HttpActiveUserSever);
}

bool HttpActiveUserSever::isFinished() const {
    return !request_ || request_->isFinished();
}

std::string HttpActiveUserSever::createRequestWithUrl(const std::string& path) {
    return HVNUsageStatistics::statisticsServer() + "/" + path;
}

void HttpActiveUserSever::sendActiveUserEvent() {
    if (hasSendRequest || !isFinished()) return;
    if (HVNCommonFunction::getOnlineUsersFlag() == 0) {
        hvn::Log::write("OnlineUsers is 0; the active-user report is not sent");
        return;
    }
    if (!HVNUsageStatistics::canSend(kReportName, true)) return;
    getServiceDateTime();
}

void HttpActiveUserSever::getServiceDateTime() {
    std::string url = HVNUsageStatistics::dateServer();
    if (url.empty()) return;
    hvn::HTTPRequestOptions options = HVNUsageStatistics::requestOptions();
    // Only the Date field is wanted: the page itself may be of any size.
    options.headersOnly = true;
    hvn::Log::writef("the url is %s", url.c_str());
    auto self = shared_from_this();
    request_ = hvn::HTTPRequest::get(url, options, [self](const hvn::HTTPResponse& r) {
        if (!r.ok()) {
            hvn::Log::writef("The date request failed: %s; the active-user report is not sent",
                             r.error.c_str());
            return;
        }
        auto field = r.headerField("Date");
        auto date = field ? hvn::HTTPRequest::parseDate(*field) : std::nullopt;
        if (!date) {
            hvn::Log::write(
                "The date server's answer has no usable Date field; the active-user report is not sent");
            return;
        }
        self->currentSeviceDate = date;
        if (!self->hasSendRequest) self->sendActiveEvet();
    });
}

void HttpActiveUserSever::sendActiveEvet() {
    if (!currentSeviceDate || hasSendRequest) return;
    std::string month = HVNCommonFunction::getActiveTimeStrFromDate(*currentSeviceDate);
    if (HVNCommonFunction::getOnlineUsersFlag() != 1) {
        auto stored = HVNCommonFunction::getActiveTimeFromCalendarStates();
        if (stored && !stored->empty() &&
            HVNCommonFunction::getIntFromActiveDateStr(stored) ==
                HVNCommonFunction::getIntFromActiveDateStr(month)) {
            hvn::Log::writef("The active-user report of %s was sent already", month.c_str());
            return;
        }
    }
    HVNCommonFunction::saveOrUpdateActiveTime(month);
    makeAndSendUrlRequest();
}

void HttpActiveUserSever::makeAndSendUrlRequest() {
    if (hasSendRequest) return;
    hasSendRequest = true;
    using hvn::HTTPRequest;
    std::string path =
        hvn::format("active.php?uid=%s&type=%s&app=%s&pr=corvane", HTTPRequest::percentEncode("1").c_str(),
                    HTTPRequest::percentEncode("2").c_str(),
                    HTTPRequest::percentEncode(HVNCommonFunction::getProjectNameForHttpRequest()).c_str());
    std::string url = createRequestWithUrl(path);
    hvn::Log::writef("the url is %s", url.c_str());
    auto self = shared_from_this();
    request_ =
        HTTPRequest::get(url, HVNUsageStatistics::requestOptions(), [self](const hvn::HTTPResponse& r) {
            if (!r.ok()) {
                self->receivedData.clear();
                hvn::Log::writef("The active-user report failed: %s", r.error.c_str());
                return;
            }
            self->receivedData = r.body;
            hvn::Log::writef("response is :[%s]", responseText(self->receivedData).c_str());
        });
}
