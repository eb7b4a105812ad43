// `halvorn startup`: the startup page from the terminal. Lists the login items and launch
// services that start at login, switches one off or on, or removes one (asking first unless
// --yes) and says where it went.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CLI/Command.h"
#include "CLI/Interaction.h"
#include "CLI/Json.h"
#include "CLI/TerminalText.h"
#include "HVN/Code/ToolBox/Startup/HVNStartupServer.h"
#include "HVN/Code/ToolBox/Startup/HVNStartupVC.h"

namespace {

using json = nlohmann::ordered_json;

const char* kHelp =
    "usage: halvorn startup [list | disable NAME | enable NAME | remove NAME [--trash | --delete]]\n"
    "                       [--json] [--yes]\n"
    "\n"
    "Lists what starts when the user logs in: the login items (autostart entries), then the\n"
    "launch services (launch agents and daemons of the launch folders, and the user's systemd\n"
    "units that are enabled or were disabled here). Each line shows the status (ON or OFF),\n"
    "the kind, the name and the file.\n"
    "\n"
    "  list           the list (the default)\n"
    "  disable NAME   switch the entry off (a login item is kept aside, a launch service can\n"
    "                 no longer start, a unit loses its .wants links)\n"
    "  enable NAME    switch it on again\n"
    "  remove NAME    remove the entry: a launch service's file is deleted (what this user\n"
    "                 may not delete goes to the privileged helper), a login item leaves the\n"
    "                 login items; asks first\n"
    "  --yes          remove without asking\n"
    "  --delete       delete a launch service's file (the default, as the startup page does)\n"
    "  --trash        move a launch service's file to the trash instead; a file this user may\n"
    "                 not move stays where it is\n"
    "  --json         print one JSON document\n"
    "  -h, --help     this text\n"
    "\n"
    "NAME is the name shown in the list, or the file (property list, unit or target) of the\n"
    "entry when several entries share a name. Exit status: 0, 1 when the entry was not found\n"
    "or the change failed, 2 for bad usage.\n";

struct Options {
    std::string action = "list";
    std::string name;
    bool json = false;
    bool yes = false;
    bool trash = false;
};

void putFileText(json& j, const char* key, const char* bytesKey, const std::string& text) {
    j[key] = text;
    if (auto bytes = cli::json::base64UnlessUtf8(text)) j[bytesKey] = *bytes;
}

std::string fileOf(const LoginItem& item) {
    return item.isLogin ? item.url.value_or(std::string()) : item.path;
}

json itemJson(const LoginItem& item) {
    json j;
    putFileText(j, "name", "nameBytes", item.name);
    j["kind"] = item.isLogin ? "login item"
                             : (HVNStartupServer::isUserUnit(item) ? "systemd unit" : "launch service");
    j["type"] = item.type;
    j["status"] = item.disable ? HVNStartupVC::kStatusOff : HVNStartupVC::kStatusOn;
    j["disabled"] = item.disable;
    putFileText(j, "filePath", "filePathBytes", fileOf(item));
    return j;
}

void printJson(const json& j) {
    std::printf("%s\n", j.dump(2, ' ', false, json::error_handler_t::replace).c_str());
}

int parseOptions(const cli::Args& args, Options& opt) {
    std::vector<std::string> words;
    for (const auto& a : args) {
        if (a == "--json") {
            opt.json = true;
        } else if (a == "--yes" || a == "-y") {
            opt.yes = true;
        } else if (a == "--delete") {
            opt.trash = false;
        } else if (a == "--trash") {
            opt.trash = true;
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "halvorn startup: unknown option '%s'\n\n%s", a.c_str(), kHelp);
            return 2;
        } else {
            words.push_back(a);
        }
    }
    if (!words.empty()) opt.action = words[0];
    const bool needsName = opt.action == "disable" || opt.action == "enable" || opt.action == "remove";
    if (opt.action != "list" && !needsName) {
        std::fprintf(stderr, "halvorn startup: unknown action '%s'\n\n%s", opt.action.c_str(), kHelp);
        return 2;
    }
    if ((needsName && words.size() != 2) || (!needsName && words.size() > 1)) {
        std::fprintf(stderr, "%s", kHelp);
        return 2;
    }
    if (needsName) opt.name = words[1];
    return 0;
}

// The index of the entry called name (or whose file is name); -1 when none, -2 when several.
long findEntry(const std::vector<LoginItem>& data, const std::string& name) {
    long found = -1;
    for (size_t i = 0; i < data.size(); ++i) {
        if (fileOf(data[i]) == name) return static_cast<long>(i);
    }
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i].name != name) continue;
        if (found >= 0) return -2;
        found = static_cast<long>(i);
    }
    return found;
}

std::string kindText(const LoginItem& item) {
    if (item.isLogin) return "login item";
    return HVNStartupServer::isUserUnit(item) ? "systemd unit" : "launch service";
}

int runStartup(const cli::Args& args) {
    if (cli::wantsHelp(args)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    Options opt;
    if (int rc = parseOptions(args, opt)) return rc;

    HVNStartupServer& server = HVNStartupServer::shareHVNStartupServer();
    server.scanStartup();

    if (opt.action == "list") {
        if (opt.json) {
            json items = json::array();
            for (const auto& item : server.data) items.push_back(itemJson(item));
            printJson(json{{"items", items}});
        } else if (server.data.empty()) {
            std::printf("%s\n", HVNStartupVC::kEmptyText);
        } else {
            for (const auto& item : server.data) {
                std::printf("%-3s  %-14s  %s  %s\n",
                            item.disable ? HVNStartupVC::kStatusOff : HVNStartupVC::kStatusOn,
                            kindText(item).c_str(), cli::terminalText(item.name).c_str(),
                            cli::terminalText(fileOf(item)).c_str());
            }
        }
        return 0;
    }

    const long index = findEntry(server.data, opt.name);
    if (index < 0) {
        std::fprintf(stderr, "halvorn startup: %s '%s'%s\n",
                     index == -2 ? "several entries are called" : "no startup entry called",
                     cli::terminalText(opt.name).c_str(), index == -2 ? "; name its file instead" : "");
        return 1;
    }
    const LoginItem item = server.data[static_cast<size_t>(index)];

    if (opt.action == "disable" || opt.action == "enable") {
        const bool disable = opt.action == "disable";
        std::string error;
        bool done = true;
        const bool already = item.disable == disable;
        if (!already) {
            if (item.isLogin) {
                done = server.manager().setItemDisable(item, disable);
                if (!done) error = "the login items could not be changed";
            } else {
                done = server.setServerDisable(item, disable, &error);
            }
        }
        if (opt.json) {
            json j = itemJson(item);
            j["disabled"] = done ? disable : item.disable;
            j["status"] =
                (done ? disable : item.disable) ? HVNStartupVC::kStatusOff : HVNStartupVC::kStatusOn;
            j["changed"] = done && !already;
            if (!done) j["error"] = error;
            printJson(j);
        } else if (done) {
            std::printf("%s %s%s\n", disable ? "Disabled" : "Enabled", cli::terminalText(item.name).c_str(),
                        already ? " (it already was)" : "");
        }
        if (!done) {
            std::fprintf(stderr, "halvorn startup: could not %s %s: %s\n", opt.action.c_str(),
                         cli::terminalText(item.name).c_str(), cli::terminalText(error).c_str());
            return 1;
        }
        return 0;
    }

    // remove
    if (!opt.yes) {
        const std::string question = "Remove the " + kindText(item) + " " + cli::terminalText(item.name) +
                                     " (" + cli::terminalText(fileOf(item)) + ")?";
        if (!cli::askYes(question)) {
            std::fprintf(stderr, "Nothing removed.\n");
            return 1;
        }
    }
    for (auto& i : server.data) i.isCheck = false;
    server.data[static_cast<size_t>(index)].isCheck = true;
    const auto removals = server.removeLogin(opt.trash);
    bool all = !removals.empty();
    json out = json::array();
    for (const auto& r : removals) {
        all = all && r.removed;
        json j;
        putFileText(j, "name", "nameBytes", r.name);
        putFileText(j, "filePath", "filePathBytes", r.path);
        j["removed"] = r.removed;
        j[r.removed ? "wentTo" : "reason"] = r.outcome;
        if (!r.trashedPath.empty()) putFileText(j, "trashedPath", "trashedPathBytes", r.trashedPath);
        out.push_back(j);
        if (opt.json) continue;
        if (r.removed) {
            std::string where = r.outcome;
            if (!r.trashedPath.empty()) where += " as " + cli::terminalText(r.trashedPath);
            std::printf("Removed %s: %s (%s)\n", cli::terminalText(r.name).c_str(), where.c_str(),
                        cli::terminalText(r.path).c_str());
        } else {
            std::fprintf(stderr, "halvorn startup: could not remove %s: %s\n",
                         cli::terminalText(r.name).c_str(), cli::terminalText(r.outcome).c_str());
        }
    }
    if (opt.json) printJson(json{{"removals", out}});
    return all ? 0 : 1;
}

const cli::CommandRegistration registration{
    cli::Command{"startup", "list, disable, enable or remove what starts at login", runStartup}};

}  // namespace
