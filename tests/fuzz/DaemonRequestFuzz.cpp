// Fuzzes what the privileged daemon reads from its socket: the bytes are a stream of frames,
// cut into messages by the frame parser and, independently, by the stream reader over a
// socket pair (both must see the same messages and the same end), and each message is put to
// the request decoder. A decoded request must survive its own encoding through a binary
// property list unchanged, and every path in it must be within the decoder's bounds.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/DaemonConnection.h"
#include "Platform/DaemonRequest.h"
#include "Platform/PropertyList.h"

using namespace hvn;

namespace {

constexpr size_t kMaxBody = 1 << 20;
constexpr size_t kMaxStreamed = 32 * 1024;

void check(bool ok) {
    if (!ok) std::abort();
}

void checkPath(const std::string& path) {
    check(!path.empty() && path.size() <= DaemonRequest::kMaxPathLength);
    check(path.find('\0') == std::string::npos);
}

void checkRequest(const Value& message) {
    std::string error;
    auto request = DaemonRequest::decode(message, &error);
    if (!request) {
        check(!error.empty());
        // An error reply must itself be a property list the client can read.
        auto reply =
            PropertyList::parse(PropertyList::serialize(DaemonReply::error(error), PlistFormat::Binary));
        check(reply.has_value() && !DaemonReply::resultOf(*reply));
        return;
    }
    check(request->paths.size() <= DaemonRequest::kMaxPaths);
    for (const auto& p : request->paths) checkPath(p.path);
    if (request->kind == DaemonRequest::Kind::SetServerDisable) checkPath(request->path);

    auto wire = PropertyList::parse(PropertyList::serialize(request->encode(), PlistFormat::Binary));
    check(wire.has_value());
    auto back = DaemonRequest::decode(*wire);
    check(back.has_value());
    check(back->kind == request->kind && back->selector == request->selector && back->path == request->path &&
          back->flag == request->flag && back->paths.size() == request->paths.size());
    for (size_t i = 0; i < request->paths.size(); ++i) {
        check(back->paths[i].path == request->paths[i].path);
        check(back->paths[i].foundIn == request->paths[i].foundIn);
    }
}

enum class End { Clean, Truncated, Oversized };

// The messages (nullopt for a body that is no property list) and how the stream ends, by the
// frame parser alone.
End splitFrames(const std::string& bytes, std::vector<std::optional<Value>>& messages) {
    size_t at = 0;
    for (;;) {
        if (at == bytes.size()) return End::Clean;
        auto f = DaemonConnection::parseFrame(bytes.data() + at, bytes.size() - at, kMaxBody);
        if (f.status == DaemonConnection::FrameStatus::Oversized) return End::Oversized;
        if (f.status == DaemonConnection::FrameStatus::Incomplete) return End::Truncated;
        messages.push_back(PropertyList::parse(bytes.substr(at + 4, f.bodyLength)));
        at += 4 + f.bodyLength;
    }
}

// The same stream through the reader the daemon uses on its connections.
void compareWithReader(const std::string& bytes, const std::vector<std::optional<Value>>& messages, End end) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
    int size = 4 * kMaxStreamed;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fds[0], bytes.data() + sent, bytes.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    ::shutdown(fds[0], SHUT_WR);
    if (sent == bytes.size()) {
        using RS = DaemonConnection::ReadStatus;
        for (const auto& expected : messages) {
            auto r = DaemonConnection::readFrame(fds[1], kMaxBody);
            if (expected) {
                // Compared as bytes: a real that is NaN never equals itself.
                check(r.status == RS::Message && PropertyList::serialize(*r.message, PlistFormat::Binary) ==
                                                     PropertyList::serialize(*expected, PlistFormat::Binary));
            } else {
                check(r.status == RS::Malformed);
            }
        }
        auto last = DaemonConnection::readFrame(fds[1], kMaxBody);
        check(last.status == (end == End::Clean       ? RS::Closed
                              : end == End::Truncated ? RS::Truncated
                                                      : RS::Oversized));
    }
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::optional<Value>> messages;
    const End end = splitFrames(bytes, messages);
    for (const auto& m : messages) {
        if (m) checkRequest(*m);
    }
    // The whole input as one body too, so that the decoder sees plain property lists.
    if (auto whole = PropertyList::parse(bytes)) checkRequest(*whole);
    if (bytes.size() <= kMaxStreamed) compareWithReader(bytes, messages, end);
    return 0;
}
