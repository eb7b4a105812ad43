#include "HVN/Code/Clearer/FMDB/HVNCookieDBManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <set>
#include <utility>

#include "HVN/Code/Clearer/FMDB/FMResultSet.h"
#include "Platform/Log.h"
#include "Platform/RemovalGate.h"
#include "Platform/Roots.h"

namespace {

constexpr const char* kChrome = "chrome";
constexpr const char* kFirefox = "firefox";
constexpr const char* kFirefoxFileName = "cookies.sqlite";

// How deep the search for a Firefox store goes below a profiles folder (the store lies one
// level down; the bound keeps a deep or looping tree from holding the walk).
constexpr size_t kMaxWalkDepth = 16;

// Chrome-family user-data folders, below the home folder.
const char* const kChromeUserDataFolders[] = {
    "Library/Application Support/Google/Chrome",
    "Library/Application Support/Chromium",
    ".config/google-chrome",
    ".config/chromium",
    ".config/BraveSoftware/Brave-Browser",
    "Library/Application Support/BraveSoftware/Brave-Browser",
    ".config/vivaldi",
    "Library/Application Support/Vivaldi",
    ".config/microsoft-edge",
    "Library/Application Support/Microsoft Edge",
    "snap/chromium/common/chromium",
    ".var/app/org.chromium.Chromium/config/chromium",
    ".var/app/com.google.Chrome/config/google-chrome",
};

// Firefox profiles folders, below the home folder.
const char* const kFirefoxProfileFolders[] = {
    "Library/Application Support/Firefox/Profiles",
    ".mozilla/firefox",
    ".config/mozilla/firefox",
    "snap/firefox/common/.mozilla/firefox",
    ".var/app/org.mozilla.firefox/.mozilla/firefox",
};

// The library's connections write the layer's diagnostic lines; FMDatabase makes them only
// for a subclass.
class LibraryDatabase : public FMDatabase {
public:
    explicit LibraryDatabase(std::optional<std::string> path) : FMDatabase(std::move(path), true) {}
};

bool isKnownType(const std::string& type) {
    return type == kChrome || type == kFirefox;
}

// lstat: a final link is looked at, not followed.
bool linkStatus(const std::string& path, struct stat& st) {
    return ::lstat(path.c_str(), &st) == 0;
}

bool isPlainFile(const std::string& path) {
    struct stat st;
    return linkStatus(path, st) && S_ISREG(st.st_mode);
}

bool isRealFolder(const std::string& path) {
    struct stat st;
    return linkStatus(path, st) && S_ISDIR(st.st_mode);
}

// The folder where it really is (a user-data folder reached through a linked ~/.config,
// say), so that the store paths hold no link and the removal gate and SQLite's no-follow
// open admit them; nullopt when it is not a folder.
std::optional<std::string> realFolder(const std::string& path) {
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) return std::nullopt;
    struct stat st;
    if (::stat(buffer, &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    return std::string(buffer);
}

// The names of a folder's direct entries, sorted by byte value so that every walk is the
// same on every file system; empty when it cannot be listed.
std::vector<std::string> listedNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder.size() > 1 && folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool isBusyCode(int code) {
    int primary = code & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// The text matched literally by LIKE ... ESCAPE '\'.
std::string likeLiteral(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '%' || c == '_') out += '\\';
        out += c;
    }
    return out;
}

std::vector<std::string> chromeStorePaths() {
    std::vector<std::string> stores;
    for (const char* relative : kChromeUserDataFolders) {
        auto userData = realFolder(hvn::Roots::homePath(relative));
        if (!userData) continue;
        for (const std::string& name : listedNames(*userData)) {
            const std::string profile = joined(*userData, name);
            // A link in place of a profile is not followed: it may lead anywhere.
            if (!isRealFolder(profile)) continue;
            const std::string network = profile + "/Network";
            std::vector<std::string> candidates;
            if (isRealFolder(network)) candidates.push_back(network + "/Cookies");
            candidates.push_back(profile + "/Cookies");
            for (const std::string& candidate : candidates) {
                struct stat st;
                if (!linkStatus(candidate, st)) continue;
                if (!S_ISREG(st.st_mode)) {
                    hvn::Log::write("Cookie store " + candidate + " is not a plain file; it is not used");
                    continue;
                }
                stores.push_back(candidate);
                break;
            }
        }
    }
    return stores;
}

std::vector<std::string> firefoxStorePaths() {
    std::vector<std::string> stores;
    for (const char* relative : kFirefoxProfileFolders) {
        auto profiles = realFolder(hvn::Roots::homePath(relative));
        if (!profiles) continue;
        auto found = HVNCookieDBManager::pathOfDatabase(*profiles, kFirefoxFileName);
        if (!found) continue;
        if (!isPlainFile(*found)) {
            hvn::Log::write("Cookie store " + *found + " is not a plain file; it is not used");
            continue;
        }
        stores.push_back(*found);
    }
    return stores;
}

// What a store's schema offers for the domain queries.
struct Layout {
    enum class Status { Usable, Locked, NotCookies } status = Status::NotCookies;
    std::string error;          // why it is not usable
    bool hasBaseDomain = false;  // Firefox: moz_cookies still has baseDomain
};

// Looks at the table of the type on an open connection without writing anything.
Layout inspect(FMDatabase& db, const std::string& type) {
    Layout layout;
    const std::string table = type == kChrome ? "cookies" : "moz_cookies";
    std::set<std::string> columns;
    auto rs = db.executeQuery("PRAGMA table_info(" + table + ")");
    if (rs) {
        while (rs->next()) {
            auto name = rs->stringForColumn("name");
            if (name) {
                std::string lower = *name;
                std::transform(lower.begin(), lower.end(), lower.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                columns.insert(lower);
            }
        }
    }
    if (!rs || db.hadError()) {
        layout.status = isBusyCode(db.lastErrorCode()) ? Layout::Status::Locked : Layout::Status::NotCookies;
        layout.error = db.lastErrorMessage();
        return layout;
    }
    const char* key = type == kChrome ? "host_key" : "host";
    if (!columns.count(key)) {
        layout.error = columns.empty() ? "no table " + table : "no column " + std::string(key) + " in " + table;
        return layout;
    }
    layout.status = Layout::Status::Usable;
    layout.hasBaseDomain = type == kFirefox && columns.count("basedomain");
    return layout;
}

}  // namespace

struct HVNCookieDBManager::Store {
    std::string type;
    std::string path;
    std::unique_ptr<FMDatabase> db;
};

HVNCookieDBManager::HVNCookieDBManager(bool libraryInstance) : libraryInstance_(libraryInstance) {
    emptyDb_ = libraryInstance_ ? std::make_unique<LibraryDatabase>(std::nullopt)
                                : std::make_unique<FMDatabase>(std::nullopt);
}

HVNCookieDBManager::~HVNCookieDBManager() = default;

void HVNCookieDBManager::connectDatabase(const std::string& type) {
    if (!isKnownType(type)) return;
    std::vector<std::string> paths = type == kChrome ? chromeStorePaths() : firefoxStorePaths();
    stores_.clear();
    std::set<std::string> seen;
    for (std::string& path : paths) {
        // Two user-data folders may be one folder (a link between them).
        if (!seen.insert(path).second) continue;
        auto store = std::make_unique<Store>();
        store->type = type;
        store->db = libraryInstance_ ? std::make_unique<LibraryDatabase>(path) : std::make_unique<FMDatabase>(path);
        store->path = std::move(path);
        stores_.push_back(std::move(store));
    }
}

FMDatabase* HVNCookieDBManager::db() const {
    return stores_.empty() ? emptyDb_.get() : stores_.front()->db.get();
}

std::vector<std::string> HVNCookieDBManager::storePaths() const {
    std::vector<std::string> paths;
    for (const auto& store : stores_) paths.push_back(store->path);
    return paths;
}

std::optional<std::string> HVNCookieDBManager::formatterPath(const std::string& path) {
    if (path.find("~/") == std::string::npos) return std::nullopt;
    return hvn::Roots::home() + path.substr(1);
}

std::optional<std::string> HVNCookieDBManager::pathOfDatabase(const std::string& folder,
                                                              const std::string& fileName) {
    std::vector<std::pair<std::string, size_t>> stack;
    stack.reserve(100);
    stack.emplace_back(folder, 0);
    while (!stack.empty()) {
        auto [current, depth] = std::move(stack.back());
        stack.pop_back();
        for (const std::string& name : listedNames(current)) {
            std::string path = joined(current, name);
            if (name == fileName) return path;
            // Only real folders are entered: a link to a folder could lead out of the
            // profiles or back up into them.
            if (depth < kMaxWalkDepth && isRealFolder(path)) stack.emplace_back(std::move(path), depth + 1);
        }
    }
    return std::nullopt;
}

std::string HVNCookieDBManager::dataPath(const std::string& type) {
    return type == kChrome ? "~/Library/Application Support/Google/Chrome/Default/Cookies"
                           : "~/Library/Application Support/Firefox/Profiles";
}

std::optional<std::vector<HVNCookiesData>> HVNCookieDBManager::getData(const std::string& type) {
    if (!isKnownType(type)) return std::nullopt;
    std::vector<HVNCookiesData> records;
    for (const auto& store : stores_) {
        if (store->type != type) continue;
        FMDatabase& db = *store->db;
        db.busyRetryTimeout = busyRetryTimeout;
        // Read-only and without links: reading never creates, rolls forward or follows.
        if (!db.openWithFlags(SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW)) {
            hvn::Log::write("Cookie store " + store->path + " could not be opened: " + db.lastErrorMessage());
            continue;
        }
        Layout layout = inspect(db, type);
        if (layout.status != Layout::Status::Usable) {
            if (layout.status == Layout::Status::Locked) {
                hvn::Log::write("Cookie store " + store->path + " is held locked by the browser; nothing read");
            } else {
                hvn::Log::write("Skipping cookie store " + store->path + ": not a cookie database (" +
                                layout.error + ")");
            }
            db.close();
            continue;
        }
        // Stores without baseDomain are read through host, each host once without its dot.
        const bool byHost = type == kFirefox && !layout.hasBaseDomain;
        const std::string sql = type == kChrome     ? "select distinct host_key from cookies"
                                : layout.hasBaseDomain ? "select distinct baseDomain from moz_cookies"
                                                       : "select distinct host from moz_cookies";
        db.setShouldCacheStatements(true);
        long rows = 0;
        std::set<std::string> hosts;
        if (auto rs = db.executeQuery(sql)) {
            while (rs->next()) {
                ++rows;
                hvn::Value value = rs->objectForColumnIndex(0);
                if (byHost && value.isString()) {
                    std::string host = HVNCookieDBManager::deleteFirstDot(value.asString());
                    if (!hosts.insert(host).second) continue;
                    value = hvn::Value(std::move(host));
                }
                if (!libraryInstance_ && (!value.isString() || value.asString().empty())) continue;
                HVNCookiesData record;
                record.baseDomain = std::move(value);
                record.storePath = store->path;
                records.push_back(std::move(record));
            }
        }
        if (db.hadError()) {
            if (isBusyCode(db.lastErrorCode())) {
                hvn::Log::write("Cookie store " + store->path + " is held locked by the browser; nothing read");
            } else {
                hvn::Log::write("Cookie store " + store->path + " could not be read: " + db.lastErrorMessage());
            }
        }
        if (libraryInstance_) hvn::Log::write(hvn::format("%ld", rows));
        db.close();
    }
    return records;
}

std::string HVNCookieDBManager::deleteFirstDot(const std::string& domain) {
    return !domain.empty() && domain[0] == '.' ? domain.substr(1) : domain;
}

std::vector<std::string> HVNCookieDBManager::getDomains(const std::string& type) {
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (const auto& record : getData(type).value_or(std::vector<HVNCookiesData>{})) {
        if (!record.baseDomain.isString()) continue;
        std::string domain = deleteFirstDot(record.baseDomain.asString());
        if (seen.insert(domain).second) out.push_back(std::move(domain));
    }
    return out;
}

bool HVNCookieDBManager::deleteCookie(const std::string& domain, const std::string& type,
                                      std::vector<StoreFailure>* failedStores) {
    return deleteCookie(domain, type, std::vector<std::string>{}, failedStores);
}

bool HVNCookieDBManager::deleteCookie(const std::string& domain, const std::string& type,
                                      const std::vector<std::string>& spared, std::vector<StoreFailure>* failedStores) {
    if (!isKnownType(type)) return true;
    const std::string bare = deleteFirstDot(domain);
    // An empty domain names no cookie (and "ending in ." would match far too much).
    if (bare.empty()) return true;
    std::vector<std::string> kept;
    for (const std::string& s : spared) {
        std::string host = deleteFirstDot(s);
        if (!host.empty() && std::find(kept.begin(), kept.end(), host) == kept.end()) kept.push_back(std::move(host));
    }
    const hvn::RemovalGate gate = hvn::RemovalGate::forCurrentRoots();
    bool allCleaned = true;
    for (const auto& store : stores_) {
        if (store->type != type) continue;
        std::string reason;
        if (!deleteInStore(*store, gate, bare, kept, reason)) {
            allCleaned = false;
            if (failedStores) failedStores->push_back({store->path, reason});
        }
    }
    return allCleaned;
}

bool HVNCookieDBManager::deleteInStore(Store& store, const hvn::RemovalGate& gate, const std::string& domain,
                                       const std::vector<std::string>& spared, std::string& reason) {
    auto admission = gate.admit(store.path);
    if (admission.status() == hvn::RemovalGate::Admission::Status::Gone) return true;  // no cookies left
    if (!admission.admitted()) {
        reason = admission.reason();
        return false;
    }
    if ((admission.entry().mode & S_IFMT) != S_IFREG) {
        reason = "Refusing to change " + store.path + ": not a plain file";
        return false;
    }
    FMDatabase& db = *store.db;
    db.busyRetryTimeout = busyRetryTimeout;
    if (!db.openWithFlags(SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW)) {
        reason = "Could not open " + store.path + ": " + db.lastErrorMessage();
        return false;
    }
    // The file opened must be the one the gate admitted, not one put in its place since.
    struct stat st;
    if (::fstatat(admission.parentFd(), admission.name().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        hvn::FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)} !=
            admission.entry().identity) {
        db.close();
        reason = "Refusing to change " + store.path + ": it was replaced while it was being opened";
        return false;
    }
    Layout layout = inspect(db, store.type);
    if (layout.status != Layout::Status::Usable) {
        if (layout.status == Layout::Status::Locked) {
            reason = kLockedStoreReason;
            if (libraryInstance_) hvn::Log::write(hvn::format("Err %d: %s", db.lastErrorCode(), layout.error.c_str()));
        } else {
            reason = "not a cookie database (" + layout.error + ")";
            hvn::Log::write("Skipping cookie store " + store.path + ": " + reason);
        }
        db.close();
        return false;
    }
    // D itself, ".D", and every host ending in ".D" (the LIKE pattern "%.D"); NOCASE and LIKE
    // ignore the case of ASCII letters only. The values are bound, never spliced into the SQL.
    const hvn::Value exact(domain), below("%." + likeLiteral(domain));
    const std::string host = store.type == kChrome ? "host_key" : "host";
    auto matching = [&](const std::string& column, std::vector<hvn::Value>& values) {
        values.push_back(exact);
        values.push_back(below);
        return column + " = ? collate nocase or " + column + " like ? escape '\\'";
    };
    std::vector<hvn::Value> values;
    std::string where = matching(host, values);
    // baseDomain is the registrable domain: deleting D also takes the rows registered under D
    // or a sub-domain of it.
    if (layout.hasBaseDomain) where = matching("baseDomain", values) + " or " + where;
    std::string sql = "delete from " + std::string(store.type == kChrome ? "cookies" : "moz_cookies") + " where (" +
                      where + ")";
    for (const std::string& s : spared) {
        sql += " and not (" + host + " = ? collate nocase or " + host + " like ? escape '\\')";
        values.emplace_back(s);
        values.emplace_back("%." + likeLiteral(s));
    }
    db.setShouldCacheStatements(true);
    bool ok = db.executeUpdate(sql, values);
    if (!ok) {
        int code = db.lastErrorCode();
        std::string message = db.lastErrorMessage();
        if (libraryInstance_) hvn::Log::write(hvn::format("Err %d: %s", code, message.c_str()));
        reason = isBusyCode(code) ? std::string(kLockedStoreReason) : "the deletion failed: " + message;
    }
    db.close();
    return ok;
}

std::vector<hvn::Dictionary> HVNCookieDBManager::getDataBySQL(const std::string& sql,
                                                              const std::vector<hvn::Value>& args) {
    std::vector<hvn::Dictionary> rows;
    FMDatabase& database = *db();
    database.busyRetryTimeout = busyRetryTimeout;
    bool opened = stores_.empty() ? database.open()
                                  : database.openWithFlags(SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW);
    if (!opened) return rows;
    database.setShouldCacheStatements(true);
    if (auto rs = database.executeQuery(sql, args)) {
        while (rs->next()) {
            if (auto row = rs->resultDict()) rows.push_back(std::move(*row));
        }
    }
    database.close();
    return rows;
}

bool HVNCookieDBManager::deleteDataBySQL(const std::string& sql, const std::vector<hvn::Value>& args) {
    FMDatabase& database = *db();
    database.busyRetryTimeout = busyRetryTimeout;
    std::optional<hvn::RemovalGate::Admission> admission;
    if (!stores_.empty()) {
        admission = hvn::RemovalGate::forCurrentRoots().admit(stores_.front()->path);
        if (!admission->admitted() || (admission->entry().mode & S_IFMT) != S_IFREG) return false;
    }
    bool opened = stores_.empty() ? database.open()
                                  : database.openWithFlags(SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW);
    if (!opened) return false;
    database.setShouldCacheStatements(true);
    bool ok = database.executeUpdate(sql, args);
    if (!ok && libraryInstance_) {
        hvn::Log::write(hvn::format("Err %d: %s", database.lastErrorCode(), database.lastErrorMessage().c_str()));
    }
    database.close();
    return ok;
}
