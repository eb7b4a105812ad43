// Fuzzes the launchd job reader on any bytes as a property list, XML or binary. A job read
// must name its program by the rule of LaunchdJob::executable: Program when it is a
// non-empty string, else the first argument when that is one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Platform/LaunchdJob.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    auto job = hvn::LaunchdJob::parse(bytes);
    if (!job) return 0;
    auto program = job->executable();
    if (job->program && !job->program->empty()) {
        check(program == job->program);
    } else if (job->programArguments && !job->programArguments->empty() &&
               !job->programArguments->front().empty()) {
        check(program == job->programArguments->front());
    } else {
        check(!program.has_value());
    }
    if (program) check(!program->empty());
    return 0;
}
