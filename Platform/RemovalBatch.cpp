#include "Platform/RemovalBatch.h"

#include <cerrno>
#include <cstdlib>

#include "Platform/Log.h"
#include "Platform/Shredder.h"

namespace hvn::RemovalBatch {

namespace {

// Splits bytes into NUL-terminated fields; nullopt when the last one is not terminated.
std::optional<std::vector<std::string>> fields(const std::string& bytes) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos) return std::nullopt;
        out.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

bool parseNumber(const std::string& text, uint64_t& out) {
    if (text.empty() || text.size() > 20) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    out = v;
    return true;
}

const char* statusName(RemovalStatus s) {
    switch (s) {
        case RemovalStatus::Removed:
            return "removed";
        case RemovalStatus::Missing:
            return "missing";
        case RemovalStatus::Refused:
            return "refused";
        case RemovalStatus::Failed:
            break;
    }
    return "failed";
}

std::optional<RemovalStatus> statusOf(const std::string& name) {
    if (name == "removed") return RemovalStatus::Removed;
    if (name == "missing") return RemovalStatus::Missing;
    if (name == "refused") return RemovalStatus::Refused;
    if (name == "failed") return RemovalStatus::Failed;
    return std::nullopt;
}

void append(std::string& out, const std::string& field) {
    out += field;
    out.push_back('\0');
}

}  // namespace

std::string identityText(const FileIdentity& id) {
    return std::to_string(id.device) + ":" + std::to_string(id.inode);
}

std::optional<FileIdentity> parseIdentity(const std::string& text) {
    size_t colon = text.find(':');
    FileIdentity id;
    if (colon == std::string::npos || !parseNumber(text.substr(0, colon), id.device) ||
        !parseNumber(text.substr(colon + 1), id.inode)) {
        return std::nullopt;
    }
    return id;
}

std::string encodeRequests(const std::vector<Request>& requests) {
    std::string out;
    for (const auto& r : requests) {
        append(out, r.foundIn ? identityText(*r.foundIn) : "-");
        append(out, r.path);
    }
    return out;
}

std::optional<std::vector<Request>> decodeRequests(const std::string& bytes) {
    auto f = fields(bytes);
    if (!f || f->size() % 2 != 0) return std::nullopt;
    std::vector<Request> out;
    for (size_t i = 0; i < f->size(); i += 2) {
        Request r;
        const std::string& id = (*f)[i];
        if (id != "-") {
            r.foundIn = parseIdentity(id);
            if (!r.foundIn) return std::nullopt;
        }
        r.path = (*f)[i + 1];
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<Outcome> removeAll(const std::vector<Request>& requests, const RemovalGate& gate, bool rewrite) {
    return removeAll(requests, gate, rewrite, nullptr);
}

std::vector<Outcome> removeAll(const std::vector<Request>& requests, const RemovalGate& gate, bool rewrite,
                               const std::atomic<bool>* stop) {
    std::vector<Outcome> out;
    out.reserve(requests.size());
    for (const auto& r : requests) {
        if (stop && stop->load()) break;
        RemovalOptions options;
        options.foundIn = r.foundIn;
        options.gate = &gate;
        if (rewrite) options.beforeUnlinkFile = Shredder::overwriteForRemoval;
        RemovalResult result = FileManager::removeItem(r.path, options);
        if (result.status == RemovalStatus::Failed || result.status == RemovalStatus::Refused) {
            Log::write(result.error);
        }
        out.push_back({r.path, result.status, result.removed() ? std::string() : result.error});
    }
    return out;
}

std::string encodeOutcomes(const std::vector<Outcome>& outcomes) {
    std::string out;
    for (const auto& o : outcomes) {
        append(out, statusName(o.status));
        append(out, o.path);
        append(out, o.reason);
    }
    return out;
}

std::optional<std::vector<Outcome>> decodeOutcomes(const std::string& bytes) {
    auto f = fields(bytes);
    if (!f || f->size() % 3 != 0) return std::nullopt;
    std::vector<Outcome> out;
    for (size_t i = 0; i < f->size(); i += 3) {
        auto status = statusOf((*f)[i]);
        if (!status) return std::nullopt;
        out.push_back({(*f)[i + 1], *status, (*f)[i + 2]});
    }
    return out;
}

}  // namespace hvn::RemovalBatch
