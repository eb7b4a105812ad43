// The cookie databases of the Chrome family and of Firefox: finds a browser's stores under
// the home folder, reads their distinct cookie domains and deletes the cookies of a domain.
//
// Stores of a browser type:
// - "chrome": every profile ("Default", "Profile N", ...: each folder of a user-data folder
//   that holds a cookie database) of every Chrome-family user-data folder: Google Chrome,
//   Chromium, Brave, Vivaldi and Microsoft Edge at their macOS and Linux places, and the
//   Snap and Flatpak homes of Chromium and Chrome. In each profile "Network/Cookies" is
//   taken before "Cookies".
// - "firefox": in each Firefox profiles folder (the macOS one, ~/.mozilla/firefox,
//   ~/.config/mozilla/firefox, the Snap and Flatpak ones) the first "cookies.sqlite" met by
//   the depth-first walk of pathOfDatabase.
// Any other type is ignored by every operation.
//
// The user-data and profiles folders are taken where they really are (a linked ~/.config is
// resolved); below them no link is followed: a profile folder, a Network folder or a store
// that is a link is passed over. A store is only ever opened without following links
// (SQLITE_OPEN_NOFOLLOW), read-only for reading, and written only after the removal gate
// admits its path.
//
// A Firefox store whose moz_cookies has no baseDomain column is read through host, a
// leading dot removed. Reads and deletions are retried while the browser holds the store
// locked, within the SQLite layer's busy bound; a store that stays locked is reported
// (deleteCookie answers false with the reason). A store that is not a SQLite database, or
// lacks the table, is skipped with a log line and never written.
//
// A manager is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/FMDB/FMDatabase.h"
#include "HVN/Code/Clearer/FMDB/HVNCookiesData.h"
#include "Platform/Value.h"

namespace hvn {
class RemovalGate;
}

class HVNCookieDBManager {
public:
    // libraryInstance: the signature library's flavour (keeps every record, empty or
    // non-text domains included; logs "Err %d: %@" on a failed deletion and "%ld" with the
    // number of rows each domain query read).
    explicit HVNCookieDBManager(bool libraryInstance = false);
    virtual ~HVNCookieDBManager();
    HVNCookieDBManager(const HVNCookieDBManager&) = delete;
    HVNCookieDBManager& operator=(const HVNCookieDBManager&) = delete;

    // Connects every store of the browser type (see the file comment), replacing the
    // stores connected before; an unknown type leaves the connections unchanged. db() is the
    // first store's connection afterwards (a connection without file, an empty in-memory
    // database, when there is none). Nothing is opened yet.
    void connectDatabase(const std::string& type);
    FMDatabase* db() const;
    // The store files connected, in order.
    std::vector<std::string> storePaths() const;

    // The path with its first character replaced by the home folder when it contains
    // "~/", else nullopt.
    static std::optional<std::string> formatterPath(const std::string& path);
    // The first entry named fileName below folder, depth first, the most recently found
    // entry first; nullopt when there is none. Each folder's entries are taken in byte
    // order of their names; links to folders are not entered and the walk goes at most 16
    // levels down.
    static std::optional<std::string> pathOfDatabase(const std::string& folder, const std::string& fileName);
    // "~/Library/Application Support/Google/Chrome/Default/Cookies" for "chrome", else
    // "~/Library/Application Support/Firefox/Profiles".
    static std::string dataPath(const std::string& type);

    // One record per distinct domain value of each connected store of the type, store by
    // store in store order (the program's reader skips empty and non-text values); nullopt
    // for an unknown type. Chrome: host_key as stored; Firefox: baseDomain, or for stores
    // without it each host once without its leading dot. A store that is locked past the
    // retry, or is not a cookie database, gives nothing and a log line.
    std::optional<std::vector<HVNCookiesData>> getData(const std::string& type);
    // The distinct normalised text domains of getData, in store order ("" included when
    // the reader keeps empty values).
    std::vector<std::string> getDomains(const std::string& type);

    // A cookie domain with one leading "." removed, if it has one.
    static std::string deleteFirstDot(const std::string& domain);

    // Deletes, in every connected store of the type, the cookies of domain and of its
    // sub-domains: host equal to domain or "." + domain, or ending in "." + domain (ASCII
    // case ignored), the domain bound as a parameter (one leading dot of it is dropped; an
    // empty domain deletes nothing). Firefox stores with baseDomain delete the rows whose
    // baseDomain or host matches by that rule. False when a store could not be changed
    // (locked past the retry: kLockedStoreReason; refused by the removal gate: its reason;
    // not a plain file or not a cookie database); failedStores then receives each such
    // store path with the reason. A store that has vanished has nothing left to delete.
    struct StoreFailure {
        std::string storePath;
        std::string reason;
    };
    bool deleteCookie(const std::string& domain, const std::string& type,
                      std::vector<StoreFailure>* failedStores = nullptr);
    // The same, except that the cookies of the spared domains and of their sub-domains stay
    // (a kept or unticked sub-domain of domain): for each spared S (a leading dot dropped,
    // empty ones ignored) the rows whose host is S or ".S" or ends in ".S", by the rule above.
    bool deleteCookie(const std::string& domain, const std::string& type, const std::vector<std::string>& spared,
                      std::vector<StoreFailure>* failedStores = nullptr);

    // Row dictionaries of a statement on the first store, opened read-only (empty when it
    // cannot be opened); a statement run on it after the removal gate admits it (true
    // unless it failed, was refused or the store could not be opened).
    std::vector<hvn::Dictionary> getDataBySQL(const std::string& sql, const std::vector<hvn::Value>& args = {});
    bool deleteDataBySQL(const std::string& sql, const std::vector<hvn::Value>& args = {});

    // The busy bound given to every connection the manager opens (FMDatabase's
    // busyRetryTimeout: 0 = the layer's time bound, N = N + 2 attempts). Tests shorten it.
    int32_t busyRetryTimeout = 0;

    // The reason given for a store that stayed locked past the retry.
    static constexpr const char* kLockedStoreReason =
        "the browser holds its cookie database locked; quit it and try again";

protected:
    bool libraryInstance_;

private:
    struct Store;
    std::vector<std::unique_ptr<Store>> stores_;
    std::unique_ptr<FMDatabase> emptyDb_;

    // Runs the deletion of domain (without its leading dot), sparing the hosts of spared and
    // their sub-domains, in one store after the gate admits it; false with the reason when the store was not changed.
    bool deleteInStore(Store& store, const hvn::RemovalGate& gate, const std::string& domain,
                       const std::vector<std::string>& spared, std::string& reason);
};
