// A cursor over the rows of a query, made by FMDatabase::executeQuery. It owns (shares) its
// statement and knows its connection without owning it. It closes itself when next() runs
// out, when its connection closes, or when it is destroyed; closing twice is harmless.
// Same thread as its connection.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "HVN/Code/Clearer/FMDB/FMStatement.h"
#include "Platform/Value.h"

class FMDatabase;

class FM_EXPORT FMResultSet {
public:
    ~FMResultSet();
    FMResultSet(const FMResultSet&) = delete;
    FMResultSet& operator=(const FMResultSet&) = delete;

    // Steps to the next row (under the busy retry of the parent connection). True when a row
    // is available; false at the end or on error, and the cursor is closed then.
    bool next();
    // Resets and releases the statement and tells the connection. Harmless when closed.
    void close();

    // The current row: lower-cased column name -> value (INTEGER -> integer, REAL -> real,
    // BLOB -> data, TEXT -> string, NULL -> the null value). When two columns share a
    // lower-cased name the later one wins. nullopt when the row has no columns.
    std::optional<hvn::Dictionary> resultDict();

    int columnCount() const;
    // Index of the column whose lower-cased name equals the lower-cased name, or -1.
    int columnIndexForName(const std::string& columnName);
    std::string columnNameForIndex(int columnIdx) const;

    // Typed access. Numbers are 0 and texts, dates and bytes nullopt (or null) for a SQL NULL,
    // a negative or an unknown column.
    int intForColumn(const std::string& columnName);
    int intForColumnIndex(int columnIdx) const;
    long longForColumn(const std::string& columnName);
    long longForColumnIndex(int columnIdx) const;
    int64_t longLongIntForColumn(const std::string& columnName);
    int64_t longLongIntForColumnIndex(int columnIdx) const;
    bool boolForColumn(const std::string& columnName);  // non-zero integer
    bool boolForColumnIndex(int columnIdx) const;
    double doubleForColumn(const std::string& columnName);
    double doubleForColumnIndex(int columnIdx) const;
    std::optional<std::string> stringForColumn(const std::string& columnName);
    std::optional<std::string> stringForColumnIndex(int columnIdx) const;
    // Seconds since 1970 stored as a number.
    std::optional<hvn::Date> dateForColumn(const std::string& columnName);
    std::optional<hvn::Date> dateForColumnIndex(int columnIdx) const;
    // A copy of the bytes.
    std::optional<hvn::Data> dataForColumn(const std::string& columnName);
    std::optional<hvn::Data> dataForColumnIndex(int columnIdx) const;
    // The bytes without copying: valid until the next step or close.
    std::optional<std::span<const uint8_t>> dataNoCopyForColumn(const std::string& columnName);
    std::optional<std::span<const uint8_t>> dataNoCopyForColumnIndex(int columnIdx) const;
    // The UTF-8 text, valid until the next step or close; null for NULL.
    const char* UTF8StringForColumnName(const std::string& columnName);
    const char* UTF8StringForColumnIndex(int columnIdx) const;
    hvn::Value objectForColumnName(const std::string& columnName);
    hvn::Value objectForColumnIndex(int columnIdx) const;
    bool columnIsNull(const std::string& columnName);
    bool columnIndexIsNull(int columnIdx) const;

    // The statement (null once closed), the connection (null once closed) and the SQL.
    FMStatement* statement() const { return statement_.get(); }
    FMDatabase* parentDB() const { return parentDB_; }
    const std::string& query() const { return query_; }

private:
    friend class FMDatabase;
    FMResultSet(std::shared_ptr<FMStatement> statement, FMDatabase* parentDB, std::string query);

    std::shared_ptr<FMStatement> statement_;
    FMDatabase* parentDB_;
    std::string query_;
    std::map<std::string, int> columnNameToIndexMap_;
    bool columnNamesSetup_ = false;

    void setupColumnNames();
    bool validIndex(int columnIdx) const;
    void libraryLog(const std::string& line) const;
};
