// The connection to the privileged daemon: the lookup of its root object by registered
// name, and the requests it answers.
//
// The daemon listens on the Unix socket $HALVORN_ROOT/run/halvorn/<name>.sock. Messages in
// both directions are a 4-byte big-endian length followed by a binary property list.
// A request is {"selector": text, "arguments": array}; the reply is {"result": value} or
// {"error": text}. "respondsToSelector:" with one selector argument asks whether the daemon
// answers that request. The client accepts only a daemon running as root or as its own
// effective user (SO_PEERCRED).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Value.h"

namespace hvn {

inline constexpr const char* kDaemonConnectionName = "HVNDamonObject";
inline constexpr const char* kRespondsToSelector = "respondsToSelector:";
inline constexpr const char* kRemoveFileSelector = "removeFile:isWrite:";
inline constexpr const char* kLipoAppSelector = "lipoApp:";
inline constexpr const char* kSetServerDisableSelector = "setServerDisable:disable:";
inline constexpr const char* kStopRemoveSelector = "stopRemove";

// The daemon's root object. Requests block the calling thread until the daemon has taken
// them (the work itself may go on after the call returns). A request that cannot be
// delivered is dropped (setServerDisable then answers false).
class DaemonObject {
public:
    virtual ~DaemonObject() = default;
    // True when the daemon answers the request named by selector (one of the constants above).
    virtual bool respondsToSelector(const std::string& selector) = 0;
    // Removes every path, folders with their contents; isWrite overwrites files first.
    virtual void removeFile(const std::vector<std::string>& paths, bool isWrite) = 0;
    // Replaces each executable by a copy holding only this machine's architecture.
    virtual void lipoApp(const std::vector<std::string>& paths) = 0;
    // Switches the launchd job described by the property list off (disable) or on; true
    // when the list was changed.
    virtual bool setServerDisable(const std::string& plistPath, bool disable) = 0;
    // Asks a removal under way to stop soon.
    virtual void stopRemove() = 0;
};

namespace DaemonConnection {

// $HALVORN_ROOT/run/halvorn/<name>.sock
std::string socketPath(const std::string& name = kDaemonConnectionName);

// The root object registered under name on this machine, or nullptr when no daemon
// answers there. Each call makes a new connection. Thread-safe.
std::shared_ptr<DaemonObject> rootProxyForName(const std::string& name = kDaemonConnectionName);

// Tests: replaces the socket lookup by a function (an empty one restores it). Returns the
// previous replacement.
using Lookup = std::function<std::shared_ptr<DaemonObject>(const std::string& name)>;
Lookup setLookupForTesting(Lookup lookup);

// Message framing shared by the client and the daemon. False / nullopt with errorText on
// a broken connection, a timeout or a malformed message.
bool writeMessage(int fd, const Value& message, std::string* errorText = nullptr);
std::optional<Value> readMessage(int fd, std::string* errorText = nullptr);

}  // namespace DaemonConnection
}  // namespace hvn
