#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "HVN/Code/Clearer/FMDB/FMResultSet.h"
#include "Platform/Bundle.h"
#include "Platform/Roots.h"

namespace {

std::string bundleFile(const std::string& given, const char* name) {
    if (!given.empty()) return given;
    std::string resources = hvn::Bundle::resourcePath();
    // Without a bundle the connection gets no file and every read finds nothing.
    return resources.empty() ? std::string() : resources + "/" + name;
}

std::string trimmed(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

std::string lowercased(const std::string& text) {
    std::string out;
    icu::UnicodeString::fromUTF8(text).toLower(icu::Locale::getRoot()).toUTF8String(out);
    return out;
}

std::optional<std::string> keyFrom(const std::optional<std::string>& keyWord) {
    if (!keyWord || keyWord->empty() || *keyWord == "NULL") return std::nullopt;
    return keyWord;
}

std::string catalogOf(const hvn::Dictionary& row) {
    return HVNPathData::textEntry(row, "catalog").value_or("");
}

}  // namespace

HVNPathDBManager::HVNPathDBManager() : HVNPathDBManager(std::string()) {}

HVNPathDBManager::HVNPathDBManager(std::string cleanPathDb, std::string virusDb, std::string cookiesDb)
    : db_(std::make_unique<FMDatabase>(bundleFile(cleanPathDb, "CleanPath.db"))),
      virusDb_(std::make_unique<FMDatabase>(bundleFile(virusDb, "Virus.db"))),
      cookiesDb_(std::make_unique<FMDatabase>(bundleFile(cookiesDb, "Cookies.db"))) {}

HVNPathDBManager::~HVNPathDBManager() = default;

bool HVNPathDBManager::openDatabase(FMDatabase& database) {
    if (database.isOpen()) return true;
    if (!database.databasePath() || database.databasePath()->empty()) return false;
    return database.openWithFlags(SQLITE_OPEN_READWRITE);
}

// --- Rule queries ---

std::vector<hvn::Dictionary> HVNPathDBManager::getDataBySQL(const std::string& sql,
                                                            const std::vector<hvn::Value>& args) {
    std::vector<hvn::Dictionary> rows;
    if (!openDatabase(*db_)) return rows;
    db_->setShouldCacheStatements(true);
    if (auto rs = db_->executeQuery(sql, args)) {
        while (rs->next()) {
            if (auto row = rs->resultDict()) rows.push_back(std::move(*row));
        }
    }
    db_->close();
    return rows;
}

std::vector<hvn::Dictionary> HVNPathDBManager::rowsForCatalog(const std::string& category) {
    // The category is bound, not spliced into the SQL: same LIKE matching, no quoting issues.
    return getDataBySQL("select * from HVNClean where catalog like '%' || ? || '%'", {category});
}

std::vector<HVNScanInputObjectPtr> HVNPathDBManager::getCleanPath(const std::string& category) {
    return parseData(rowsForCatalog(category));
}

std::vector<std::shared_ptr<HVNPathData>> HVNPathDBManager::getBrowserCleanPath(const std::string& category) {
    return parseBrowserData(rowsForCatalog(category));
}

std::vector<std::shared_ptr<HVNPathData>> HVNPathDBManager::getAllPathData() {
    std::vector<std::shared_ptr<HVNPathData>> all;
    for (const auto& row : getDataBySQL("SELECT * FROM HVNCLean"))
        all.push_back(std::make_shared<HVNPathData>(row));
    return all;
}

std::vector<std::shared_ptr<HVNSystemOpt>> HVNPathDBManager::getSysOptData() {
    std::vector<std::shared_ptr<HVNSystemOpt>> all;
    for (const auto& row : getDataBySQL("SELECT * FROM HVN_SYS_OPT")) {
        all.push_back(std::make_shared<HVNSystemOpt>(row));
    }
    return all;
}

// --- Rows to requests ---

std::string HVNPathDBManager::resolveRulePath(const std::optional<std::string>& path,
                                              const std::string& catalog) {
    // Trimmed first, so that a blank before "~" does not keep the path from being expanded.
    std::string p = trimmed(path.value_or(""));
    if (p.empty()) return p;
    if (p[0] == '~') {
        std::string home = hvn::Roots::home();
        std::string expanded;
        for (char c : p) {
            if (c == '~') {
                expanded += home;
            } else {
                expanded += c;
            }
        }
        return expanded;
    }
    if (p[0] == '/' && lowercased(catalog).find(lowercased(kBroswerChaheCatalog)) == std::string::npos) {
        return hvn::Roots::systemPath(p);
    }
    return p;
}

std::vector<HVNScanInputObjectPtr> HVNPathDBManager::parseData(const std::vector<hvn::Dictionary>& rows) {
    std::vector<HVNScanInputObjectPtr> requests;
    requests.reserve(rows.size());
    for (const auto& row : rows) {
        HVNPathData data(row);
        auto request = std::make_shared<HVNScanInputObject>();
        request->path = resolveRulePath(data.path(), catalogOf(row));
        request->key = keyFrom(data.keyWord());
        request->isCheck = true;
        request->recursion = false;
        requests.push_back(std::move(request));
    }
    return requests;
}

std::vector<std::shared_ptr<HVNPathData>> HVNPathDBManager::parseBrowserData(
    const std::vector<hvn::Dictionary>& rows) {
    std::vector<std::shared_ptr<HVNPathData>> result;
    result.reserve(rows.size());
    for (const auto& row : rows) {
        HVNPathData data(row);
        auto rule = std::make_shared<HVNPathData>();
        rule->setPath(resolveRulePath(data.path(), catalogOf(row)));
        rule->setKeyWord(keyFrom(data.keyWord()));
        rule->isSelected = true;
        rule->setKeyValue(data.keyValue());
        result.push_back(std::move(rule));
    }
    return result;
}
