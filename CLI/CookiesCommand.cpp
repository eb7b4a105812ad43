// `halvorn cookies`: the cookies white list. Lists the kept domains and the cookie domains
// found in the browsers, and moves domains between the two lists (the white list file is
// rewritten at once).
#include <algorithm>
#include <cstdio>
#include <string>

#include "CLI/Command.h"
#include "CLI/Json.h"
#include "CLI/TerminalText.h"
#include "HVN/Code/Setting/HVNWhiteListVC.h"

namespace {

const char* kUsage =
    "usage: halvorn cookies list [--json]\n"
    "       halvorn cookies keep DOMAIN...\n"
    "       halvorn cookies unkeep DOMAIN...\n"
    "\n"
    "The cookies white list (~/Library/ignore.plist): the cookies of a kept domain are never\n"
    "offered for removal and never removed.\n"
    "\n"
    "  list      the kept domains, then the cookie domains found in Safari, Chrome and\n"
    "            Firefox that would be offered for removal\n"
    "  keep      add domains to the white list (a leading dot is dropped)\n"
    "  unkeep    take domains off the white list\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "halvorn cookies: %s\n\n%s", message.c_str(), kUsage);
    return 2;
}

int runCookies(const cli::Args& args) {
    if (cli::wantsHelp(args)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.empty()) return usageError("missing subcommand");
    const std::string& sub = args[0];
    std::vector<std::string> operands;
    bool json = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--json" && sub == "list") {
            json = true;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return usageError("unknown option '" + args[i] + "'");
        } else {
            operands.push_back(args[i]);
        }
    }
    if (sub == "list") {
        if (!operands.empty()) return usageError("list takes no operands");
        HVNWhiteListVC whiteList;
        if (json) {
            nlohmann::json doc;
            doc["kept"] = nlohmann::json::array();
            doc["found"] = nlohmann::json::array();
            for (const auto& d : whiteList.allCookiesKeywords) doc["kept"].push_back(d);
            for (const auto& d : whiteList.allKeywords) doc["found"].push_back(d);
            std::printf("%s\n", doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
            return 0;
        }
        std::printf("Cookies white list (%zu):\n", whiteList.allCookiesKeywords.size());
        for (const auto& d : whiteList.allCookiesKeywords) std::printf("  %s\n", cli::terminalText(d).c_str());
        std::printf("Found in the browsers (%zu):\n", whiteList.allKeywords.size());
        for (const auto& d : whiteList.allKeywords) std::printf("  %s\n", cli::terminalText(d).c_str());
        return 0;
    }
    if (sub != "keep" && sub != "unkeep") return usageError("unknown subcommand '" + sub + "'");
    if (operands.empty()) return usageError("missing DOMAIN");
    for (const auto& d : operands) {
        if (HVNWhiteListVC::deleteFirstDot(d).empty() || d.find_first_of(" \t\n/") != std::string::npos)
            return usageError("not a cookie domain: '" + cli::terminalText(d) + "'");
    }
    HVNWhiteListVC whiteList;
    std::vector<std::string> domains;
    for (const auto& d : operands) domains.push_back(HVNWhiteListVC::deleteFirstDot(d));
    if (sub == "keep") {
        whiteList.addCookies(domains);
    } else {
        whiteList.cancelCookies(domains);
    }
    // The move rewrote the file; read it back to tell what it holds now.
    whiteList.getCookiesKeepList();
    bool ok = true;
    for (const auto& d : domains) {
        bool kept = std::find(whiteList.keepCookiesRecord.begin(), whiteList.keepCookiesRecord.end(), d) !=
                    whiteList.keepCookiesRecord.end();
        if (kept != (sub == "keep")) ok = false;
    }
    if (!ok) {
        std::fprintf(stderr, "halvorn cookies: the white list %s could not be written\n",
                     cli::terminalText(HVNWhiteListVC::whiteListPath()).c_str());
        return 1;
    }
    return 0;
}

const cli::CommandRegistration kRegistration({"cookies", "list the cookies white list, keep or unkeep domains",
                                              runCookies});

}  // namespace
