// The requests the privileged daemon answers, as values: the decoder of what arrives on its
// socket, the encoders the client uses, and the replies in both directions.
//
// A request is {"selector": text, "arguments": array}. Paths travel as strings when they are
// valid UTF-8 and as data items otherwise (a property-list string must be UTF-8), so every
// path passes byte for byte. The requests and their arguments:
//   "respondsToSelector:"       [selector text]
//   "removeFile:isWrite:"       [array of paths, bool] or [array of paths, bool, array of
//                               "<device>:<inode>" texts, "" when unknown: the folder each
//                               path was found in, one per path]
//   "lipoApp:"                  [array of paths]
//   "setServerDisable:disable:" [path, bool]
//   "stopRemove"                [] (the arguments may be left out)
// A reply is {"result": value} or {"error": text}. The result of removeFile: may be
// {"refused": [{"path": path, "reason": text}, ...]}: the paths the daemon refused at once.
//
// Threads: any; pure functions, no state.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Platform/RemovalBatch.h"
#include "Platform/Value.h"

namespace hvn {

struct DaemonRequest {
    // The most paths one request may carry, and the longest path (bytes; PATH_MAX less its
    // terminating NUL). The client splits larger batches.
    static constexpr size_t kMaxPaths = 100000;
    static constexpr size_t kMaxPathLength = 4095;
    // The longest selector text taken.
    static constexpr size_t kMaxSelectorLength = 128;

    enum class Kind { RespondsToSelector, RemoveFile, LipoApp, SetServerDisable, StopRemove };

    Kind kind = Kind::StopRemove;
    // RespondsToSelector: the selector asked about.
    std::string selector;
    // RemoveFile (with the folders they were found in, when told) and LipoApp.
    std::vector<RemovalBatch::Request> paths;
    // SetServerDisable: the property list.
    std::string path;
    // RemoveFile: isWrite (overwrite first). SetServerDisable: disable.
    bool flag = false;

    // The request a received value stands for; nullopt with errorText ("unrecognized selector
    // ...", "removeFile:isWrite: argument 1 is not an array of paths", ...) for anything
    // malformed: another top-level type, a missing or unknown selector, a wrong number or
    // type of arguments, an empty, too long or NUL-holding path, too many paths, a "found in" list of another
    // length or with a malformed entry. Relative paths and ".." are left to the removal gate, which refuses
    // them with a reason. A selector asked about must be UTF-8 text; a path given as a string
    // that is not UTF-8 is taken byte for byte, as one given as data.
    static std::optional<DaemonRequest> decode(const Value& message, std::string* errorText = nullptr);

    // The value a request is sent as (decode(encode(r)) gives r back).
    Value encode() const;

    // True for the five selectors above.
    static bool isKnownSelector(const std::string& selector);

    // Whether a peer of this uid may be served by a daemon serving servedUid: root and that
    // user only.
    static bool mayServe(unsigned peerUid, unsigned servedUid);
};

namespace DaemonReply {

Value result(Value value);
Value error(const std::string& text);
// The result of removeFile:isWrite: naming the paths refused at once (path -> reason).
Value removeFileResult(const std::map<std::string, std::string>& refused);

// A reply's result: nullopt with errorText when it is an error reply or no reply at all;
// a reply without "result" gives a null value.
std::optional<Value> resultOf(const Value& reply, std::string* errorText = nullptr);
// The refused paths of a removeFile:isWrite: result (empty for anything else). Entries that
// are malformed are skipped.
std::map<std::string, std::string> refusedPaths(const Value& result);

}  // namespace DaemonReply

namespace DaemonPath {

// A path as it travels: a string when valid UTF-8, else a data item.
Value toValue(const std::string& path);
// The bytes of a path value (string or data); nullopt for any other type.
std::optional<std::string> fromValue(const Value& value);
// True when bytes are well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF).
bool isValidUTF8(const std::string& bytes);

}  // namespace DaemonPath

}  // namespace hvn
