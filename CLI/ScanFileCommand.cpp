// halvorn scan-file: the signature check of the internet-security scan for single paths.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "CLI/Command.h"
#include "CLI/Json.h"
#include "CLI/TerminalText.h"
#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"
#include "Sentrel/VirusManager.h"

namespace {

const char* kUsage =
    "usage: halvorn scan-file [--json] [--signatures DB] PATH...\n"
    "\n"
    "Checks each PATH against the shipped virus signatures (Virus.db in the bundle), as the\n"
    "internet-security scan does, and prints one line per path:\n"
    "\n"
    "  PATH: NAME        the file carries the signature NAME\n"
    "  PATH: DIR         the path is a folder (links followed); its entries are not checked\n"
    "  PATH: clean       no signature matches\n"
    "  PATH: not found   nothing exists at the path\n"
    "\n"
    "  --json            print a JSON array instead: {\"path\", \"result\"} per path, result\n"
    "                    being the signature name, \"DIR\", \"\" (clean) or null (not found);\n"
    "                    \"pathBytes\" / \"resultBytes\" hold the exact bytes in base64 when a\n"
    "                    text is not UTF-8\n"
    "  --signatures DB   read the signatures from the database DB (table HVN_VIRUS_CODE)\n"
    "  --                every later argument is a PATH\n"
    "\n"
    "Exit status: 0 when no signature matched, 1 when one did, 2 on bad usage.\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "halvorn scan-file: %s\n\n%s", cli::terminalText(message).c_str(), kUsage);
    return 2;
}

void putText(nlohmann::json& j, const char* key, const char* bytesKey, const std::string& text) {
    j[key] = text;
    if (auto bytes = cli::json::base64UnlessUtf8(text)) j[bytesKey] = *bytes;
}

int runScanFile(const cli::Args& args) {
    bool json = false;
    std::optional<std::string> signatures;
    std::vector<std::string> paths;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            paths.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--json") {
            json = true;
        } else if (a == "--signatures") {
            if (i + 1 >= args.size()) return usageError("--signatures needs a database");
            signatures = args[++i];
        } else {
            return usageError("unknown option '" + a + "'");
        }
    }
    if (paths.empty()) return usageError("missing PATH");

    std::vector<HVNVirusCodeObjPtr> codes;
    if (signatures) {
        FILE* probe = std::fopen(signatures->c_str(), "rb");
        if (!probe) {
            std::fprintf(stderr, "halvorn scan-file: cannot read the signature database %s\n",
                         cli::terminalText(*signatures).c_str());
            return 2;
        }
        std::fclose(probe);
        codes = HVNPathDBManager(std::string(), *signatures).getAllVirusCodeObj();
    } else {
        codes = HVNPathDBManager().getAllVirusCodeObj();
    }
    if (codes.empty()) std::fprintf(stderr, "halvorn scan-file: no signatures were loaded; every file is clean\n");

    VirusManager manager;
    bool matched = false;
    nlohmann::json doc = nlohmann::json::array();
    for (const std::string& path : paths) {
        std::optional<std::string> answer = manager.checkVirus(path, codes);
        if (answer && !answer->empty() && *answer != "DIR") matched = true;
        if (json) {
            nlohmann::json j;
            putText(j, "path", "pathBytes", path);
            if (answer) {
                putText(j, "result", "resultBytes", *answer);
            } else {
                j["result"] = nullptr;
            }
            doc.push_back(std::move(j));
            continue;
        }
        std::string shown = !answer ? "not found" : answer->empty() ? "clean" : cli::terminalText(*answer);
        std::printf("%s: %s\n", cli::terminalText(path).c_str(), shown.c_str());
    }
    if (json) std::printf("%s\n", doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return matched ? 1 : 0;
}

const cli::CommandRegistration registration{
    cli::Command{"scan-file", "check files against the virus signatures (PATH...)", runScanFile}};

}  // namespace
