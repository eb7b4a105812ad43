// Notifications between processes of the user's session (the program and its menu-bar
// program): signals on the D-Bus session bus, object path /com/corvane/Halvorn/Notifications,
// interface "com.corvane.Halvorn.Notifications", the notification's name as the signal's
// member and its object as the one string argument ("" for none). Names are D-Bus member
// names: letters, digits and "_", not starting with a digit ("appStart", "appEnd",
// "startNotification").
//
// The bus is the one of DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus. When none is
// reachable, posting does nothing and observing receives nothing; each is logged once, until
// a bus is reached again.
//
// Threads: every member may be called from any thread. A listener thread of its own reads
// the bus while observers are registered; each callback runs on the main run loop
// (RunLoop::performOnMainThread), never on the poster's or the listener's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace hvn {

class DistributedNotificationCenter {
public:
    using ObserverId = uint64_t;
    // Called on the main thread with the notification's name and object.
    using Callback = std::function<void(const std::string& name, const std::string& object)>;

    static constexpr const char* kInterface = "com.corvane.Halvorn.Notifications";
    static constexpr const char* kObjectPath = "/com/corvane/Halvorn/Notifications";

    // The process's centre; never destroyed.
    static DistributedNotificationCenter& defaultCenter();

    DistributedNotificationCenter();
    // Stops the listener thread; callbacks still queued on the run loop do not run.
    ~DistributedNotificationCenter();
    DistributedNotificationCenter(const DistributedNotificationCenter&) = delete;
    DistributedNotificationCenter& operator=(const DistributedNotificationCenter&) = delete;

    // Sends the notification to every observer of the session, this process's included, and
    // returns once it has been written to the bus ("delivered immediately"). False when the
    // name is no valid member name (logged) or no session bus is reachable.
    bool post(const std::string& name, const std::string& object = "");

    // Registers callback for the notifications of that name (an empty name: every
    // notification of the interface). Returns a non-zero identifier for removeObserver.
    // Starts the listener when it is not running and returns once it listens, so that a
    // notification posted afterwards reaches the callback; without a bus the observer stays
    // registered and the next addObserver tries the bus again.
    ObserverId addObserver(const std::string& name, Callback callback);
    // Unregisters an observer; a notification already queued for it is not delivered. When
    // the last observer goes, the listener stops. Unknown identifiers are ignored.
    void removeObserver(ObserverId id);

    // True while the listener thread is connected to a bus.
    bool isListening() const;

    // True for a text that may be a notification name (a D-Bus member name).
    static bool isValidName(const std::string& name);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace hvn
