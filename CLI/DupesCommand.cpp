// `halvorn dupes`: lists the groups of identical files below the given folders, with the
// duplicate finder's engine, and with --trash or --delete removes every copy but the one
// changed longest ago in each group (asking first unless --yes), saying where each went.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CLI/Command.h"
#include "CLI/Interaction.h"
#include "CLI/Json.h"
#include "CLI/TerminalText.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/ToolBox/Duplicate/HVNDuplicateRemoval.h"
#include "HVN/Code/ToolBox/Duplicate/THDuplicationHelper.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/RunLoop.h"

namespace {

using json = nlohmann::ordered_json;

const char* kHelp =
    "usage: halvorn dupes FOLDER... [--json] [--min SIZE] [--hidden] [--trash|--delete] [--yes]\n"
    "\n"
    "Lists the groups of files with identical contents below the folders, the groups that\n"
    "waste the most space first. Files are grouped by size, then by a sampled fingerprint,\n"
    "and a group is listed only once its files were compared whole and found equal. Hard\n"
    "links to one file count as one file. Packages (such as X.app folders) are compared as\n"
    "single items. Symbolic links are not followed and other file systems mounted below a\n"
    "folder are not entered. Nothing is changed without --trash or --delete.\n"
    "\n"
    "  --json         print one JSON document on standard output:\n"
    "                 {\"groups\": [{\"size\", \"hash\", \"files\": [...]}], \"stopped\": BOOL};\n"
    "                 \"hash\" is the SHA-256 of the contents; a path that is not UTF-8 has\n"
    "                 its exact bytes in base64 at the same place of \"filesBytes\"; after a\n"
    "                 removal each group also has \"kept\" and \"removed\": [{\"path\",\n"
    "                 \"outcome\": \"trashed\" (with \"trashedPath\"), \"deleted\", \"gone\" or\n"
    "                 \"left\" (with \"reason\")}]\n"
    "  --min SIZE     leave out files smaller than SIZE bytes (suffixes K, M, G count 1000s,\n"
    "                 KiB, MiB, GiB 1024s); files under 1000 bytes are never compared\n"
    "  --hidden       also search entries whose names begin with \".\"\n"
    "  --trash        keep the copy of each group changed longest ago and move the others\n"
    "                 to the trash (the page's default way of removing; asks first)\n"
    "  --delete       the same, removing the others for good (asks first)\n"
    "  --yes          with --trash or --delete, do not ask\n"
    "  -h, --help     this text\n"
    "\n"
    "A copy is removed only while it is still the file that was compared, and a group is\n"
    "left alone when the copy that stays has changed. Ctrl-C stops the search; the groups\n"
    "confirmed so far are listed and nothing is removed. Exit status: 0, or 1 when no folder\n"
    "could be searched or a copy was left in place, 2 for bad usage, 130 when stopped.\n";

// "100", "1.5M", "20KiB": bytes; nullopt for anything else.
std::optional<uint64_t> parseSize(const std::string& text) {
    if (text.empty() || !(text[0] >= '0' && text[0] <= '9')) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || value < 0) return std::nullopt;
    std::string unit(end);
    for (auto& ch : unit) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    static const std::map<std::string, double> kUnits = {
        {"", 1},    {"B", 1},    {"K", 1e3},      {"KB", 1e3},        {"M", 1e6},           {"MB", 1e6},
        {"G", 1e9}, {"GB", 1e9}, {"KIB", 1024.0}, {"MIB", 1048576.0}, {"GIB", 1073741824.0}};
    auto it = kUnits.find(unit);
    if (it == kUnits.end()) return std::nullopt;
    double bytes = value * it->second;
    if (bytes > 1.8e19) return std::nullopt;
    return static_cast<uint64_t>(bytes);
}

struct Options {
    std::vector<std::string> folders;
    bool json = false;
    bool hidden = false;
    bool trash = false;
    bool remove = false;
    bool yes = false;
    uint64_t min = 0;
};

int parseOptions(const cli::Args& args, Options& o) {
    bool onlyFolders = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (onlyFolders || a.empty() || a[0] != '-') {
            o.folders.push_back(a);
        } else if (a == "--") {
            onlyFolders = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--hidden") {
            o.hidden = true;
        } else if (a == "--trash") {
            o.trash = true;
        } else if (a == "--delete") {
            o.remove = true;
        } else if (a == "--yes" || a == "-y") {
            o.yes = true;
        } else if (a == "--min" || a.rfind("--min=", 0) == 0) {
            std::string value;
            if (a.size() > 5) {
                value = a.substr(6);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                std::fprintf(stderr, "halvorn dupes: --min needs a size\n");
                return 2;
            }
            auto size = parseSize(value);
            if (!size) {
                std::fprintf(stderr, "halvorn dupes: --min: '%s' is not a size\n",
                             cli::terminalText(value).c_str());
                return 2;
            }
            o.min = *size;
        } else {
            std::fprintf(stderr, "halvorn dupes: unknown option '%s'\n%s", cli::terminalText(a).c_str(),
                         kHelp);
            return 2;
        }
    }
    if (o.folders.empty()) {
        std::fprintf(stderr, "halvorn dupes: no folder given\n%s", kHelp);
        return 2;
    }
    if (o.trash && o.remove) {
        std::fprintf(stderr, "halvorn dupes: --trash and --delete exclude each other\n");
        return 2;
    }
    if (o.yes && !o.trash && !o.remove) {
        std::fprintf(stderr, "halvorn dupes: --yes goes with --trash or --delete\n");
        return 2;
    }
    return 0;
}

struct Group {
    uint64_t size = 0;
    std::string hash;
    std::vector<std::string> files;
    std::string kept;                           // after a removal: the copy that stays
    std::vector<HVNDuplicateOutcome> outcomes;  // after a removal: the other copies
    uint64_t waste() const { return size * (files.size() - 1); }
};

// The modification time in nanoseconds; unreadable dates count as the newest, so such a
// file is never the one kept.
int64_t modificationTime(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return INT64_MAX;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// The copy the page keeps: the oldest modification date, the first in list order among
// equal dates.
std::string oldestCopy(const std::vector<std::string>& files) {
    std::string best;
    int64_t bestTime = 0;
    for (const auto& f : files) {
        int64_t t = modificationTime(f);
        if (best.empty() || t < bestTime) {
            best = f;
            bestTime = t;
        }
    }
    return best;
}

void removeCopies(Group& g, const HVNDuplicateRemoval& removal, bool toTrash) {
    g.kept = oldestCopy(g.files);
    const std::string keptChange = removal.changeSinceListed(g.kept);
    for (const auto& f : g.files) {
        if (f == g.kept) continue;
        if (!keptChange.empty()) {
            g.outcomes.push_back(
                HVNDuplicateRemoval::leftInPlace(f, "the copy that stays (" + g.kept + "): " + keptChange));
        } else {
            g.outcomes.push_back(toTrash ? removal.moveToTrash(f) : removal.removeForever(f));
        }
    }
}

void putPath(json& j, const char* key, const char* bytesKey, const std::string& path) {
    j[key] = path;
    if (auto b = cli::json::base64UnlessUtf8(path)) j[bytesKey] = *b;
}

json outcomeJson(const HVNDuplicateOutcome& o) {
    json j;
    putPath(j, "path", "pathBytes", o.path);
    if (o.removed() && !o.trashedPath.empty()) {
        j["outcome"] = "trashed";
        putPath(j, "trashedPath", "trashedPathBytes", o.trashedPath);
    } else if (o.removed()) {
        j["outcome"] = "deleted";
    } else if (o.status == hvn::RemovalStatus::Missing) {
        j["outcome"] = "gone";
    } else {
        j["outcome"] = "left";
        j["reason"] = o.error;
    }
    return j;
}

void printOutcome(const HVNDuplicateOutcome& o) {
    std::string path = cli::terminalText(o.path);
    if (o.removed() && !o.trashedPath.empty()) {
        std::printf("  moved to the trash: %s (as %s)\n", path.c_str(),
                    cli::terminalText(o.trashedPath).c_str());
    } else if (o.removed()) {
        std::printf("  deleted: %s\n", path.c_str());
    } else if (o.status == hvn::RemovalStatus::Missing) {
        std::printf("  already gone: %s\n", path.c_str());
    } else {
        std::printf("  left in place: %s: %s\n", path.c_str(), cli::terminalText(o.error).c_str());
    }
}

// Text under key and, when some path is not UTF-8, the exact bytes of every path under
// bytesKey (null for the paths that are), as the other commands do.
void putPaths(json& j, const char* key, const char* bytesKey, const std::vector<std::string>& paths) {
    json texts = json::array();
    json bytes = json::array();
    bool anyBytes = false;
    for (const auto& p : paths) {
        texts.push_back(p);
        auto b = cli::json::base64UnlessUtf8(p);
        anyBytes = anyBytes || b.has_value();
        bytes.push_back(b ? json(*b) : json(nullptr));
    }
    j[key] = std::move(texts);
    if (anyBytes) j[bytesKey] = std::move(bytes);
}

void drawProgress(const THDuplicationHelper& engine, std::chrono::steady_clock::time_point start) {
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string path = cli::terminalText(engine.currentPath());
    std::string line =
        hvn::format("%5.1fs %llu files ", secs, static_cast<unsigned long long>(engine.scannedFileCount()));
    // Keep the line within one row: the end of the path is the informative part.
    const size_t room = line.size() < 100 ? 100 - line.size() : 0;
    if (path.size() > room) {
        size_t cut = path.size() - room + 3;
        while (cut < path.size() && (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80) ++cut;
        path = "..." + path.substr(cut);
    }
    std::fprintf(stderr, "\r\033[K%s%s", line.c_str(), path.c_str());
    std::fflush(stderr);
}

int runDupes(const cli::Args& args) {
    if (cli::wantsHelp(args)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    Options opt;
    if (int rc = parseOptions(args, opt)) return rc;

    std::vector<std::string> folders;
    for (const auto& f : opt.folders) {
        char* real = nullptr;
        std::string path = f;
        // Relative names are taken from the working folder; links are not resolved.
        if (path[0] != '/') {
            if ((real = ::getcwd(nullptr, 0))) {
                path = std::string(real) + "/" + path;
                std::free(real);
            }
        }
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            std::fprintf(stderr, "halvorn dupes: %s: %s\n", cli::terminalText(f).c_str(),
                         std::strerror(errno));
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "halvorn dupes: %s is a symbolic link; not followed\n",
                         cli::terminalText(f).c_str());
            continue;
        }
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
            std::fprintf(stderr, "halvorn dupes: %s is not a folder\n", cli::terminalText(f).c_str());
            continue;
        }
        folders.push_back(path);
    }
    if (folders.empty()) return 1;

    auto& loop = hvn::RunLoop::main();
    loop.bindToCurrentThread();
    cli::catchInterrupts();

    THDuplicationHelper engine;
    engine.searchPaths = folders;
    engine.minFileSize = opt.min;
    engine.maxFileSize = 0;
    engine.filterPackage = true;
    engine.skipsHiddenItems = !opt.hidden;

    std::map<std::string, Group> groups;
    HVNDuplicateRemoval removal;
    bool finished = false;
    hvn::ObservationToken token(hvn::NotificationCenter::defaultCenter().addObserver(
        kTHDuplicationNotification, [&](const hvn::Notification& n) {
            const auto* self = std::any_cast<const THDuplicationHelper*>(&n.object);
            if (!self || *self != &engine) return;
            if (n.userInfo.find(kTHDuplicationFinished)) {
                finished = true;
                return;
            }
            const hvn::Value* hash = n.userInfo.find(kTHDuplicationFileHash);
            const hvn::Value* size = n.userInfo.find(kTHDuplicationFileSize);
            const hvn::Value* list = n.userInfo.find(kTHDuplicationFileList);
            if (!hash || !size || !list || !list->isArray()) return;
            Group g;
            g.hash = hash->asString();
            g.size = static_cast<uint64_t>(size->asInteger());
            for (const auto& p : list->asArray()) g.files.push_back(p.asString());
            // What each file is now is what a removal later checks against.
            if (opt.trash || opt.remove) removal.listGroup(g.files);
            groups[g.hash] = std::move(g);
        }));

    const bool progress = isatty(STDERR_FILENO) != 0;
    const auto start = std::chrono::steady_clock::now();
    engine.startSearch();
    bool stopAsked = false;
    while (!finished) {
        loop.runUntil([&] { return finished || cli::interrupted(); }, progress ? 0.1 : 0.5);
        if (cli::interrupted() && !stopAsked) {
            stopAsked = true;
            engine.stopSearch();
        }
        if (progress && !finished) drawProgress(engine, start);
    }
    engine.waitUntilFinished();
    if (progress) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
    const bool stopped = engine.wasStopped() || cli::interrupted();
    if (stopped)
        std::fprintf(stderr, "halvorn dupes: search stopped; the groups below are the ones found so far.\n");

    std::vector<Group> sorted;
    sorted.reserve(groups.size());
    for (auto& [hash, g] : groups) {
        std::sort(g.files.begin(), g.files.end());
        sorted.push_back(std::move(g));
    }
    std::sort(sorted.begin(), sorted.end(), [](const Group& a, const Group& b) {
        if (a.waste() != b.waste()) return a.waste() > b.waste();
        if (a.size != b.size) return a.size > b.size;
        return a.files.front() < b.files.front();
    });

    bool removing = (opt.trash || opt.remove) && !stopped && !sorted.empty();
    if (removing && !opt.yes) {
        size_t count = 0;
        uint64_t bytes = 0;
        for (const auto& g : sorted) {
            count += g.files.size() - 1;
            bytes += g.waste();
            if (opt.json) continue;
            const std::string kept = oldestCopy(g.files);
            std::printf("keep    %s\n", cli::terminalText(kept).c_str());
            for (const auto& f : g.files) {
                if (f != kept) std::printf("  remove %s\n", cli::terminalText(f).c_str());
            }
        }
        const std::string amount = HVNCommonFunction::getSizeDesc(static_cast<int64_t>(bytes));
        const std::string question =
            opt.trash
                ? hvn::format(
                      "Keep the oldest copy of each group and move %zu duplicate files (%s) to the trash?",
                      count, amount.c_str())
                : hvn::format(
                      "Keep the oldest copy of each group and delete %zu duplicate files (%s) "
                      "permanently? They cannot be restored.",
                      count, amount.c_str());
        if (!cli::askYes(question)) {
            std::fprintf(stderr, "Nothing was removed.\n");
            removing = false;
        }
    }
    bool leftSome = false;
    if (removing) {
        for (auto& g : sorted) {
            removeCopies(g, removal, opt.trash);
            for (const auto& o : g.outcomes) leftSome = leftSome || !o.gone();
        }
    }

    if (opt.json) {
        json doc;
        doc["groups"] = json::array();
        for (const auto& g : sorted) {
            json jg;
            jg["size"] = g.size;
            jg["hash"] = g.hash;
            putPaths(jg, "files", "filesBytes", g.files);
            if (removing) {
                putPath(jg, "kept", "keptBytes", g.kept);
                jg["removed"] = json::array();
                for (const auto& o : g.outcomes) jg["removed"].push_back(outcomeJson(o));
            }
            doc["groups"].push_back(std::move(jg));
        }
        doc["stopped"] = stopped;
        std::printf("%s\n", doc.dump(2, ' ', false, json::error_handler_t::replace).c_str());
    } else {
        uint64_t waste = 0, extra = 0;
        for (const auto& g : sorted) {
            std::printf("%zu files of %s (%llu bytes each), %s to gain\n", g.files.size(),
                        HVNCommonFunction::getSizeDesc(static_cast<int64_t>(g.size)).c_str(),
                        static_cast<unsigned long long>(g.size),
                        HVNCommonFunction::getSizeDesc(static_cast<int64_t>(g.waste())).c_str());
            if (removing) {
                std::printf("  kept: %s\n", cli::terminalText(g.kept).c_str());
                for (const auto& o : g.outcomes) printOutcome(o);
            } else {
                for (const auto& f : g.files) std::printf("  %s\n", cli::terminalText(f).c_str());
            }
            waste += g.waste();
            extra += g.files.size() - 1;
        }
        if (sorted.empty()) {
            std::printf("No duplicate files found.\n");
        } else if (removing) {
            uint64_t removedFiles = 0, removedBytes = 0, left = 0;
            for (const auto& g : sorted) {
                for (const auto& o : g.outcomes) {
                    if (o.removed()) {
                        ++removedFiles;
                        removedBytes += g.size;
                    } else if (!o.gone()) {
                        ++left;
                    }
                }
            }
            std::printf("%s %llu duplicate %s (%s)", opt.trash ? "Moved to the trash" : "Deleted",
                        static_cast<unsigned long long>(removedFiles), removedFiles == 1 ? "file" : "files",
                        HVNCommonFunction::getSizeDesc(static_cast<int64_t>(removedBytes)).c_str());
            if (left > 0) std::printf("; %llu left in place", static_cast<unsigned long long>(left));
            std::printf("\n");
        } else {
            std::printf("%zu %s, %llu duplicate %s, %s to gain\n", sorted.size(),
                        sorted.size() == 1 ? "group" : "groups", static_cast<unsigned long long>(extra),
                        extra == 1 ? "file" : "files",
                        HVNCommonFunction::getSizeDesc(static_cast<int64_t>(waste)).c_str());
        }
    }
    if (stopped) return 130;
    return leftSome ? 1 : 0;
}

cli::CommandRegistration reg({"dupes", "list groups of identical files below folders", runDupes});

}  // namespace
