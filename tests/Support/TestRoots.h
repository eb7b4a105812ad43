// Test fixtures: a temporary HOME and HALVORN_ROOT (and the built bundle as the main
// bundle), restored when the fixture ends, so no test touches the real home or system.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <utility>
#include <vector>
#include <string>

namespace hvn::test {

class TempRoots {
public:
    // Creates <tmp>/home and <tmp>/root and points the environment at them; the XDG base
    // directory variables are unset, so their defaults lie below the temporary home.
    TempRoots();
    ~TempRoots();  // restores the environment and removes the folder
    TempRoots(const TempRoots&) = delete;
    TempRoots& operator=(const TempRoots&) = delete;

    const std::string& base() const { return base_; }
    const std::string& home() const { return home_; }
    const std::string& root() const { return root_; }

    // Creates a file (and its folders) with the given contents; returns its path.
    std::string writeFile(const std::string& path, const std::string& contents) const;
    // Creates a folder (and its parents); returns its path.
    std::string makeDir(const std::string& path) const;

private:
    std::string base_, home_, root_;
    std::string oldHome_, oldRoot_, oldBundle_;
    bool hadHome_ = false, hadRoot_ = false, hadBundle_ = false;
    std::vector<std::pair<std::string, std::optional<std::string>>> oldXdg_;
};

// A GoogleTest fixture holding TempRoots.
class RootsTest : public ::testing::Test {
protected:
    TempRoots roots;
};

// Runs fn in a forked child that has dropped to the unprivileged user "nobody" and returns
// the child's exit code (fn's return value), or -1 when the child could not be run that way.
int runAsNobody(const std::function<int()>& fn);
// True when the tests run as root and can drop to nobody (the refusal tests need it).
bool canRunAsNobody();

// The built halvorn command and bundle.
std::string cliPath();
std::string bundlePath();

// Runs a shell command, returning its exit status and filling its standard output.
int runCommand(const std::string& command, std::string* output = nullptr);

}  // namespace hvn::test
