// The user's login items (Platform/LoginItems.h: the XDG autostart entries) and the list of
// login items this program has disabled, kept in the standard user defaults under
// "DisableItem": an array of dictionaries with "Name" (the display name) and "URL" (the
// target's path, "" for a broken item), and, so that enabling brings the entry back as it
// was (its command line with its arguments, its name and icon), "AutostartFile" (the entry's
// file name) and "AutostartEntry" (its text). An entry without these two is enabled by
// adding a new login item for "URL".
//
// The manager keeps the last snapshot of the list and `data`, one LoginItem per entry of the
// snapshot, in list order. Disabling, removing and hiding work on that snapshot (an entry
// that changed on disk since is refused, see LoginItems); loadData takes a new one.
//
// Threads: every member holds the instance's lock (a recursive mutex), so any thread may
// call; the page calls from the main thread and the broken-login-item scan from its
// operation's thread.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "HVN/Code/ToolBox/Startup/LoginItem.h"
#include "Platform/LoginItems.h"
#include "Platform/Value.h"

inline constexpr const char* kLoginItemUpdateNotification = "loginItemUpdate";
inline constexpr const char* kDisableItemKey = "DisableItem";

class LoginItemManager {
public:
    // What the searches answer when nothing matches.
    static constexpr size_t kNotFound = static_cast<size_t>(-1);

    // A manager of the current roots' lists; it loads its data at once. Tests make their own.
    LoginItemManager();
    LoginItemManager(const LoginItemManager&) = delete;
    LoginItemManager& operator=(const LoginItemManager&) = delete;

    // The program's one manager, created (and loaded) on first use.
    static LoginItemManager& share();

    // Take a new snapshot of the login items and rebuild `data` from it (the two are one
    // operation here).
    void loadData();
    void onlyLoadData();

    // `data`: the login items of the last snapshot.
    std::vector<LoginItem> loginData();
    // `data` followed by one item per "DisableItem" entry (disable YES, url = "URL" when it is
    // not empty).
    std::vector<LoginItem> allLoginData();

    // Disable: records the item in "DisableItem" and removes it from the login items (found
    // by name in `data`); when the removal fails the record is taken back. Enable: puts the
    // entry recorded under the item's name back as the last login item, reloads, and deletes
    // the record. True when done; false (logged) when the item is not found or a step fails,
    // leaving the lists as they were.
    bool setItemDisable(const LoginItem& item, bool disable);

    // Removes each item, found by name in `data`, from the login items. True when every item
    // was found and removed; failures are logged and the others still removed.
    bool deleteData(const std::vector<LoginItem>& items);
    // Removes the first "DisableItem" entry of each item's name. False when the defaults
    // could not be written.
    bool deleteDataWithDisable(const std::vector<LoginItem>& items);
    // Takes a new snapshot and removes its first login item with that display name. False when
    // there is none or the removal fails.
    bool removeItem(const std::string& displayName);

    // Appends a login item for the program or bundle at path (see LoginItems::add).
    bool addItem(const std::string& path);
    // The same for a file URL ("file:///..." with percent escapes) or a plain path.
    bool addItemWithURL(const std::string& url);
    // Appends, reloads, and with update posts "loginItemUpdate" (nil object) on the default
    // centre from the calling thread. The reload and the posting happen only when added.
    bool addItem(const std::string& path, bool update);

    // True when a login item's display name is the program's bundle name without its
    // extension (read from the list as it is now; `data` stays as it was).
    bool hasMyApp();

    // Takes a new snapshot and answers its items whose target does not resolve.
    std::vector<LoginItem> scanBreakLoginItem();
    // Takes a new snapshot and removes, for each item, the first login item of the item's name
    // that is still broken: a name whose items all resolve now is left alone (logged), so an
    // entry that works is never removed for sharing its name with a broken one. The items
    // that could not be removed, name -> reason; empty when all went.
    std::map<std::string, std::string> removeBreakLoginItem(const std::vector<LoginItem>& items);
    // removeBreakLoginItem of the nodes converted with convertScanOutputObjToLoginItem.
    std::map<std::string, std::string> removeBreakLoginItemFromOuputObjs(const HVNNodeList& nodes);

    // Sets the hide-on-launch property of the item at index of the snapshot, then reloads.
    // False when the index is out of range or the entry cannot be written.
    bool setItemHidden(size_t index, bool hidden);

    // The index of the first element whose name equals the item's, or kNotFound.
    static size_t searchObjectInArray(const LoginItem& item, const std::vector<LoginItem>& items);
    // The same over "DisableItem" entries (their "Name").
    static size_t searchObjectInArrayForDisable(const LoginItem& item, const hvn::Array& entries);

    // The item of one autostart entry (isLogin YES, disable NO).
    static LoginItem itemOfEntry(const hvn::AutostartEntry& entry);
    // The program's bundle name without extension ("Halvorn" when there is no bundle).
    static std::string myAppName();

private:
    hvn::Array disabledEntries();
    bool removeAt(size_t index, hvn::LoginItems::RemovedEntry* removed, std::string* errorText);
    bool enable(const LoginItem& item);

    std::recursive_mutex lock_;
    std::vector<hvn::AutostartEntry> snapshot_;
    std::vector<LoginItem> data_;
};
