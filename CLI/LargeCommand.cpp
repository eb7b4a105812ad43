// `halvorn large`: the large-and-old-files tool from the terminal. Searches the given
// folders with the tool's engine for files larger than a size, narrows them by the age of
// their last content change, lists them, and with --trash or --delete removes them (asking
// first unless --yes), saying where each one went.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>

#include "CLI/Command.h"
#include "CLI/Interaction.h"
#include "CLI/Json.h"
#include "CLI/TerminalText.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeAndOldFileScanner.h"
#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeAndOldVC.h"
#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeFileGroups.h"
#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeFileRemoval.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/RunLoop.h"

namespace {

using json = nlohmann::ordered_json;

const char* kHelp =
    "usage: halvorn large [--min SIZE] [--age AGE] FOLDER... [--json] [--trash|--delete] [--yes]\n"
    "\n"
    "Lists the files (and application bundles) below the folders that are larger than SIZE,\n"
    "largest first. Nothing is changed without --trash or --delete.\n"
    "\n"
    "  --min SIZE     larger than SIZE bytes (default 50M); SIZE is a number of bytes or a\n"
    "                 number with K, M, G or T (decimal: 50M = 50000000)\n"
    "  --age AGE      only files whose content last changed at least AGE ago; AGE is one of\n"
    "                 \"any time\", \"a week ago\", \"two weeks ago\", \"a month ago\",\n"
    "                 \"three months ago\", \"half a year ago\", \"one year ago\", \"two years ago\"\n"
    "  --json         print {\"files\": [{\"path\", \"size\", \"modified\", \"accessed\"}, ...]}\n"
    "  --trash        move the files found to the trash (asks first)\n"
    "  --delete       remove the files found for good (asks first)\n"
    "  --yes          with --trash or --delete, do not ask\n"
    "  -h, --help     this text\n"
    "\n"
    "A file is removed only while it is still the one that was found. Ctrl-C stops the\n"
    "search; what was found so far is listed and nothing is removed.\n";

struct Options {
    int64_t minimum = HVNLargeAndOldFileScanner::kDefaultLimitSize;
    int64_t ageSeconds = 0;
    std::vector<std::string> folders;
    bool json = false;
    bool trash = false;
    bool remove = false;
    bool yes = false;
};

// "123", "50M", "1.5G", "10kb": decimal units. nullopt when not a size or out of range.
std::optional<int64_t> parseSize(const std::string& text) {
    if (text.empty()) return std::nullopt;
    size_t i = 0;
    while (i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.')) ++i;
    std::string number = text.substr(0, i);
    std::string unit = text.substr(i);
    if (number.empty() || std::count(number.begin(), number.end(), '.') > 1 || number == ".")
        return std::nullopt;
    if (!unit.empty() && (unit.back() == 'B' || unit.back() == 'b')) unit.pop_back();
    double factor = 1;
    if (unit.size() == 1) {
        switch (std::toupper(static_cast<unsigned char>(unit[0]))) {
            case 'K':
                factor = 1e3;
                break;
            case 'M':
                factor = 1e6;
                break;
            case 'G':
                factor = 1e9;
                break;
            case 'T':
                factor = 1e12;
                break;
            default:
                return std::nullopt;
        }
    } else if (!unit.empty()) {
        return std::nullopt;
    }
    if (number.find('.') == std::string::npos) {
        errno = 0;
        char* end = nullptr;
        unsigned long long v = std::strtoull(number.c_str(), &end, 10);
        if (errno != 0 || *end != '\0') return std::nullopt;
        auto f = static_cast<unsigned long long>(factor);
        if (v > static_cast<unsigned long long>(INT64_MAX) / f) return std::nullopt;
        return static_cast<int64_t>(v * f);
    }
    double v = std::strtod(number.c_str(), nullptr) * factor;
    if (!(v >= 0) || v >= 9.2e18) return std::nullopt;
    return static_cast<int64_t>(v);
}

int parseOptions(const cli::Args& args, Options& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* name, std::string& out) {
            std::string prefix = std::string(name) + "=";
            if (a.rfind(prefix, 0) == 0) {
                out = a.substr(prefix.size());
                return true;
            }
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        if (a == "--json") {
            o.json = true;
        } else if (a == "--trash") {
            o.trash = true;
        } else if (a == "--delete") {
            o.remove = true;
        } else if (a == "--yes" || a == "-y") {
            o.yes = true;
        } else if (a == "--min" || a.rfind("--min=", 0) == 0) {
            std::string v;
            if (!value("--min", v)) {
                std::fprintf(stderr, "halvorn large: --min needs a size\n");
                return 2;
            }
            auto size = parseSize(v);
            if (!size) {
                std::fprintf(
                    stderr,
                    "halvorn large: --min: '%s' is not a size (bytes, or a number with K, M, G or T)\n",
                    cli::terminalText(v).c_str());
                return 2;
            }
            o.minimum = *size;
        } else if (a == "--age" || a.rfind("--age=", 0) == 0) {
            std::string v;
            if (!value("--age", v)) {
                std::fprintf(stderr, "halvorn large: --age needs an age\n");
                return 2;
            }
            auto seconds = HVNLargeFileGroups::secondsOfAgeKey(v);
            if (!seconds) {
                std::string keys;
                for (const auto& [k, s] : HVNLargeFileGroups::timeDic())
                    keys += (keys.empty() ? "\"" : ", \"") + k + "\"";
                std::fprintf(stderr, "halvorn large: --age: '%s' is not one of %s\n",
                             cli::terminalText(v).c_str(), keys.c_str());
                return 2;
            }
            o.ageSeconds = *seconds;
        } else if (a == "--") {
            for (++i; i < args.size(); ++i) o.folders.push_back(args[i]);
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "halvorn large: unknown option '%s'\n%s", cli::terminalText(a).c_str(),
                         kHelp);
            return 2;
        } else {
            o.folders.push_back(a);
        }
    }
    if (o.folders.empty()) {
        std::fprintf(stderr, "halvorn large: no folder given\n%s", kHelp);
        return 2;
    }
    if (o.trash && o.remove) {
        std::fprintf(stderr, "halvorn large: --trash and --delete exclude each other\n");
        return 2;
    }
    if (o.yes && !o.trash && !o.remove) {
        std::fprintf(stderr, "halvorn large: --yes goes with --trash or --delete\n");
        return 2;
    }
    return 0;
}

// Runs the folders one after another through the engine, as the tool's page does.
class Run : public HVNLargeAndOldFileScannerDelegate {
public:
    Run(HVNLargeAndOldFileScanner& scanner, HVNNodeList folders)
        : scanner_(scanner), folders_(std::move(folders)) {
        scanner_.delegate = this;
    }
    ~Run() override { scanner_.delegate = nullptr; }

    void start() { next(); }
    void stop() {
        if (done_ || stopping_) return;
        stopping_ = true;
        scanner_.cancel.store(true);
        scanner_.cancelScan();
    }
    bool done() const { return done_; }
    bool stopped() const { return stopping_; }
    size_t folderIndex() const { return index_; }

    void didEndScanObj(const HVNScaneOuputObjectPtr&) override {
        if (stopping_) return;
        ++index_;
        next();
    }
    void cancelScan(const HVNScaneOuputObjectPtr&) override { done_ = true; }

private:
    void next() {
        if (index_ >= folders_.size()) {
            done_ = true;
            return;
        }
        scanner_.cancel.store(false);
        scanner_.startScanObj(folders_[index_], scanner_.limitSize);
    }

    HVNLargeAndOldFileScanner& scanner_;
    HVNNodeList folders_;
    size_t index_ = 0;
    bool done_ = false;
    bool stopping_ = false;
};

// The path being looked at, on standard error, while standard error is a terminal.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {
        if (!enabled_) return;
        token_ = hvn::NotificationCenter::defaultCenter().addObserver(
            kUpdateLargeAndOldFilePathNotification, [this](const hvn::Notification& n) {
                if (const auto* u = std::any_cast<HVNLargeAndOldPathUpdate>(&n.object)) {
                    for (const auto& [folder, path] : *u) path_ = path;
                }
            });
        start_ = std::chrono::steady_clock::now();
    }
    ~ProgressLine() { clear(); }
    void draw(size_t found) {
        if (!enabled_) return;
        double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::string line = hvn::format("%5.1fs %zu found %s", secs, found, cli::terminalText(path_).c_str());
        if (line.size() > 100) {
            size_t head = 60, tail = line.size() - 37;
            auto cont = [&](size_t i) { return (static_cast<unsigned char>(line[i]) & 0xC0) == 0x80; };
            while (head > 0 && cont(head)) --head;
            while (tail < line.size() && cont(tail)) ++tail;
            line = line.substr(0, head) + "..." + line.substr(tail);
        }
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        drawn_ = true;
    }
    void clear() {
        if (!drawn_) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        drawn_ = false;
    }

private:
    bool enabled_;
    bool drawn_ = false;
    std::string path_;
    hvn::ObservationToken token_;
    std::chrono::steady_clock::time_point start_;
};

void putPath(json& j, const char* key, const char* bytesKey, const std::string& text) {
    j[key] = text;
    if (auto bytes = cli::json::base64UnlessUtf8(text)) j[bytesKey] = *bytes;
}

std::optional<hvn::Date> accessTime(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return hvn::Date{static_cast<double>(st.st_atim.tv_sec) + st.st_atim.tv_nsec / 1e9};
}

int runLarge(const cli::Args& args) {
    if (cli::wantsHelp(args)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    Options opt;
    if (int rc = parseOptions(args, opt)) return rc;

    auto& loop = hvn::RunLoop::main();
    loop.bindToCurrentThread();
    cli::catchInterrupts();

    HVNNodeList folders;
    for (const auto& f : opt.folders) {
        std::string path = cli::absolutePath(f);
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            std::fprintf(stderr, "halvorn large: %s is not a folder; skipped\n",
                         cli::terminalText(f).c_str());
            continue;
        }
        folders.push_back(HVNLargeAndOldVC::folderEntry(path));
    }

    HVNLargeAndOldFileScanner scanner;
    scanner.limitSize = opt.minimum;
    ProgressLine progress(!opt.json && isatty(STDERR_FILENO));
    {
        Run run(scanner, folders);
        run.start();
        while (!run.done()) {
            loop.runUntil([&run] { return run.done(); }, 0.1);
            if (cli::interrupted()) run.stop();
            progress.draw(scanner.scanOutObjs.size() + (scanner.query ? scanner.query->resultCount() : 0));
        }
        progress.clear();
    }
    const bool interrupted = cli::interrupted();
    if (interrupted) std::fprintf(stderr, "halvorn large: search stopped; the list below is partial.\n");

    const hvn::Date now = hvn::Date::now();
    HVNNodeList files;
    for (const auto& e : scanner.scanOutObjs) {
        if (HVNLargeFileGroups::passes(*e, 0, opt.ageSeconds, now)) files.push_back(e);
    }
    std::stable_sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        if (a->fileSize != b->fileSize) return a->fileSize > b->fileSize;
        return a->filePath() < b->filePath();
    });

    std::vector<HVNLargeFileOutcome> outcomes;
    bool removing = (opt.trash || opt.remove) && !interrupted;
    int64_t total = 0;
    for (const auto& f : files) total += f->fileSize;
    if (removing && !files.empty()) {
        if (!opt.yes) {
            std::string question =
                opt.trash ? hvn::format("Move %zu files (%s) to the trash?", files.size(),
                                        HVNCommonFunction::getSizeDesc(total).c_str())
                          : hvn::format("Delete %zu files (%s) permanently? They cannot be restored.",
                                        files.size(), HVNCommonFunction::getSizeDesc(total).c_str());
            if (!opt.json) {
                for (const auto& f : files) std::printf("  %s\n", cli::terminalText(f->filePath()).c_str());
            }
            if (!cli::askYes(question)) {
                std::fprintf(stderr, "Nothing was removed.\n");
                removing = false;
            }
        }
        if (removing) {
            for (const auto& f : files) {
                outcomes.push_back(opt.trash ? HVNLargeFileRemoval::moveToTrash(f)
                                             : HVNLargeFileRemoval::removeForever(f));
            }
        }
    }

    int rc = 0;
    auto outcomeOf = [&](const HVNScaneOuputObjectPtr& f) -> const HVNLargeFileOutcome* {
        for (const auto& o : outcomes) {
            if (o.entry == f) return &o;
        }
        return nullptr;
    };
    if (opt.json) {
        json doc;
        doc["files"] = json::array();
        for (const auto& f : files) {
            json j;
            putPath(j, "path", "pathBytes", f->filePath());
            j["size"] = f->fileSize;
            j["modified"] = f->accessDate ? json(cli::json::isoDate(*f->accessDate)) : json(nullptr);
            auto accessed = accessTime(f->filePath());
            j["accessed"] = accessed ? json(cli::json::isoDate(*accessed)) : json(nullptr);
            if (const auto* o = outcomeOf(f)) {
                if (o->removed() && opt.trash) {
                    j["outcome"] = "trashed";
                    putPath(j, "trashedPath", "trashedPathBytes", o->trashedPath);
                } else if (o->removed()) {
                    j["outcome"] = "deleted";
                } else if (o->status == hvn::RemovalStatus::Missing) {
                    j["outcome"] = "gone";
                } else {
                    j["outcome"] = "left";
                    j["reason"] = o->error;
                }
            }
            doc["files"].push_back(std::move(j));
        }
        doc["stopped"] = interrupted;
        std::printf("%s\n", doc.dump(2, ' ', false, json::error_handler_t::replace).c_str());
    } else if (outcomes.empty()) {
        for (const auto& f : files) {
            std::string age = HVNLargeAndOldFileScanner::fileModifyDateDescription(*f, now);
            std::printf("%10s  %-34s  %s\n", HVNCommonFunction::getSizeDesc(f->fileSize).c_str(),
                        age.empty() ? "-" : age.c_str(), cli::terminalText(f->filePath()).c_str());
        }
        std::printf("%zu %s, %s\n", files.size(), files.size() == 1 ? "file" : "files",
                    HVNCommonFunction::getSizeDesc(total).c_str());
    } else {
        for (const auto& o : outcomes) {
            std::string path = cli::terminalText(o.entry->filePath());
            if (o.removed() && opt.trash) {
                std::printf("trashed: %s -> %s\n", path.c_str(), cli::terminalText(o.trashedPath).c_str());
            } else if (o.removed()) {
                std::printf("deleted: %s\n", path.c_str());
            } else if (o.status == hvn::RemovalStatus::Missing) {
                std::printf("already gone: %s\n", path.c_str());
            } else {
                std::printf("left in place: %s (%s)\n", path.c_str(), cli::terminalText(o.error).c_str());
            }
        }
    }
    for (const auto& o : outcomes) {
        if (!o.gone()) rc = 1;
    }
    if (interrupted) rc = 130;
    return rc;
}

cli::CommandRegistration reg({"large", "find large and old files; --trash or --delete removes them",
                              runLarge});

}  // namespace
