// A tiny HTTP/1.1 server on 127.0.0.1 (a free port) for the tests of HTTP clients. It
// records every request's line and header fields and answers each with the reply chosen
// by the longest matching path prefix (or the default reply): a status, an optional Date
// field, extra fields and a body, then closes the connection. A reply marked `hang` is
// never answered: the connection stays open until the server ends. One thread serves the
// connections one after the other.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace hvn::test {

class LoopbackHttpServer {
public:
    struct Request {
        std::string method, target, version;
        std::vector<std::pair<std::string, std::string>> headers;
        // The values of every field with this name (ASCII case ignored).
        std::vector<std::string> headerValues(const std::string& name) const {
            std::vector<std::string> values;
            for (const auto& [n, v] : headers) {
                if (lower(n) == lower(name)) values.push_back(v);
            }
            return values;
        }
    };
    struct Reply {
        int status = 200;
        std::optional<std::string> date = std::string("Wed, 14 May 2014 12:00:00 GMT");
        std::vector<std::pair<std::string, std::string>> fields;
        std::string body = "ok";
        // Without it the body ends when the connection closes.
        bool contentLength = true;
        bool hang = false;
    };

    LoopbackHttpServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            if (listener_ >= 0) ::close(listener_);
            listener_ = -1;
            return;
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackHttpServer() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) ::close(listener_);
        for (int fd : held_) ::close(fd);
    }
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    bool running() const { return listener_ >= 0; }
    int port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by path.
    std::string url(const std::string& path = "") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    void setDefaultReply(const Reply& reply) {
        std::lock_guard<std::mutex> lock(mutex_);
        default_ = reply;
    }
    void setReply(const std::string& pathPrefix, const Reply& reply) {
        std::lock_guard<std::mutex> lock(mutex_);
        replies_[pathPrefix] = reply;
    }

    std::vector<Request> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    // The targets of the requests whose target begins with prefix, in arrival order.
    std::vector<std::string> targets(const std::string& prefix = "") const {
        std::vector<std::string> out;
        for (const auto& r : requests()) {
            if (r.target.rfind(prefix, 0) == 0) out.push_back(r.target);
        }
        return out;
    }
    void clearRequests() {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.clear();
    }

private:
    static std::string lower(std::string s) {
        for (char& c : s) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return s;
    }
    static std::string trim(const std::string& s) {
        size_t b = s.find_first_not_of(" \t");
        if (b == std::string::npos) return {};
        return s.substr(b, s.find_last_not_of(" \t") - b + 1);
    }

    void serve() {
        while (!stop_.load()) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            handle(fd);
        }
    }

    // Reads up to the end of the header (at most 64 KiB, 2 s of silence ends it).
    static std::optional<std::string> readHead(int fd) {
        std::string data;
        char buf[4096];
        while (data.find("\r\n\r\n") == std::string::npos && data.size() < 65536) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0) return std::nullopt;
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return std::nullopt;
            data.append(buf, static_cast<size_t>(n));
        }
        return data.substr(0, data.find("\r\n\r\n"));
    }

    void handle(int fd) {
        auto head = readHead(fd);
        if (!head) {
            ::close(fd);
            return;
        }
        Request req;
        size_t pos = 0;
        bool first = true;
        while (pos <= head->size()) {
            size_t end = head->find("\r\n", pos);
            std::string line = head->substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            pos = end == std::string::npos ? head->size() + 1 : end + 2;
            if (first) {
                first = false;
                size_t a = line.find(' '), b = line.rfind(' ');
                if (a == std::string::npos || b == a) break;
                req.method = line.substr(0, a);
                req.target = line.substr(a + 1, b - a - 1);
                req.version = line.substr(b + 1);
                continue;
            }
            size_t colon = line.find(':');
            if (colon != std::string::npos)
                req.headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
        }
        Reply reply;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(req);
            reply = default_;
            size_t best = 0;
            for (const auto& [prefix, r] : replies_) {
                if (req.target.rfind(prefix, 0) == 0 && prefix.size() >= best) {
                    best = prefix.size();
                    reply = r;
                }
            }
        }
        if (reply.hang) {
            held_.push_back(fd);
            return;
        }
        std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " Reply\r\n";
        if (reply.date) out += "Date: " + *reply.date + "\r\n";
        for (const auto& [n, v] : reply.fields) out += n + ": " + v + "\r\n";
        if (reply.contentLength) out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
        out += "Connection: close\r\n\r\n";
        out += reply.body;
        size_t sent = 0;
        while (sent < out.size()) {
            ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;  // the client went away (a bounded read, a cancel)
            sent += static_cast<size_t>(n);
        }
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    Reply default_;
    std::map<std::string, Reply> replies_;
    std::vector<Request> requests_;
    std::vector<int> held_;  // serving thread only, then the destructor
};

}  // namespace hvn::test
