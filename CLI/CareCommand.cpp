// `halvorn care`: one-click care from the terminal. Scans the categories whose boxes are on
// with the modules enabled in the settings, reports per category and module, and with
// --fix cleans what stays ticked through the clean manager's combined clean.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "CLI/Command.h"
#include "CLI/Interaction.h"
#include "CLI/Json.h"
#include "CLI/TerminalText.h"
#include "HVN/Code/Clearer/FMDB/FMDatabase.h"
#include "HVN/Code/Clearer/FMDB/FMDatabaseAdditions.h"
#include "HVN/Code/Clearer/FMDB/FMResultSet.h"
#include "HVN/Code/Clearer/HVNCleanManager.h"
#include "HVN/Code/Clearer/HVNLipo.h"
#include "HVN/Code/Clearer/HVNModuleInfo.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/HVNUsageStatistics.h"
#include "Platform/Bundle.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/RunLoop.h"
#include "Platform/UserDefaults.h"

namespace {

// Keys keep the order in which they are written: scripts read them by name, people by eye.
using json = nlohmann::ordered_json;

const char* kHelp =
    "usage: halvorn care [--json] [--fix [--yes]] [--only IDS] [--skip IDS]\n"
    "\n"
    "Scans the categories whose boxes are on (System, Disk, Internet Security) with the\n"
    "modules enabled in the settings, and reports what it found. Nothing is changed\n"
    "without --fix.\n"
    "\n"
    "  --json         print one JSON document on standard output\n"
    "  --fix          after the scan, clean the ticked entries (asks first)\n"
    "  --yes          with --fix, do not ask\n"
    "  --only IDS     scan only these module identifiers (comma-separated)\n"
    "  --skip IDS     do not scan these module identifiers\n"
    "  -h, --help     this text\n"
    "\n"
    "Ctrl-C stops a running scan or clean; what was done so far is reported.\n";

struct Options {
    bool json = false;
    bool fix = false;
    bool yes = false;
    std::optional<std::set<int32_t>> only;
    std::set<int32_t> skip;
};

bool parseIds(const std::string& text, std::set<int32_t>& out, std::string& error) {
    std::stringstream ss(text);
    std::string part;
    bool any = false;
    while (std::getline(ss, part, ',')) {
        if (part.empty()) continue;
        char* end = nullptr;
        errno = 0;
        long v = std::strtol(part.c_str(), &end, 10);
        // Out of range must not wrap around onto a real identifier (4294967297 is not 1).
        bool inRange = errno == 0 && v >= INT32_MIN && v <= INT32_MAX;
        if (*end != '\0' || !inRange || !HVNModuleInfo::find(static_cast<int32_t>(v))) {
            error = "unknown module identifier '" + part + "'";
            return false;
        }
        out.insert(static_cast<int32_t>(v));
        any = true;
    }
    if (!any) {
        error = "no module identifier given";
        return false;
    }
    return true;
}

// Returns 0 on success, else the exit code after printing the error.
int parseOptions(const cli::Args& args, Options& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto takeValue = [&](std::string& v) {
            if (i + 1 >= args.size()) return false;
            v = args[++i];
            return true;
        };
        if (a == "--json") {
            o.json = true;
        } else if (a == "--fix") {
            o.fix = true;
        } else if (a == "--yes" || a == "-y") {
            o.yes = true;
        } else if (a == "--only" || a == "--skip" || a.rfind("--only=", 0) == 0 ||
                   a.rfind("--skip=", 0) == 0) {
            std::string name = a.substr(0, 6);
            std::string value;
            if (a.size() > 6 && a[6] == '=') {
                value = a.substr(7);
            } else if (!takeValue(value)) {
                std::fprintf(stderr, "halvorn care: %s needs a list of module identifiers\n", name.c_str());
                return 2;
            }
            std::set<int32_t> ids;
            std::string error;
            if (!parseIds(value, ids, error)) {
                std::fprintf(stderr, "halvorn care: %s: %s\n", name.c_str(), error.c_str());
                return 2;
            }
            if (name == "--only") {
                if (!o.only) o.only.emplace();
                o.only->insert(ids.begin(), ids.end());
            } else {
                o.skip.insert(ids.begin(), ids.end());
            }
        } else {
            std::fprintf(stderr, "halvorn care: unknown option '%s'\n%s", a.c_str(), kHelp);
            return 2;
        }
    }
    if (o.yes && !o.fix) {
        std::fprintf(stderr, "halvorn care: --yes goes with --fix\n");
        return 2;
    }
    return 0;
}

// The rule database must be readable before anything is scanned: a missing or damaged
// database would otherwise look like a clean computer.
bool checkRuleDatabase(std::string& error) {
    std::string path = hvn::Bundle::pathForResource("CleanPath", "db");
    if (path.empty()) {
        std::string res = hvn::Bundle::resourcePath();
        error = "the rule database " +
                cli::terminalText(res.empty() ? std::string("CleanPath.db") : res + "/CleanPath.db") +
                " does not exist";
        return false;
    }
    FMDatabase db(path);
    if (!db.openWithFlags(SQLITE_OPEN_READONLY)) {
        error = "cannot open the rule database " + cli::terminalText(path) + ": " + db.lastErrorMessage();
        return false;
    }
    auto rs = db.executeQuery("select count(*) from HVNCLean");
    bool ok = rs && rs->next();
    if (!ok)
        error = "cannot read the rule database " + cli::terminalText(path) + ": " + db.lastErrorMessage();
    if (rs) rs->close();
    db.close();
    return ok;
}

// A category box: on unless a stored choice says NO.
bool categoryBoxOn(const char* key) {
    hvn::Value v = hvn::UserDefaults::standardUserDefaults().objectForKey(key);
    return v.isNull() || v.asBool();
}

struct ModuleReport {
    const HVNModuleInfo* info;
    HVNNodeList items;
    HVNScaneOuputObjectPtr row;  // the category row, as the care screen builds it
};

struct CategoryReport {
    HVNCleanCategory category;
    bool on;
    std::vector<ModuleReport> modules;
};

// The category row of a module (one-click care's summary): leaves, the size of the top
// results without virus names, and a size of 1 for entries without size so that the row
// shows a count of issues.
HVNScaneOuputObjectPtr categoryRow(const HVNModuleInfo& info, const HVNNodeList& items) {
    auto row = HVNScaneOuputObject::create();
    row->isCategoryItem = true;
    row->isCheck = 1;
    row->setName(std::string(info.displayName));
    row->moulde = info.id;
    row->categoryFlag = info.id;
    row->icon = info.icon;
    int64_t leaves = 0, size = 0;
    for (const auto& n : items) {
        leaves += HVNCommonFunction::getChildrenCnt(n, false);
        if (n->virusName.empty()) size += n->fileSize;
        if (info.id == HVNModuleInfo::DiskCheck && n->hasIssue) {
            row->hasIssue = true;
            row->issueCount = n->issueCount;
        }
    }
    row->childCount = leaves;
    row->fileSize = size;
    if (leaves > 0 && size == 0) row->fileSize = 1;
    return row;
}

// Writes text under key and, when it is not UTF-8, its exact bytes under bytesKey: the
// JSON text replaces what it cannot hold, and a script must be able to name the file again.
void putFileText(json& j, const char* key, const char* bytesKey, const std::string& text) {
    j[key] = text;
    if (auto bytes = cli::json::base64UnlessUtf8(text)) j[bytesKey] = *bytes;
}

json nodeJson(const HVNScaneOuputObjectPtr& n) {
    json j;
    putFileText(j, "name", "nameBytes", n->name());
    // A node that stands for no file (a language, a broken login item) has no path.
    if (!n->dirPath().empty()) putFileText(j, "filePath", "filePathBytes", n->filePath());
    j["fileSize"] = n->fileSize;
    j["isCheck"] = static_cast<int>(n->isCheck);
    if (!n->cookieDomain.empty()) putFileText(j, "cookieDomain", "cookieDomainBytes", n->cookieDomain);
    if (!n->countryName.empty()) j["countryName"] = n->countryName;
    if (n->prePath) putFileText(j, "prePath", "prePathBytes", *n->prePath);
    if (n->removePaths) {
        json paths = json::array();
        json bytes = json::array();
        bool anyBytes = false;
        for (const auto& p : *n->removePaths) {
            paths.push_back(p);
            auto b = cli::json::base64UnlessUtf8(p);
            anyBytes = anyBytes || b.has_value();
            bytes.push_back(b ? json(*b) : json(nullptr));
        }
        j["removePaths"] = std::move(paths);
        if (anyBytes) j["removePathsBytes"] = std::move(bytes);
    }
    if (n->isLogin) j["isLogin"] = true;
    if (n->moulde == HVNModuleInfo::DiskCheck) {
        j["hasIssue"] = n->hasIssue;
        j["issueCount"] = n->issueCount;
    }
    if (n->subObjects && !n->subObjects->empty()) {
        json children = json::array();
        for (const auto& c : *n->subObjects) children.push_back(nodeJson(c));
        j["children"] = std::move(children);
    }
    return j;
}

// The ticked entries a clean would act on; a disk check that found nothing has nothing to
// repair.
int64_t tickedLeaves(const HVNNodeList& items) {
    int64_t n = 0;
    for (const auto& i : items) {
        if (i->moulde == HVNModuleInfo::DiskCheck && !i->hasIssue) continue;
        n += HVNCommonFunction::getChildrenCnt(i, true);
    }
    return n;
}

// Prints "PathUpdate" progress on standard error while a category scans, when standard
// error is a terminal.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {
        if (!enabled_) return;
        token_ = hvn::NotificationCenter::defaultCenter().addObserver(
            kPathUpdateNotification, [this](const hvn::Notification& n) {
                if (const auto* p = std::any_cast<std::string>(&n.object)) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    path_ = *p;
                }
            });
    }
    ~ProgressLine() { clear(); }

    void begin(const char* category) {
        category_ = category;
        start_ = std::chrono::steady_clock::now();
    }
    void draw() {
        if (!enabled_) return;
        std::string path;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            path = path_;
        }
        double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::string line =
            hvn::format("%s %5.1fs %s", category_.c_str(), secs, cli::terminalText(path).c_str());
        if (line.size() > 100) line = shortened(line);
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        drawn_ = true;
    }
    void clear() {
        if (enabled_ && drawn_) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
            drawn_ = false;
        }
    }

private:
    // The start and the end of a long line; cut between UTF-8 sequences, never inside one.
    static std::string shortened(const std::string& line) {
        auto isContinuation = [&](size_t i) { return (static_cast<unsigned char>(line[i]) & 0xC0) == 0x80; };
        size_t head = 60, tail = line.size() - 37;
        while (head > 0 && isContinuation(head)) --head;
        while (tail < line.size() && isContinuation(tail)) ++tail;
        return line.substr(0, head) + "..." + line.substr(tail);
    }

    bool enabled_;
    bool drawn_ = false;
    hvn::ObservationToken token_;
    std::mutex mutex_;
    std::string path_;
    std::string category_;
    std::chrono::steady_clock::time_point start_;
};

// Runs the main loop until done() or an interrupt; on an interrupt runs onStop once and
// keeps running until done().
void runMainLoopUntil(const std::function<bool()>& done, const std::function<void()>& onStop,
                      ProgressLine* progress) {
    bool stopped = false;
    auto& loop = hvn::RunLoop::main();
    while (!done()) {
        loop.runUntil(done, 0.1);
        if (cli::interrupted() && !stopped) {
            stopped = true;
            if (onStop) onStop();
        }
        if (progress) progress->draw();
    }
}

std::string noticeText(int64_t size, int64_t issues) {
    std::string sizeText = HVNCommonFunction::getSizeDesc(size);
    if (size > 0) {
        if (issues > 0) {
            return hvn::format("%ld issues have been fixed and %s have been cleaned!",
                               static_cast<long>(issues), sizeText.c_str());
        }
        return hvn::format("%s have been cleaned!", sizeText.c_str());
    }
    if (issues > 0) return hvn::format("%ld issues have been fixed!", static_cast<long>(issues));
    return "Clean Finish!";
}

// The reason of a path that was not removed without the path it starts with
// ("Refusing to remove <path>: it is a mount point" gives "it is a mount point").
std::string shortReason(const std::string& path, const std::string& reason) {
    for (const char* lead :
         {"Refusing to remove ", "Could not remove ", "Refusing to thin ", "Could not thin "}) {
        std::string prefix = std::string(lead) + path + ": ";
        if (reason.rfind(prefix, 0) == 0) return reason.substr(prefix.size());
    }
    return reason;
}

// The entries of "notRemoved": {"filePath", "filePathBytes" when needed, "reason"}.
json notRemovedJson(const std::vector<std::string>& left, const std::map<std::string, std::string>& reasons) {
    json list = json::array();
    for (const auto& path : left) {
        json entry;
        putFileText(entry, "filePath", "filePathBytes", path);
        auto it = reasons.find(path);
        entry["reason"] =
            it != reasons.end() && !it->second.empty() ? it->second : "it is still there after the clean";
        list.push_back(std::move(entry));
    }
    return list;
}

bool pathStillThere(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The entries a clean is about to remove, noted before it starts (the clean takes removed
// children out of their groups), so that afterwards the notice tells what really went and
// the rest is listed as not removed. Issues are counted as the care screen counts the
// selection: a ticked top node in System (fixed when all its ticked entries went), a
// ticked leaf elsewhere.
class CleanTally {
public:
    explicit CleanTally(const std::vector<CategoryReport>& cats) {
        for (const auto& c : cats) {
            if (!c.on) continue;
            const bool perTopNode = c.category == HVNCleanCategory::System;
            for (const auto& m : c.modules) {
                for (const auto& n : m.items) {
                    const bool group = n->subObjects && !n->subObjects->empty();
                    int issue = perTopNode && n->isCheck ? newIssue() : -1;
                    if (!group) {
                        if (n->isCheck) add(n, perTopNode ? issue : newIssue());
                        continue;
                    }
                    for (const auto& ch : *n->subObjects) {
                        if (ch->isCheck) add(ch, perTopNode ? issue : newIssue());
                    }
                }
            }
        }
    }

    // Looks at the file system once the clean has ended. Entries that are not files of
    // their own are judged by the results: a cookie, a login item or an application to
    // thin is done when the clean took its node out of the results (one that could not be
    // done stays listed); the disk check when no issue is left.
    void settle(const std::function<bool(const HVNScaneOuputObjectPtr&)>& stillListed,
                const std::function<bool()>& diskCheckFixed) {
        for (auto& e : entries_) {
            switch (e.kind) {
                case Kind::Path:
                    e.gone = !pathStillThere(e.probe);
                    break;
                case Kind::Node:
                    e.gone = !stillListed(e.node);
                    break;
                case Kind::DiskCheck:
                    e.gone = diskCheckFixed();
                    break;
            }
            if (!e.gone && e.issue >= 0) issueFixed_[static_cast<size_t>(e.issue)] = false;
        }
    }
    // The privileged daemon works through what it was handed after the clean has returned:
    // files that are still there without a reason for it (so handed on, not refused) are
    // given up to `limit` to go before the file system is looked at.
    void waitForHandedOver(const std::map<std::string, std::string>& reasons,
                           std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            bool pending = false;
            for (const auto& e : entries_) {
                if (e.kind == Kind::Path && !reasons.count(e.path) && pathStillThere(e.probe)) {
                    pending = true;
                    break;
                }
            }
            if (!pending || std::chrono::steady_clock::now() >= end || cli::interrupted()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    // Marks an entry as not done although the results say so (a thinning that failed
    // after it was started).
    void markLeft(const std::string& key) {
        for (auto& e : entries_) {
            if (e.path == key && e.gone) {
                e.gone = false;
                if (e.issue >= 0) issueFixed_[static_cast<size_t>(e.issue)] = false;
            }
        }
    }
    int64_t cleanedSize() const {
        int64_t size = 0;
        for (const auto& e : entries_) {
            if (e.gone) size += e.size;
        }
        return size;
    }
    int64_t fixedIssues() const {
        std::vector<bool> hasEntry(issueFixed_.size(), false);
        for (const auto& e : entries_) {
            if (e.issue >= 0) hasEntry[static_cast<size_t>(e.issue)] = true;
        }
        int64_t n = 0;
        for (size_t i = 0; i < issueFixed_.size(); ++i) {
            if (issueFixed_[i] && hasEntry[i]) ++n;
        }
        return n;
    }
    std::vector<std::string> notRemoved() const {
        std::vector<std::string> left;
        for (const auto& e : entries_) {
            if (!e.gone) left.push_back(e.path);
        }
        return left;
    }

private:
    enum class Kind { Path, Node, DiskCheck };
    struct Entry {
        std::string path;  // what the report names
        int64_t size;
        int issue;
        Kind kind;
        HVNScaneOuputObjectPtr node;  // Kind::Node: the node, looked for in the results
        std::string probe;            // Kind::Path: the file whose absence means done
        bool gone = false;
    };
    int newIssue() {
        issueFixed_.push_back(true);
        return static_cast<int>(issueFixed_.size() - 1);
    }
    void add(const HVNScaneOuputObjectPtr& node, int issue) {
        using M = HVNModuleInfo;
        const int32_t m = node->moulde;
        const std::string key = HVNCleanRules::reportKeyOfNode(*node);
        const int64_t size = node->virusName.empty() ? node->fileSize : 0;
        if (m == M::LanguageFiles && node->removePaths && !node->removePaths->empty()) {
            // One entry per localisation folder; the application's size goes with its last.
            const auto& paths = *node->removePaths;
            for (size_t i = 0; i < paths.size(); ++i) {
                entries_.push_back(
                    {paths[i], i + 1 == paths.size() ? size : 0, issue, Kind::Path, nullptr, paths[i]});
            }
            return;
        }
        if (m == M::DiskCheck) {
            if (node->hasIssue) entries_.push_back({key, 0, issue, Kind::DiskCheck, nullptr, {}});
            return;
        }
        const bool byNode = m == M::Cookies || m == M::CookieVirus || m == M::UniversalBinaries ||
                            (m == M::BrokenLoginItems && node->isLogin);
        if (byNode) {
            entries_.push_back({key, size, issue, Kind::Node, node, {}});
        } else if (m == M::IPhoto && node->prePath) {
            // The picture is done when its preview took the master's place.
            entries_.push_back({key, size, issue, Kind::Path, nullptr, *node->prePath});
        } else {
            entries_.push_back({key, size, issue, Kind::Path, nullptr, key});
        }
    }
    std::vector<Entry> entries_;
    std::vector<bool> issueFixed_;
};

int runCare(const cli::Args& args) {
    if (cli::wantsHelp(args)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    Options opt;
    if (int rc = parseOptions(args, opt)) return rc;

    std::string error;
    if (!checkRuleDatabase(error)) {
        std::fprintf(stderr, "halvorn care: %s\n", error.c_str());
        return 1;
    }

    HVNCommonFunction::initialSettingInfo();
    auto& loop = hvn::RunLoop::main();
    loop.bindToCurrentThread();

    // The launch's usage statistics go out while the care runs; before the command ends, the
    // reports get at most 5 more seconds to finish (none after an interrupt).
    HVNUsageStatistics::sendLaunchReports();
    struct WaitForReports {
        ~WaitForReports() {
            if (!cli::interrupted()) HVNUsageStatistics::waitForReports(5);
        }
    } waitForReports;

    cli::catchInterrupts();

    std::vector<CategoryReport> cats = {
        {HVNCleanCategory::InternetSecurity, categoryBoxOn("InternetVirusSelect"), {}},
        {HVNCleanCategory::System, categoryBoxOn("SystemSelect"), {}},
        {HVNCleanCategory::Disk, categoryBoxOn("DiscSelect"), {}},
    };
    if (!cats[0].on && !cats[1].on && !cats[2].on) {
        std::fprintf(stderr,
                     "halvorn care: You must select at least one item to continue the scan.\n"
                     "Please select one option at least.\n");
        return 1;
    }

    auto wanted = [&opt](int32_t id) {
        if (opt.only && !opt.only->count(id)) return false;
        return opt.skip.count(id) == 0;
    };

    HVNCleanManager& manager = HVNCleanManager::shareHVNCLean();
    manager.moduleFilter = wanted;
    ProgressLine progress(!opt.json && isatty(STDERR_FILENO));

    manager.hasScanSystem = false;
    manager.hasScanDisc = false;
    manager.hasScanInternetVirus = false;
    manager.hasClearSystem = true;
    manager.hasClearDisc = true;
    manager.hasClearInternetVirus = true;

    bool interrupted = false;
    for (auto& c : cats) {
        if (!c.on || interrupted) continue;
        std::atomic<bool> finished{false};
        hvn::ObservationToken tok(hvn::NotificationCenter::defaultCenter().addObserver(
            kScanFinishNotification, [&finished](const hvn::Notification&) { finished.store(true); }));
        progress.begin(HVNModuleInfo::categoryName(c.category));
        switch (c.category) {
            case HVNCleanCategory::InternetSecurity:
                manager.isInternetVirusCleanDone = false;
                manager.internetVirusCheckBoxStatus = 1;
                manager.scanViurs();
                break;
            case HVNCleanCategory::System:
                manager.isSystemCleanDone = false;
                manager.systemCheckBoxStatus = 1;
                manager.scanSystemFile();
                break;
            case HVNCleanCategory::Disk:
                manager.isDiskCleanDone = false;
                manager.diskCheckBoxStatus = 1;
                manager.scanDiskFile();
                break;
        }
        runMainLoopUntil([&finished] { return finished.load(); },
                         [&] {
                             interrupted = true;
                             manager.queueOf(c.category).stop();
                         },
                         &progress);
        progress.clear();
        if (cli::interrupted()) interrupted = true;
        switch (c.category) {
            case HVNCleanCategory::InternetSecurity:
                manager.hasScanInternetVirus = true;
                break;
            case HVNCleanCategory::System:
                manager.hasScanSystem = true;
                break;
            case HVNCleanCategory::Disk:
                manager.hasScanDisc = true;
                break;
        }
        std::set<int32_t> scannable;
        for (const auto& step : manager.scanStepsOf(c.category)) scannable.insert(step.module);
        for (const auto& info : HVNModuleInfo::enabledModules(c.category)) {
            if (!wanted(info.id)) continue;
            // Modules without a scanner in this build are left out, except the broken
            // preferences row, which is always shown empty when enabled.
            if (!scannable.count(info.id) && info.id != HVNModuleInfo::BrokenPreferences) continue;
            auto* found = HVNModuleInfo::find(info.id);
            auto list = manager.queueOf(c.category).resultFor(info.id).value_or(HVNNodeList{});
            c.modules.push_back({found, list, categoryRow(*found, list)});
        }
    }
    if (interrupted) std::fprintf(stderr, "halvorn care: scan stopped; the results below are partial.\n");

    json doc;
    doc["categories"] = json::array();
    int64_t selectedItems = 0, selectedSize = 0;
    for (const auto& c : cats) {
        if (!c.on) continue;
        json jc;
        jc["name"] = HVNModuleInfo::categoryName(c.category);
        jc["modules"] = json::array();
        int64_t catSize = 0, catItems = 0;
        for (const auto& m : c.modules) {
            json jm;
            jm["id"] = m.info->id;
            jm["settingsName"] = m.info->settingsName;
            jm["displayName"] = m.info->displayName;
            int64_t size = 0;
            for (const auto& n : m.items) {
                if (n->virusName.empty()) size += n->fileSize;
            }
            jm["size"] = size;
            jm["sizeText"] = m.row->fileSizeDesc();
            jm["issues"] = m.row->childCount;
            json items = json::array();
            for (const auto& n : m.items) items.push_back(nodeJson(n));
            jm["items"] = std::move(items);
            jc["modules"].push_back(std::move(jm));
            catSize += size;
            catItems += m.row->childCount;
            selectedItems += tickedLeaves(m.items);
        }
        if (!opt.json) {
            std::printf("%-28s %12s  %ld %s\n", HVNModuleInfo::categoryName(c.category),
                        HVNCommonFunction::getSizeDesc(catSize).c_str(), static_cast<long>(catItems),
                        catItems == 1 ? "entry" : "entries");
            for (const auto& m : c.modules) {
                std::string text = m.row->fileSizeDesc();
                if (text.empty()) text = "-";
                std::printf("  %-26s %12s  %ld %s\n", m.info->displayName, text.c_str(),
                            static_cast<long>(m.row->childCount),
                            m.row->childCount == 1 ? "entry" : "entries");
            }
        }
        doc["categories"].push_back(std::move(jc));
    }
    selectedSize =
        manager.allSystemSizeSelected() + manager.allDiskSizeSelected() + manager.allInternetVirusSize();

    int rc = 0;
    if (opt.fix && !interrupted) {
        // The same three keys whatever happens, so that scripts need not guess.
        json jclean;
        jclean["notice"] = "";
        jclean["stopped"] = false;
        jclean["notRemoved"] = json::array();
        bool go = opt.yes;
        if (selectedItems == 0) {
            if (!opt.json) std::printf("Nothing is selected to clean.\n");
            go = false;
        } else if (!go) {
            std::fflush(stdout);
            std::fprintf(stderr, "Clean %ld items (%s)? [y/N] ", static_cast<long>(selectedItems),
                         HVNCommonFunction::getSizeDesc(selectedSize).c_str());
            std::fflush(stderr);
            std::string answer;
            if (std::getline(std::cin, answer) && (answer == "y" || answer == "Y" || answer == "yes"))
                go = true;
            if (!go) {
                std::fprintf(stderr, "Nothing was cleaned.\n");
            }
        }
        if (go) {
            bool doIV = cats[0].on && !cats[0].modules.empty();
            bool doSys = cats[1].on && !cats[1].modules.empty();
            bool doDisk = cats[2].on && !cats[2].modules.empty();
            CleanTally tally(cats);
            std::atomic<bool> done{false};
            // A browser that runs may write its cookies back: the user is told to quit it.
            std::mutex warningMutex;
            std::string warning;
            hvn::ObservationToken browserRun(hvn::NotificationCenter::defaultCenter().addObserver(
                kCookieBrowserRunNotification, [&](const hvn::Notification& note) {
                    const auto* names = std::any_cast<std::vector<std::string>>(&note.object);
                    std::string joined;
                    if (names) {
                        for (const auto& n : *names) joined += (joined.empty() ? "" : ", ") + n;
                    }
                    std::lock_guard<std::mutex> lock(warningMutex);
                    warning = "Cookies cannot be cleaned.\nPlease quit the browsers (" + joined +
                              ") before cleaning.";
                }));
            HVNCommonFunction::postCleanBeginNotification();
            std::thread cleaner([&] {
                manager.clearInternetVirus(doIV, doSys, doDisk, false);
                done.store(true);
            });
            runMainLoopUntil([&done] { return done.load(); }, [&manager] { manager.clearStop(); }, nullptr);
            cleaner.join();
            loop.runPending();
            HVNCommonFunction::postCleanNotification();
            bool stopped = cli::interrupted();
            std::map<std::string, std::string> reasons = manager.lastCleanNotRemoved();
            if (!stopped) tally.waitForHandedOver(reasons, std::chrono::seconds(10));
            tally.settle(
                [&manager](const HVNScaneOuputObjectPtr& node) {
                    for (auto category : {HVNCleanCategory::InternetSecurity, HVNCleanCategory::System,
                                          HVNCleanCategory::Disk}) {
                        auto list = manager.queueOf(category).resultFor(node->moulde).value_or(HVNNodeList{});
                        for (const auto& top : list) {
                            if (top == node) return true;
                            for (const auto& child : top->children()) {
                                if (child == node) return true;
                            }
                        }
                    }
                    return false;
                },
                [&manager] { return !manager.hasDickCheckIssue.load(); });
            // The executables are thinned by tools the clean started; what they did is known
            // once they have ended.
            for (const auto& failure : HVNLipo::waitForThinnings()) {
                std::string bundle = failure.executable;
                size_t at = bundle.rfind("/Contents/MacOS/");
                if (at != std::string::npos) bundle.resize(at);
                tally.markLeft(bundle);
                reasons[bundle] = "Could not thin " + bundle + ": " + failure.reason;
            }
            std::vector<std::string> left = tally.notRemoved();
            // The notice tells what went, not what was selected: an entry that could not be
            // removed is not "cleaned".
            std::string notice =
                stopped ? std::string() : noticeText(tally.cleanedSize(), tally.fixedIssues());
            jclean["notice"] = notice;
            {
                std::lock_guard<std::mutex> lock(warningMutex);
                if (!warning.empty()) {
                    jclean["warning"] = warning;
                    if (!opt.json) std::fprintf(stderr, "%s\n", warning.c_str());
                }
            }
            jclean["stopped"] = stopped;
            jclean["notRemoved"] = notRemovedJson(left, reasons);
            if (!opt.json) {
                if (stopped) {
                    std::printf("Clean stopped.\n");
                } else {
                    std::printf("%s\n", notice.c_str());
                }
                if (!left.empty()) {
                    // After a stop, what is left was mostly never tried.
                    std::printf(stopped ? "Left in place (%zu):\n" : "Could not be removed (%zu):\n",
                                left.size());
                    for (const auto& p : left) {
                        auto it = reasons.find(p);
                        std::string why = it == reasons.end() ? std::string() : shortReason(p, it->second);
                        if (why.empty()) {
                            std::printf("  %s\n", cli::terminalText(p).c_str());
                        } else {
                            std::printf("  %s  (%s)\n", cli::terminalText(p).c_str(),
                                        cli::terminalText(why).c_str());
                        }
                    }
                }
            }
            if (!left.empty() || stopped) rc = 1;
        }
        doc["clean"] = std::move(jclean);
    }
    if (opt.json) std::printf("%s\n", doc.dump(2, ' ', false, json::error_handler_t::replace).c_str());
    // An interrupt at any point (the scan, the prompt or the clean) ends with status 130.
    if (interrupted || cli::interrupted()) rc = 130;
    return rc;
}

cli::CommandRegistration reg({"care", "scan for junk and risks and report; --fix cleans what is ticked",
                              runCare});

}  // namespace
