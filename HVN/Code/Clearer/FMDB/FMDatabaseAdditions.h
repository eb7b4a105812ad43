// Convenience queries on a connection: run a query with its arguments and return column 0
// of the first row (nullopt or 0 when there is no row), closing the cursor; schema look-ups.
// The connection must be open; same thread as the connection.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/FMDB/FMDatabase.h"
#include "HVN/Code/Clearer/FMDB/FMResultSet.h"

namespace FMDatabaseAdditions {

using Args = std::vector<hvn::Value>;

std::optional<std::string> stringForQuery(FMDatabase& db, const std::string& sql, const Args& args = {});
int intForQuery(FMDatabase& db, const std::string& sql, const Args& args = {});
long longForQuery(FMDatabase& db, const std::string& sql, const Args& args = {});
bool boolForQuery(FMDatabase& db, const std::string& sql, const Args& args = {});
double doubleForQuery(FMDatabase& db, const std::string& sql, const Args& args = {});
std::optional<hvn::Data> dataForQuery(FMDatabase& db, const std::string& sql, const Args& args = {});
std::optional<hvn::Date> dateForQuery(FMDatabase& db, const std::string& sql, const Args& args = {});

// True when a table of that name exists (names compared lower-cased).
bool tableExists(FMDatabase& db, const std::string& tableName);
// Cursor over type, name, tbl_name, rootpage, sql of every schema entry (temporary ones
// included, SQLite's own excepted); null on failure.
std::unique_ptr<FMResultSet> getSchema(FMDatabase& db);
// Cursor over "PRAGMA table_info" of the table (the name is quoted as an identifier).
std::unique_ptr<FMResultSet> getTableSchema(FMDatabase& db, const std::string& tableName);
// True when the table has a column of that name (compared lower-cased).
bool columnExists(FMDatabase& db, const std::string& tableName, const std::string& columnName);
// Prepares and finalizes sql; false with *error filled when it does not compile.
bool validateSQL(FMDatabase& db, const std::string& sql, FMError* error);

}  // namespace FMDatabaseAdditions
