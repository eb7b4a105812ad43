#include "Companions/HVNDaemon/DaemonService.h"

#include <map>

#include "Companions/HVNDaemon/ExecutableThinner.h"
#include "Companions/HVNDaemon/JobSwitcher.h"
#include "Platform/DaemonConnection.h"
#include "Platform/Log.h"
#include "Platform/RemovalBatch.h"

namespace hvndaemon {

using hvn::DaemonRequest;
using Status = hvn::RemovalGate::Admission::Status;

DaemonService::DaemonService(hvn::RemovalGate gate, std::string arch)
    : gate_(std::move(gate)), arch_(std::move(arch)) {}

DaemonService::~DaemonService() {
    shutdown();
}

void DaemonService::shutdown() {
    queue_.shutdown();
}

hvn::Value DaemonService::handle(const DaemonRequest& request) {
    switch (request.kind) {
        case DaemonRequest::Kind::RespondsToSelector:
            return hvn::DaemonReply::result(DaemonRequest::isKnownSelector(request.selector));
        case DaemonRequest::Kind::RemoveFile:
            return removeFile(request);
        case DaemonRequest::Kind::LipoApp:
            lipoApp(request);
            return hvn::DaemonReply::result(hvn::Value());
        case DaemonRequest::Kind::SetServerDisable: {
            std::lock_guard lock(switchMutex_);
            std::string error;
            bool switched = switchJob(gate_, request.path, request.flag, &error);
            if (switched) {
                hvn::Log::write(std::string("HVNDaemon: switched ") + (request.flag ? "off " : "on ") +
                                request.path);
            } else {
                hvn::Log::write(error);
            }
            return hvn::DaemonReply::result(switched);
        }
        case DaemonRequest::Kind::StopRemove:
            hvn::Log::write("HVNDaemon: stopping the removal under way");
            queue_.stopRemovals();
            return hvn::DaemonReply::result(hvn::Value());
    }
    return hvn::DaemonReply::error("unrecognized request");
}

hvn::Value DaemonService::removeFile(const DaemonRequest& request) {
    // What the gate refuses now is told to the caller at once; the rest is queued, and the
    // removal asks the gate again when it comes to each path.
    std::map<std::string, std::string> refused;
    std::vector<hvn::RemovalBatch::Request> accepted;
    accepted.reserve(request.paths.size());
    for (const auto& r : request.paths) {
        hvn::RemovalGate::Admission a = gate_.admit(r.path, r.foundIn);
        if (a.status() == Status::Refused) {
            hvn::Log::write(a.reason());
            refused[r.path] = a.reason();
        } else if (a.status() != Status::Gone) {
            accepted.push_back(r);
        }
    }
    if (!accepted.empty()) {
        const bool rewrite = request.flag;
        queue_.post(
            [this, batch = std::move(accepted), rewrite](const std::atomic<bool>& stop) {
                auto outcomes = hvn::RemovalBatch::removeAll(batch, gate_, rewrite, &stop);
                size_t removed = 0;
                for (const auto& o : outcomes) {
                    removed +=
                        o.status == hvn::RemovalStatus::Removed || o.status == hvn::RemovalStatus::Missing;
                }
                if (outcomes.size() < batch.size()) {
                    hvn::Log::writef("HVNDaemon: the removal was stopped after %zu of %zu paths",
                                     outcomes.size(), batch.size());
                }
                hvn::Log::writef("HVNDaemon: removed %zu of %zu paths%s", removed, batch.size(),
                                 rewrite ? ", overwriting files first" : "");
            },
            true);
    }
    return hvn::DaemonReply::result(hvn::DaemonReply::removeFileResult(refused));
}

void DaemonService::lipoApp(const DaemonRequest& request) {
    std::vector<std::string> paths;
    paths.reserve(request.paths.size());
    for (const auto& r : request.paths) paths.push_back(r.path);
    queue_.post(
        [this, paths = std::move(paths)](const std::atomic<bool>& stop) {
            size_t thinned = 0;
            for (const auto& p : paths) {
                if (stop) break;
                std::string error;
                if (thinExecutable(gate_, p, arch_, &error)) {
                    ++thinned;
                } else {
                    hvn::Log::write(error);
                }
            }
            hvn::Log::writef("HVNDaemon: thinned %zu of %zu executables to %s", thinned, paths.size(),
                             arch_.c_str());
        },
        false);
}

}  // namespace hvndaemon
