// Asynchronous HTTP GET over libcurl, answered on the main run loop.
//
// get() starts the transfer on a background thread of its own and returns at once. When the
// transfer ends (a response, an error, or a bound or timeout reached), the completion is
// queued to the main run loop (RunLoop::performOnMainThread) and runs there exactly once,
// never synchronously inside get() and never on the transfer's thread; a request refused
// before it starts (not http or https, a bad header field) is answered the same way, with
// an error. Redirects are followed (at most 5, http and https only); the response handed
// over is the last one. Proxies of the environment are honoured as curl honours them.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Value.h"

namespace hvn {

using HTTPHeaderFields = std::vector<std::pair<std::string, std::string>>;

struct HTTPResponse {
    // Empty when a response arrived (whatever its status); otherwise why there is none.
    std::string error;
    long statusCode = 0;
    // The header fields of the last response, in the order received; names as sent.
    HTTPHeaderFields headerFields;
    std::string body;

    bool ok() const { return error.empty(); }
    // The value of the first field with this name, compared ignoring ASCII case.
    std::optional<std::string> headerField(const std::string& name) const;
};

struct HTTPRequestOptions {
    // Sent in this order beside curl's own Host and Accept. Names must be HTTP tokens and
    // values printable text without CR, LF or NUL; anything else fails the request.
    HTTPHeaderFields headerFields;
    // A larger body (or more than 64 KiB of header fields) fails the request.
    size_t maxResponseBytes = 1024 * 1024;
    // The transfer ends as soon as the last response's header has arrived; the body is
    // empty and maxResponseBytes does not apply. For requests that want only header fields.
    bool headersOnly = false;
    double connectTimeoutSeconds = 10;
    double totalTimeoutSeconds = 30;
};

class HTTPRequest {
public:
    using Completion = std::function<void(const HTTPResponse&)>;

    // Starts a GET of url. Any thread may call; the completion runs on the main thread.
    static std::shared_ptr<HTTPRequest> get(const std::string& url, const HTTPRequestOptions& options,
                                            Completion completion);

    // Drops the completion: called on the main thread, it guarantees that the completion does
    // not run afterwards (from another thread it may be running already). The transfer is
    // aborted at its next progress check. Idempotent.
    void cancel();
    // True once the completion has started on the main thread or the request was cancelled.
    // Dropping the last handle does not cancel: the completion still runs.
    bool isFinished() const { return finished_->load(); }

    // Requests started and neither answered on the main thread nor cancelled, process-wide.
    static size_t inFlightCount();

    // Percent-encodes every byte but the unreserved A-Z a-z 0-9 - . _ ~ (upper-case hex),
    // so that the text can stand as one query value or path segment.
    static std::string percentEncode(const std::string& text);
    // Parses a date text as curl_getdate does (the formats of HTTP's Date field, and more);
    // nullopt when it is not a date.
    static std::optional<Date> parseDate(const std::string& text);

    HTTPRequest(const HTTPRequest&) = delete;
    HTTPRequest& operator=(const HTTPRequest&) = delete;

    struct Shared;  // what the transfer thread and the main thread share

private:
    explicit HTTPRequest(std::shared_ptr<Shared> shared);
    std::shared_ptr<Shared> shared_;
    std::shared_ptr<std::atomic<bool>> finished_;
};

}  // namespace hvn
