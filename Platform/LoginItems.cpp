#include "Platform/LoginItems.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>

#include "Platform/BundleInfo.h"
#include "Platform/DesktopEntry.h"
#include "Platform/FileManager.h"
#include "Platform/Log.h"
#include "Platform/Roots.h"
#include "Platform/UniformType.h"

namespace hvn::LoginItems {

namespace {

constexpr const char* kMain = DesktopEntry::kMainGroup;
constexpr const char* kSuffix = ".desktop";
constexpr const char* kDefaultPath = "/usr/local/bin:/usr/bin:/bin:/usr/local/sbin:/usr/sbin:/sbin";

bool hasDesktopSuffix(const std::string& name) {
    const size_t n = std::strlen(kSuffix);
    return name.size() > n && name.compare(name.size() - n, n, kSuffix) == 0;
}

std::string withoutSuffix(const std::string& name) {
    return hasDesktopSuffix(name) ? name.substr(0, name.size() - std::strlen(kSuffix)) : name;
}

std::string envOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

std::vector<std::string> splitColons(const std::string& text) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i <= text.size()) {
        size_t j = text.find(':', i);
        if (j == std::string::npos) j = text.size();
        if (j > i) out.push_back(text.substr(i, j - i));
        i = j + 1;
    }
    return out;
}

std::optional<struct ::stat> lstatOf(const std::string& path) {
    struct ::stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return st;
}

bool existsNoFollow(const std::string& path) {
    return lstatOf(path).has_value();
}

FileIdentity identityOf(const struct ::stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

std::string errnoText(int e) {
    return std::strerror(e);
}

// An entry is no login item when it is hidden or switched off for GNOME.
bool isSwitchedOff(const DesktopEntry& entry) {
    return entry.booleanValue(kMain, "Hidden").value_or(false) ||
           !entry.booleanValue(kMain, "X-GNOME-Autostart-enabled").value_or(true);
}

std::optional<int64_t> orderOf(const DesktopEntry& entry) {
    auto v = entry.value(kMain, kHalvornOrderKey);
    if (!v || v->empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    long long n = std::strtoll(v->c_str(), &end, 10);
    if (errno != 0 || !end || *end != '\0') return std::nullopt;
    return static_cast<int64_t>(n);
}

std::string uniqueSuffix() {
    unsigned char bytes[6];
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        for (auto& b : bytes) b = static_cast<unsigned char>(std::rand());
    }
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string out;
    for (unsigned char b : bytes) out += kDigits[b % 36];
    return out;
}

// Writes text to a new temporary file in the folder open at dirFd; its name, or nullopt.
std::optional<std::string> writeTemporary(int dirFd, const std::string& fileName, const std::string& text,
                                          std::optional<mode_t> mode, const struct ::stat* owner,
                                          std::string* errorText) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        // A name that does not end in ".desktop", so that no reader takes it for an entry.
        std::string tmp = "." + fileName + "." + uniqueSuffix() + ".tmp";
        int fd = ::openat(dirFd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            if (errorText)
                *errorText = "Could not create a file beside " + fileName + ": " + errnoText(errno);
            return std::nullopt;
        }
        bool ok = true;
        int e = 0;
        if (mode && ::fchmod(fd, *mode) != 0) ok = false, e = errno;
        if (ok && owner && ::geteuid() == 0) {
            // Root may give the file back to its owner; nobody else can.
            if (::fchown(fd, owner->st_uid, owner->st_gid) != 0) ok = false, e = errno;
        }
        size_t done = 0;
        while (ok && done < text.size()) {
            ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                ok = false, e = errno;
                break;
            }
            done += static_cast<size_t>(n);
        }
        if (ok && ::fsync(fd) != 0) ok = false, e = errno;
        if (::close(fd) != 0 && ok) ok = false, e = errno;
        if (!ok) {
            ::unlinkat(dirFd, tmp.c_str(), 0);
            if (errorText) *errorText = "Could not write " + fileName + ": " + errnoText(e);
            return std::nullopt;
        }
        return tmp;
    }
    if (errorText) *errorText = "Could not create a file beside " + fileName;
    return std::nullopt;
}

enum class WriteResult { Written, Exists, Failed };

// Writes a new file fileName in the user's folder, never replacing anything there.
WriteResult writeNew(const std::string& fileName, const std::string& text, std::string* errorText) {
    const std::string folder = userFolder();
    if (!FileManager::createDirectoryAtPath(folder, true, errorText)) return WriteResult::Failed;
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        if (errorText) *errorText = folder + ": " + errnoText(errno);
        return WriteResult::Failed;
    }
    auto tmp = writeTemporary(dirFd, fileName, text, std::nullopt, nullptr, errorText);
    if (!tmp) {
        ::close(dirFd);
        return WriteResult::Failed;
    }
    WriteResult result = WriteResult::Written;
    if (::renameat2(dirFd, tmp->c_str(), dirFd, fileName.c_str(), RENAME_NOREPLACE) != 0) {
        int e = errno;
        ::unlinkat(dirFd, tmp->c_str(), 0);
        result = e == EEXIST ? WriteResult::Exists : WriteResult::Failed;
        if (errorText) *errorText = folder + "/" + fileName + ": " + errnoText(e);
    } else {
        ::fsync(dirFd);
    }
    ::close(dirFd);
    return result;
}

// Replaces the user's file at path, which must still be the file listed (expected), after
// the removal gate has admitted it. A symbolic link is replaced, not written through.
bool replaceExisting(const std::string& path, const FileIdentity& expected, const std::string& text,
                     std::string* errorText) {
    RemovalGate gate = RemovalGate::forCurrentRoots();
    RemovalGate::Admission admission = gate.admit(path);
    if (!admission.admitted()) {
        if (errorText) {
            *errorText = admission.status() == RemovalGate::Admission::Status::Gone
                             ? path + ": the entry is gone"
                             : admission.reason();
        }
        return false;
    }
    if (admission.entry().identity != expected) {
        if (errorText) *errorText = path + ": the entry changed since it was listed";
        return false;
    }
    const std::string folder = path.substr(0, path.rfind('/'));
    const std::string name = admission.name();
    int dirFd = openFolderWithoutLinks(folder.empty() ? "/" : folder, O_RDONLY);
    if (dirFd < 0) {
        if (errorText) *errorText = folder + ": " + errnoText(errno);
        return false;
    }
    struct ::stat dirSt {};
    struct ::stat old {};
    bool same = ::fstat(dirFd, &dirSt) == 0 && identityOf(dirSt) == admission.parent().identity &&
                ::fstatat(dirFd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && identityOf(old) == expected;
    if (!same) {
        ::close(dirFd);
        if (errorText) *errorText = path + ": the entry changed since it was listed";
        return false;
    }
    std::optional<mode_t> mode;
    if (S_ISREG(old.st_mode)) mode = old.st_mode & 07777;
    auto tmp = writeTemporary(dirFd, name, text, mode, S_ISREG(old.st_mode) ? &old : nullptr, errorText);
    if (!tmp) {
        ::close(dirFd);
        return false;
    }
    if (::renameat(dirFd, tmp->c_str(), dirFd, name.c_str()) != 0) {
        int e = errno;
        ::unlinkat(dirFd, tmp->c_str(), 0);
        ::close(dirFd);
        if (errorText) *errorText = path + ": " + errnoText(e);
        return false;
    }
    ::fsync(dirFd);
    ::close(dirFd);
    return true;
}

bool existsInSystemFolders(const std::string& fileName) {
    for (const auto& f : systemFolders()) {
        if (existsNoFollow(f + "/" + fileName)) return true;
    }
    return false;
}

// The text of a changed entry: its current file parsed, else the text it had when listed.
std::optional<DesktopEntry> currentEntry(const AutostartEntry& entry, std::string* errorText) {
    if (auto e = DesktopEntry::readFile(entry.filePath)) return e;
    return DesktopEntry::parse(entry.contents, errorText);
}

int64_t nextOrder() {
    int64_t max = 0;
    for (const auto& e : list()) {
        if (e.order && *e.order > max) max = *e.order;
    }
    return max + 1;
}

// Writes text under fileName or, when that is taken, the first free "<base>-N.desktop".
// A name is free when the user's folder has no file of it and, unless a system entry of that
// name is to be shadowed (shadowSystem, for the first name only), neither have the system
// folders. takeOver accepts an existing user file as replaceable (its identity).
std::optional<std::string> writeUnderFreeName(
    const std::string& fileName, const std::string& text, bool shadowSystem, std::string* errorText,
    const std::function<std::optional<FileIdentity>(const std::string&)>& takeOver = nullptr) {
    const std::string base = withoutSuffix(fileName);
    for (int n = 1; n < 1000; ++n) {
        std::string candidate = n == 1 ? fileName : base + "-" + std::to_string(n) + kSuffix;
        const std::string path = userFolder() + "/" + candidate;
        if (takeOver) {
            if (auto id = takeOver(candidate)) {
                if (replaceExisting(path, *id, text, errorText)) return candidate;
                return std::nullopt;
            }
        }
        if (existsNoFollow(path) || ((n > 1 || !shadowSystem) && existsInSystemFolders(candidate))) continue;
        switch (writeNew(candidate, text, errorText)) {
            case WriteResult::Written:
                return candidate;
            case WriteResult::Exists:
                continue;
            case WriteResult::Failed:
                return std::nullopt;
        }
    }
    if (errorText) *errorText = "No free name for " + fileName + " in " + userFolder();
    return std::nullopt;
}

std::string sanitizedBase(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '_' || c == '-';
        out += ok ? static_cast<char>(c) : '-';
    }
    while (!out.empty() && out.front() == '.') out.erase(out.begin());
    if (out.empty()) out = "login-item";
    return out;
}

}  // namespace

std::string userFolder() {
    std::string config = envOr("XDG_CONFIG_HOME", "");
    if (config.empty() || config[0] != '/') config = Roots::homePath(".config");
    return Roots::normalize(config + "/autostart");
}

std::vector<std::string> systemFolders() {
    std::vector<std::string> out;
    for (const auto& dir : splitColons(envOr("XDG_CONFIG_DIRS", "/etc/xdg"))) {
        if (dir[0] != '/') continue;
        std::string folder = Roots::systemPath(Roots::normalize(dir + "/autostart"));
        if (std::find(out.begin(), out.end(), folder) == out.end()) out.push_back(folder);
    }
    return out;
}

std::optional<std::string> locateProgram(const std::string& program) {
    if (program.empty()) return std::nullopt;
    auto exists = [](const std::string& p) {
        struct ::stat st {};
        return ::stat(p.c_str(), &st) == 0;
    };
    if (program[0] == '/') {
        std::string located = Roots::locateStoredPath(program);
        if (exists(located)) return located;
        return std::nullopt;
    }
    if (program.find('/') != std::string::npos) {
        // A session starts its autostart programs in the home folder.
        std::string located = Roots::homePath(program);
        if (exists(located)) return located;
        return std::nullopt;
    }
    for (const auto& dir : splitColons(envOr("PATH", kDefaultPath))) {
        if (dir[0] != '/') continue;
        std::string candidate = Roots::locateStoredPath(Roots::normalize(dir)) + "/" + program;
        struct ::stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111))
            return candidate;
    }
    return std::nullopt;
}

std::vector<AutostartEntry> list() {
    // The most important file of every name: the user's folder first, then the system's.
    struct Choice {
        std::string path;
        bool user = false;
    };
    std::map<std::string, Choice> chosen;
    std::vector<std::string> folders{userFolder()};
    for (const auto& f : systemFolders()) folders.push_back(f);
    for (size_t i = 0; i < folders.size(); ++i) {
        auto names = FileManager::contentsOfDirectoryAtPath(folders[i]);
        if (!names) continue;
        for (const auto& name : *names) {
            if (!hasDesktopSuffix(name) || chosen.count(name)) continue;
            chosen[name] = {folders[i] + "/" + name, i == 0};
        }
    }

    std::vector<AutostartEntry> out;
    for (const auto& [name, choice] : chosen) {
        std::string error;
        auto file = DesktopEntry::readFile(choice.path, &error);
        if (!file) {
            Log::writef("Skipping the autostart entry %s", error.c_str());
            continue;
        }
        if (isSwitchedOff(*file)) continue;
        auto exec = file->value(kMain, "Exec");
        if (!exec) {
            Log::writef("Skipping the autostart entry %s: it has no Exec", choice.path.c_str());
            continue;
        }
        AutostartEntry e;
        e.fileName = name;
        e.filePath = choice.path;
        e.isUserEntry = choice.user;
        e.shadowsSystemEntry = choice.user && existsInSystemFolders(name);
        if (auto st = lstatOf(choice.path)) e.identity = identityOf(*st);
        auto displayName = file->value(kMain, "Name");
        e.displayName = displayName && !displayName->empty() ? *displayName : withoutSuffix(name);
        e.command = *exec;
        e.program = DesktopExec::programOf(*exec);
        if (e.program) e.target = locateProgram(*e.program);
        e.icon = file->value(kMain, "Icon").value_or("");
        e.hidden = file->booleanValue(kMain, kHalvornHiddenKey).value_or(false);
        e.order = orderOf(*file);
        e.contents = file->serialize();
        out.push_back(std::move(e));
    }
    std::stable_sort(out.begin(), out.end(), [](const AutostartEntry& a, const AutostartEntry& b) {
        if (a.order.has_value() != b.order.has_value()) return !a.order.has_value();
        if (a.order && *a.order != *b.order) return *a.order < *b.order;
        return false;  // the map gave file-name order
    });
    return out;
}

bool remove(const AutostartEntry& entry, RemovedEntry* removed, std::string* errorText) {
    auto current = currentEntry(entry, errorText);
    if (!current) return false;
    bool done = false;
    if (entry.isUserEntry && !existsInSystemFolders(entry.fileName)) {
        auto st = lstatOf(entry.filePath);
        if (!st) {
            if (errorText) *errorText = entry.filePath + ": the entry is gone";
            return false;
        }
        if (identityOf(*st) != entry.identity) {
            if (errorText) *errorText = entry.filePath + ": the entry changed since it was listed";
            return false;
        }
        RemovalOptions options;
        if (auto folder = lstatOf(userFolder())) options.foundIn = identityOf(*folder);
        RemovalResult result = FileManager::removeItem(entry.filePath, options);
        done = result.removed();
        if (!done && errorText) *errorText = result.error;
    } else {
        current->setBoolean(kMain, "Hidden", true);
        if (entry.isUserEntry) {
            done = replaceExisting(entry.filePath, entry.identity, current->serialize(), errorText);
        } else {
            done = writeNew(entry.fileName, current->serialize(), errorText) == WriteResult::Written;
        }
    }
    if (done && removed) *removed = {entry.fileName, entry.contents};
    return done;
}

std::optional<std::string> add(const std::string& programPath, std::string* errorText) {
    if (programPath.empty() || programPath[0] != '/') {
        if (errorText) *errorText = "Not an absolute path: " + programPath;
        return std::nullopt;
    }
    std::string executable = programPath;
    // A bundle is started through the program inside it.
    if (auto info = BundleInfo::infoDictionary(programPath)) {
        auto it = info->find("CFBundleExecutable");
        if (it != info->end() && it->second.isString() && !it->second.asString().empty() &&
            it->second.asString().find('/') == std::string::npos) {
            std::string inside = programPath + "/Contents/MacOS/" + it->second.asString();
            if (existsNoFollow(inside)) executable = inside;
        }
    }
    DesktopEntry file;
    file.setValue(kMain, "Type", "Application");
    file.setValue(kMain, "Name", FileManager::displayNameAtPath(programPath));
    file.setValue(kMain, "Exec", DesktopExec::quoteArgument(executable));
    file.setValue(kMain, kHalvornOrderKey, std::to_string(nextOrder()));
    std::string base =
        sanitizedBase(UniformType::deletingPathExtension(UniformType::lastPathComponent(programPath)));
    return writeUnderFreeName(base + kSuffix, file.serialize(), false, errorText);
}

std::optional<std::string> restore(const RemovedEntry& removed, std::string* errorText) {
    std::string reason;
    auto file = DesktopEntry::parse(removed.contents, &reason);
    if (!file) {
        if (errorText) *errorText = removed.fileName + ": " + reason;
        return std::nullopt;
    }
    file->removeKey(kMain, "Hidden");
    file->removeKey(kMain, "X-GNOME-Autostart-enabled");
    file->setValue(kMain, kHalvornOrderKey, std::to_string(nextOrder()));
    std::string fileName =
        hasDesktopSuffix(removed.fileName) && removed.fileName.find('/') == std::string::npos
            ? removed.fileName
            : sanitizedBase(removed.fileName) + kSuffix;
    // The user file of that name may be what hid the entry: a file that is no login item.
    auto takeOver = [](const std::string& candidate) -> std::optional<FileIdentity> {
        const std::string path = userFolder() + "/" + candidate;
        auto st = lstatOf(path);
        if (!st || !S_ISREG(st->st_mode)) return std::nullopt;
        auto existing = DesktopEntry::readFile(path);
        if (!existing || !isSwitchedOff(*existing)) return std::nullopt;
        return identityOf(*st);
    };
    return writeUnderFreeName(fileName, file->serialize(), true, errorText, takeOver);
}

bool setHidden(const AutostartEntry& entry, bool hidden, std::string* errorText) {
    auto current = currentEntry(entry, errorText);
    if (!current) return false;
    current->setBoolean(kMain, kHalvornHiddenKey, hidden);
    if (entry.isUserEntry)
        return replaceExisting(entry.filePath, entry.identity, current->serialize(), errorText);
    return writeNew(entry.fileName, current->serialize(), errorText) == WriteResult::Written;
}

}  // namespace hvn::LoginItems
