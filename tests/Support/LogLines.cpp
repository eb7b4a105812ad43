#include "Support/LogLines.h"

#include <algorithm>

namespace hvn::test {

LogLines::LogLines() {
    previous_ = hvn::Log::setSink([this](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(line);
    });
}

LogLines::~LogLines() { hvn::Log::setSink(std::move(previous_)); }

std::vector<std::string> LogLines::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

void LogLines::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

size_t LogLines::count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& l) {
        return l.find(text) != std::string::npos;
    }));
}

size_t LogLines::countLine(const std::string& line) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count(lines_.begin(), lines_.end(), line));
}

}  // namespace hvn::test
