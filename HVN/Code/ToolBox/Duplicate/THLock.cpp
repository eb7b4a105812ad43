#include "HVN/Code/ToolBox/Duplicate/THLock.h"

#include <array>
#include <functional>
#include <mutex>
#include <unordered_map>

namespace {

// A registered lock with the number of threads that hold it or wait for it. The count, not
// a try-lock, decides when the entry goes: a thread that has looked the entry up but not yet
// locked it keeps it registered, so two threads never hold "the same key" on two mutexes.
// Entries live in the map's nodes, whose addresses stay put while other keys come and go.
struct Entry {
    std::mutex mutex;
    size_t users = 0;
};

// The registry is split by the key's hash into shards with a lock each, so that threads
// working on different keys rarely wait for one another to look their keys up.
constexpr size_t kShards = 64;

struct Shard {
    std::mutex mutex;
    std::unordered_map<std::string, Entry> entries;
};

struct Registry {
    std::array<Shard, kShards> shards;
    Shard& shardFor(const std::string& key) { return shards[std::hash<std::string>{}(key) % kShards]; }
};

Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: locks may be released during exit
    return *r;
}

}  // namespace

void THLock::lockForKey(const std::string& key) {
    Shard& shard = registry().shardFor(key);
    Entry* entry = nullptr;
    {
        std::lock_guard<std::mutex> lock(shard.mutex);
        entry = &shard.entries.try_emplace(key).first->second;
        ++entry->users;
    }
    entry->mutex.lock();
}

void THLock::unLockForKey(const std::string& key) {
    Shard& shard = registry().shardFor(key);
    std::lock_guard<std::mutex> lock(shard.mutex);
    auto it = shard.entries.find(key);
    if (it == shard.entries.end()) return;
    it->second.mutex.unlock();
    if (--it->second.users == 0) shard.entries.erase(it);
}

size_t THLock::registeredKeyCount() {
    size_t n = 0;
    for (Shard& shard : registry().shards) {
        std::lock_guard<std::mutex> lock(shard.mutex);
        n += shard.entries.size();
    }
    return n;
}
