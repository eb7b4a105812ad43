#include "Platform/DaemonRequest.h"


#include "Platform/DaemonConnection.h"

namespace hvn {

namespace {

bool fail(std::string* errorText, const std::string& text) {
    if (errorText) *errorText = text;
    return false;
}

// A selector as it may appear in an error text: bounded, printable ASCII only.
std::string shown(const std::string& selector) {
    std::string out;
    for (char c : selector.substr(0, DaemonRequest::kMaxSelectorLength)) {
        out += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return out;
}

bool readPath(const Value& v, std::string& out) {
    auto bytes = DaemonPath::fromValue(v);
    if (!bytes || bytes->empty() || bytes->size() > DaemonRequest::kMaxPathLength) return false;
    if (bytes->find('\0') != std::string::npos) return false;
    out = std::move(*bytes);
    return true;
}

bool readPaths(const Value& v, std::vector<RemovalBatch::Request>& out) {
    if (!v.isArray() || v.asArray().size() > DaemonRequest::kMaxPaths) return false;
    out.reserve(v.asArray().size());
    for (const Value& item : v.asArray()) {
        RemovalBatch::Request r;
        if (!readPath(item, r.path)) return false;
        out.push_back(std::move(r));
    }
    return true;
}

// "<device>:<inode>", or "" for a folder that is not known.
bool readFoundIn(const Value& v, std::optional<FileIdentity>& out) {
    if (!v.isString()) return false;
    const std::string& text = v.asString();
    if (text.empty()) {
        out.reset();
        return true;
    }
    out = RemovalBatch::parseIdentity(text);
    return out.has_value();
}

Value pathsValue(const std::vector<RemovalBatch::Request>& paths) {
    Array a;
    a.reserve(paths.size());
    for (const auto& r : paths) a.push_back(DaemonPath::toValue(r.path));
    return Value(std::move(a));
}

}  // namespace

bool DaemonRequest::isKnownSelector(const std::string& selector) {
    return selector == kRespondsToSelector || selector == kRemoveFileSelector ||
           selector == kLipoAppSelector || selector == kSetServerDisableSelector ||
           selector == kStopRemoveSelector;
}

bool DaemonRequest::mayServe(unsigned peerUid, unsigned servedUid) {
    return peerUid == 0 || peerUid == servedUid;
}

std::optional<DaemonRequest> DaemonRequest::decode(const Value& message, std::string* errorText) {
    if (!message.isDictionary()) {
        fail(errorText, "the request is not a dictionary");
        return std::nullopt;
    }
    const Value* selector = message.find("selector");
    if (!selector || !selector->isString() || selector->asString().empty()) {
        fail(errorText, "the request names no selector");
        return std::nullopt;
    }
    const std::string& name = selector->asString();
    static const Array kNone;
    const Value* argumentsValue = message.find("arguments");
    if (argumentsValue && !argumentsValue->isArray()) {
        fail(errorText, shown(name) + " arguments are not an array");
        return std::nullopt;
    }
    const Array& args = argumentsValue ? argumentsValue->asArray() : kNone;
    auto wrongCount = [&](const char* expected) {
        fail(errorText,
             shown(name) + " takes " + expected + " arguments, not " + std::to_string(args.size()));
        return std::nullopt;
    };
    auto bad = [&](int index, const std::string& what) {
        fail(errorText, shown(name) + " argument " + std::to_string(index) + " is not " + what);
        return std::nullopt;
    };
    const std::string pathsText = "an array of at most " + std::to_string(kMaxPaths) + " paths of 1 to " +
                                  std::to_string(kMaxPathLength) + " bytes";

    DaemonRequest r;
    if (name == kRespondsToSelector) {
        if (args.size() != 1) return wrongCount("1");
        if (!args[0].isString() || args[0].asString().size() > kMaxSelectorLength ||
            !DaemonPath::isValidUTF8(args[0].asString())) {
            return bad(1, "a selector");
        }
        r.kind = Kind::RespondsToSelector;
        r.selector = args[0].asString();
    } else if (name == kRemoveFileSelector) {
        if (args.size() != 2 && args.size() != 3) return wrongCount("2 or 3");
        if (!readPaths(args[0], r.paths)) return bad(1, pathsText);
        if (!args[1].isBool()) return bad(2, "a bool");
        r.kind = Kind::RemoveFile;
        r.flag = args[1].asBool();
        if (args.size() == 3) {
            const Value& found = args[2];
            if (!found.isArray() || found.asArray().size() != r.paths.size()) {
                return bad(3, "one found-in folder per path");
            }
            for (size_t i = 0; i < r.paths.size(); ++i) {
                if (!readFoundIn(found.asArray()[i], r.paths[i].foundIn)) {
                    return bad(3, "a list of \"<device>:<inode>\" texts");
                }
            }
        }
    } else if (name == kLipoAppSelector) {
        if (args.size() != 1) return wrongCount("1");
        if (!readPaths(args[0], r.paths)) return bad(1, pathsText);
        r.kind = Kind::LipoApp;
    } else if (name == kSetServerDisableSelector) {
        if (args.size() != 2) return wrongCount("2");
        if (!readPath(args[0], r.path)) return bad(1, "a path");
        if (!args[1].isBool()) return bad(2, "a bool");
        r.kind = Kind::SetServerDisable;
        r.flag = args[1].asBool();
    } else if (name == kStopRemoveSelector) {
        if (!args.empty()) return wrongCount("no");
        r.kind = Kind::StopRemove;
    } else {
        fail(errorText, "unrecognized selector " + shown(name));
        return std::nullopt;
    }
    return r;
}

Value DaemonRequest::encode() const {
    std::string name;
    Array args;
    switch (kind) {
        case Kind::RespondsToSelector:
            name = kRespondsToSelector;
            args.emplace_back(selector);
            break;
        case Kind::RemoveFile: {
            name = kRemoveFileSelector;
            args.push_back(pathsValue(paths));
            args.emplace_back(flag);
            bool anyFoundIn = false;
            for (const auto& p : paths) anyFoundIn = anyFoundIn || p.foundIn.has_value();
            if (anyFoundIn) {
                Array found;
                found.reserve(paths.size());
                for (const auto& p : paths) {
                    found.emplace_back(p.foundIn ? RemovalBatch::identityText(*p.foundIn) : std::string());
                }
                args.emplace_back(std::move(found));
            }
            break;
        }
        case Kind::LipoApp:
            name = kLipoAppSelector;
            args.push_back(pathsValue(paths));
            break;
        case Kind::SetServerDisable:
            name = kSetServerDisableSelector;
            args.push_back(DaemonPath::toValue(path));
            args.emplace_back(flag);
            break;
        case Kind::StopRemove:
            name = kStopRemoveSelector;
            break;
    }
    return Value(Dictionary{{"selector", Value(name)}, {"arguments", Value(std::move(args))}});
}

namespace DaemonReply {

Value result(Value value) {
    return Value(Dictionary{{"result", std::move(value)}});
}

Value error(const std::string& text) {
    // The text goes into a property-list string, which must be UTF-8.
    std::string safe = text;
    if (!DaemonPath::isValidUTF8(safe)) {
        for (char& c : safe) {
            if (static_cast<unsigned char>(c) >= 0x80) c = '?';
        }
    }
    return Value(Dictionary{{"error", Value(safe)}});
}

Value removeFileResult(const std::map<std::string, std::string>& refused) {
    Array list;
    list.reserve(refused.size());
    for (const auto& [path, reason] : refused) {
        std::string safeReason = reason;
        if (!DaemonPath::isValidUTF8(safeReason)) {
            for (char& c : safeReason) {
                if (static_cast<unsigned char>(c) >= 0x80) c = '?';
            }
        }
        list.emplace_back(Dictionary{{"path", DaemonPath::toValue(path)}, {"reason", Value(safeReason)}});
    }
    return Value(Dictionary{{"refused", Value(std::move(list))}});
}

std::optional<Value> resultOf(const Value& reply, std::string* errorText) {
    if (!reply.isDictionary()) {
        fail(errorText, "the reply is not a dictionary");
        return std::nullopt;
    }
    if (const Value* e = reply.find("error")) {
        fail(errorText, e->isString() ? e->asString() : "the daemon reported an error");
        return std::nullopt;
    }
    const Value* r = reply.find("result");
    return r ? *r : Value();
}

std::map<std::string, std::string> refusedPaths(const Value& result) {
    std::map<std::string, std::string> out;
    const Value* list = result.find("refused");
    if (!list || !list->isArray()) return out;
    for (const Value& entry : list->asArray()) {
        const Value* path = entry.find("path");
        const Value* reason = entry.find("reason");
        if (!path || !reason || !reason->isString()) continue;
        auto bytes = DaemonPath::fromValue(*path);
        if (!bytes || bytes->empty()) continue;
        out[*bytes] = reason->asString();
    }
    return out;
}

}  // namespace DaemonReply

namespace DaemonPath {

Value toValue(const std::string& path) {
    if (isValidUTF8(path)) return Value(path);
    return Value(Data(path.begin(), path.end()));
}

std::optional<std::string> fromValue(const Value& value) {
    if (value.isString()) return value.asString();
    if (value.isData()) return std::string(value.asData().begin(), value.asData().end());
    return std::nullopt;
}

bool isValidUTF8(const std::string& bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if ((length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace DaemonPath

}  // namespace hvn
