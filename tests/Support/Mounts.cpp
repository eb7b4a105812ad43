#include "Support/Mounts.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hvn::test {

namespace {

std::string failure(int error) {
    if (geteuid() != 0) return "mounting needs root";
    return std::string("mount failed: ") + std::strerror(error);
}

}  // namespace

ScopedMount ScopedMount::tmpfs(const std::string& target, size_t sizeBytes) {
    std::string options = "size=" + std::to_string(sizeBytes) + ",mode=0755";
    if (::mount("tmpfs", target.c_str(), "tmpfs", 0, options.c_str()) != 0) return {"", failure(errno)};
    return {target, ""};
}

ScopedMount ScopedMount::bind(const std::string& source, const std::string& target) {
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) return {"", failure(errno)};
    return {target, ""};
}

ScopedMount::ScopedMount(ScopedMount&& other) noexcept : target_(std::move(other.target_)), why_(other.why_) {
    other.target_.clear();
}

ScopedMount::~ScopedMount() {
    if (!target_.empty()) ::umount2(target_.c_str(), MNT_DETACH);
}

}  // namespace hvn::test
