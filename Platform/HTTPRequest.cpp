#include "Platform/HTTPRequest.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <mutex>
#include <string_view>
#include <thread>

#include "Platform/Log.h"
#include "Platform/RunLoop.h"

namespace hvn {

namespace {

constexpr size_t kMaxHeaderBytes = 64 * 1024;

std::atomic<size_t> gInFlight{0};

// libcurl is opened on first use, not linked: most runs send nothing, and loading it with
// the two dozen libraries it needs would cost every command several milliseconds at start.
struct CurlLibrary {
    decltype(&curl_global_init) global_init = nullptr;
    decltype(&curl_easy_init) easy_init = nullptr;
    decltype(&curl_easy_setopt) easy_setopt = nullptr;
    decltype(&curl_easy_perform) easy_perform = nullptr;
    decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&curl_easy_strerror) easy_strerror = nullptr;
    decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&curl_slist_append) slist_append = nullptr;
    decltype(&curl_slist_free_all) slist_free_all = nullptr;
    decltype(&curl_getdate) getdate = nullptr;
    bool ready = false;
};

template <typename Fn>
bool bind(void* handle, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(::dlsym(handle, name));
    return fn != nullptr;
}

// The library, once per process; ready is false (logged once) when it cannot be loaded.
// curl_global_init is not safe to race with itself or with a transfer in older builds, so
// it runs here, before the first handle is made.
const CurlLibrary& curlLibrary() {
    static const CurlLibrary library = [] {
        CurlLibrary c;
        void* h = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            const char* why = ::dlerror();
            hvn::Log::writef("HTTP requests are not available: %s", why ? why : "libcurl.so.4 not found");
            return c;
        }
        c.ready =
            bind(h, "curl_global_init", c.global_init) && bind(h, "curl_easy_init", c.easy_init) &&
            bind(h, "curl_easy_setopt", c.easy_setopt) && bind(h, "curl_easy_perform", c.easy_perform) &&
            bind(h, "curl_easy_getinfo", c.easy_getinfo) && bind(h, "curl_easy_strerror", c.easy_strerror) &&
            bind(h, "curl_easy_cleanup", c.easy_cleanup) && bind(h, "curl_slist_append", c.slist_append) &&
            bind(h, "curl_slist_free_all", c.slist_free_all) && bind(h, "curl_getdate", c.getdate);
        if (!c.ready) {
            hvn::Log::write("HTTP requests are not available: libcurl.so.4 lacks a function");
        } else if (c.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            hvn::Log::write("HTTP requests are not available: libcurl could not be initialised");
            c.ready = false;
        }
        return c;
    }();
    return library;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringAsciiCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return true;
}

bool startsWithIgnoringAsciiCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && equalsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool isTokenChar(unsigned char c) {
    if (c >= '0' && c <= '9') return true;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

std::string checkRequest(const std::string& url, const HTTPRequestOptions& options) {
    if (!startsWithIgnoringAsciiCase(url, "http://") && !startsWithIgnoringAsciiCase(url, "https://"))
        return "only http and https addresses can be requested";
    for (unsigned char c : url) {
        if (c <= 0x20 || c == 0x7f) return "the address holds a blank or a control character";
    }
    for (const auto& [name, value] : options.headerFields) {
        if (name.empty()) return "a header field has no name";
        for (unsigned char c : name) {
            if (!isTokenChar(c)) return "the header field name '" + name + "' is not a token";
        }
        for (unsigned char c : value) {
            if (c == '\r' || c == '\n' || c == '\0')
                return "the value of the header field " + name + " spans lines";
        }
    }
    return {};
}

std::string trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

}  // namespace

struct HTTPRequest::Shared {
    std::string url;
    HTTPRequestOptions options;
    Completion completion;  // touched only on the main thread once started
    std::atomic<bool> cancelled{false};
    std::atomic<bool> settled{false};  // answered or cancelled: counted out of gInFlight
    std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);

    // Transfer thread only.
    HTTPResponse response;
    size_t headerBytes = 0;
    bool bodyTooLarge = false;
    bool endedAfterHeader = false;
    bool headerTooLarge = false;

    bool settle() {
        if (settled.exchange(true)) return false;
        gInFlight.fetch_sub(1);
        finished->store(true);
        return true;
    }
};

namespace {

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* s = static_cast<HTTPRequest::Shared*>(user);
    size_t n = size * count;
    if (s->options.headersOnly) {
        s->endedAfterHeader = true;
        return 0;
    }
    if (s->response.body.size() + n > s->options.maxResponseBytes) {
        s->bodyTooLarge = true;
        return 0;  // curl ends the transfer with a write error
    }
    s->response.body.append(data, n);
    return n;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* s = static_cast<HTTPRequest::Shared*>(user);
    size_t n = size * count;
    s->headerBytes += n;
    if (s->headerBytes > kMaxHeaderBytes) {
        s->headerTooLarge = true;
        return 0;
    }
    std::string line(data, n);
    if (line.rfind("HTTP/", 0) == 0) {
        // A new response begins (after a redirect or an interim 1xx): only the last counts.
        s->response.headerFields.clear();
        return n;
    }
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
        // An obsolete folded line continues the previous field.
        std::string more = trimmed(line);
        if (!s->response.headerFields.empty() && !more.empty())
            s->response.headerFields.back().second += " " + more;
        return n;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return n;  // the blank line, or junk
    s->response.headerFields.emplace_back(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<HTTPRequest::Shared*>(user)->cancelled.load() ? 1 : 0;
}

long milliseconds(double seconds) {
    if (!(seconds > 0)) return 0;  // 0 means curl's default, never "no time at all"
    double ms = seconds * 1000.0;
    return ms > 2e9 ? 2000000000L : std::max(1L, static_cast<long>(ms));
}

void deliver(const std::shared_ptr<HTTPRequest::Shared>& shared) {
    RunLoop::main().performOnMainThread([shared] {
        HTTPRequest::Completion done = std::move(shared->completion);
        shared->completion = nullptr;
        if (!shared->settle()) return;  // cancelled meanwhile
        if (done) done(shared->response);
    });
}

// The transfer, on its own thread.
void perform(const std::shared_ptr<HTTPRequest::Shared>& s) {
    const CurlLibrary& lib = curlLibrary();
    CURL* curl = lib.easy_init();
    if (!curl) {
        s->response.error = "the HTTP client could not be created";
        return;
    }
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    curl_slist* fields = nullptr;
    for (const auto& [name, value] : s->options.headerFields) {
        // "Name;" is curl's way to send a field with an empty value.
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        curl_slist* next = lib.slist_append(fields, line.c_str());
        if (!next) break;
        fields = next;
    }
    lib.easy_setopt(curl, CURLOPT_URL, s->url.c_str());
    lib.easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    lib.easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    lib.easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    lib.easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    lib.easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    // No signals: the process has other threads, and curl's alarm-based resolver timeout
    // would deliver them anywhere.
    lib.easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    lib.easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(s->options.connectTimeoutSeconds));
    lib.easy_setopt(curl, CURLOPT_TIMEOUT_MS, milliseconds(s->options.totalTimeoutSeconds));
    if (!s->options.headersOnly)
        lib.easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                        static_cast<curl_off_t>(s->options.maxResponseBytes));
    if (fields) lib.easy_setopt(curl, CURLOPT_HTTPHEADER, fields);
    lib.easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    lib.easy_setopt(curl, CURLOPT_WRITEDATA, s.get());
    lib.easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    lib.easy_setopt(curl, CURLOPT_HEADERDATA, s.get());
    lib.easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    lib.easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    lib.easy_setopt(curl, CURLOPT_XFERINFODATA, s.get());
    lib.easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);

    CURLcode rc = lib.easy_perform(curl);
    long status = 0;
    lib.easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    s->response.statusCode = status;
    if (rc != CURLE_OK && s->endedAfterHeader) rc = CURLE_OK;
    if (rc != CURLE_OK) {
        if (s->bodyTooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
            s->response.error = format("the response is larger than %zu bytes", s->options.maxResponseBytes);
        } else if (s->headerTooLarge) {
            s->response.error = format("the response header is larger than %zu bytes", kMaxHeaderBytes);
        } else if (rc == CURLE_ABORTED_BY_CALLBACK) {
            s->response.error = "cancelled";
        } else {
            s->response.error = lib.easy_strerror(rc);
            if (errorBuffer[0]) s->response.error += std::string(": ") + errorBuffer;
        }
        s->response.body.clear();
    }
    lib.slist_free_all(fields);
    lib.easy_cleanup(curl);
}

}  // namespace

std::optional<std::string> HTTPResponse::headerField(const std::string& name) const {
    for (const auto& [n, v] : headerFields) {
        if (equalsIgnoringAsciiCase(n, name)) return v;
    }
    return std::nullopt;
}

HTTPRequest::HTTPRequest(std::shared_ptr<Shared> shared)
    : shared_(std::move(shared)), finished_(shared_->finished) {}

std::shared_ptr<HTTPRequest> HTTPRequest::get(const std::string& url, const HTTPRequestOptions& options,
                                              Completion completion) {
    auto shared = std::make_shared<Shared>();
    shared->url = url;
    shared->options = options;
    shared->completion = std::move(completion);
    gInFlight.fetch_add(1);
    std::shared_ptr<HTTPRequest> handle(new HTTPRequest(shared));

    std::string refused = checkRequest(url, options);
    if (refused.empty() && !curlLibrary().ready) refused = "the HTTP client could not be initialised";
    if (!refused.empty()) {
        shared->response.error = refused;
        deliver(shared);
        return handle;
    }
    try {
        std::thread([shared] {
            perform(shared);
            deliver(shared);
        }).detach();
    } catch (const std::exception& e) {
        shared->response.error = std::string("the request could not be started: ") + e.what();
        deliver(shared);
    }
    return handle;
}

void HTTPRequest::cancel() {
    shared_->cancelled.store(true);
    shared_->settle();
}

size_t HTTPRequest::inFlightCount() {
    return gInFlight.load();
}

std::string HTTPRequest::percentEncode(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0f];
        }
    }
    return out;
}

std::optional<Date> HTTPRequest::parseDate(const std::string& text) {
    if (trimmed(text).empty() || text.find('\0') != std::string::npos) return std::nullopt;
    const CurlLibrary& lib = curlLibrary();
    if (!lib.ready) return std::nullopt;
    time_t t = lib.getdate(text.c_str(), nullptr);
    if (t == static_cast<time_t>(-1)) return std::nullopt;
    return Date{static_cast<double>(t)};
}

}  // namespace hvn
