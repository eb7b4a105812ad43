// Mounts for the tests of the removal gate: a tmpfs or a bind mount made for one test and
// taken away (lazily) when it ends. Mounting needs root; where it is not possible the
// mount reports why, and the test skips with that message.
#pragma once

#include <string>

namespace hvn::test {

class ScopedMount {
public:
    // A tmpfs of sizeBytes at target (which must exist).
    static ScopedMount tmpfs(const std::string& target, size_t sizeBytes);
    // A bind mount of source at target (both must exist, of the same kind).
    static ScopedMount bind(const std::string& source, const std::string& target);

    ScopedMount(ScopedMount&& other) noexcept;
    ScopedMount& operator=(ScopedMount&&) = delete;
    ~ScopedMount();

    bool mounted() const { return why_.empty(); }
    // Why the mount could not be made ("" when it was).
    const std::string& why() const { return why_; }

private:
    ScopedMount(std::string target, std::string why) : target_(std::move(target)), why_(std::move(why)) {}
    std::string target_;
    std::string why_;
};

}  // namespace hvn::test
