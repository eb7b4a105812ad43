#include "Platform/NotificationCenter.h"

#include <vector>

#include "Platform/RunLoop.h"

namespace hvn {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* center = new NotificationCenter;  // never released
    return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name, Observer observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    Token t = next_++;
    observers_[t] = {name, std::make_shared<Observer>(std::move(observer))};
    return t;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard<std::mutex> lock(mutex_);
    observers_.erase(token);
}

void NotificationCenter::post(const Notification& n) {
    std::vector<std::pair<Token, std::shared_ptr<Observer>>> targets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [t, entry] : observers_) {
            if (entry.first == n.name) targets.emplace_back(t, entry.second);
        }
    }
    for (const auto& [t, obs] : targets) {
        bool still = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            still = observers_.count(t) != 0;
        }
        if (still) (*obs)(n);
    }
}

void NotificationCenter::post(const std::string& name, std::any object, Value userInfo) {
    post(Notification{name, std::move(object), std::move(userInfo)});
}

void NotificationCenter::postOnMainThread(const std::string& name, std::any object, Value userInfo) {
    Notification n{name, std::move(object), std::move(userInfo)};
    RunLoop::main().performOnMainThread([this, n]() { post(n); });
}

ObservationToken& ObservationToken::operator=(ObservationToken&& o) noexcept {
    if (this != &o) {
        if (token_) NotificationCenter::defaultCenter().removeObserver(token_);
        token_ = o.token_;
        o.token_ = 0;
    }
    return *this;
}

ObservationToken::~ObservationToken() {
    if (token_) NotificationCenter::defaultCenter().removeObserver(token_);
}

}  // namespace hvn
