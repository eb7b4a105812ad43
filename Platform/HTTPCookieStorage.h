// The shared HTTP cookie storage (the store Safari uses): a Cookies.binarycookies file.
// The live jar is Safari's container jar
// ~/Library/Containers/com.apple.Safari/Data/Library/Cookies/Cookies.binarycookies when it
// exists, else ~/Library/Cookies/Cookies.binarycookies (home = hvn::Roots::home()).
//
// Reading never changes the file. A deletion rewrites the file atomically (a temporary file
// in the same folder, fsync, rename, fsync of the folder), keeps its mode, and keeps every
// other cookie record byte for byte (pages, checksum and the trailing property list are
// rebuilt around them). The file is changed only when the removal gate admits it (no link
// on its path, not a mount point, ...) and only when it is still the file that was read
// (same inode, size, modification time and mode); a corrupt file is never rewritten, nor is
// a jar that is a symbolic link or lies behind one.
//
// Threads: any; each call opens the file anew. Two processes deleting at once: the later
// rename wins only when its file was not changed since it read it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hvn {

class RemovalGate;

struct HTTPCookie {
    std::string domain;  // as stored, often with a leading "."
    std::string name;
    std::string path;
    std::string value;
    std::optional<std::string> comment;
    std::optional<std::string> commentURL;
    uint32_t flags = 0;  // 0x1 secure, 0x4 HTTP only
    std::optional<uint16_t> port;
    double expiresDate = 0;   // seconds since 2001-01-01 UTC
    double creationDate = 0;  // seconds since 2001-01-01 UTC
    bool isSecure() const { return (flags & 0x1) != 0; }
    bool isHTTPOnly() const { return (flags & 0x4) != 0; }
    // Field by field (dates by value).
    bool operator==(const HTTPCookie&) const = default;
};

class HTTPCookieStorage {
public:
    // The storage of the current home folder's live jar (see the file comment).
    static HTTPCookieStorage sharedHTTPCookieStorage();
    // The jar path the shared storage uses.
    static std::string sharedStoragePath();
    explicit HTTPCookieStorage(std::string path);

    const std::string& path() const { return path_; }

    // Every cookie of the file, in file order. Empty when the file does not exist; empty
    // with error set (and a log line) when it cannot be read or is not a valid jar.
    std::vector<HTTPCookie> cookies(std::string* error = nullptr) const;
    // The distinct domains of cookies(), each without its leading ".", in file order;
    // an empty domain only with keepEmpty.
    std::vector<std::string> normalizedDomains(bool keepEmpty = false) const;

    struct DeleteResult {
        bool ok = false;     // the jar now holds none of the selected cookies
        size_t removed = 0;  // cookies removed
        std::string error;   // why not, when !ok
    };
    // Removes every cookie that `select` answers true for, in one rewrite. Nothing is
    // written when none is selected (ok, removed 0) or when the file is missing (ok). The
    // gate defaults to RemovalGate::forCurrentRoots().
    DeleteResult deleteCookiesWhere(const std::function<bool(const HTTPCookie&)>& select,
                                    const RemovalGate* gate = nullptr);
    // One cookie (matched by domain, name and path).
    DeleteResult deleteCookie(const HTTPCookie& cookie, const RemovalGate* gate = nullptr);

    // For tests: called during a rewrite after the new file is written and before the check
    // that the jar is still the file that was read, so that a test can change it in between.
    // Set it while no deletion runs; an empty function removes it.
    static void setBeforeReplaceHook(std::function<void()> hook);

private:
    std::string path_;
};

}  // namespace hvn
