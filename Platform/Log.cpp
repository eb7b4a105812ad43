#include "Platform/Log.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace hvn {

namespace {
std::mutex& logMutex() {
    static std::mutex m;
    return m;
}
Log::Sink& sinkRef() {
    static Log::Sink s;
    return s;
}
std::string vformat(const char* fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n <= 0) return {};
    std::string s(static_cast<size_t>(n), '\0');
    std::vsnprintf(s.data(), s.size() + 1, fmt, ap);
    return s;
}
}  // namespace

namespace Log {

void write(const std::string& line) {
    std::lock_guard<std::mutex> lock(logMutex());
    if (sinkRef()) sinkRef()(line);
    const char* mode = std::getenv("HALVORN_LOG");
    if (mode && std::strcmp(mode, "quiet") == 0) return;
    if (mode && std::strcmp(mode, "stderr") == 0) std::fprintf(stderr, "Halvorn: %s\n", line.c_str());
    static bool opened = false;
    if (!opened) {
        openlog("Halvorn", LOG_PID, LOG_USER);
        opened = true;
    }
    syslog(LOG_NOTICE, "%s", line.c_str());
}

void writef(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = vformat(fmt, ap);
    va_end(ap);
    write(s);
}

Sink setSink(Sink sink) {
    std::lock_guard<std::mutex> lock(logMutex());
    Sink old = std::move(sinkRef());
    sinkRef() = std::move(sink);
    return old;
}

}  // namespace Log

std::string format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = vformat(fmt, ap);
    va_end(ap);
    return s;
}

}  // namespace hvn
