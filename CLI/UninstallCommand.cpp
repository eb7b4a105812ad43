// `halvorn uninstall`: the uninstaller from the terminal. Finds one application (or widget,
// plug-in, preference pane) by path, name or bundle identifier, shows it with the files
// found for it, asks, and removes them for good (or moves them to the trash), saying where
// each one went. A file is removed only while it is still the one that was shown.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "CLI/Command.h"
#include "CLI/Interaction.h"
#include "CLI/Json.h"
#include "CLI/TerminalText.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/HVNDeleteSelectedApp.h"
#include "HVN/Code/Public/HVNSearchApplications.h"
#include "HVN/Code/ToolBox/Uninstall/HVNUninstallRemoval.h"
#include "Platform/Log.h"
#include "Platform/Workspace.h"

namespace {

using json = nlohmann::ordered_json;

const char* kHelp =
    "usage: halvorn uninstall APP [--keep PATH]... [--yes] [--trash|--delete] [--json]\n"
    "\n"
    "Shows the application APP and the files found for it (preferences, caches, containers,\n"
    "application support, saved state, launch agents and daemons, logs, crash reports and\n"
    "temporary folders named after its bundle identifier or executable), asks, and removes\n"
    "them. APP is the path of the bundle, or the name or bundle identifier of an\n"
    "application, widget, plug-in or preference pane that `halvorn apps` lists.\n"
    "\n"
    "  --keep PATH    leave this file out (may be given more than once)\n"
    "  --delete       remove the files for good (the default); what this user may not\n"
    "                 remove is handed to the privileged helper\n"
    "  --trash        move the files to the trash instead\n"
    "  --yes          do not ask\n"
    "  --json         print {\"app\": {...}, \"files\": [{\"path\", \"size\", \"kept\", \"outcome\",\n"
    "                 \"trashedPath\", \"reason\"}, ...]}; outcome is \"deleted\", \"trashed\",\n"
    "                 \"privileged\", \"gone\" or \"left\"\n"
    "  -h, --help     this text\n"
    "\n"
    "An application that is running is not removed: quit it first. A file that changed\n"
    "after it was shown is left in place. Ctrl-C during the search stops without removing.\n"
    "Exit status: 0 when every file went, 1 when something was left or nothing was done,\n"
    "2 for bad usage or an unknown or ambiguous APP.\n";

struct Options {
    std::string app;
    std::vector<std::string> keep;
    bool trash = false;
    bool remove = false;
    bool yes = false;
    bool json = false;
};

int parseOptions(const cli::Args& args, Options& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") {
            o.json = true;
        } else if (a == "--trash") {
            o.trash = true;
        } else if (a == "--delete") {
            o.remove = true;
        } else if (a == "--yes" || a == "-y") {
            o.yes = true;
        } else if (a == "--keep" || a.rfind("--keep=", 0) == 0) {
            if (a != "--keep") {
                o.keep.push_back(a.substr(7));
            } else if (i + 1 < args.size()) {
                o.keep.push_back(args[++i]);
            } else {
                std::fprintf(stderr, "halvorn uninstall: --keep needs a path\n");
                return 2;
            }
        } else if (a == "--") {
            if (i + 1 < args.size() && o.app.empty()) o.app = args[++i];
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "halvorn uninstall: unknown option '%s'\n%s", cli::terminalText(a).c_str(),
                         kHelp);
            return 2;
        } else if (o.app.empty()) {
            o.app = a;
        } else {
            std::fprintf(stderr, "halvorn uninstall: one application at a time ('%s' is extra)\n",
                         cli::terminalText(a).c_str());
            return 2;
        }
    }
    if (o.app.empty()) {
        std::fprintf(stderr, "halvorn uninstall: no application given\n%s", kHelp);
        return 2;
    }
    if (o.trash && o.remove) {
        std::fprintf(stderr, "halvorn uninstall: --trash and --delete exclude each other\n");
        return 2;
    }
    return 0;
}

void putText(json& j, const char* key, const std::string& text) {
    j[key] = text;
    if (auto bytes = cli::json::base64UnlessUtf8(text)) j[std::string(key) + "Bytes"] = *bytes;
}

// The items APP names: by path first, then by bundle identifier, then by name ignoring case.
HVNAppItemList candidates(const HVNAppItemList& items, const std::string& app) {
    HVNAppItemList out;
    if (app.find('/') != std::string::npos) {
        std::string want = HVNDeleteSelectedApp::realRootPath(cli::absolutePath(app));
        while (want.size() > 1 && want.back() == '/') want.pop_back();
        for (const auto& i : items) {
            if (HVNDeleteSelectedApp::realRootPath(i->path) == want) out.push_back(i);
        }
        return out;
    }
    for (const auto& i : items) {
        if (i->bundleID == app) out.push_back(i);
    }
    if (!out.empty()) return out;
    for (const auto& i : items) {
        if (HVNCommonFunction::containsIgnoringCase(i->name, app) &&
            HVNCommonFunction::containsIgnoringCase(app, i->name))
            out.push_back(i);
    }
    return out;
}

const char* outcomeKey(HVNUninstallOutcome::Where w) {
    switch (w) {
        case HVNUninstallOutcome::Where::Deleted:
            return "deleted";
        case HVNUninstallOutcome::Where::Trashed:
            return "trashed";
        case HVNUninstallOutcome::Where::Privileged:
            return "privileged";
        case HVNUninstallOutcome::Where::Gone:
            return "gone";
        case HVNUninstallOutcome::Where::Left:
            break;
    }
    return "left";
}

int runUninstall(const cli::Args& args) {
    if (cli::wantsHelp(args)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    Options opt;
    if (int rc = parseOptions(args, opt)) return rc;

    cli::catchInterrupts();

    auto& search = HVNSearchApplications::shareHVNSearchApplications();
    search.searchApplications();
    search.searchOtherTypeApp();
    const bool tty = isatty(STDERR_FILENO);
    if (tty && !opt.json) std::fprintf(stderr, "Searching for applications...");
    while (!(search.done() && search.otherTypeDone()) && !cli::interrupted())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (tty && !opt.json) std::fprintf(stderr, "\r\033[K");
    if (cli::interrupted()) {
        std::fprintf(stderr, "halvorn uninstall: search stopped; nothing was removed.\n");
        std::_Exit(130);  // the search threads are not waited for
    }

    HVNAppItemList items = search.allApp();
    for (const auto& list : {search.widgets(), search.plugIn(), search.preferences()})
        items.insert(items.end(), list.begin(), list.end());
    HVNAppItemList found = candidates(items, opt.app);
    if (found.empty()) {
        std::fprintf(stderr, "halvorn uninstall: no application '%s' (see `halvorn apps`)\n",
                     cli::terminalText(opt.app).c_str());
        return 2;
    }
    if (found.size() > 1) {
        std::fprintf(stderr, "halvorn uninstall: '%s' names %zu items; give the path of one:\n",
                     cli::terminalText(opt.app).c_str(), found.size());
        for (const auto& i : found) std::fprintf(stderr, "  %s\n", cli::terminalText(i->path).c_str());
        return 2;
    }
    const HVNAppItem& app = *found.front();
    const std::string own = HVNDeleteSelectedApp::realRootPath(app.path);

    std::vector<std::string> paths = HVNDeleteSelectedApp::deleteFiles(app);
    std::vector<std::string> keep;
    for (const auto& k : opt.keep) {
        std::string p = HVNDeleteSelectedApp::realRootPath(cli::absolutePath(k));
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        keep.push_back(p);
    }
    auto kept = [&](const std::string& p) { return std::find(keep.begin(), keep.end(), p) != keep.end(); };
    for (const auto& k : keep) {
        if (std::find(paths.begin(), paths.end(), k) == paths.end())
            std::fprintf(stderr, "halvorn uninstall: --keep %s is not among the files found; ignored\n",
                         cli::terminalText(k).c_str());
    }
    std::vector<std::string> chosen;
    for (const auto& p : paths) {
        if (!kept(p)) chosen.push_back(p);
    }
    std::vector<HVNUninstallListing> listings = HVNUninstallRemoval::list(chosen);
    int64_t total = 0;
    std::vector<int64_t> sizes;
    for (const auto& p : paths) {
        sizes.push_back(static_cast<int64_t>(HVNSearchApplications::folderSizeAtPath2(p)));
        if (!kept(p)) total += sizes.back();
    }

    bool running = false;
    if (!kept(own) && !app.bundleID.empty()) {
        for (const auto& r : hvn::Workspace::runningApplications()) {
            if (r.bundleIdentifier == app.bundleID && HVNDeleteSelectedApp::realRootPath(r.bundlePath) == own)
                running = true;
        }
    }

    if (!opt.json) {
        std::printf("%s %s (%s)\n", cli::terminalText(app.name).c_str(),
                    cli::terminalText(app.version.empty() ? "-" : app.version).c_str(),
                    cli::terminalText(app.bundleID.empty() ? "no bundle identifier" : app.bundleID).c_str());
        for (size_t i = 0; i < paths.size(); ++i) {
            std::printf("  %s %10s  %s\n", kept(paths[i]) ? "keep" : "    ",
                        HVNCommonFunction::getSizeDesc(sizes[i]).c_str(),
                        cli::terminalText(paths[i]).c_str());
        }
    }

    std::vector<HVNUninstallOutcome> outcomes;
    bool proceed = !chosen.empty();
    std::string stopReason;
    if (chosen.empty()) {
        stopReason = "every file was kept; nothing was removed.";
    } else if (running) {
        proceed = false;
        stopReason = app.name + " is running; quit it and try again. Nothing was removed.";
    } else if (!opt.yes) {
        std::string question =
            opt.trash
                ? hvn::format("Move %zu items (%s) to the trash?", chosen.size(),
                              HVNCommonFunction::getSizeDesc(total).c_str())
                : hvn::format("Are you sure you want to uninstall %s? You can't recover it. (%zu items, %s)",
                              cli::terminalText(app.name).c_str(), chosen.size(),
                              HVNCommonFunction::getSizeDesc(total).c_str());
        if (!cli::askYes(question)) {
            proceed = false;
            stopReason = "Nothing was removed.";
        }
    }
    if (proceed) outcomes = HVNUninstallRemoval::remove(listings, opt.trash);
    if (!stopReason.empty())
        std::fprintf(stderr, "halvorn uninstall: %s\n", cli::terminalText(stopReason).c_str());

    bool allGone = proceed && !outcomes.empty();
    for (const auto& o : outcomes) allGone = allGone && o.gone();

    if (opt.json) {
        json doc;
        json a;
        putText(a, "name", app.name);
        putText(a, "path", own);
        putText(a, "bundleID", app.bundleID);
        putText(a, "version", app.version);
        a["running"] = running;
        doc["app"] = std::move(a);
        doc["files"] = json::array();
        for (size_t i = 0; i < paths.size(); ++i) {
            json j;
            putText(j, "path", paths[i]);
            j["size"] = sizes[i];
            j["kept"] = kept(paths[i]);
            for (const auto& o : outcomes) {
                if (o.path != paths[i]) continue;
                j["outcome"] = outcomeKey(o.where);
                if (!o.trashedPath.empty()) putText(j, "trashedPath", o.trashedPath);
                if (!o.reason.empty()) j["reason"] = o.reason;
            }
            doc["files"].push_back(std::move(j));
        }
        doc["removed"] = allGone;
        std::printf("%s\n", doc.dump(2, ' ', false, json::error_handler_t::replace).c_str());
    } else {
        for (const auto& o : outcomes) {
            std::string path = cli::terminalText(o.path);
            switch (o.where) {
                case HVNUninstallOutcome::Where::Trashed:
                    std::printf("trashed: %s -> %s\n", path.c_str(),
                                cli::terminalText(o.trashedPath).c_str());
                    break;
                case HVNUninstallOutcome::Where::Left:
                    std::printf("left in place: %s (%s)\n", path.c_str(),
                                cli::terminalText(o.reason).c_str());
                    break;
                default:
                    std::printf("%s: %s\n", HVNUninstallRemoval::describe(o.where).c_str(), path.c_str());
                    break;
            }
        }
    }
    return allGone ? 0 : 1;
}

cli::CommandRegistration reg({"uninstall", "remove an application and the files found for it", runUninstall});

}  // namespace
