// Collects the log lines written while it lives (from any thread) and restores the
// previous sink when it ends.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/Log.h"

namespace hvn::test {

class LogLines {
public:
    LogLines();
    ~LogLines();
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

    std::vector<std::string> lines() const;
    void clear();
    // Lines that contain `text`.
    bool contains(const std::string& text) const { return count(text) > 0; }
    size_t count(const std::string& text) const;
    // Lines that are exactly `line`.
    bool hasLine(const std::string& line) const { return countLine(line) > 0; }
    size_t countLine(const std::string& line) const;

private:
    hvn::Log::Sink previous_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace hvn::test
