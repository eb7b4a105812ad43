// The daemon's connections: accepts on the listening socket, serves each connection on a
// thread of its own (so a client that stalls holds up no one else), checks every peer with
// SO_PEERCRED and passes decoded requests to the service.
//
// Only root and the served user are served; anyone else gets an error reply, and the refusal
// is logged ("refusing a request from uid N"). A malformed request is answered with an error
// and the connection goes on; an oversized or truncated one is answered with an error and
// the connection is closed. The daemon itself never stops for a bad request.
//
// Threads: run() on the main thread; the connection threads it starts end before it returns.
#pragma once

#include <sys/types.h>

#include "Companions/HVNDaemon/DaemonService.h"

namespace hvndaemon {

class DaemonServer {
public:
    // The most connections served at once; a connection beyond them gets an error reply.
    static constexpr int kMaxConnections = 32;
    // A connection that sends nothing for this long is closed.
    static constexpr int kIdleSeconds = 60;

    DaemonServer(DaemonService& service, uid_t servedUid) : service_(service), servedUid_(servedUid) {}

    // Serves listenFd until stopFd becomes readable (a signalfd of SIGTERM and SIGINT), then
    // stops accepting, ends every connection and returns. False when polling failed.
    bool run(int listenFd, int stopFd);

private:
    void serve(int fd);

    DaemonService& service_;
    uid_t servedUid_;
};

}  // namespace hvndaemon
