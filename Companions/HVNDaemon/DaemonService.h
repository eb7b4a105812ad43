// What the daemon does for each request (Platform/DaemonRequest.h), for one served user.
//
// Removals and thinning are checked and queued, and the reply goes back at once; the work
// itself runs on the service's work queue. Every path passes the removal gate made for the
// served user's roots; each refusal and failure is logged with its reason. Switching a job
// is done before its reply (it is quick), one switch at a time.
//
// Threads: handle() may be called from any number of connection threads at once.
#pragma once

#include <mutex>
#include <string>

#include "Companions/HVNDaemon/WorkQueue.h"
#include "Platform/DaemonRequest.h"
#include "Platform/RemovalGate.h"
#include "Platform/Value.h"

namespace hvndaemon {

class DaemonService {
public:
    // gate: the protections of the served user's roots. arch: the architecture executables
    // are thinned to.
    DaemonService(hvn::RemovalGate gate, std::string arch);
    ~DaemonService();  // stops the work under way and waits for it

    // The reply to a decoded request.
    hvn::Value handle(const hvn::DaemonRequest& request);

    // Stops the work under way and drops what is queued (the daemon is ending).
    void shutdown();

private:
    hvn::Value removeFile(const hvn::DaemonRequest& request);
    void lipoApp(const hvn::DaemonRequest& request);

    hvn::RemovalGate gate_;
    std::string arch_;
    std::mutex switchMutex_;
    // Last, so that it ends first: the work refers to the members above.
    WorkQueue queue_;
};

}  // namespace hvndaemon
