#include "HVN/Code/ToolBox/Startup/LoginItemManager.h"

#include <sys/stat.h>

#include <cctype>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Bundle.h"
#include "Platform/BundleInfo.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/UniformType.h"
#include "Platform/UserDefaults.h"

namespace {

constexpr const char* kNameKey = "Name";
constexpr const char* kURLKey = "URL";
constexpr const char* kFileKey = "AutostartFile";
constexpr const char* kEntryKey = "AutostartEntry";

const std::string& stringOf(const hvn::Value& dict, const char* key) {
    static const std::string empty;
    const hvn::Value* v = dict.find(key);
    return v && v->isString() ? v->asString() : empty;
}

// Erases the first entry whose "Name" is name; true when one was there.
bool eraseFirstNamed(hvn::Value& entries, const std::string& name) {
    if (!entries.isArray()) return false;
    auto& array = entries.array();
    for (auto it = array.begin(); it != array.end(); ++it) {
        if (it->isDictionary() && stringOf(*it, kNameKey) == name) {
            array.erase(it);
            return true;
        }
    }
    return false;
}

std::string pathOfURL(const std::string& url) {
    const std::string scheme = "file://";
    if (url.compare(0, scheme.size(), scheme) != 0) return url;
    std::string rest = url.substr(scheme.size());
    if (rest.compare(0, 9, "localhost") == 0) rest.erase(0, 9);
    std::string out;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && std::isxdigit(static_cast<unsigned char>(rest[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(rest[i + 2]))) {
            out += static_cast<char>(std::stoi(rest.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += rest[i];
        }
    }
    return out;
}

std::string iconOf(const hvn::AutostartEntry& entry) {
    struct ::stat st {};
    if (!entry.icon.empty() && entry.icon[0] == '/' && ::stat(entry.icon.c_str(), &st) == 0)
        return entry.icon;
    if (entry.target) return hvn::BundleInfo::iconPath(*entry.target);
    return entry.filePath;
}

}  // namespace

LoginItemManager::LoginItemManager() {
    loadData();
}

LoginItemManager& LoginItemManager::share() {
    static LoginItemManager* manager = new LoginItemManager();
    return *manager;
}

LoginItem LoginItemManager::itemOfEntry(const hvn::AutostartEntry& entry) {
    LoginItem item;
    item.isLogin = true;
    item.disable = false;
    item.icon = iconOf(entry);
    item.name = entry.displayName;
    item.url = entry.target;
    item.type = entry.target ? LoginItem::typeDescription(entry.target) : "Unknown";
    item.hidden = entry.hidden;
    return item;
}

std::string LoginItemManager::myAppName() {
    std::string bundle = hvn::Bundle::mainBundlePath();
    std::string name = hvn::UniformType::deletingPathExtension(hvn::UniformType::lastPathComponent(bundle));
    return bundle.empty() || name.empty() ? "Halvorn" : name;
}

void LoginItemManager::loadData() {
    onlyLoadData();
}

void LoginItemManager::onlyLoadData() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    snapshot_ = hvn::LoginItems::list();
    data_.clear();
    data_.reserve(snapshot_.size());
    for (const auto& entry : snapshot_) data_.push_back(itemOfEntry(entry));
}

std::vector<LoginItem> LoginItemManager::loginData() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return data_;
}

hvn::Array LoginItemManager::disabledEntries() {
    hvn::Value v = hvn::UserDefaults::standardUserDefaults().objectForKey(kDisableItemKey);
    return v.isArray() ? v.asArray() : hvn::Array{};
}

std::vector<LoginItem> LoginItemManager::allLoginData() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::vector<LoginItem> out = data_;
    for (const auto& entry : disabledEntries()) {
        if (!entry.isDictionary()) continue;
        LoginItem item;
        item.name = stringOf(entry, kNameKey);
        const std::string& url = stringOf(entry, kURLKey);
        if (!url.empty()) item.url = pathOfURL(url);
        item.isLogin = true;
        item.type = LoginItem::typeDescription(item.url);
        item.disable = true;
        item.icon = item.url ? hvn::BundleInfo::iconPath(*item.url) : std::string();
        out.push_back(std::move(item));
    }
    return out;
}

bool LoginItemManager::removeAt(size_t index, hvn::LoginItems::RemovedEntry* removed,
                                std::string* errorText) {
    if (!hvn::LoginItems::remove(snapshot_[index], removed, errorText)) return false;
    snapshot_.erase(snapshot_.begin() + static_cast<std::ptrdiff_t>(index));
    data_.erase(data_.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

bool LoginItemManager::setItemDisable(const LoginItem& item, bool disable) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!disable) return enable(item);

    size_t index = searchObjectInArray(item, data_);
    if (index == kNotFound) {
        hvn::Log::writef("Cannot disable the login item %s: it is not in the list", item.name.c_str());
        return false;
    }
    const hvn::AutostartEntry& entry = snapshot_[index];
    hvn::Dictionary record{{kNameKey, item.name},
                           {kURLKey, data_[index].url.value_or("")},
                           {kFileKey, entry.fileName},
                           {kEntryKey, entry.contents}};
    auto& defaults = hvn::UserDefaults::standardUserDefaults();
    std::string error;
    bool recorded = defaults.update(
        kDisableItemKey,
        [&](hvn::Value& v) {
            if (!v.isArray()) v = hvn::Array{};
            v.array().push_back(hvn::Value(record));
        },
        &error);
    if (!recorded) return false;
    if (removeAt(index, nullptr, &error)) return true;
    hvn::Log::writef("Cannot disable the login item %s: %s", item.name.c_str(), error.c_str());
    // Take the record back, the last one of that content being the one just added.
    defaults.update(kDisableItemKey, [&](hvn::Value& v) {
        if (!v.isArray()) return;
        auto& array = v.array();
        for (auto it = array.rbegin(); it != array.rend(); ++it) {
            if (*it == hvn::Value(record)) {
                array.erase(std::next(it).base());
                break;
            }
        }
    });
    return false;
}

bool LoginItemManager::enable(const LoginItem& item) {
    hvn::Array entries = disabledEntries();
    size_t index = searchObjectInArrayForDisable(item, entries);
    if (index == kNotFound) {
        hvn::Log::writef("Cannot enable the login item %s: it is not disabled", item.name.c_str());
        return false;
    }
    const hvn::Value& record = entries[index];
    std::string error;
    bool added = false;
    const std::string& file = stringOf(record, kFileKey);
    const std::string& text = stringOf(record, kEntryKey);
    if (!file.empty() && !text.empty()) {
        added = hvn::LoginItems::restore({file, text}, &error).has_value();
    } else if (!stringOf(record, kURLKey).empty()) {
        added = hvn::LoginItems::add(pathOfURL(stringOf(record, kURLKey)), &error).has_value();
    } else {
        error = "no entry and no URL recorded";
    }
    if (!added) {
        hvn::Log::writef("Cannot enable the login item %s: %s", item.name.c_str(), error.c_str());
        return false;
    }
    loadData();
    hvn::UserDefaults::standardUserDefaults().update(
        kDisableItemKey, [&](hvn::Value& v) { eraseFirstNamed(v, item.name); }, &error);
    return true;
}

bool LoginItemManager::deleteData(const std::vector<LoginItem>& items) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    bool all = true;
    for (const auto& item : items) {
        size_t index = searchObjectInArray(item, data_);
        std::string error = "it is not in the list";
        if (index == kNotFound || !removeAt(index, nullptr, &error)) {
            hvn::Log::writef("Cannot remove the login item %s: %s", item.name.c_str(), error.c_str());
            all = false;
        }
    }
    return all;
}

bool LoginItemManager::deleteDataWithDisable(const std::vector<LoginItem>& items) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return hvn::UserDefaults::standardUserDefaults().update(kDisableItemKey, [&](hvn::Value& v) {
        for (const auto& item : items) eraseFirstNamed(v, item.name);
    });
}

bool LoginItemManager::removeItem(const std::string& displayName) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    onlyLoadData();
    LoginItem probe;
    probe.name = displayName;
    size_t index = searchObjectInArray(probe, data_);
    if (index == kNotFound) return false;
    std::string error;
    if (removeAt(index, nullptr, &error)) return true;
    hvn::Log::writef("Cannot remove the login item %s: %s", displayName.c_str(), error.c_str());
    return false;
}

bool LoginItemManager::addItem(const std::string& path) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::string error;
    if (hvn::LoginItems::add(path, &error)) return true;
    hvn::Log::writef("Cannot add the login item %s: %s", path.c_str(), error.c_str());
    return false;
}

bool LoginItemManager::addItemWithURL(const std::string& url) {
    return addItem(pathOfURL(url));
}

bool LoginItemManager::addItem(const std::string& path, bool update) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!addItem(path)) return false;
    loadData();
    if (update) hvn::NotificationCenter::defaultCenter().post(kLoginItemUpdateNotification);
    return true;
}

bool LoginItemManager::hasMyApp() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    const std::string mine = myAppName();
    for (const auto& entry : hvn::LoginItems::list()) {
        if (entry.displayName == mine) return true;
    }
    return false;
}

std::vector<LoginItem> LoginItemManager::scanBreakLoginItem() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    onlyLoadData();
    std::vector<LoginItem> out;
    for (const auto& item : data_) {
        if (!item.url) out.push_back(item);
    }
    return out;
}

std::map<std::string, std::string> LoginItemManager::removeBreakLoginItem(
    const std::vector<LoginItem>& items) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    onlyLoadData();
    std::map<std::string, std::string> failures;
    for (const auto& item : items) {
        size_t index = kNotFound;
        for (size_t i = 0; i < data_.size(); ++i) {
            if (data_[i].name == item.name && !data_[i].url) {
                index = i;
                break;
            }
        }
        if (index == kNotFound) {
            hvn::Log::writef("The login item %s is no longer broken, or gone: not removed",
                             item.name.c_str());
            failures[item.name] = "The login item " + item.name + " is no longer broken";
            continue;
        }
        std::string error;
        if (!removeAt(index, nullptr, &error)) {
            hvn::Log::writef("Cannot remove the login item %s: %s", item.name.c_str(), error.c_str());
            failures[item.name] = error;
        }
    }
    return failures;
}

std::map<std::string, std::string> LoginItemManager::removeBreakLoginItemFromOuputObjs(
    const HVNNodeList& nodes) {
    std::vector<LoginItem> items;
    for (const auto& node : nodes) {
        if (node) items.push_back(HVNCommonFunction::convertScanOutputObjToLoginItem(*node));
    }
    return removeBreakLoginItem(items);
}

bool LoginItemManager::setItemHidden(size_t index, bool hidden) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (index >= snapshot_.size()) return false;
    std::string error;
    bool ok = hvn::LoginItems::setHidden(snapshot_[index], hidden, &error);
    if (!ok)
        hvn::Log::writef("Cannot change the login item %s: %s", data_[index].name.c_str(), error.c_str());
    // The entry's file is a new one now: the snapshot must follow.
    onlyLoadData();
    return ok;
}

size_t LoginItemManager::searchObjectInArray(const LoginItem& item, const std::vector<LoginItem>& items) {
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].name == item.name) return i;
    }
    return kNotFound;
}

size_t LoginItemManager::searchObjectInArrayForDisable(const LoginItem& item, const hvn::Array& entries) {
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].isDictionary() && stringOf(entries[i], kNameKey) == item.name) return i;
    }
    return kNotFound;
}
