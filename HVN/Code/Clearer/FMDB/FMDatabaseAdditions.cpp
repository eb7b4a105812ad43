#include "HVN/Code/Clearer/FMDB/FMDatabaseAdditions.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace FMDatabaseAdditions {

namespace {
std::string lowercased(const std::string& text) {
    std::string out;
    icu::UnicodeString::fromUTF8(text).toLower(icu::Locale::getRoot()).toUTF8String(out);
    return out;
}

// Column 0 of the first row, or the null value.
hvn::Value firstValue(FMDatabase& db, const std::string& sql, const Args& args) {
    auto rs = db.executeQuery(sql, args);
    if (!rs) return hvn::Value();
    hvn::Value value = rs->next() ? rs->objectForColumnIndex(0) : hvn::Value();
    rs->close();
    return value;
}
}  // namespace

std::optional<std::string> stringForQuery(FMDatabase& db, const std::string& sql, const Args& args) {
    hvn::Value v = firstValue(db, sql, args);
    if (v.isNull()) return std::nullopt;
    return v.isString() ? v.asString() : v.description();
}

int intForQuery(FMDatabase& db, const std::string& sql, const Args& args) {
    return static_cast<int>(firstValue(db, sql, args).asInteger());
}

long longForQuery(FMDatabase& db, const std::string& sql, const Args& args) {
    return static_cast<long>(firstValue(db, sql, args).asInteger());
}

bool boolForQuery(FMDatabase& db, const std::string& sql, const Args& args) {
    return firstValue(db, sql, args).asInteger() != 0;
}

double doubleForQuery(FMDatabase& db, const std::string& sql, const Args& args) {
    return firstValue(db, sql, args).asReal();
}

std::optional<hvn::Data> dataForQuery(FMDatabase& db, const std::string& sql, const Args& args) {
    auto rs = db.executeQuery(sql, args);
    if (!rs) return std::nullopt;
    std::optional<hvn::Data> data = rs->next() ? rs->dataForColumnIndex(0) : std::nullopt;
    rs->close();
    return data;
}

std::optional<hvn::Date> dateForQuery(FMDatabase& db, const std::string& sql, const Args& args) {
    auto rs = db.executeQuery(sql, args);
    if (!rs) return std::nullopt;
    std::optional<hvn::Date> date = rs->next() ? rs->dateForColumnIndex(0) : std::nullopt;
    rs->close();
    return date;
}

bool tableExists(FMDatabase& db, const std::string& tableName) {
    auto rs = db.executeQuery("select [sql] from sqlite_master where [type] = 'table' and lower(name) = ?",
                              {lowercased(tableName)});
    if (!rs) return false;
    bool found = rs->next();
    rs->close();
    return found;
}

std::unique_ptr<FMResultSet> getSchema(FMDatabase& db) {
    return db.executeQuery(
        "SELECT type, name, tbl_name, rootpage, sql FROM (SELECT * FROM sqlite_master UNION ALL SELECT * "
        "FROM "
        "sqlite_temp_master) WHERE type != 'meta' AND name NOT LIKE 'sqlite_%' ORDER BY tbl_name, type DESC, "
        "name");
}

std::unique_ptr<FMResultSet> getTableSchema(FMDatabase& db, const std::string& tableName) {
    // Quoted as an identifier so that a name cannot change the statement.
    std::string quoted = "\"";
    for (char c : tableName) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    quoted += '"';
    return db.executeQuery("PRAGMA table_info(" + quoted + ")");
}

bool columnExists(FMDatabase& db, const std::string& tableName, const std::string& columnName) {
    auto rs = getTableSchema(db, tableName);
    if (!rs) return false;
    std::string wanted = lowercased(columnName);
    bool found = false;
    while (rs->next()) {
        auto name = rs->stringForColumn("name");
        if (name && lowercased(*name) == wanted) {
            found = true;
            rs->close();
            break;
        }
    }
    return found;
}

bool validateSQL(FMDatabase& db, const std::string& sql, FMError* error) {
    if (!db.db()) {
        if (error) *error = FMError{"The FMDatabase " + db.description() + " is not open.", SQLITE_MISUSE};
        return false;
    }
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db.db(), sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
    if (rc != SQLITE_OK && error) *error = FMError{sqlite3_errmsg(db.db()), rc};
    sqlite3_finalize(statement);
    return rc == SQLITE_OK;
}

}  // namespace FMDatabaseAdditions
