#include "Platform/DistributedNotificationCenter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Log.h"
#include "Platform/RunLoop.h"

namespace hvn {

namespace {

constexpr uint64_t kMethodCallTimeoutMicroseconds = 5'000'000;

std::string errorText(int negativeErrno) {
    return std::strerror(-negativeErrno);
}

// A D-Bus address value: every byte outside the optionally-escaped set as %XX.
std::string escapeAddressValue(const std::string& value) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned char c : value) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::strchr("-_/.\\*", c) != nullptr) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// The session bus's address, or "" with why filled when the session names none.
std::string sessionBusAddress(std::string* why) {
    if (const char* a = std::getenv("DBUS_SESSION_BUS_ADDRESS"); a && *a) return a;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) {
        *why = "neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set";
        return {};
    }
    const std::string socket = std::string(runtime) + "/bus";
    struct stat st {};
    if (::stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
        *why = "no DBUS_SESSION_BUS_ADDRESS and no bus socket at " + socket;
        return {};
    }
    return "unix:path=" + escapeAddressValue(socket);
}

// Connects to the bus at address as a client; nullptr with why filled when it cannot.
sd_bus* connectBus(const std::string& address, std::string* why) {
    sd_bus* bus = nullptr;
    int r = sd_bus_new(&bus);
    if (r >= 0) r = sd_bus_set_address(bus, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0) r = sd_bus_set_method_call_timeout(bus, kMethodCallTimeoutMicroseconds);
    if (r >= 0) r = sd_bus_start(bus);
    if (r < 0) {
        *why = "cannot connect to the session bus " + address + ": " + errorText(r);
        sd_bus_unref(bus);
        return nullptr;
    }
    return bus;
}

}  // namespace

// One listener thread with its own bus connection.
struct Listener {
    std::thread thread;
    std::atomic<bool> stop{false};
    int wakeFd = -1;

    std::mutex mutex;
    std::condition_variable changed;
    bool ready = false;     // it listens, or gave up
    bool finished = false;  // the thread has ended
    std::atomic<bool> listening{false};

    ~Listener() {
        if (wakeFd >= 0) ::close(wakeFd);
    }
    void wake() const {
        uint64_t one = 1;
        if (wakeFd >= 0) {
            [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
        }
    }
};

struct DistributedNotificationCenter::State {
    std::mutex mutex;  // observers, nextId, listener, listenProblemLogged
    std::map<ObserverId, std::pair<std::string, Callback>> observers;
    ObserverId nextId = 1;
    std::shared_ptr<Listener> listener;
    bool listenProblemLogged = false;

    std::mutex postMutex;  // the posting connection and postProblemLogged
    sd_bus* postBus = nullptr;
    std::string postAddress;
    bool postProblemLogged = false;

    ~State() { sd_bus_flush_close_unref(postBus); }

    // Queues the callbacks of every observer of name on the main run loop.
    void dispatch(const std::string& name, const std::string& object) {
        std::vector<ObserverId> ids;
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (const auto& [id, entry] : observers) {
                if (entry.first.empty() || entry.first == name) ids.push_back(id);
            }
        }
        for (ObserverId id : ids) {
            std::weak_ptr<State> weak = self;
            RunLoop::main().performOnMainThread([weak, id, name, object] {
                auto state = weak.lock();
                if (!state) return;
                Callback callback;
                {
                    std::lock_guard<std::mutex> lock(state->mutex);
                    auto it = state->observers.find(id);
                    if (it == state->observers.end()) return;
                    callback = it->second.second;
                }
                if (callback) callback(name, object);
            });
        }
    }

    void logListenProblem(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        if (listenProblemLogged) return;
        listenProblemLogged = true;
        Log::write("Distributed notifications: nothing will be received: " + text);
    }

    std::weak_ptr<State> self;
};

namespace {

int onSignal(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* state = static_cast<DistributedNotificationCenter::State*>(userdata);
    const char* member = sd_bus_message_get_member(message);
    if (!member) return 0;
    const char* object = nullptr;
    if (sd_bus_message_read(message, "s", &object) < 0) object = nullptr;
    state->dispatch(member, object ? object : "");
    return 0;
}

void runListener(DistributedNotificationCenter::State* state, Listener* listener, std::string address) {
    auto markReady = [listener](bool listening) {
        std::lock_guard<std::mutex> lock(listener->mutex);
        listener->listening.store(listening);
        listener->ready = true;
        listener->changed.notify_all();
    };
    std::string why;
    sd_bus* bus = connectBus(address, &why);
    sd_bus_slot* slot = nullptr;
    if (bus) {
        const std::string match = std::string("type='signal',interface='") +
                                  DistributedNotificationCenter::kInterface + "',path='" +
                                  DistributedNotificationCenter::kObjectPath + "'";
        // Synchronous: once it returns, the bus daemon routes the signals to this connection.
        int r = sd_bus_add_match(bus, &slot, match.c_str(), onSignal, state);
        if (r < 0) {
            why = "cannot observe the session bus " + address + ": " + errorText(r);
            bus = sd_bus_flush_close_unref(bus);
        }
    }
    if (!bus) {
        state->logListenProblem(why);
        markReady(false);
    } else {
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->listenProblemLogged = false;
        }
        markReady(true);
        while (!listener->stop.load()) {
            int r = sd_bus_process(bus, nullptr);
            if (r < 0) {
                Log::write("Distributed notifications: the session bus connection ended: " + errorText(r));
                break;
            }
            if (r > 0) continue;
            int timeout = -1;
            uint64_t until = 0;
            if (sd_bus_get_timeout(bus, &until) >= 0 && until != UINT64_MAX) {
                timespec now{};
                clock_gettime(CLOCK_MONOTONIC, &now);
                uint64_t nowUs = static_cast<uint64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
                timeout = until <= nowUs
                              ? 0
                              : static_cast<int>(std::min<uint64_t>((until - nowUs + 999) / 1000, 60'000));
            }
            int events = sd_bus_get_events(bus);
            pollfd fds[2] = {{sd_bus_get_fd(bus), static_cast<short>(events < 0 ? POLLIN : events), 0},
                             {listener->wakeFd, POLLIN, 0}};
            if (::poll(fds, 2, timeout) < 0 && errno != EINTR) {
                Log::write(std::string("Distributed notifications: poll failed: ") + std::strerror(errno));
                break;
            }
            if (fds[1].revents & POLLIN) {
                uint64_t count = 0;
                [[maybe_unused]] ssize_t n = ::read(listener->wakeFd, &count, sizeof count);
            }
        }
        sd_bus_slot_unref(slot);
        sd_bus_flush_close_unref(bus);
    }
    std::lock_guard<std::mutex> lock(listener->mutex);
    listener->listening.store(false);
    listener->finished = true;
    listener->ready = true;
    listener->changed.notify_all();
}

void stopListener(const std::shared_ptr<Listener>& listener) {
    if (!listener) return;
    listener->stop.store(true);
    listener->wake();
    if (listener->thread.joinable()) listener->thread.join();
}

}  // namespace

DistributedNotificationCenter& DistributedNotificationCenter::defaultCenter() {
    static auto* center = new DistributedNotificationCenter();
    return *center;
}

DistributedNotificationCenter::DistributedNotificationCenter() : state_(std::make_shared<State>()) {
    state_->self = state_;
}

DistributedNotificationCenter::~DistributedNotificationCenter() {
    std::shared_ptr<Listener> listener;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        listener = std::move(state_->listener);
        state_->observers.clear();
    }
    stopListener(listener);
}

bool DistributedNotificationCenter::isValidName(const std::string& name) {
    if (name.empty() || name.size() > 255) return false;
    if (name[0] >= '0' && name[0] <= '9') return false;
    for (char c : name) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    }
    return true;
}

bool DistributedNotificationCenter::post(const std::string& name, const std::string& object) {
    if (!isValidName(name)) {
        Log::write("Distributed notifications: not a notification name, not posted: " + name);
        return false;
    }
    State& s = *state_;
    std::lock_guard<std::mutex> lock(s.postMutex);
    std::string why;
    const std::string address = sessionBusAddress(&why);
    if (s.postBus && (address != s.postAddress || sd_bus_is_open(s.postBus) <= 0))
        s.postBus = sd_bus_flush_close_unref(s.postBus);
    int r = -ENOTCONN;
    // A connection found broken is opened once more before the notification is given up.
    for (int attempt = 0; attempt < 2 && r < 0 && !address.empty(); ++attempt) {
        if (!s.postBus) {
            s.postBus = connectBus(address, &why);
            s.postAddress = address;
            if (!s.postBus) break;
        }
        r = sd_bus_emit_signal(s.postBus, kObjectPath, kInterface, name.c_str(), "s", object.c_str());
        if (r == -EINVAL) {
            Log::write("Distributed notifications: \"" + name +
                       "\" not posted: its object is not UTF-8 text");
            return false;
        }
        if (r >= 0) r = sd_bus_flush(s.postBus);
        if (r < 0) {
            why = "cannot post to the session bus " + address + ": " + errorText(r);
            s.postBus = sd_bus_flush_close_unref(s.postBus);
        }
    }
    if (r < 0) {
        if (!s.postProblemLogged) {
            s.postProblemLogged = true;
            Log::write("Distributed notifications: nothing is posted: " + why);
        }
        return false;
    }
    s.postProblemLogged = false;
    // Drop what the bus sent this connection (its name, replies): it never reads otherwise.
    while (sd_bus_process(s.postBus, nullptr) > 0) {
    }
    return true;
}

DistributedNotificationCenter::ObserverId DistributedNotificationCenter::addObserver(const std::string& name,
                                                                                     Callback callback) {
    State& s = *state_;
    ObserverId id = 0;
    std::shared_ptr<Listener> stale, listener;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        id = s.nextId++;
        s.observers.emplace(id, std::make_pair(name, std::move(callback)));
        if (s.listener) {
            std::lock_guard<std::mutex> listenerLock(s.listener->mutex);
            if (s.listener->finished) stale = std::move(s.listener);
        }
        if (!s.listener) {
            std::string why;
            const std::string address = sessionBusAddress(&why);
            if (address.empty()) {
                if (!s.listenProblemLogged) {
                    s.listenProblemLogged = true;
                    Log::write("Distributed notifications: nothing will be received: " + why);
                }
            } else {
                listener = std::make_shared<Listener>();
                listener->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
                Listener* raw = listener.get();
                listener->thread = std::thread(runListener, &s, raw, address);
                s.listener = listener;
            }
        } else {
            listener = s.listener;
        }
    }
    stopListener(stale);
    if (listener) {
        std::unique_lock<std::mutex> lock(listener->mutex);
        // A bus that never answers is given up by sd-bus's own call timeout.
        listener->changed.wait(lock, [&] { return listener->ready; });
    }
    return id;
}

void DistributedNotificationCenter::removeObserver(ObserverId id) {
    State& s = *state_;
    std::shared_ptr<Listener> listener;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.observers.erase(id) == 0) return;
        if (s.observers.empty()) listener = std::move(s.listener);
    }
    stopListener(listener);
}

bool DistributedNotificationCenter::isListening() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->listener && state_->listener->listening.load();
}

}  // namespace hvn
