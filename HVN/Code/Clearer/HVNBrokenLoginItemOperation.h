// The broken-login-item scan (module 18): the user's login items whose target is gone, then
// the launchd property lists of the launch folders whose program is gone.
//
// Login items: the manager's broken items (LoginItemManager::scanBreakLoginItem), each a node
// with isLogin YES and isCheck YES; at clean time they go back to the manager
// (removeBreakLoginItemFromOuputObjs), never to the file removal.
//
// Property lists: for each folder of getLoginItemPathes(), in order, the folder is listed
// (an unreadable folder gives nothing) and "PathUpdate" is posted with it; each entry whose
// name ends in ".plist" (but "com.apple.FolderActions.folders.plist") and that is a regular
// file (a link or special file is passed over: removing it would not remove a job) is read
// with LaunchdJob. It is reported when it names no program (also when it cannot be read or
// parsed) or when nothing is at its program: launchd's program (LaunchdJob::executable),
// absolute -> located with Roots::locateStoredPath, a bare name -> searched in launchd's
// default PATH (/usr/bin:/bin:/usr/sbin:/sbin) below the system root, relative -> below the
// home folder. A program is there when stat() finds it, so a dangling link counts as gone
// (launchd could not start it). A program whose last component contains "disable" is a job
// the startup tool switched off: its parent path is the program then.
//
// Threads: runs on a scanner queue thread; finishScan() is delivered there, once, unless the
// operation was cancelled (checked before every entry), in which case nothing is handed back.
// Exceptions are caught in main() and dropped (logged).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "Platform/OperationQueue.h"

class LoginItemManager;

class HVNBrokenLoginItemOperation : public hvn::Operation {
public:
    static constexpr int32_t kModule = 18;
    static constexpr const char* kFolderActionsList = "com.apple.FolderActions.folders.plist";

    // loginItemPaths: the rows of the rule category "Broken Login Items", folders relative to
    // the home folder and the system root ("Library/LaunchAgents"; a leading "/" or "~/" is
    // dropped). manager: the login item manager to ask; null asks LoginItemManager::share().
    HVNBrokenLoginItemOperation(HVNScanResultDelegate* delegate, std::vector<std::string> loginItemPaths,
                                LoginItemManager* manager = nullptr);

    HVNScanResultDelegate* delegate = nullptr;  // not owned; may be null
    std::vector<std::string> loginItemPaths;

    // Scans unless cancelled; exceptions are caught and dropped.
    void main() override;
    // The scan; hands the nodes to the delegate (login items first) when it ran to the end.
    void scanBrokenLoginItems();
    // For each row, in order: the home folder joined with it, then the system root joined
    // with it.
    std::vector<std::string> getLoginItemPathes() const;

    // Where the program a launchd job names is found; empty when nothing is there.
    static std::string locateJobProgram(const std::string& program);

private:
    LoginItemManager* manager_;
};
