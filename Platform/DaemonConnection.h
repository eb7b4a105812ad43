// The connection to the privileged daemon: the lookup of its root object by registered
// name, and the requests it answers.
//
// The daemon listens on the Unix socket $HALVORN_ROOT/run/halvorn/<name>.sock. Messages in
// both directions are a 4-byte big-endian length followed by a binary property list.
// A request is {"selector": text, "arguments": array}; the reply is {"result": value} or
// {"error": text} (Platform/DaemonRequest.h has the requests and their arguments).
// "respondsToSelector:" with one selector argument asks whether the daemon answers that
// request. The client accepts only a daemon running as root or as its own effective user
// (SO_PEERCRED).
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/RemovalBatch.h"
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
    // removeFile with the folder each path was found in, when known. Returns path -> reason
    // for the paths the daemon refused at once (they stay where they are); what it took may
    // still be under way. The default forwards the paths to removeFile and refuses nothing.
    virtual std::map<std::string, std::string> removeFileFoundIn(
        const std::vector<RemovalBatch::Request>& batch, bool isWrite);
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

// The largest message body either side sends or takes.
inline constexpr size_t kMaxMessageSize = 64u * 1024 * 1024;

// Message framing shared by the client and the daemon. False / nullopt with errorText on
// a broken connection, a timeout or a malformed message.
bool writeMessage(int fd, const Value& message, std::string* errorText = nullptr);
std::optional<Value> readMessage(int fd, std::string* errorText = nullptr);

// The frame at the start of the bytes received so far: Incomplete (the header or the body
// is not all there yet), Complete (the body is bytes [4, 4 + bodyLength)) or Oversized (the
// header announces more than maxBody bytes: the stream cannot be followed any further).
// Pure; any thread.
enum class FrameStatus { Incomplete, Complete, Oversized };
struct Frame {
    FrameStatus status = FrameStatus::Incomplete;
    size_t bodyLength = 0;  // announced by the header, once it is there
};
Frame parseFrame(const char* bytes, size_t size, size_t maxBody = kMaxMessageSize);

// One message read from a stream, telling apart what the daemon answers differently:
// Message (message holds it); Closed (the peer hung up between messages); Truncated (it hung
// up inside one); Oversized (a header announcing more than maxBody; nothing of the body was
// read); Malformed (a whole frame whose body is no property list: the next frame can still be
// read); Failed (a read error or the socket's receive timeout). errorText says what happened.
// The body is read as it arrives, never allocated ahead from the header.
enum class ReadStatus { Message, Closed, Truncated, Oversized, Malformed, Failed };
struct ReadResult {
    ReadStatus status = ReadStatus::Failed;
    std::optional<Value> message;
    std::string errorText;
};
ReadResult readFrame(int fd, size_t maxBody = kMaxMessageSize);

}  // namespace DaemonConnection
}  // namespace hvn
