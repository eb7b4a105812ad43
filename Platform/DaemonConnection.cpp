#include "Platform/DaemonConnection.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <system_error>

#include "Platform/Log.h"
#include "Platform/PropertyList.h"
#include "Platform/Roots.h"

namespace hvn {

namespace {

constexpr uint32_t kMaxMessageSize = 256u * 1024 * 1024;
constexpr int kReplyTimeoutSeconds = 30;

std::string systemErrorText(int error) {
    return std::system_category().message(error);
}

std::mutex& lookupMutex() {
    static std::mutex m;
    return m;
}

DaemonConnection::Lookup& testLookup() {
    static DaemonConnection::Lookup lookup;
    return lookup;
}

bool writeAll(int fd, const char* data, size_t size, std::string* errorText) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errorText) *errorText = "could not send to the daemon: " + systemErrorText(errno);
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool readAll(int fd, char* data, size_t size, std::string* errorText) {
    while (size > 0) {
        ssize_t n = recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (errorText) {
                *errorText = n == 0 ? "the daemon closed the connection"
                                    : "could not read from the daemon: " + systemErrorText(errno);
            }
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The root object behind a connected socket.
class SocketDaemonObject : public DaemonObject {
public:
    explicit SocketDaemonObject(int fd) : fd_(fd) {}
    ~SocketDaemonObject() override { close(fd_); }

    bool respondsToSelector(const std::string& selector) override {
        auto r = send(kRespondsToSelector, Array{Value(selector)});
        return r && r->isBool() && r->asBool();
    }
    void removeFile(const std::vector<std::string>& paths, bool isWrite) override {
        send(kRemoveFileSelector, Array{Value(toArray(paths)), Value(isWrite)});
    }
    void lipoApp(const std::vector<std::string>& paths) override {
        send(kLipoAppSelector, Array{Value(toArray(paths))});
    }
    bool setServerDisable(const std::string& plistPath, bool disable) override {
        auto r = send(kSetServerDisableSelector, Array{Value(plistPath), Value(disable)});
        return r && r->isBool() && r->asBool();
    }
    void stopRemove() override { send(kStopRemoveSelector, Array{}); }

private:
    static Array toArray(const std::vector<std::string>& paths) {
        Array a;
        a.reserve(paths.size());
        for (const auto& p : paths) a.emplace_back(p);
        return a;
    }

    // Sends one request and returns the reply's result (null when it has none); nullopt
    // when the request could not be delivered or the daemon answered with an error.
    std::optional<Value> send(const std::string& selector, Array arguments) {
        std::lock_guard lock(mutex_);
        if (broken_) return std::nullopt;
        Dictionary request{{"selector", Value(selector)}, {"arguments", Value(std::move(arguments))}};
        std::string error;
        std::optional<Value> reply;
        if (!DaemonConnection::writeMessage(fd_, Value(std::move(request)), &error) ||
            !(reply = DaemonConnection::readMessage(fd_, &error))) {
            broken_ = true;
            Log::write("HVNDamonObject " + selector + ": " + error);
            return std::nullopt;
        }
        if (!reply->isDictionary()) return std::nullopt;
        const Dictionary& d = reply->asDictionary();
        if (auto e = d.find("error"); e != d.end()) {
            Log::write("HVNDamonObject " + selector + ": " +
                       (e->second.isString() ? e->second.asString() : ""));
            return std::nullopt;
        }
        auto r = d.find("result");
        return r == d.end() ? Value() : r->second;
    }

    int fd_;
    std::mutex mutex_;
    bool broken_ = false;
};

}  // namespace

namespace DaemonConnection {

std::string socketPath(const std::string& name) {
    return Roots::systemPath("/run/halvorn/" + name + ".sock");
}

std::shared_ptr<DaemonObject> rootProxyForName(const std::string& name) {
    {
        std::lock_guard lock(lookupMutex());
        if (testLookup()) return testLookup()(name);
    }
    std::string path = socketPath(name);
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) return nullptr;
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, path.size());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return nullptr;
    }
    ucred peer{};
    socklen_t len = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 ||
        (peer.uid != 0 && peer.uid != geteuid())) {
        Log::write("HVNDamonObject: refusing a daemon that does not run as root (" + path + ")");
        close(fd);
        return nullptr;
    }
    timeval timeout{kReplyTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return std::make_shared<SocketDaemonObject>(fd);
}

Lookup setLookupForTesting(Lookup lookup) {
    std::lock_guard lock(lookupMutex());
    Lookup old = std::move(testLookup());
    testLookup() = std::move(lookup);
    return old;
}

bool writeMessage(int fd, const Value& message, std::string* errorText) {
    std::string body = PropertyList::serialize(message, PlistFormat::Binary);
    if (body.size() > kMaxMessageSize) {
        if (errorText) *errorText = "the message is too large";
        return false;
    }
    uint32_t n = static_cast<uint32_t>(body.size());
    char header[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                      static_cast<char>(n)};
    return writeAll(fd, header, 4, errorText) && writeAll(fd, body.data(), body.size(), errorText);
}

std::optional<Value> readMessage(int fd, std::string* errorText) {
    unsigned char header[4];
    if (!readAll(fd, reinterpret_cast<char*>(header), 4, errorText)) return std::nullopt;
    uint32_t n =
        (uint32_t{header[0]} << 24) | (uint32_t{header[1]} << 16) | (uint32_t{header[2]} << 8) | header[3];
    if (n == 0 || n > kMaxMessageSize) {
        if (errorText) *errorText = "malformed message length " + std::to_string(n);
        return std::nullopt;
    }
    std::string body(n, '\0');
    if (!readAll(fd, body.data(), n, errorText)) return std::nullopt;
    auto v = PropertyList::parse(body);
    if (!v) {
        if (errorText) *errorText = "the message is not a property list";
        return std::nullopt;
    }
    return v;
}

}  // namespace DaemonConnection
}  // namespace hvn
