// A private D-Bus session bus for tests (dbus-daemon on a socket in a temporary folder), and
// the environment that points this process and its children at it. Header-only: the
// launch-agent and companion tests use it too.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Platform/Process.h"

namespace hvn::test {

// Sets environment variables (nullopt unsets) and restores the old values when it ends.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) apply(it->first, it->second);
    }
    void set(const std::string& name, const std::optional<std::string>& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        apply(name, value);
    }

private:
    static void apply(const std::string& name, const std::optional<std::string>& value) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class PrivateBus {
public:
    // Starts dbus-daemon listening on <folder>/bus and waits until the socket is there.
    explicit PrivateBus(const std::string& folder)
        : socket_(folder + "/bus"), address_("unix:path=" + socket_) {
        start();
    }
    ~PrivateBus() { stop(); }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool ready() const { return ready_; }
    const std::string& error() const { return error_; }
    const std::string& address() const { return address_; }
    const std::string& socketPath() const { return socket_; }

    // Ends the daemon: every connection to it breaks.
    void stop() {
        if (daemon_) {
            daemon_->terminate();
            daemon_->waitUntilExit();
            daemon_.reset();
        }
        ::unlink(socket_.c_str());
        ready_ = false;
    }
    // Starts a new daemon on the same socket.
    bool start() {
        stop();
        daemon_.emplace();
        ProcessOptions options;
        options.captureOutput = false;
        if (!daemon_->start("dbus-daemon", {"--session", "--nofork", "--address=" + address_}, options,
                            &error_)) {
            daemon_.reset();
            return false;
        }
        // The daemon makes its socket once it is set up; give a loaded machine plenty of time.
        for (int i = 0; i < 3000 && !ready_; ++i) {
            ready_ = accepts();
            if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!ready_) error_ = "dbus-daemon made no socket at " + socket_;
        return ready_;
    }

private:
    // True when a connection to the socket succeeds (it is bound and listened on).
    bool accepts() const {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (socket_.size() >= sizeof addr.sun_path) {
            ::close(fd);
            return false;
        }
        std::memcpy(addr.sun_path, socket_.c_str(), socket_.size() + 1);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        return ok;
    }

    std::string socket_, address_, error_;
    std::optional<Process> daemon_;
    bool ready_ = false;
};

}  // namespace hvn::test
