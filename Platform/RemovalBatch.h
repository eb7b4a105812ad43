// The wire format between a program and its privileged removal helper (HVNRemove, run
// through the administrator authorization): the batch of paths goes on the helper's
// standard input, the outcome of each path comes back on its standard output. Every field
// is terminated by a NUL byte, so any path (newlines and invalid UTF-8 included) passes
// unchanged.
//
//   request record: "<device>:<inode>" or "-" (the folder the entry was found in), path
//   result record:  "removed" | "missing" | "failed" | "refused", path, reason
//
// Threads: any; pure functions.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "Platform/FileManager.h"
#include "Platform/RemovalGate.h"

namespace hvn::RemovalBatch {

struct Request {
    std::string path;
    std::optional<FileIdentity> foundIn;
};

struct Outcome {
    std::string path;
    RemovalStatus status = RemovalStatus::Failed;
    std::string reason;
};

// The folder identity as it travels in requests: "<device>:<inode>" in decimal. parseIdentity
// gives nullopt for anything else.
std::string identityText(const FileIdentity& id);
std::optional<FileIdentity> parseIdentity(const std::string& text);

std::string encodeRequests(const std::vector<Request>& requests);
// nullopt when the bytes are not a whole number of well-formed records.
std::optional<std::vector<Request>> decodeRequests(const std::string& bytes);

// Removes every request through the gate, in order, shredding files first with rewrite
// (Platform/Shredder.h), and logs each refusal and failure. One outcome per request.
std::vector<Outcome> removeAll(const std::vector<Request>& requests, const RemovalGate& gate, bool rewrite);
// The same, checking stop before each request: once it is set, the requests left are not
// worked through and get no outcome (the result is then shorter than requests). stop may be
// set from another thread; null never stops.
std::vector<Outcome> removeAll(const std::vector<Request>& requests, const RemovalGate& gate, bool rewrite,
                               const std::atomic<bool>* stop);

std::string encodeOutcomes(const std::vector<Outcome>& outcomes);
std::optional<std::vector<Outcome>> decodeOutcomes(const std::string& bytes);

}  // namespace hvn::RemovalBatch
