#include "Companions/HVNDaemon/DaemonServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "Platform/DaemonConnection.h"
#include "Platform/DaemonRequest.h"
#include "Platform/Log.h"

namespace hvndaemon {

namespace {

// The first request of a peer that is refused is read only this far.
constexpr size_t kRefusedPeerMessageSize = 64 * 1024;

struct Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
};

void reply(int fd, const hvn::Value& message) {
    std::string error;
    if (!hvn::DaemonConnection::writeMessage(fd, message, &error)) {
        hvn::Log::write("HVNDaemon: could not answer a request: " + error);
    }
}

}  // namespace

bool DaemonServer::run(int listenFd, int stopFd) {
    std::list<std::unique_ptr<Connection>> connections;
    auto reap = [&] {
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->done) {
                (*it)->thread.join();
                ::close((*it)->fd);
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    };
    bool ok = true;
    for (;;) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            hvn::Log::writef("HVNDaemon: poll failed: %s", std::strerror(errno));
            ok = false;
            break;
        }
        if (fds[1].revents != 0) break;
        if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) {
            hvn::Log::write("HVNDaemon: the listening socket failed");
            ok = false;
            break;
        }
        if ((fds[0].revents & POLLIN) == 0) continue;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        reap();
        if (fd < 0) continue;
        if (connections.size() >= static_cast<size_t>(kMaxConnections)) {
            hvn::Log::write("HVNDaemon: too many connections; turning one away");
            timeval t{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
            reply(fd, hvn::DaemonReply::error("the daemon is busy with too many connections"));
            ::close(fd);
            continue;
        }
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        Connection* raw = c.get();
        c->thread = std::thread([this, raw] {
            serve(raw->fd);
            // The peer sees the end now; the descriptor is closed when the thread is reaped,
            // so that it cannot be reused while the accept loop may still name it.
            ::shutdown(raw->fd, SHUT_RDWR);
            raw->done = true;
        });
        connections.push_back(std::move(c));
    }
    // Wake every connection thread out of its read, then wait for them.
    for (auto& c : connections) {
        if (!c->done) ::shutdown(c->fd, SHUT_RDWR);
    }
    for (auto& c : connections) {
        c->thread.join();
        ::close(c->fd);
    }
    return ok;
}

void DaemonServer::serve(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        hvn::Log::writef("HVNDaemon: cannot tell who connected: %s", std::strerror(errno));
        return;
    }
    timeval idle{kIdleSeconds, 0};
    timeval sending{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sending, sizeof sending);

    if (!hvn::DaemonRequest::mayServe(peer.uid, servedUid_)) {
        hvn::Log::writef("HVNDaemon: refusing a request from uid %u", static_cast<unsigned>(peer.uid));
        // The peer reads its answer after sending its request: take that first.
        hvn::DaemonConnection::readFrame(fd, kRefusedPeerMessageSize);
        reply(fd, hvn::DaemonReply::error("uid " + std::to_string(peer.uid) + " may not use this daemon"));
        return;
    }
    for (;;) {
        hvn::DaemonConnection::ReadResult r = hvn::DaemonConnection::readFrame(fd);
        using RS = hvn::DaemonConnection::ReadStatus;
        switch (r.status) {
            case RS::Message: {
                std::string error;
                auto request = hvn::DaemonRequest::decode(*r.message, &error);
                if (!request) {
                    hvn::Log::writef("HVNDaemon: a malformed request from uid %u: %s",
                                     static_cast<unsigned>(peer.uid), error.c_str());
                    reply(fd, hvn::DaemonReply::error(error));
                    continue;
                }
                hvn::Value answer;
                try {
                    answer = service_.handle(*request);
                } catch (...) {
                    answer = hvn::DaemonReply::error("the request failed inside the daemon");
                }
                reply(fd, answer);
                continue;
            }
            case RS::Malformed:
                hvn::Log::writef("HVNDaemon: a malformed request from uid %u: %s",
                                 static_cast<unsigned>(peer.uid), r.errorText.c_str());
                reply(fd, hvn::DaemonReply::error(r.errorText));
                continue;
            case RS::Oversized:
            case RS::Truncated:
                hvn::Log::writef("HVNDaemon: a broken request from uid %u: %s",
                                 static_cast<unsigned>(peer.uid), r.errorText.c_str());
                reply(fd, hvn::DaemonReply::error(r.errorText));
                return;
            case RS::Closed:
                return;
            case RS::Failed:
                hvn::Log::writef("HVNDaemon: closing a connection of uid %u: %s",
                                 static_cast<unsigned>(peer.uid), r.errorText.c_str());
                return;
        }
    }
}

}  // namespace hvndaemon
