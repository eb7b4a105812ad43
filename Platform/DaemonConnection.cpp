#include "Platform/DaemonConnection.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <system_error>

#include "Platform/DaemonRequest.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"
#include "Platform/Roots.h"

namespace hvn {

namespace {

constexpr int kReplyTimeoutSeconds = 30;
// Paths per request: a batch larger than this goes as several requests, so that no message
// comes near the size limits of either side.
constexpr size_t kPathsPerRequest = 20000;
constexpr size_t kPathBytesPerRequest = 16u * 1024 * 1024;
static_assert(kPathsPerRequest <= DaemonRequest::kMaxPaths);

// The batch in consecutive pieces [begin, end) that each fit one request.
std::vector<std::pair<size_t, size_t>> pieces(const std::vector<RemovalBatch::Request>& batch) {
    std::vector<std::pair<size_t, size_t>> out;
    size_t begin = 0, bytes = 0;
    for (size_t i = 0; i < batch.size(); ++i) {
        const size_t length = batch[i].path.size() + 32;
        if (i > begin && (i - begin >= kPathsPerRequest || bytes + length > kPathBytesPerRequest)) {
            out.emplace_back(begin, i);
            begin = i;
            bytes = 0;
        }
        bytes += length;
    }
    if (begin < batch.size()) out.emplace_back(begin, batch.size());
    return out;
}

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

// The root object behind a connected socket.
class SocketDaemonObject : public DaemonObject {
public:
    explicit SocketDaemonObject(int fd) : fd_(fd) {}
    ~SocketDaemonObject() override { close(fd_); }

    bool respondsToSelector(const std::string& selector) override {
        DaemonRequest r;
        r.kind = DaemonRequest::Kind::RespondsToSelector;
        r.selector = selector;
        auto result = send(r);
        return result && result->isBool() && result->asBool();
    }
    void removeFile(const std::vector<std::string>& paths, bool isWrite) override {
        std::vector<RemovalBatch::Request> batch;
        batch.reserve(paths.size());
        for (const auto& p : paths) batch.push_back({p, std::nullopt});
        removeFileFoundIn(batch, isWrite);
    }
    std::map<std::string, std::string> removeFileFoundIn(const std::vector<RemovalBatch::Request>& batch,
                                                         bool isWrite) override {
        std::map<std::string, std::string> refused;
        for (auto [begin, end] : pieces(batch)) {
            DaemonRequest r;
            r.kind = DaemonRequest::Kind::RemoveFile;
            r.flag = isWrite;
            r.paths.assign(batch.begin() + static_cast<std::ptrdiff_t>(begin),
                           batch.begin() + static_cast<std::ptrdiff_t>(end));
            if (auto result = send(r)) refused.merge(DaemonReply::refusedPaths(*result));
        }
        return refused;
    }
    void lipoApp(const std::vector<std::string>& paths) override {
        std::vector<RemovalBatch::Request> batch;
        batch.reserve(paths.size());
        for (const auto& p : paths) batch.push_back({p, std::nullopt});
        for (auto [begin, end] : pieces(batch)) {
            DaemonRequest r;
            r.kind = DaemonRequest::Kind::LipoApp;
            r.paths.assign(batch.begin() + static_cast<std::ptrdiff_t>(begin),
                           batch.begin() + static_cast<std::ptrdiff_t>(end));
            send(r);
        }
    }
    bool setServerDisable(const std::string& plistPath, bool disable) override {
        DaemonRequest r;
        r.kind = DaemonRequest::Kind::SetServerDisable;
        r.path = plistPath;
        r.flag = disable;
        auto result = send(r);
        return result && result->isBool() && result->asBool();
    }
    void stopRemove() override {
        DaemonRequest r;
        r.kind = DaemonRequest::Kind::StopRemove;
        send(r);
    }

private:
    // Sends one request and returns the reply's result (null when it has none); nullopt
    // when the request could not be delivered or the daemon answered with an error.
    std::optional<Value> send(const DaemonRequest& request) {
        std::lock_guard lock(mutex_);
        const Value message = request.encode();
        const std::string selector = message["selector"].asString();
        if (broken_) return std::nullopt;
        std::string error;
        std::optional<Value> reply;
        if (!DaemonConnection::writeMessage(fd_, message, &error) ||
            !(reply = DaemonConnection::readMessage(fd_, &error))) {
            broken_ = true;
            Log::write("HVNDamonObject " + selector + ": " + error);
            return std::nullopt;
        }
        auto result = DaemonReply::resultOf(*reply, &error);
        if (!result) Log::write("HVNDamonObject " + selector + ": " + error);
        return result;
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
    ReadResult r = readFrame(fd);
    if (r.status != ReadStatus::Message) {
        if (errorText) *errorText = r.errorText;
        return std::nullopt;
    }
    return std::move(r.message);
}

Frame parseFrame(const char* bytes, size_t size, size_t maxBody) {
    Frame f;
    if (size < 4) return f;
    const auto* h = reinterpret_cast<const unsigned char*>(bytes);
    f.bodyLength = (size_t{h[0]} << 24) | (size_t{h[1]} << 16) | (size_t{h[2]} << 8) | size_t{h[3]};
    if (f.bodyLength > maxBody) {
        f.status = FrameStatus::Oversized;
    } else if (size - 4 >= f.bodyLength) {
        f.status = FrameStatus::Complete;
    }
    return f;
}

ReadResult readFrame(int fd, size_t maxBody) {
    ReadResult result;
    std::string buffer;
    // The header first, then the body in pieces as it arrives.
    size_t wanted = 4;
    constexpr size_t kChunk = 64 * 1024;
    for (;;) {
        Frame f = parseFrame(buffer.data(), buffer.size(), maxBody);
        if (f.status == FrameStatus::Oversized) {
            result.status = ReadStatus::Oversized;
            result.errorText = "malformed message length " + std::to_string(f.bodyLength);
            return result;
        }
        if (f.status == FrameStatus::Complete) {
            auto v = PropertyList::parse(buffer.substr(4, f.bodyLength));
            if (!v) {
                result.status = ReadStatus::Malformed;
                result.errorText = "the message is not a property list";
                return result;
            }
            result.status = ReadStatus::Message;
            result.message = std::move(v);
            return result;
        }
        if (buffer.size() >= 4) wanted = 4 + f.bodyLength;
        const size_t piece = std::min(kChunk, wanted - buffer.size());
        const size_t had = buffer.size();
        buffer.resize(had + piece);
        ssize_t n;
        do {
            n = recv(fd, buffer.data() + had, piece, 0);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            const int error = errno;
            buffer.resize(had);
            if (n == 0) {
                result.status = had == 0 ? ReadStatus::Closed : ReadStatus::Truncated;
                result.errorText = had == 0 ? "the connection was closed"
                                            : "the connection was closed in the middle of a message";
            } else {
                result.status = ReadStatus::Failed;
                result.errorText = (error == EAGAIN || error == EWOULDBLOCK)
                                       ? "no message came in time"
                                       : "could not read from the connection: " + systemErrorText(error);
            }
            return result;
        }
        buffer.resize(had + static_cast<size_t>(n));
    }
}

}  // namespace DaemonConnection

std::map<std::string, std::string> DaemonObject::removeFileFoundIn(
    const std::vector<RemovalBatch::Request>& batch, bool isWrite) {
    std::vector<std::string> paths;
    paths.reserve(batch.size());
    for (const auto& r : batch) paths.push_back(r.path);
    removeFile(paths, isWrite);
    return {};
}

}  // namespace hvn
