#include "Platform/PropertyList.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace hvn {

namespace {

// libplist counts dates from 2001-01-01, the Mac epoch.
constexpr double kMacEpochOffset = 978307200.0;

Value fromNode(plist_t node) {
    if (!node) return Value();
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            // libplist 2.2 keeps integers unsigned; negative values come back two's complement.
            return Value(static_cast<long long>(static_cast<int64_t>(u)));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING: {
            char* s = nullptr;
            plist_get_string_val(node, &s);
            Value v(std::string(s ? s : ""));
            free(s);
            return v;
        }
        case PLIST_KEY: {
            char* s = nullptr;
            plist_get_key_val(node, &s);
            Value v(std::string(s ? s : ""));
            free(s);
            return v;
        }
        case PLIST_DATA: {
            char* d = nullptr;
            uint64_t len = 0;
            plist_get_data_val(node, &d, &len);
            Data data(reinterpret_cast<uint8_t*>(d), reinterpret_cast<uint8_t*>(d) + len);
            free(d);
            return Value(std::move(data));
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            return Value(Date{sec + usec / 1e6 + kMacEpochOffset});
        }
        case PLIST_ARRAY: {
            Array a;
            uint32_t n = plist_array_get_size(node);
            a.reserve(n);
            for (uint32_t i = 0; i < n; ++i) a.push_back(fromNode(plist_array_get_item(node, i)));
            return Value(std::move(a));
        }
        case PLIST_DICT: {
            Dictionary d;
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            for (;;) {
                char* key = nullptr;
                plist_t val = nullptr;
                plist_dict_next_item(node, it, &key, &val);
                if (!val) {
                    free(key);
                    break;
                }
                d[key ? key : ""] = fromNode(val);
                free(key);
            }
            free(it);
            return Value(std::move(d));
        }
        case PLIST_UID: {
            uint64_t u = 0;
            plist_get_uid_val(node, &u);
            return Value(static_cast<long long>(u));
        }
        default:
            return Value();
    }
}

plist_t toNode(const Value& v) {
    switch (v.type()) {
        case Value::Type::Null:
            return plist_new_string("");
        case Value::Type::Bool:
            return plist_new_bool(v.asBool() ? 1 : 0);
        case Value::Type::Integer:
            return plist_new_uint(static_cast<uint64_t>(v.asInteger()));
        case Value::Type::Real:
            return plist_new_real(v.asReal());
        case Value::Type::String:
            return plist_new_string(v.asString().c_str());
        case Value::Type::Date: {
            // libplist keeps the seconds in an int32_t: a date beyond its range (before 1933 or
            // after 2069) is written as the range's first or last second.
            double t = v.asDate().secondsSince1970 - kMacEpochOffset;
            if (!(t >= INT32_MIN)) t = INT32_MIN;  // NaN as well
            if (t > INT32_MAX) t = INT32_MAX;
            double sec = std::floor(t);
            return plist_new_date(static_cast<int32_t>(sec), static_cast<int32_t>((t - sec) * 1e6));
        }
        case Value::Type::Data: {
            const auto& d = v.asData();
            return plist_new_data(reinterpret_cast<const char*>(d.data()), d.size());
        }
        case Value::Type::Array: {
            plist_t a = plist_new_array();
            for (const auto& e : v.asArray()) plist_array_append_item(a, toNode(e));
            return a;
        }
        case Value::Type::Dictionary: {
            plist_t d = plist_new_dict();
            for (const auto& [k, e] : v.asDictionary()) plist_dict_set_item(d, k.c_str(), toNode(e));
            return d;
        }
    }
    return plist_new_string("");
}

// libplist 2.2 aborts (an assertion) when asked for a string or key whose text holds a NUL
// byte, which a binary list can carry as a UTF-16 (or UTF-8) string with a U+0000 in it
// (an ASCII string is cut at its first NUL and is harmless).
// Such a list is refused before libplist parses it: every object the offset table names is
// looked at, and any of those string objects with a zero unit, or whose length cannot be
// read, makes the whole list unreadable.
bool binaryStringsHoldNoNul(const std::string& bytes) {
    const size_t size = bytes.size();
    if (size < 8 + 32) return true;  // too short for a trailer: libplist refuses it itself
    auto byte = [&](size_t at) { return static_cast<uint8_t>(bytes[at]); };
    auto number = [&](size_t at, size_t width, uint64_t& out) {
        if (width == 0 || width > 8 || at > size || width > size - at) return false;
        out = 0;
        for (size_t i = 0; i < width; ++i) out = (out << 8) | byte(at + i);
        return true;
    };
    const size_t trailer = size - 32;
    const size_t offsetWidth = byte(trailer + 6);
    uint64_t count = 0, table = 0;
    if (!number(trailer + 8, 8, count) || !number(trailer + 24, 8, table)) return true;
    if (offsetWidth == 0 || offsetWidth > 8 || table > trailer || count > (trailer - table) / offsetWidth)
        return true;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t at = 0;
        number(static_cast<size_t>(table + i * offsetWidth), offsetWidth, at);
        if (at >= trailer) continue;
        const uint8_t marker = byte(at);
        const size_t unit = (marker >> 4) == 0x6 ? 2 : (marker >> 4) == 0x7 ? 1 : 0;
        if (unit == 0) continue;
        uint64_t length = marker & 0x0F;
        size_t start = at + 1;
        if (length == 0x0F) {
            // The length follows as an integer object: 0x1N, then 2^N big-endian bytes.
            if (start >= trailer || (byte(start) >> 4) != 0x1 || (byte(start) & 0x0F) > 3) return false;
            const size_t width = size_t{1} << (byte(start) & 0x0F);
            if (!number(start + 1, width, length)) return false;
            start += 1 + width;
        }
        if (start > trailer || length > (trailer - start) / unit) return false;
        for (uint64_t j = 0; j < length; ++j) {
            bool zero = true;
            for (size_t k = 0; k < unit; ++k) zero = zero && byte(start + j * unit + k) == 0;
            if (zero) return false;
        }
    }
    return true;
}

void setError(std::string* errorText, const std::string& text) {
    if (errorText) *errorText = text;
}

}  // namespace

namespace PropertyList {

std::optional<Value> parse(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > UINT32_MAX) return std::nullopt;
    plist_t root = nullptr;
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "bplist00", 8) == 0) {
        if (!binaryStringsHoldNoNul(bytes)) return std::nullopt;
        plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    } else if (bytes.find("<plist") != std::string::npos || bytes.find("<?xml") != std::string::npos) {
        // XML has no NUL character; libplist would take one into a text and then abort
        // reading it (as at binaryStringsHoldNoNul).
        if (bytes.find('\0') != std::string::npos) return std::nullopt;
        plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    }
    if (!root) return std::nullopt;
    Value v = fromNode(root);
    plist_free(root);
    return v;
}

std::optional<Value> parse(const Data& bytes) {
    return parse(std::string(bytes.begin(), bytes.end()));
}

std::string serialize(const Value& value, PlistFormat format) {
    if (value.isNull()) return {};
    plist_t root = toNode(value);
    char* out = nullptr;
    uint32_t len = 0;
    if (format == PlistFormat::XML) {
        plist_to_xml(root, &out, &len);
    } else {
        plist_to_bin(root, &out, &len);
    }
    std::string s(out ? out : "", out ? len : 0);
    free(out);
    plist_free(root);
    return s;
}

std::optional<Value> readFile(const std::string& path) {
    auto bytes = readWholeFile(path);
    if (!bytes) return std::nullopt;
    return parse(*bytes);
}

bool writeFile(const std::string& path, const Value& value, PlistFormat format, bool atomically,
               std::string* errorText) {
    std::string bytes = serialize(value, format);
    if (atomically) return writeFileAtomically(path, bytes, errorText);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        setError(errorText, path + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace PropertyList

std::optional<std::string> readWholeFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string s;
    int error = readToEnd(fd, s);
    ::close(fd);
    if (error != 0) return std::nullopt;
    return s;
}

int readToEnd(int fd, std::string& out) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return 0;
        out.append(buf, static_cast<size_t>(n));
    }
}

std::optional<std::string> resolveWriteTarget(const std::string& path, std::string* errorText) {
    namespace fs = std::filesystem;
    constexpr int kMaxLinks = 40;  // as the kernel's own limit (ELOOP)
    fs::path current(path);
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno == ENOENT) return current.string();
            setError(errorText, path + ": " + std::strerror(errno));
            return std::nullopt;
        }
        if (!S_ISLNK(st.st_mode)) return current.string();
        std::error_code ec;
        fs::path next = fs::read_symlink(current, ec);
        if (ec) {
            setError(errorText, path + ": " + ec.message());
            return std::nullopt;
        }
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    setError(errorText, path + ": " + std::strerror(ELOOP));
    return std::nullopt;
}

bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string* errorText) {
    namespace fs = std::filesystem;
    std::optional<std::string> resolved = resolveWriteTarget(path, errorText);
    if (!resolved) return false;
    const std::string& target = *resolved;
    fs::path folder = fs::path(target).parent_path();
    std::error_code ec;
    if (!folder.empty()) fs::create_directories(folder, ec);

    struct stat old {};
    bool replacing = ::lstat(target.c_str(), &old) == 0;
    if (!replacing && errno != ENOENT) {
        setError(errorText, target + ": " + std::strerror(errno));
        return false;
    }
    if (replacing && !S_ISREG(old.st_mode)) {
        setError(errorText, target + ": not a regular file; left as it is");
        return false;
    }

    std::random_device rd;
    std::string tmp = target + ".tmp" + std::to_string(getpid()) + "." + std::to_string(rd());
    // A file being replaced starts private and then takes its mode, so its contents are never
    // readable by more people than before.
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? 0600 : 0644);
    if (fd < 0) {
        setError(errorText, tmp + ": " + std::strerror(errno));
        return false;
    }
    auto fail = [&](const std::string& what, int err) {
        setError(errorText, what + ": " + std::strerror(err));
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    };
    if (replacing) {
        // Only root can give a file away; another user keeps at least the group when it can.
        if (old.st_uid != geteuid() || old.st_gid != getegid()) {
            if (geteuid() == 0) {
                if (::fchown(fd, old.st_uid, old.st_gid) != 0) return fail(tmp, errno);
            } else if (old.st_gid != getegid() && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
                // Not a member of that group: the new file keeps the caller's group.
            }
        }
        // After the chown, which clears the set-id bits.
        if (::fchmod(fd, old.st_mode & 07777) != 0) return fail(tmp, errno);
    }
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + off, bytes.size() - off);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(tmp, errno);
        }
        off += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) return fail(tmp, errno);
    int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail(tmp, errno);
    if (::rename(tmp.c_str(), target.c_str()) != 0) return fail(target, errno);

    // The rename is only durable once the folder holding the new entry is flushed.
    std::string folderPath = folder.empty() ? std::string(".") : folder.string();
    int dir = ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        setError(errorText,
                 folderPath + ": " + std::strerror(errno) + " (flushing the folder of " + target + ")");
        return false;
    }
    // Some file systems cannot flush a folder and say so with EINVAL; nothing more can be done there.
    bool flushed = ::fsync(dir) == 0 || errno == EINVAL;
    int err = errno;
    ::close(dir);
    if (!flushed) {
        setError(errorText,
                 folderPath + ": " + std::strerror(err) + " (flushing the folder of " + target + ")");
        return false;
    }
    return true;
}

}  // namespace hvn
