#include "Platform/UserDefaults.h"

#include <map>

#include <cstdio>

#include "Platform/Bundle.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/PropertyList.h"
#include "Platform/Roots.h"

namespace hvn {

std::recursive_mutex& UserDefaults::lock() {
    static std::recursive_mutex m;
    return m;
}

UserDefaults::UserDefaults(std::string path) : path_(std::move(path)) {}

UserDefaults& UserDefaults::standardUserDefaults() { return forDomain(Bundle::bundleIdentifier()); }

UserDefaults& UserDefaults::forDomain(const std::string& domain) {
    std::string path = Roots::homePath("Library/Preferences/" + domain + ".plist");
    std::lock_guard<std::recursive_mutex> g(lock());
    static auto* instances = new std::map<std::string, std::unique_ptr<UserDefaults>>;
    auto& slot = (*instances)[path];
    if (!slot) slot.reset(new UserDefaults(path));
    return *slot;
}

void UserDefaults::loadLocked() {
    if (loaded_) return;
    loaded_ = true;
    values_.clear();
    damaged_ = false;
    if (auto v = PropertyList::readFile(path_); v && v->isDictionary()) {
        values_ = v->asDictionary();
    } else if (readWholeFile(path_)) {
        // A file that is there but is no property-list dictionary: read as empty, and kept
        // aside before the first write replaces it.
        damaged_ = true;
    }
}

Value UserDefaults::objectForKey(const std::string& key) {
    std::lock_guard<std::recursive_mutex> g(lock());
    loadLocked();
    auto it = values_.find(key);
    return it == values_.end() ? Value() : it->second;
}

void UserDefaults::setObject(const Value& value, const std::string& key) {
    update(key, [&](Value& v) { v = value; });
}

void UserDefaults::removeObjectForKey(const std::string& key) { setObject(Value(), key); }

void UserDefaults::update(const std::string& key, const std::function<void(Value&)>& fn) {
    {
        std::lock_guard<std::recursive_mutex> g(lock());
        loadLocked();
        Value v;
        if (auto it = values_.find(key); it != values_.end()) v = it->second;
        fn(v);
        if (v.isNull()) {
            values_.erase(key);
        } else {
            values_[key] = std::move(v);
        }
    }
    NotificationCenter::defaultCenter().post(kUserDefaultsDidChangeNotification);
}

bool UserDefaults::synchronize() {
    std::lock_guard<std::recursive_mutex> g(lock());
    loadLocked();
    if (damaged_) {
        std::string aside = path_ + ".damaged";
        if (::rename(path_.c_str(), aside.c_str()) == 0) {
            Log::writef("Preferences file %s could not be read; kept as %s", path_.c_str(), aside.c_str());
            damaged_ = false;
        } else {
            Log::writef("Preferences file %s could not be read nor kept aside; not overwritten", path_.c_str());
            return false;
        }
    }
    return PropertyList::writeFile(path_, Value(values_), PlistFormat::XML, true);
}

Dictionary UserDefaults::dictionaryRepresentation() {
    std::lock_guard<std::recursive_mutex> g(lock());
    loadLocked();
    return values_;
}

void UserDefaults::reload() {
    std::lock_guard<std::recursive_mutex> g(lock());
    loaded_ = false;
}

}  // namespace hvn
