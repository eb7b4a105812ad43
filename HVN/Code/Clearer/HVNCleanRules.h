// The removal rules of the clean, one per module: how the ticked entries of a module's
// result list are removed in-process, and how they are pruned from the list once the
// privileged removal has taken what could not be removed in-process.
//
// The path of a node is its dirPath joined with its name. Only ticked nodes (isCheck not 0)
// are removed. A node whose path is not sound (no name, a name with "/", "." or "..", a
// folder that is not absolute) is never removed nor handed on: it is logged and stays in its
// list. Every removal goes through the removal gate (Platform/RemovalGate.h), with the
// folder the node was found in; what the gate refuses stays listed with its reason and is
// never handed on.
//
// A module without a rule here is neither removed nor pruned by the clean (its scanner,
// and with it its rule, is not part of the program yet).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Platform/FileManager.h"
#include "Platform/RemovalBatch.h"

#include "HVN/Code/Clearer/HVNScaneOuputObject.h"

class HVNCacheScanner;
class HVNCleanManager;

// The outside services the clean calls, replaceable in tests.
struct HVNCleanServices {
    // In-process removal (plain or shredding) of an item found in foundIn (when known),
    // judged by the clean's gate: Removed or Missing, Failed (handed on), or Refused
    // (final), with the error text.
    std::function<hvn::RemovalResult(const std::string& path, const std::optional<hvn::FileIdentity>& foundIn,
                                     const hvn::RemovalGate& gate)>
        removeFile;
    // The privileged batch removal of what failed; false when it was cancelled (nothing
    // removed). notRemoved receives path -> reason for what is known to be left.
    std::function<bool(const std::vector<hvn::RemovalBatch::Request>& batch, bool rewrite,
                       std::map<std::string, std::string>* notRemoved)>
        removeSystemFile;
    // Tells a running privileged removal to stop.
    std::function<void()> stopClearSystemFile;
    // The shredding setting ("Insight Clean").
    std::function<bool()> isShredderFile;
    // Replaces target by the file withItem in one rename, both judged by the gate (the
    // photo library's master and its preview).
    std::function<hvn::RemovalResult(const std::string& target, const std::string& withItem)> replaceItem;
    // Starts thinning an executable to one architecture in place (judged by the gate, not
    // awaited); false with the reason when it was refused or could not start.
    std::function<bool(const std::string& executable, const std::string& arch, std::string* reason)>
        startThinning;
    // Hands executables this process may not change to the privileged route.
    std::function<bool(const std::vector<std::string>& executables)> lipoWithPrivileges;
    // Removes broken login items from the login item list; returns name -> reason of those
    // that could not be removed.
    std::function<std::map<std::string, std::string>(const HVNNodeList& nodes)> removeBreakLoginItems;
    // The disk check: whether its last verification found problems, the repair (true when
    // it ran to the end) and stopping a running verification or repair.
    std::function<bool()> diskCheckHasIssue;
    std::function<bool()> repairDiskPermission;
    std::function<void()> stopDiskPermissionsTool;

    // The program's services: ReomveFile and the settings.
    static HVNCleanServices standard();
};

// What a rule works with during one clean. Used on the clean thread only.
class HVNCleanContext {
public:
    // The protections are read once, when the context is made (one gate per clean).
    HVNCleanContext(const HVNCleanServices& services, const std::atomic<bool>& stopClear,
                    HVNCleanManager* manager = nullptr)
        : services_(services),
          stopClear_(stopClear),
          manager_(manager),
          gate_(hvn::RemovalGate::forCurrentRoots()) {}

    bool stopRequested() const { return stopClear_.load(); }

    // Replaces target by withItem (see HVNCleanServices::replaceItem). A failure or refusal
    // is logged and recorded under target in notRemoved(); nothing is handed on.
    hvn::RemovalResult replace(const std::string& target, const std::string& withItem);
    // Starts thinning an executable in place; false with the reason otherwise.
    bool thin(const std::string& executable, const std::string& arch, std::string* reason);
    // Hands executables to the privileged route (one call, also with none).
    void thinWithPrivileges(const std::vector<std::string>& executables);
    // Removes broken login items from the login item list: name -> reason of those left.
    std::map<std::string, std::string> removeLoginItems(const HVNNodeList& nodes);

    enum class Outcome { Removed, Failed, Refused };
    // Removes one path in-process. Removed: the item is gone (also when it had vanished
    // already). Failed: the error text is logged, the path added to failures() for the
    // privileged removal and to notRemoved(). Refused: an unsound path, or one the removal
    // gate refused; logged and added to notRemoved() with the reason, never handed on.
    Outcome remove(const std::string& path, const std::optional<hvn::FileIdentity>& foundIn = std::nullopt);
    // Adds a path to failures() without trying it in-process (a path that must go with a
    // failed one); an unsound path is refused. True when added.
    bool handOn(const std::string& path);
    // Records an entry that could not be cleaned and cannot be handed on (a cookie store
    // that stayed locked): key (see HVNCleanRules::reportKeyOfNode) -> reason.
    void reportNotRemoved(const std::string& key, const std::string& reason) { notRemoved_[key] = reason; }
    const std::vector<hvn::RemovalBatch::Request>& failures() const { return failures_; }
    std::vector<hvn::RemovalBatch::Request> takeFailures() { return std::move(failures_); }
    // Path -> reason of every path that failed or was refused so far.
    const std::map<std::string, std::string>& notRemoved() const { return notRemoved_; }
    std::map<std::string, std::string> takeNotRemoved() { return std::move(notRemoved_); }
    // The manager being cleaned (for the rules that need its state); may be null in tests.
    HVNCleanManager* manager() const { return manager_; }

private:
    const HVNCleanServices& services_;
    const std::atomic<bool>& stopClear_;
    HVNCleanManager* manager_;
    hvn::RemovalGate gate_;
    std::vector<hvn::RemovalBatch::Request> failures_;
    std::map<std::string, std::string> notRemoved_;
};

// Tells whether a node is still there after a clean (its path is among those not removed),
// so that pruning keeps it listed.
using HVNIsLeft = std::function<bool(const HVNScaneOuputObject& node)>;

struct HVNModuleCleanRule {
    // Removes the ticked entries of the module's list in the queue, editing the list
    // through the queue's lock; removed entries leave the list, failed ones stay. The
    // rules of this file look at the stop request before each top node and return false
    // when it is set.
    std::function<bool(HVNCacheScanner& queue, int32_t module, HVNCleanContext& context)> removeInApp;
    // Drops the ticked entries from a list without touching files (called under the
    // queue's lock); entries for which isLeft answers true stay.
    std::function<void(HVNNodeList& list, const HVNIsLeft& isLeft)> prune;
};

class HVNCleanRules {
public:
    HVNCleanRules() = delete;

    // The rule of a module, or nullptr when the module has none yet.
    static const HVNModuleCleanRule* ruleFor(int32_t module);

    // dirPath "/" name.
    static std::string pathOfNode(const HVNScaneOuputObject& node);
    // What names a node in the report of what was not removed: "<Browser> cookies of
    // <domain>" for a cookie node (modules 4 and 22), the file path of a virus node
    // (module 21, whose name is the virus name) and of a picture (module 10, the master),
    // "Disk Check" for the disk check, "Login item <name>" for a login item, else
    // pathOfNode.
    static std::string reportKeyOfNode(const HVNScaneOuputObject& node);
    // The node's path when it may be removed, else empty (see the file comment).
    static std::string removablePathOfNode(const HVNScaneOuputObject& node);
    static bool isTicked(const HVNScaneOuputObject& node) { return node.isCheck != 0; }

    // --- The rules (shared by several modules) ---
    // Groups: every ticked child is removed and leaves its group; a group left without
    // children leaves the list. A top node without children is removed when ticked.
    static HVNModuleCleanRule groupAwareRule();
    // Every ticked top node is removed and leaves the list; children are not looked at.
    static HVNModuleCleanRule flatRule();
    // Trash groups: every ticked child is removed (with the paths of its removePaths,
    // the trash's record of the entry, after it) and leaves its group; groups left
    // empty leave the list.
    static HVNModuleCleanRule trashRule();
    // Cookies (module 4): the whole list goes to the white list's cookie remover; the
    // ticked nodes leave the list, except those whose store could not be changed. Posts
    // "cookie_browser_run_notification" first when a browser runs and a node is ticked.
    static HVNModuleCleanRule cookieRule();
    // Viruses (module 21): every ticked node's filePath is removed and leaves the list.
    static HVNModuleCleanRule virusRule();
    // Language files (module 8): each ticked application's removePaths are removed one by
    // one; an application leaves its language once one of them went; emptied languages
    // leave the list.
    static HVNModuleCleanRule languageRule();
    // Photo library (module 10): each ticked master is replaced by its preview in one
    // rename; replaced entries leave the list, unticked ones are never touched.
    static HVNModuleCleanRule photoRule();
    // Universal binaries (module 13, no stop check): the ticked applications' executables
    // are thinned in place; those this process may not change go to the privileged route
    // and stay listed.
    static HVNModuleCleanRule binariesRule();
    // Broken login items (module 18, no stop check): ticked login items leave the login
    // item list and the results; ticked property lists are removed as files.
    static HVNModuleCleanRule loginItemRule();
    // Disk check (module 19): nothing is removed; the repair follows the disk clean.
    static HVNModuleCleanRule diskCheckRule();
    // Bad cookies (module 22): the ticked children of the "Safari", "Firefox" and "Chrome"
    // groups go to that browser's cookie removal, sparing the white-listed domains; the
    // cleaned children leave their groups, groups left empty leave the list.
    static HVNModuleCleanRule badCookieRule();

    // --- Pruning (no files touched; a null isLeft keeps nothing back) ---
    static void pruneGroupAware(HVNNodeList& list, const HVNIsLeft& isLeft = nullptr);
    static void pruneFlat(HVNNodeList& list, const HVNIsLeft& isLeft = nullptr);
    // Ticked children leave their groups; groups left empty leave the list.
    static void pruneTickedChildren(HVNNodeList& list, const HVNIsLeft& isLeft = nullptr);
};
