// `halvorn rules`: maintenance of a clean-path rule database (encrypt, decrypt, check) and a
// listing of the scan requests that one catalog of it gives.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CLI/Command.h"
#include "HVN/Code/Clearer/FMDB/FMDatabase.h"
#include "HVN/Code/Clearer/FMDB/FMDatabaseAdditions.h"
#include "HVN/Code/Clearer/FMDB/FMResultSet.h"
#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"
#include "HVN/Code/Public/EncryptManager.h"
#include "Platform/Log.h"

namespace {

const char* const kRulesUsage =
    "usage: halvorn rules encrypt DB\n"
    "       halvorn rules decrypt DB\n"
    "       halvorn rules check DB\n"
    "       halvorn rules list DB CATALOG\n"
    "\n"
    "Maintenance of a rule database: the clean-path rules (tables HVNCLean and\n"
    "HVN_SYS_OPT), the signatures (HVN_VIRUS_CODE, stored plain: encrypt and check\n"
    "validate them) or the bad cookies (HVN_BAD_COOKIES, domain and information as\n"
    "encrypted fields).\n"
    "\n"
    "Subcommands:\n"
    "  encrypt   fill the encrypted columns from the readable ones, check them, then\n"
    "            empty the readable columns (the shipped form)\n"
    "  decrypt   fill the readable columns from the encrypted ones\n"
    "  check     compare every encrypted column with its readable text; prints the\n"
    "            differences and exits 1 when there is one\n"
    "  list      print the scan requests of a catalog: path, key word (or -), recursion\n"
    "\n"
    "Run 'halvorn rules SUBCOMMAND --help' for one subcommand.\n";

struct Subcommand {
    const char* name;
    const char* usage;
    size_t operands;
};

const Subcommand kSubcommands[] = {
    {"encrypt",
     "usage: halvorn rules encrypt DB\n\n"
     "Writes the encrypted columns of the rule database DB from its readable columns, checks\n"
     "that every encrypted text decrypts to its readable text, and then empties the readable\n"
     "columns. Nothing is emptied when the check finds a difference (exit 1).\n",
     1},
    {"decrypt",
     "usage: halvorn rules decrypt DB\n\n"
     "Fills the readable columns of the rule database DB from its encrypted columns and\n"
     "clears the encrypted columns.\n",
     1},
    {"check",
     "usage: halvorn rules check DB\n\n"
     "Compares every encrypted column of the rule database DB with its readable text and\n"
     "prints the check's lines. Exits 1 when a text differs.\n",
     1},
    {"list",
     "usage: halvorn rules list DB CATALOG\n\n"
     "Prints the scan requests that the rows of CATALOG give (catalogs containing the text,\n"
     "ignoring ASCII case), one per line: path, key word or \"-\", recursion (YES/NO),\n"
     "separated by tabs. Paths are resolved against HOME and HALVORN_ROOT.\n",
     2},
};

int usageError(const std::string& message, const char* usage) {
    std::fprintf(stderr, "halvorn rules: %s\n\n%s", message.c_str(), usage);
    return 2;
}

// What a database given to the command holds: the clean-path rules (tables HVNCLean and
// HVN_SYS_OPT), the signatures (HVN_VIRUS_CODE) or the bad cookies (HVN_BAD_COOKIES).
enum class RulesKind { CleanPath, Virus, BadCookies };

// The file must exist and hold one kind's tables; the error names what is wrong.
bool checkRuleDatabase(const std::string& path, RulesKind* kind, std::string* error) {
    std::error_code ec;
    auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        *error = "no such file";
        return false;
    }
    if (std::filesystem::is_directory(status)) {
        *error = "is a folder";
        return false;
    }
    FMDatabase db(path);
    if (!db.openWithFlags(SQLITE_OPEN_READWRITE)) {
        *error = db.lastErrorMessage();
        return false;
    }
    if (FMDatabaseAdditions::tableExists(db, "HVN_VIRUS_CODE")) {
        *kind = RulesKind::Virus;
        return true;
    }
    if (FMDatabaseAdditions::tableExists(db, "HVN_BAD_COOKIES")) {
        *kind = RulesKind::BadCookies;
        return true;
    }
    for (const char* table : {"HVNCLean", "HVN_SYS_OPT"}) {
        if (!FMDatabaseAdditions::tableExists(db, table)) {
            *error = db.hadError() ? db.lastErrorMessage()
                                   : std::string("not a rule database (no table ") + table + ")";
            return false;
        }
    }
    *kind = RulesKind::CleanPath;
    return true;
}

// The signatures are stored plain; their check is that each row can match at all: a
// non-empty block, a start offset of zero or more, and a length column equal to the
// block's length (the matching walks the list in the order of that column).
int checkSignatures(const std::string& path) {
    FMDatabase db(path);
    if (!db.openWithFlags(SQLITE_OPEN_READONLY)) {
        std::fprintf(stderr, "halvorn: cannot open %s: %s\n", path.c_str(), db.lastErrorMessage().c_str());
        return 1;
    }
    size_t problems = 0, rows = 0;
    if (auto rs = db.executeQuery("select rowid, virus_name, virus_code, start_index, bytes from HVN_VIRUS_CODE")) {
        while (rs->next()) {
            ++rows;
            auto row = rs->resultDict();
            if (!row) continue;
            const hvn::Value& code = (*row)["virus_code"];
            std::string name = (*row)["virus_name"].isString() ? (*row)["virus_name"].asString() : "";
            long long id = static_cast<long long>((*row)["rowid"].asInteger());
            if (!code.isData() || code.asData().empty()) {
                std::fprintf(stderr, "signature %lld (%s): virus_code is not a non-empty BLOB\n", id, name.c_str());
                ++problems;
            } else if ((*row)["bytes"].asInteger() != static_cast<int64_t>(code.asData().size())) {
                std::fprintf(stderr, "signature %lld (%s): bytes is not the length of virus_code\n", id, name.c_str());
                ++problems;
            }
            if ((*row)["start_index"].asInteger() < 0 || name.empty()) {
                std::fprintf(stderr, "signature %lld: no name or a negative start_index\n", id);
                ++problems;
            }
        }
        rs->close();
    } else {
        std::fprintf(stderr, "halvorn: cannot read %s: %s\n", path.c_str(), db.lastErrorMessage().c_str());
        return 1;
    }
    db.close();
    if (problems) std::fprintf(stderr, "halvorn: %zu problem(s) in %zu signatures of %s\n", problems, rows, path.c_str());
    return problems == 0 ? 0 : 1;
}

// Collects the log lines written while it lives.
class LogCapture {
public:
    LogCapture() {
        previous_ = hvn::Log::setSink([this](const std::string& line) { lines_.push_back(line); });
    }
    ~LogCapture() { hvn::Log::setSink(std::move(previous_)); }
    const std::vector<std::string>& lines() const { return lines_; }

private:
    hvn::Log::Sink previous_;
    std::vector<std::string> lines_;
};

bool isDifference(const std::string& line) {
    return line.find(" is not same, Souce is ") != std::string::npos;
}

int runEncrypt(const std::string& path) {
    LogCapture capture;
    if (EncryptManager::encryptDB(path)) return 0;
    for (const auto& line : capture.lines()) {
        if (isDifference(line)) std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fprintf(stderr, "halvorn: encrypting %s failed; its readable columns were kept\n", path.c_str());
    return 1;
}

int runDecrypt(const std::string& path) {
    if (EncryptManager::decryptDB(path)) return 0;
    std::fprintf(stderr, "halvorn: decrypting %s failed\n", path.c_str());
    return 1;
}

int runCheck(const std::string& path) {
    std::optional<size_t> differences;
    std::vector<std::string> lines;
    {
        LogCapture capture;
        HVNPathDBManager manager(path);
        differences = manager.checkDataValidation();
        lines = capture.lines();
    }
    for (const auto& line : lines) std::printf("%s\n", line.c_str());
    if (!differences) {
        std::fprintf(stderr, "halvorn: cannot open rule database %s\n", path.c_str());
        return 1;
    }
    return *differences == 0 ? 0 : 1;
}

// The bad-cookie table: its domain and information columns are encrypted fields.
int runBadCookies(const std::string& name, const std::string& path) {
    HVNPathDBManager manager(std::string(), std::string(), path);
    LogCapture capture;
    bool ok = true;
    if (name == "encrypt") {
        ok = manager.encryptBadCookies();
    } else if (name == "decrypt") {
        ok = manager.decryptBadCookies();
    } else {
        ok = manager.checkBadCookies().value_or(1) == 0;
    }
    for (const auto& line : capture.lines()) std::fprintf(stderr, "%s\n", line.c_str());
    if (!ok) std::fprintf(stderr, "halvorn: %s of the bad-cookie table %s failed\n", name.c_str(), path.c_str());
    return ok ? 0 : 1;
}

int runList(const std::string& path, const std::string& catalog) {
    HVNPathDBManager manager(path);
    for (const auto& request : manager.getCleanPath(catalog)) {
        std::printf("%s\t%s\t%s\n", request->path.c_str(), request->key ? request->key->c_str() : "-",
                    request->recursion ? "YES" : "NO");
    }
    return 0;
}

int runRules(const cli::Args& args) {
    // The command reports on its own streams; the log lines would only repeat them.
    setenv("HALVORN_LOG", "quiet", 0);

    const Subcommand* sub = nullptr;
    if (!args.empty()) {
        for (const auto& s : kSubcommands) {
            if (args[0] == s.name) sub = &s;
        }
    }
    if (cli::wantsHelp(args)) {
        std::fputs(sub ? sub->usage : kRulesUsage, stdout);
        return 0;
    }
    if (args.empty()) return usageError("missing subcommand", kRulesUsage);
    if (!sub) return usageError("unknown subcommand '" + args[0] + "'", kRulesUsage);

    std::vector<std::string> operands;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i].size() > 1 && args[i][0] == '-')
            return usageError("unknown option '" + args[i] + "'", sub->usage);
        operands.push_back(args[i]);
    }
    if (operands.size() != sub->operands) {
        return usageError(operands.size() < sub->operands ? "missing operand" : "too many operands",
                          sub->usage);
    }

    const std::string& path = operands[0];
    std::string error;
    RulesKind kind = RulesKind::CleanPath;
    if (!checkRuleDatabase(path, &kind, &error)) {
        std::fprintf(stderr, "halvorn: cannot open rule database %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    std::string name = sub->name;
    if (kind != RulesKind::CleanPath && name == "list") {
        std::fprintf(stderr, "halvorn: %s holds no clean-path rules to list\n", path.c_str());
        return 1;
    }
    if (kind == RulesKind::Virus) {
        // Signatures are stored plain: encrypting and checking both validate them.
        return name == "decrypt" ? 0 : checkSignatures(path);
    }
    if (kind == RulesKind::BadCookies) return runBadCookies(name, path);
    if (name == "encrypt") return runEncrypt(path);
    if (name == "decrypt") return runDecrypt(path);
    if (name == "check") return runCheck(path);
    return runList(path, operands[1]);
}

const cli::CommandRegistration kRulesRegistration(
    {"rules", "maintain a clean-path rule database (encrypt, decrypt, check, list)", runRules});

}  // namespace
