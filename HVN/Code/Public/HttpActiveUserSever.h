// The active-user report: at most once per calendar month (every launch when the bundle's
// "OnlineUsers" is exactly 1; never when it is 0 or absent), as
// "active.php?uid=1&type=2&app=Halvorn&pr=corvane" below the statistics server. The month is
// the server's, not this computer's: the "Date" field of a response of the date server.
//
// A date response without a usable "Date" field (absent, or not a date) skips the report:
// the month that would be stored is unknown, and a guess could block a later month's report.
// A failed date request skips it too. Nothing is retried.
//
// States: waiting for the date -> report sent (hasSendRequest) -> done; one object sends at
// most one report. Main thread only; create with create(): the object keeps itself alive
// until its requests have ended.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Platform/HTTPRequest.h"
#include "Platform/Value.h"

class HttpActiveUserSever : public std::enable_shared_from_this<HttpActiveUserSever> {
public:
    static std::shared_ptr<HttpActiveUserSever> create();

    // Starts the report when "OnlineUsers" enables it, the statistics are on and both
    // servers are configured; otherwise logs why and does nothing.
    void sendActiveUserEvent();
    // Asks the date server for its date; its answer sets currentSeviceDate and, when the
    // report has not been started yet, runs sendActiveEvet.
    void getServiceDateTime();
    // With currentSeviceDate known: skips the report when this month's was sent already
    // (unless "OnlineUsers" is 1), else stores the month and sends the report.
    void sendActiveEvet();
    // Sends the report request (once per object).
    void makeAndSendUrlRequest();
    // True when no request of this object is running or waiting to be answered.
    bool isFinished() const;

    // The statistics server's address joined with path ("%@/%@").
    static std::string createRequestWithUrl(const std::string& path);

    std::optional<hvn::Date> currentSeviceDate;
    bool hasSendRequest = false;
    // The body of the report's answer; cleared when a request fails.
    std::string receivedData;

private:
    HttpActiveUserSever() = default;
    std::shared_ptr<hvn::HTTPRequest> request_;
};
