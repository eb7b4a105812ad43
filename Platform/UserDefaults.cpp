#include "Platform/UserDefaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "Platform/Bundle.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/PropertyList.h"
#include "Platform/Roots.h"

namespace hvn {

namespace {

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The exclusive lock on "<file>.lock" that every process takes around a read-modify-write.
class FileLock {
public:
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the lock
    }
    bool acquire(const std::string& lockPath, std::string* errorText) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(lockPath).parent_path(), ec);
        bool created = true;
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd_ < 0 && errno == EEXIST) {
            created = false;
            fd_ = ::open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
            // flock needs no write access: another user's lock file still serves.
            if (fd_ < 0 && errno == EACCES) fd_ = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
        }
        if (fd_ < 0) {
            *errorText = "cannot open the lock file " + lockPath + " (" + std::strerror(errno) + ")";
            return false;
        }
        // Root creating the lock in a user's folder hands it to that user, so a strict umask
        // of root's cannot keep the user from opening it later.
        struct stat folder {};
        if (created && geteuid() == 0 &&
            ::stat(std::filesystem::path(lockPath).parent_path().c_str(), &folder) == 0 &&
            (folder.st_uid != 0 || folder.st_gid != 0) && ::fchown(fd_, folder.st_uid, folder.st_gid) != 0) {
            // The lock works all the same; the user may still open it read-only.
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            *errorText = "cannot lock " + lockPath + " (" + std::strerror(errno) + ")";
            return false;
        }
        return true;
    }

private:
    int fd_ = -1;
};

}  // namespace

UserDefaults::FileStamp::FileStamp(const struct stat& st)
    : exists(true),
      device(st.st_dev),
      inode(st.st_ino),
      size(st.st_size),
      modified(st.st_mtim),
      changed(st.st_ctim) {}

bool UserDefaults::FileStamp::operator==(const FileStamp& o) const {
    if (exists != o.exists) return false;
    return !exists || (device == o.device && inode == o.inode && size == o.size &&
                       sameTime(modified, o.modified) && sameTime(changed, o.changed));
}

struct UserDefaults::Snapshot {
    FileState state = FileState::Absent;
    Dictionary values;
    FileStamp stamp;
    std::string error;  // why an unreadable file could not be read
};

UserDefaults::Snapshot UserDefaults::readFile(const std::string& path) {
    Snapshot snap;
    // Non-blocking, so that a FIFO in the file's place cannot hang the reader.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            snap.state = FileState::Unreadable;
            snap.error = path + " cannot be read (" + std::strerror(errno) + ")";
        }
        return snap;
    }
    struct stat st {};
    bool statted = ::fstat(fd, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode)) {
        snap.state = FileState::Unreadable;
        snap.error = statted ? path + " is not a regular file"
                             : path + " cannot be read (" + std::strerror(errno) + ")";
        ::close(fd);
        return snap;
    }
    std::string bytes;
    if (int error = readToEnd(fd, bytes)) {
        snap.state = FileState::Unreadable;
        snap.error = path + " cannot be read (" + std::strerror(error) + ")";
        ::close(fd);
        return snap;
    }
    ::close(fd);
    snap.stamp = FileStamp(st);
    if (auto v = PropertyList::parse(bytes); v && v->isDictionary()) {
        snap.state = FileState::Loaded;
        snap.values = v->asDictionary();
    } else {
        snap.state = FileState::Damaged;
    }
    return snap;
}

UserDefaults::FileStamp UserDefaults::stampOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? FileStamp(st) : FileStamp();
}

std::recursive_mutex& UserDefaults::lock() {
    static std::recursive_mutex m;
    return m;
}

UserDefaults::UserDefaults(std::string path) : path_(std::move(path)) {}

UserDefaults& UserDefaults::standardUserDefaults() {
    return forDomain(Bundle::bundleIdentifier());
}

UserDefaults& UserDefaults::forDomain(const std::string& domain) {
    std::string path = Roots::homePath("Library/Preferences/" + domain + ".plist");
    std::lock_guard<std::recursive_mutex> g(lock());
    static auto* instances = new std::map<std::string, std::unique_ptr<UserDefaults>>;
    auto& slot = (*instances)[path];
    if (!slot) slot.reset(new UserDefaults(path));
    return *slot;
}

void UserDefaults::refreshLocked() {
    // An unreadable file is tried again on every read: its stamp says nothing.
    if (loaded_ && state_ != FileState::Unreadable && stampOf(path_) == stamp_) return;
    Snapshot snap = readFile(path_);
    loaded_ = true;
    state_ = snap.state;
    stamp_ = snap.stamp;
    values_ = std::move(snap.values);
}

Value UserDefaults::objectForKey(const std::string& key) {
    std::lock_guard<std::recursive_mutex> g(lock());
    refreshLocked();
    auto it = values_.find(key);
    return it == values_.end() ? Value() : it->second;
}

bool UserDefaults::setObject(const Value& value, const std::string& key, std::string* errorText) {
    return update(
        key, [&](Value& v) { v = value; }, errorText);
}

bool UserDefaults::removeObjectForKey(const std::string& key, std::string* errorText) {
    return setObject(Value(), key, errorText);
}

bool UserDefaults::update(const std::string& key, const std::function<void(Value&)>& fn,
                          std::string* errorText) {
    std::string error;
    bool stored;
    {
        std::lock_guard<std::recursive_mutex> g(lock());
        stored = updateLocked(key, fn, &error);
    }
    if (!stored) {
        Log::writef("Preferences not changed: %s", error.c_str());
        if (errorText) *errorText = error;
        return false;
    }
    NotificationCenter::defaultCenter().post(kUserDefaultsDidChangeNotification);
    return true;
}

bool UserDefaults::updateLocked(const std::string& key, const std::function<void(Value&)>& fn,
                                std::string* errorText) {
    FileLock fileLock;
    // fn changing these defaults again would otherwise wait for the lock this thread holds.
    if (fileLockDepth_ == 0 && !fileLock.acquire(path_ + ".lock", errorText)) return false;
    ++fileLockDepth_;
    struct Depth {
        int& depth;
        ~Depth() { --depth; }
    } depth{fileLockDepth_};

    Snapshot snap = readFile(path_);
    if (snap.state == FileState::Unreadable) {
        *errorText = snap.error + "; it was left as it is";
        loaded_ = false;
        return false;
    }
    // Whatever happens below, the cache now holds what the file holds.
    bool damaged = snap.state == FileState::Damaged;
    loaded_ = true;
    state_ = snap.state;
    stamp_ = snap.stamp;
    values_ = snap.values;

    Value before;
    if (auto it = snap.values.find(key); it != snap.values.end()) before = it->second;
    Value after = before;
    fn(after);
    if (after == before) return true;
    if (after.isNull()) {
        snap.values.erase(key);
    } else {
        snap.values[key] = std::move(after);
    }

    if (damaged && !keepDamagedAside(errorText)) return false;
    std::string writeError;
    if (!PropertyList::writeFile(path_, Value(snap.values), PlistFormat::XML, true, &writeError)) {
        *errorText = "cannot write " + path_ + " (" + writeError + ")";
        loaded_ = false;
        return false;
    }
    // No other writer can have come in between: the file lock is still held.
    state_ = FileState::Loaded;
    stamp_ = stampOf(path_);
    values_ = std::move(snap.values);
    return true;
}

bool UserDefaults::keepDamagedAside(std::string* errorText) {
    // A linked preferences file is kept aside beside the file the link points at, so the
    // write after this recreates it there and the link stays.
    std::optional<std::string> target = resolveWriteTarget(path_, errorText);
    if (!target) return false;
    std::string aside = *target + ".damaged";
    struct stat st {};
    for (int n = 1; ::lstat(aside.c_str(), &st) == 0; ++n) aside = *target + ".damaged." + std::to_string(n);
    if (::rename(target->c_str(), aside.c_str()) != 0) {
        *errorText = path_ + " holds no readable preferences and could not be kept aside as " + aside + " (" +
                     std::strerror(errno) + "); it was left as it is";
        return false;
    }
    Log::writef("Preferences file %s could not be read; kept as %s", path_.c_str(), aside.c_str());
    return true;
}

bool UserDefaults::synchronize() {
    std::lock_guard<std::recursive_mutex> g(lock());
    refreshLocked();
    return state_ == FileState::Absent || state_ == FileState::Loaded;
}

Dictionary UserDefaults::dictionaryRepresentation() {
    std::lock_guard<std::recursive_mutex> g(lock());
    refreshLocked();
    return values_;
}

void UserDefaults::reload() {
    std::lock_guard<std::recursive_mutex> g(lock());
    loaded_ = false;
}

}  // namespace hvn
