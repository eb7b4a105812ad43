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

}  // namespace hvn
