// `halvorn apps`: the applications, widgets, Internet plug-ins and preference panes that the
// application search finds (the uninstaller's lists), with their sizes.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "CLI/Command.h"
#include "CLI/Interaction.h"
#include "CLI/Json.h"
#include "CLI/TerminalText.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/HVNSearchApplications.h"
#include "HVN/Code/ToolBox/Uninstall/HVNUninstallFilters.h"
#include "Platform/Log.h"

namespace {

using json = nlohmann::ordered_json;

const char* kHelp =
    "usage: halvorn apps [--json]\n"
    "\n"
    "Lists the installed applications (without the system's own and without those inside\n"
    "another application), then the widgets, Internet plug-ins and preference panes, each\n"
    "with its size, version and path, sorted by name.\n"
    "\n"
    "  --json         print {\"items\": [{\"kind\", \"name\", \"path\", \"bundleID\", \"version\",\n"
    "                 \"size\", \"lastUsed\"}, ...]}; kind is \"application\", \"widget\",\n"
    "                 \"plugin\" or \"preferencePane\"\n"
    "  -h, --help     this text\n"
    "\n"
    "Ctrl-C stops the search; nothing is listed then.\n";

void putText(json& j, const char* key, const std::string& text) {
    j[key] = text;
    if (auto bytes = cli::json::base64UnlessUtf8(text)) j[std::string(key) + "Bytes"] = *bytes;
}

int runApps(const cli::Args& args) {
    if (cli::wantsHelp(args)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    bool asJson = false;
    for (const auto& a : args) {
        if (a == "--json") {
            asJson = true;
        } else {
            std::fprintf(stderr, "halvorn apps: unknown argument '%s'\n%s", cli::terminalText(a).c_str(),
                         kHelp);
            return 2;
        }
    }
    cli::catchInterrupts();

    auto& search = HVNSearchApplications::shareHVNSearchApplications();
    search.searchApplications();
    search.searchOtherTypeApp();
    const bool progress = !asJson && isatty(STDERR_FILENO);
    if (progress) std::fprintf(stderr, "Searching for applications...");
    while (!(search.done() && search.otherTypeDone()) && !cli::interrupted())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (progress) std::fprintf(stderr, "\r\033[K");
    if (cli::interrupted()) {
        std::fprintf(stderr, "halvorn apps: search stopped.\n");
        std::_Exit(130);  // the search threads are not waited for
    }

    struct Kind {
        const char* name;
        const char* title;
        HVNAppItemList items;
    };
    Kind kinds[] = {{"application", "Applications", search.allApp()},
                    {"widget", "Widgets", search.widgets()},
                    {"plugin", "Plugins", search.plugIn()},
                    {"preferencePane", "Preferences", search.preferences()}};
    for (auto& k : kinds) HVNUninstallFilters::sort(k.items, HVNUninstallFilters::ByName);

    if (asJson) {
        json doc;
        doc["items"] = json::array();
        for (const auto& k : kinds) {
            for (const auto& item : k.items) {
                json j;
                j["kind"] = k.name;
                putText(j, "name", item->name);
                putText(j, "path", item->path);
                putText(j, "bundleID", item->bundleID);
                putText(j, "version", item->version);
                j["size"] = item->appSizeIntValue();
                j["lastUsed"] =
                    item->lastUseDate ? json(cli::json::isoDate(*item->lastUseDate)) : json(nullptr);
                doc["items"].push_back(std::move(j));
            }
        }
        std::printf("%s\n", doc.dump(2, ' ', false, json::error_handler_t::replace).c_str());
        return 0;
    }
    for (const auto& k : kinds) {
        std::printf("%s(%zu)\n", k.title, k.items.size());
        for (const auto& item : k.items) {
            std::printf("  %10s  %-32s %-10s %s\n",
                        HVNCommonFunction::getSizeDesc(item->appSizeIntValue()).c_str(),
                        cli::terminalText(item->name).c_str(),
                        cli::terminalText(item->version.empty() ? "-" : item->version).c_str(),
                        cli::terminalText(item->path).c_str());
        }
    }
    return 0;
}

cli::CommandRegistration reg({"apps", "list the applications, widgets, plug-ins and preference panes",
                              runApps});

}  // namespace
