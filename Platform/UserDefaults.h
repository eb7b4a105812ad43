// User defaults: one property-list file per domain, HOME/Library/Preferences/<domain>.plist
// (the domain of standardUserDefaults is the main bundle's identifier). Values are cached
// in memory after the first read; synchronize() writes the file atomically. Every access
// holds a process-wide lock, and update() runs a whole read-modify-write under it, so two
// threads changing one key each never lose a change. Each change posts
// "NSUserDefaultsDidChangeNotification" on the default notification centre (poster's thread).
#pragma once

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

    // The stored value, or null when absent.
    Value objectForKey(const std::string& key);
    // Stores a value; a null value removes the key.
    void setObject(const Value& value, const std::string& key);
    void removeObjectForKey(const std::string& key);
    // Runs fn on the stored value of key under the lock and stores what it leaves there
    // (null removes the key).
    void update(const std::string& key, const std::function<void(Value&)>& fn);
    // Writes the file; false when it cannot be written. A file that existed but could not
    // be read is first renamed to "<file>.damaged" (never silently overwritten).
    bool synchronize();
    // All keys and values.
    Dictionary dictionaryRepresentation();
    // Forgets the cached values, so the next read goes to the file again.
    void reload();

    const std::string& filePath() const { return path_; }

private:
    explicit UserDefaults(std::string path);
    void loadLocked();

    static std::recursive_mutex& lock();
    std::string path_;
    bool loaded_ = false;
    bool damaged_ = false;  // the file exists but holds no readable dictionary
    Dictionary values_;
};

}  // namespace hvn
