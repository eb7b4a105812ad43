// Named locks: one mutex per key text, created when a thread first asks for the key and
// dropped from the registry once no thread holds it or waits for it. The registry is
// process-wide and created once. Any thread.
//
// A key's lock is not recursive: a thread that holds a key must unlock it before asking for
// it again. unLockForKey must come from the thread that locked the key.
#pragma once

#include <string>

class THLock {
public:
    THLock() = delete;

    // Takes the lock registered under key (creating it on first use), waiting while another
    // thread holds it.
    static void lockForKey(const std::string& key);
    // Releases the lock under key; the registry forgets the key when no other thread holds
    // or waits for it. Does nothing for a key that is not registered.
    static void unLockForKey(const std::string& key);

    // The number of keys registered now (for tests: 0 when every lock was released).
    static size_t registeredKeyCount();

    // Holds a named lock for its lifetime.
    class Guard {
    public:
        explicit Guard(std::string key) : key_(std::move(key)) { lockForKey(key_); }
        ~Guard() { release(); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        // Releases early (once).
        void release() {
            if (held_) unLockForKey(key_);
            held_ = false;
        }

    private:
        std::string key_;
        bool held_ = true;
    };
};
