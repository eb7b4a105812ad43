// The system log. Lines go to syslog(3) with the bundle name as ident; HALVORN_LOG=stderr
// also copies them to standard error, HALVORN_LOG=quiet drops them. A process-wide sink
// (the command line, the tests) can receive every line as well.
#pragma once

#include <functional>
#include <string>

namespace hvn {

namespace Log {

// Writes one line. Thread-safe.
void write(const std::string& line);
// printf-style formatting, then write().
void writef(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Installs a sink that receives every line (replacing any previous one); an empty function
// removes it. Returns the previous sink.
using Sink = std::function<void(const std::string&)>;
Sink setSink(Sink sink);

}  // namespace Log

// Formats like printf into a std::string.
std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace hvn
