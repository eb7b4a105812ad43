#include "Platform/FileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace hvn::FileManager {

namespace {

std::string systemErrorText(int error) {
    return std::system_category().message(error);
}

void setError(std::string* errorText, const std::string& path, int error) {
    if (errorText) *errorText = path + ": " + systemErrorText(error);
}

Date dateOf(const statx_timestamp& t) {
    return Date{static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9};
}


// The path without trailing slashes ("/" stays "/").
std::string withoutTrailingSlashes(const std::string& path) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    return path.substr(0, end);
}

// The folder that holds the item named by path ("." for a bare name).
std::string parentPath(const std::string& path) {
    std::string p = withoutTrailingSlashes(path);
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    size_t end = slash;
    while (end > 1 && p[end - 1] == '/') --end;
    return p.substr(0, end);
}

bool accessible(const std::string& path, int mode) {
    if (path.empty()) return false;
    return faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

constexpr const char* kPackageExtensions[] = {
    "app",
    "appex",
    "action",
    "aplibrary",
    "band",
    "bundle",
    "colorpicker",
    "component",
    "docset",
    "dsym",
    "framework",
    "ideplugin",
    "kext",
    "logicx",
    "mdimporter",
    "menu",
    "migratedphotolibrary",
    "mpkg",
    "photolibrary",
    "photoslibrary",
    "pkg",
    "playground",
    "plugin",
    "prefpane",
    "qlgenerator",
    "rtfd",
    "saver",
    "scptd",
    "service",
    "sparsebundle",
    "systemextension",
    "wdgt",
    "workflow",
    "xcarchive",
    "xcodeproj",
    "xcworkspace",
    "xpc",
};

std::string asciiLower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

}  // namespace

std::optional<FileAttributes> attributesOfItemAtPath(const std::string& path, std::string* errorText,
                                                     bool traverseLink) {
    struct statx sx {};
    int flags = traverseLink ? 0 : AT_SYMLINK_NOFOLLOW;
    if (path.empty()) {
        setError(errorText, path, ENOENT);
        return std::nullopt;
    }
    if (statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        setError(errorText, path, errno);
        return std::nullopt;
    }
    FileAttributes a;
    a.size = static_cast<int64_t>(sx.stx_size);
    a.type = fileTypeOfMode(sx.stx_mode);
    a.modificationDate = dateOf(sx.stx_mtime);
    a.accessDate = dateOf(sx.stx_atime);
    a.statusChangeDate = dateOf(sx.stx_ctime);
    a.creationDate = (sx.stx_mask & STATX_BTIME) ? dateOf(sx.stx_btime) : a.modificationDate;
    a.permissions = sx.stx_mode & 07777;
    a.ownerID = sx.stx_uid;
    a.groupID = sx.stx_gid;
    a.linkCount = sx.stx_nlink;
    a.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    a.inode = sx.stx_ino;
    return a;
}

bool fileExistsAtPath(const std::string& path, bool* isDirectory, bool traverseLink) {
    if (isDirectory) *isDirectory = false;
    if (path.empty()) return false;
    struct stat st {};
    int rc = traverseLink ? stat(path.c_str(), &st) : lstat(path.c_str(), &st);
    if (rc != 0) return false;
    if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
    return true;
}

bool isReadableFileAtPath(const std::string& path) {
    return accessible(path, R_OK);
}
bool isWritableFileAtPath(const std::string& path) {
    return accessible(path, W_OK);
}
bool isExecutableFileAtPath(const std::string& path) {
    return accessible(path, X_OK);
}

bool isDeletableFileAtPath(const std::string& path) {
    if (path.empty()) return false;
    std::string item = withoutTrailingSlashes(path);
    if (item == "/") return false;
    struct stat itemStat {};
    if (lstat(item.c_str(), &itemStat) != 0) return false;
    std::string parent = parentPath(item);
    if (!accessible(parent, W_OK | X_OK)) return false;
    struct stat parentStat {};
    if (stat(parent.c_str(), &parentStat) != 0) return false;
    if (parentStat.st_mode & S_ISVTX) {
        uid_t me = geteuid();
        return me == 0 || itemStat.st_uid == me || parentStat.st_uid == me;
    }
    return true;
}

std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(const std::string& path,
                                                                  std::string* errorText) {
    DIR* dir = opendir(path.c_str());
    if (!dir) {
        setError(errorText, path, errno);
        return std::nullopt;
    }
    std::vector<std::string> names;
    errno = 0;
    while (dirent* e = readdir(dir)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
        names.emplace_back(n);
        errno = 0;
    }
    int readError = errno;
    closedir(dir);
    if (readError != 0) {
        setError(errorText, path, readError);
        return std::nullopt;
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool isPackageExtension(const std::string& extension) {
    std::string e = asciiLower(extension);
    return std::any_of(std::begin(kPackageExtensions), std::end(kPackageExtensions),
                       [&](const char* p) { return e == p; });
}

bool isPackageAtPath(const std::string& path) {
    struct stat st {};
    if (path.empty() || lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    return isPackageExtension(pathExtension(path));
}

std::string lastPathComponent(const std::string& path) {
    std::string p = withoutTrailingSlashes(path);
    if (p == "/") return p;
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string pathExtension(const std::string& path) {
    std::string name = lastPathComponent(path);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name == "/") return {};
    return name.substr(dot + 1);
}

std::string displayNameAtPath(const std::string& path) {
    std::string name = lastPathComponent(path);
    std::string ext = pathExtension(path);
    bool isDirectory = false;
    if (!ext.empty() && asciiLower(ext) == "app" && fileExistsAtPath(path, &isDirectory) && isDirectory) {
        name.resize(name.size() - ext.size() - 1);
    }
    std::replace(name.begin(), name.end(), ':', '/');
    return name;
}

bool createDirectoryAtPath(const std::string& path, bool withIntermediates, std::string* errorText) {
    if (path.empty()) {
        setError(errorText, path, ENOENT);
        return false;
    }
    if (withIntermediates) {
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
        bool isDirectory = false;
        if (fileExistsAtPath(path, &isDirectory) && isDirectory) return true;
        setError(errorText, path, ec ? ec.value() : ENOTDIR);
        return false;
    }
    if (mkdir(path.c_str(), 0755) == 0) return true;
    int error = errno;
    bool isDirectory = false;
    if (error == EEXIST && fileExistsAtPath(path, &isDirectory) && isDirectory) return true;
    setError(errorText, path, error);
    return false;
}


}  // namespace hvn::FileManager

namespace hvn {

FileType fileTypeOfMode(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFREG:
            return FileType::Regular;
        case S_IFDIR:
            return FileType::Directory;
        case S_IFLNK:
            return FileType::SymbolicLink;
        case S_IFCHR:
            return FileType::CharacterSpecial;
        case S_IFBLK:
            return FileType::BlockSpecial;
        case S_IFSOCK:
            return FileType::Socket;
        case S_IFIFO:
            return FileType::Fifo;
        default:
            return FileType::Unknown;
    }
}

}  // namespace hvn
