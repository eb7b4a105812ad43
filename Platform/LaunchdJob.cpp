#include "Platform/LaunchdJob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Platform/PropertyList.h"

namespace hvn {

std::optional<std::string> LaunchdJob::executable() const {
    // launchd execs "Program" and only falls back to argv[0] without it; argv[0] may be any
    // name when "Program" is given.
    if (program && !program->empty()) return program;
    if (programArguments && !programArguments->empty() && !programArguments->front().empty()) {
        return programArguments->front();
    }
    return std::nullopt;
}

std::optional<LaunchdJob> LaunchdJob::parse(const std::string& bytes) {
    std::optional<Value> root = PropertyList::parse(bytes);
    if (!root || !root->isDictionary()) return std::nullopt;
    LaunchdJob job;
    if (const Value* v = root->find("Label"); v && v->isString()) job.label = v->asString();
    if (const Value* v = root->find("Program"); v && v->isString()) job.program = v->asString();
    if (const Value* v = root->find("ProgramArguments"); v && v->isArray()) {
        std::vector<std::string> args;
        args.reserve(v->asArray().size());
        for (const Value& a : v->asArray()) args.push_back(a.isString() ? a.asString() : std::string());
        job.programArguments = std::move(args);
    }
    return job;
}

LaunchdJob::ReadStatus LaunchdJob::readFile(const std::string& path, LaunchdJob* job,
                                            std::string* errorText) {
    auto failure = [&](ReadStatus status, const std::string& reason) {
        if (errorText) *errorText = path + ": " + reason;
        return status;
    };
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        int e = errno;
        if (e == ELOOP) return failure(ReadStatus::NotRegular, "a symbolic link");
        if (e == ENOENT || e == ENOTDIR) return failure(ReadStatus::Missing, std::strerror(e));
        struct ::stat st {};
        if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            return failure(ReadStatus::NotRegular, "not a regular file");
        }
        return failure(ReadStatus::Unreadable, std::strerror(e));
    }
    struct ::stat st {};
    if (::fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        return failure(ReadStatus::Unreadable, std::strerror(e));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return failure(ReadStatus::NotRegular, "not a regular file");
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
        ::close(fd);
        return failure(ReadStatus::Unreadable, "larger than " + std::to_string(kMaxFileSize) + " bytes");
    }
    std::string bytes;
    int e = readToEnd(fd, bytes);
    ::close(fd);
    if (e != 0) return failure(ReadStatus::Unreadable, std::strerror(e));
    if (bytes.size() > kMaxFileSize) return failure(ReadStatus::Unreadable, "grew while read");
    auto parsed = parse(bytes);
    if (!parsed) return failure(ReadStatus::Corrupt, "not a property list dictionary");
    if (job) *job = std::move(*parsed);
    return ReadStatus::Read;
}

namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string lastComponent(const std::string& path) {
    const std::string p = withoutTrailingSlashes(path);
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// The program path switched to the asked state; nullopt when it cannot be switched on.
std::optional<std::string> switchedPath(const std::string& path, bool disable) {
    const bool disabled = LaunchdJob::isDisabledProgram(path);
    if (disable) {
        if (disabled) return path;
        const std::string p = withoutTrailingSlashes(path);
        return p == "/" ? "/disable" : p + "/disable";
    }
    if (!disabled) return path;
    const std::string p = withoutTrailingSlashes(path);
    const size_t slash = p.rfind('/');
    if (slash == std::string::npos) return std::nullopt;
    return slash == 0 ? std::string("/") : p.substr(0, slash);
}

}  // namespace

bool LaunchdJob::isDisabledProgram(const std::string& programPath) {
    return lastComponent(programPath).find("disable") != std::string::npos;
}

std::optional<Value> LaunchdJob::switchedProgram(const Value& plist, bool disable, bool* changed,
                                                 std::string* errorText) {
    if (changed) *changed = false;
    auto failure = [&](const std::string& reason) -> std::optional<Value> {
        if (errorText) *errorText = reason;
        return std::nullopt;
    };
    if (!plist.isDictionary()) return failure("the property list holds no dictionary");
    Value out = plist;
    Dictionary& d = out.dictionary();
    bool any = false, didChange = false;
    auto apply = [&](Value& slot) -> bool {
        auto next = switchedPath(slot.asString(), disable);
        if (!next) return false;
        if (*next != slot.asString()) {
            slot = Value(*next);
            didChange = true;
        }
        return true;
    };
    if (auto it = d.find("ProgramArguments");
        it != d.end() && it->second.isArray() && !it->second.asArray().empty() &&
        it->second.asArray().front().isString() && !it->second.asArray().front().asString().empty()) {
        any = true;
        if (!apply(it->second.array().front())) {
            return failure("the program " + it->second.asArray().front().asString() +
                           " cannot be switched on");
        }
    }
    if (auto it = d.find("Program");
        it != d.end() && it->second.isString() && !it->second.asString().empty()) {
        any = true;
        if (!apply(it->second))
            return failure("the program " + it->second.asString() + " cannot be switched on");
    }
    if (!any) return failure("the job names no program");
    if (changed) *changed = didChange;
    return out;
}

}  // namespace hvn
