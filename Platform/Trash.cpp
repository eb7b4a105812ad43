#include "Platform/Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "Platform/PropertyList.h"
#include "Platform/Roots.h"

namespace hvn::Trash {

namespace {

bool isRealFolder(const std::string& path) {
    struct ::stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string join(const std::string& a, const std::string& b) {
    if (!a.empty() && a.back() == '/') return a + b;
    return a + "/" + b;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string homeTrashDir() {
    const char* x = std::getenv("XDG_DATA_HOME");
    // The base-directory rules ignore an empty or relative value.
    if (x && x[0] == '/') return join(Roots::normalize(x), "Trash");
    return Roots::homePath(".local/share/Trash");
}

bool isUsableAdminTrash(const std::string& adminTrash) {
    struct ::stat st;
    if (::lstat(adminTrash.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX);
}

std::vector<std::string> volumeTrashDirs(const std::string& topdir, uid_t uid) {
    std::vector<std::string> out;
    std::string id = std::to_string(uid);
    std::string admin = join(topdir, ".Trash");
    if (isUsableAdminTrash(admin)) {
        std::string mine = join(admin, id);
        if (isRealFolder(mine)) out.push_back(mine);
    }
    std::string own = join(topdir, ".Trash-" + id);
    if (isRealFolder(own)) out.push_back(own);
    return out;
}

std::string filesDir(const std::string& trashDir) {
    return join(trashDir, "files");
}

std::string infoPathFor(const std::string& trashDir, const std::string& entryName) {
    return join(join(trashDir, "info"), entryName + ".trashinfo");
}

std::optional<std::string> percentDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

bool dropStaleDirectorySizes(const std::string& trashDir, std::string* errorText) {
    std::string cache = join(trashDir, "directorysizes");
    // Only a regular file is rewritten: a link in its place is left as it is, and so is
    // what it points at.
    int in = ::open(cache.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) {
        if (errno == ENOENT) return true;
        if (errorText) *errorText = cache + ": " + (errno == ELOOP ? "is a symbolic link; left as it is" : std::strerror(errno));
        return false;
    }
    struct ::stat cst;
    if (::fstat(in, &cst) != 0 || !S_ISREG(cst.st_mode)) {
        ::close(in);
        if (errorText) *errorText = cache + ": is not a regular file; left as it is";
        return false;
    }
    const mode_t mode = cst.st_mode & 07777;
    std::string text;
    int readError = readToEnd(in, text);
    ::close(in);
    if (readError != 0) {
        if (errorText) *errorText = cache + ": could not be read";
        return false;
    }
    std::string kept;
    bool changed = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // "size mtime percent-encoded-name"
        auto a = line.find(' ');
        auto b = a == std::string::npos ? a : line.find(' ', a + 1);
        std::optional<std::string> name;
        if (b != std::string::npos) name = percentDecode(line.substr(b + 1));
        struct ::stat st;
        // A NUL (%00) would cut the record's path short, at a file that is no record.
        if (!name || name->empty() || name->find('/') != std::string::npos ||
            name->find('\0') != std::string::npos ||
            ::lstat(infoPathFor(trashDir, *name).c_str(), &st) != 0) {
            changed = true;
            continue;
        }
        kept += line;
        kept += '\n';
    }
    if (!changed) return true;
    std::string tmp = cache + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        if (errorText) *errorText = cache + ": " + std::strerror(errno);
        return false;
    }
    const char* p = kept.data();
    size_t left = kept.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    int err = ok ? 0 : errno;
    auto fail = [&] {
        if (ok) err = errno;
        ok = false;
    };
    if (ok && ::fchmod(fd, mode) != 0) fail();
    if (::close(fd) != 0) fail();
    if (ok && ::rename(tmp.c_str(), cache.c_str()) != 0) fail();
    if (!ok) {
        ::unlink(tmp.c_str());
        if (errorText) *errorText = cache + ": " + std::strerror(err);
    }
    return ok;
}

}  // namespace hvn::Trash
