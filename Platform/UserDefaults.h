// User defaults: one property-list file per domain, HOME/Library/Preferences/<domain>.plist
// (the domain of standardUserDefaults is the main bundle's identifier).
//
// Every change is a read-modify-write of the file under two locks: a process-wide mutex for
// threads and an exclusive flock(2) on "<file>.lock" beside it for processes. Inside them the
// file is read again, changed and written through at once (writeFileAtomically: it keeps the
// file's mode, owner and symbolic link), so writers in any number of threads and processes
// lose nothing and none writes back a stale copy. Reads serve a cached copy only while the
// file is the one that was read (same device, inode, size, modification and change time).
//
// A file that exists but cannot be read (permission, I/O error, not a regular file) is never
// replaced: changes fail with a message, which is also logged. A file that reads but holds no
// property-list dictionary reads as empty and is kept aside as "<file>.damaged" (or
// "<file>.damaged.N" when that is taken) before the first change replaces it.
//
// Each stored change posts "NSUserDefaultsDidChangeNotification" on the default notification
// centre, on the poster's thread, after the locks are released. Any thread may call.
#pragma once

#include <sys/stat.h>

#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "Platform/Value.h"

namespace hvn {

inline constexpr const char* kUserDefaultsDidChangeNotification = "NSUserDefaultsDidChangeNotification";

class UserDefaults {
public:
    // The defaults of the main bundle's domain for the current HOME.
    static UserDefaults& standardUserDefaults();
    // The defaults of a domain for the current HOME (one object per file path).
    static UserDefaults& forDomain(const std::string& domain);

    // The stored value, or null when absent or when the file cannot be read.
    Value objectForKey(const std::string& key);
    // Stores a value (null removes the key); see update.
    bool setObject(const Value& value, const std::string& key, std::string* errorText = nullptr);
    bool removeObjectForKey(const std::string& key, std::string* errorText = nullptr);
    // Runs fn on the value stored under key as the file holds it now (null when absent) and
    // stores what fn leaves there (null removes the key), writing the file at once unless fn
    // changed nothing. fn runs under both locks: it may read these defaults but must not
    // change them. Returns true when stored; false, with errorText filled when given and the
    // message logged, when the file could not be locked, read, kept aside or written; the
    // file then holds what it held before.
    bool update(const std::string& key, const std::function<void(Value&)>& fn,
                std::string* errorText = nullptr);
    // Changes are written as they are made, so nothing is left to write. True when the file
    // is absent (nothing stored yet) or holds a dictionary; false when it cannot be read or
    // holds no property-list dictionary.
    bool synchronize();
    // All keys and values.
    Dictionary dictionaryRepresentation();
    // Forgets the cached values, so the next read goes to the file again.
    void reload();

    const std::string& filePath() const { return path_; }

private:
    // What the file was when it was read: absent, or the identity of the file read.
    struct FileStamp {
        FileStamp() = default;
        explicit FileStamp(const struct stat& st);
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        timespec changed{};
        bool operator==(const FileStamp& o) const;
    };
    enum class FileState { Absent, Loaded, Damaged, Unreadable };
    struct Snapshot;  // what one read of the file found

    explicit UserDefaults(std::string path);
    static Snapshot readFile(const std::string& path);
    static FileStamp stampOf(const std::string& path);
    void refreshLocked();
    bool updateLocked(const std::string& key, const std::function<void(Value&)>& fn, std::string* errorText);
    bool keepDamagedAside(std::string* errorText);

    static std::recursive_mutex& lock();
    std::string path_;
    bool loaded_ = false;
    FileState state_ = FileState::Absent;
    FileStamp stamp_;
    Dictionary values_;
    int fileLockDepth_ = 0;  // updates of this thread that hold the file lock (fn calling update)
};

}  // namespace hvn
