#include "HVN/Code/ToolBox/Duplicate/THLock.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

// A registered lock with the number of threads that hold it or wait for it. The count, not
// a try-lock, decides when the entry goes: a thread that has looked the entry up but not yet
// locked it keeps it registered, so two threads never hold "the same key" on two mutexes.
struct Entry {
    std::mutex mutex;
    size_t users = 0;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::string, std::shared_ptr<Entry>> entries;
};

Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: locks may be released during exit
    return *r;
}

}  // namespace

void THLock::lockForKey(const std::string& key) {
    std::shared_ptr<Entry> entry;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto& slot = r.entries[key];
        if (!slot) slot = std::make_shared<Entry>();
        ++slot->users;
        entry = slot;
    }
    entry->mutex.lock();
}

void THLock::unLockForKey(const std::string& key) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.entries.find(key);
    if (it == r.entries.end()) return;
    it->second->mutex.unlock();
    if (--it->second->users == 0) r.entries.erase(it);
}

size_t THLock::registeredKeyCount() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.entries.size();
}
