// The startup list: the user's login items (LoginItemManager) followed by the launch
// services, the launchd property lists of the launch folders and the user's systemd units
// that start at login (HVNUserUnits). It switches services off and on and removes the
// entries marked with isCheck.
//
// Launch folders: each row of the rule category "Broken Login Items" ("Library/LaunchAgents",
// ...) once below the home folder and once below the system root, in that order. In each, a
// "*.plist" entry is a service unless it is "com.apple.FolderActions.folders.plist" or its
// name contains "corvane" or "com.apple.AddressBook.ScheduledSync" (ignoring case). Its
// program is the first element of "ProgramArguments", else "Program"; a program whose last
// component contains "disable" is switched off and stands for its parent path. The service
// is listed when that program exists (below the roots) and is none of systemServer(); it is
// named after the last "."-separated part of "Label" when the program path contains
// "/usr/bin/open", else after the program's last component.
//
// Every file change goes through the removal gate, and a file is changed or removed only
// while it is still the one that was listed (ListedItem).
//
// Threads: one owner thread (the page's main thread, or the command line). The privileged
// routes (the daemon, the administrator prompt) block the caller while they work.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/ToolBox/Startup/LoginItem.h"
#include "HVN/Code/ToolBox/Startup/LoginItemManager.h"
#include "Platform/ListedItem.h"

class HVNStartupServer {
public:
    // A server over the given login-item manager and rows of launch folders (relative to
    // the home folder and the system root; a leading "~" or "/" is ignored).
    HVNStartupServer(LoginItemManager& manager, std::vector<std::string> launchFolderRows);
    HVNStartupServer(const HVNStartupServer&) = delete;
    HVNStartupServer& operator=(const HVNStartupServer&) = delete;

    // The program's one server: LoginItemManager::share() and the "Broken Login Items"
    // folders of the clean manager. Created on first use.
    static HVNStartupServer& shareHVNStartupServer();

    // The login-item manager the list is built from.
    LoginItemManager& manager() const { return manager_; }

    // The combined list shown on the page.
    std::vector<LoginItem> data;

    // Rebuilds data: the login items (reloaded) that resolve, including the ones disabled
    // here, then the launch services of every launch folder, then the systemd units.
    void scanStartup();
    // Replaces the login items at the front of data by the current ones, keeping the
    // services after them.
    void update();
    const std::vector<LoginItem>& loginItems() const { return data; }
    size_t checkCount() const;

    // Switches the service off (disable) or on. A property list this process may not write
    // goes to the privileged daemon (ReomveFile::setServerDisable); a writable one is
    // rewritten atomically beside itself and put in place through the removal gate, its
    // other keys and arguments unchanged, in its own format. A systemd unit loses or gets
    // back its "*.wants" links. True when the service is now in the asked state; false
    // (logged, with errorText) when the entry changed since it was listed, the gate refused,
    // a write failed or the daemon did not switch it. The item's disable flag in data
    // follows the outcome.
    bool setServerDisable(const LoginItem& item, bool disable, std::string* errorText = nullptr);

    // What removeLogin did with one entry.
    struct Removal {
        std::string name;
        std::string path;  // the property list or unit file; the login item's target
        bool isLogin = false;
        bool removed = false;
        // Where it went: "deleted", "moved to the trash", "handed to the privileged helper",
        // "removed from the login items", "removed from the disabled login items"; or why it
        // is still there.
        std::string outcome;
        std::string trashedPath;  // where a trashed file now is
    };
    // Removes every entry with isCheck. A launch service's file is deleted through the
    // removal gate; when that fails for want of rights (not when refused) it goes to the
    // privileged removal with rewrite NO. A login item leaves the login items, a disabled one
    // its "DisableItem" entry. Entries that were removed leave data; an entry that is still
    // there stays in data with its isCheck cleared. One Removal per entry, in list order.
    // toTrash moves a launch service's file to the trash instead (Platform/MoveToTrash.h);
    // what cannot be moved stays, it is not handed to the privileged removal.
    std::vector<Removal> removeLogin(bool toTrash = false);

    // ["launchd_startx", "privileged_startx"]: programs that are never listed.
    static std::vector<std::string> systemServer();
    // The launch folders, home one first for each row.
    std::vector<std::string> getLoginItemPathes() const;

    // True when the item is a systemd unit of the list (not a property list).
    static bool isUserUnit(const LoginItem& item);

private:
    enum class Rewrite { Done, NeedsPrivileges, Failed };
    Rewrite rewriteList(const std::string& path, bool disable, std::string* errorText);
    void scanFolder(const std::string& folder, std::vector<LoginItem>& out);
    LoginItem* findService(const std::string& path);

    LoginItemManager& manager_;
    std::vector<std::string> rows_;
    // What each listed service file was when listed, by path.
    std::map<std::string, hvn::ListedItem> listed_;
};
