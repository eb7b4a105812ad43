// The program's local notification centre. post() delivers synchronously on the poster's
// thread to every observer registered for the name at the time of posting; observers may
// be added and removed from any thread, also from inside a callback.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "Platform/Value.h"

namespace hvn {

struct Notification {
    std::string name;
    std::any object;     // the posting object, when the poster names one
    Value userInfo;      // null or a dictionary
};

class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;
    using Token = uint64_t;

    static NotificationCenter& defaultCenter();

    // Registers an observer for one name; returns a token for removeObserver.
    Token addObserver(const std::string& name, Observer observer);
    // Unregisters; a callback already running on another thread finishes.
    void removeObserver(Token token);

    void post(const Notification& notification);
    void post(const std::string& name, std::any object = {}, Value userInfo = Value());
    // Queues the posting on the main run loop and returns at once.
    void postOnMainThread(const std::string& name, std::any object = {}, Value userInfo = Value());

private:
    std::mutex mutex_;
    Token next_ = 1;
    std::map<Token, std::pair<std::string, std::shared_ptr<Observer>>> observers_;
};

// Keeps an observation alive for the lifetime of its owner (RAII).
class ObservationToken {
public:
    ObservationToken() = default;
    ObservationToken(NotificationCenter::Token t) : token_(t) {}
    ObservationToken(const ObservationToken&) = delete;
    ObservationToken& operator=(const ObservationToken&) = delete;
    ObservationToken(ObservationToken&& o) noexcept : token_(o.token_) { o.token_ = 0; }
    ObservationToken& operator=(ObservationToken&& o) noexcept;
    ~ObservationToken();

private:
    NotificationCenter::Token token_ = 0;
};

}  // namespace hvn
