#include "HVN/Code/Clearer/FMDB/FMResultSet.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "HVN/Code/Clearer/FMDB/FMBusyRetry.h"
#include "HVN/Code/Clearer/FMDB/FMDatabase.h"
#include "Platform/Log.h"

namespace {
std::string lowercased(const std::string& text) {
    std::string out;
    icu::UnicodeString::fromUTF8(text).toLower(icu::Locale::getRoot()).toUTF8String(out);
    return out;
}
}  // namespace

FMResultSet::FMResultSet(std::shared_ptr<FMStatement> statement, FMDatabase* parentDB, std::string query)
    : statement_(std::move(statement)), parentDB_(parentDB), query_(std::move(query)) {}

FMResultSet::~FMResultSet() {
    close();
}

void FMResultSet::libraryLog(const std::string& line) const {
    if (parentDB_) parentDB_->libraryLog(line);
}

void FMResultSet::close() {
    if (statement_) {
        statement_->reset();
        statement_->inUse = false;
        statement_.reset();
    }
    if (parentDB_) {
        FMDatabase* parent = parentDB_;
        parentDB_ = nullptr;
        parent->resultSetDidClose(this);
    }
}

bool FMResultSet::next() {
    if (!statement_ || !statement_->statement() || !parentDB_) return false;
    sqlite3_stmt* handle = statement_->statement();
    bool gaveUp = false;
    int rc = parentDB_->stepUnderBusyRetry(handle, "next", "rs", gaveUp);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE && !gaveUp) {
        const char* message = sqlite3_errmsg(parentDB_->db());
        if (rc == SQLITE_ERROR || rc == SQLITE_MISUSE) {
            libraryLog(hvn::format("Error calling sqlite3_step (%d: %s) rs", rc, message));
        } else {
            libraryLog(hvn::format("Unknown error calling sqlite3_step (%d: %s) rs", rc, message));
        }
    }
    close();
    return false;
}

// --- Column names ---

void FMResultSet::setupColumnNames() {
    if (columnNamesSetup_) return;
    int count = columnCount();
    for (int i = 0; i < count; ++i) columnNameToIndexMap_[lowercased(columnNameForIndex(i))] = i;
    columnNamesSetup_ = true;
}

int FMResultSet::columnCount() const {
    return statement_ && statement_->statement() ? sqlite3_column_count(statement_->statement()) : 0;
}

std::string FMResultSet::columnNameForIndex(int columnIdx) const {
    if (!validIndex(columnIdx)) return {};
    const char* name = sqlite3_column_name(statement_->statement(), columnIdx);
    return name ? name : "";
}

int FMResultSet::columnIndexForName(const std::string& columnName) {
    setupColumnNames();
    auto it = columnNameToIndexMap_.find(lowercased(columnName));
    if (it != columnNameToIndexMap_.end()) return it->second;
    libraryLog("Warning: I could not find the column named '" + columnName + "'.");
    return -1;
}

bool FMResultSet::validIndex(int columnIdx) const {
    return columnIdx >= 0 && columnIdx < columnCount();
}

// --- Rows ---

std::optional<hvn::Dictionary> FMResultSet::resultDict() {
    sqlite3_stmt* handle = statement_ ? statement_->statement() : nullptr;
    if (handle && sqlite3_data_count(handle) > 0) {
        setupColumnNames();
        hvn::Dictionary row;
        for (const auto& [name, index] : columnNameToIndexMap_) row[name] = objectForColumnIndex(index);
        return row;
    }
    libraryLog("Warning: There seem to be no columns in this set.");
    return std::nullopt;
}

hvn::Value FMResultSet::objectForColumnIndex(int columnIdx) const {
    if (!validIndex(columnIdx)) return hvn::Value();
    sqlite3_stmt* handle = statement_->statement();
    switch (sqlite3_column_type(handle, columnIdx)) {
        case SQLITE_INTEGER:
            return hvn::Value(static_cast<long long>(sqlite3_column_int64(handle, columnIdx)));
        case SQLITE_FLOAT:
            return hvn::Value(sqlite3_column_double(handle, columnIdx));
        case SQLITE_BLOB:
            return hvn::Value(*dataForColumnIndex(columnIdx));
        case SQLITE_TEXT:
            return hvn::Value(*stringForColumnIndex(columnIdx));
        default:
            return hvn::Value();
    }
}

bool FMResultSet::columnIndexIsNull(int columnIdx) const {
    return !validIndex(columnIdx) || sqlite3_column_type(statement_->statement(), columnIdx) == SQLITE_NULL;
}

int FMResultSet::intForColumnIndex(int columnIdx) const {
    return validIndex(columnIdx) ? sqlite3_column_int(statement_->statement(), columnIdx) : 0;
}

long FMResultSet::longForColumnIndex(int columnIdx) const {
    return validIndex(columnIdx) ? static_cast<long>(sqlite3_column_int64(statement_->statement(), columnIdx))
                                 : 0;
}

int64_t FMResultSet::longLongIntForColumnIndex(int columnIdx) const {
    return validIndex(columnIdx) ? sqlite3_column_int64(statement_->statement(), columnIdx) : 0;
}

bool FMResultSet::boolForColumnIndex(int columnIdx) const {
    return longLongIntForColumnIndex(columnIdx) != 0;
}

double FMResultSet::doubleForColumnIndex(int columnIdx) const {
    return validIndex(columnIdx) ? sqlite3_column_double(statement_->statement(), columnIdx) : 0.0;
}

const char* FMResultSet::UTF8StringForColumnIndex(int columnIdx) const {
    if (columnIndexIsNull(columnIdx)) return nullptr;
    return reinterpret_cast<const char*>(sqlite3_column_text(statement_->statement(), columnIdx));
}

std::optional<std::string> FMResultSet::stringForColumnIndex(int columnIdx) const {
    const char* text = UTF8StringForColumnIndex(columnIdx);
    if (!text) return std::nullopt;
    int length = sqlite3_column_bytes(statement_->statement(), columnIdx);
    return std::string(text, static_cast<size_t>(length));
}

std::optional<hvn::Date> FMResultSet::dateForColumnIndex(int columnIdx) const {
    if (columnIndexIsNull(columnIdx)) return std::nullopt;
    return hvn::Date{doubleForColumnIndex(columnIdx)};
}

std::optional<std::span<const uint8_t>> FMResultSet::dataNoCopyForColumnIndex(int columnIdx) const {
    if (columnIndexIsNull(columnIdx)) return std::nullopt;
    sqlite3_stmt* handle = statement_->statement();
    const void* bytes = sqlite3_column_blob(handle, columnIdx);
    int length = sqlite3_column_bytes(handle, columnIdx);
    return std::span<const uint8_t>(static_cast<const uint8_t*>(bytes),
                                    bytes ? static_cast<size_t>(length) : 0);
}

std::optional<hvn::Data> FMResultSet::dataForColumnIndex(int columnIdx) const {
    auto bytes = dataNoCopyForColumnIndex(columnIdx);
    if (!bytes) return std::nullopt;
    return hvn::Data(bytes->begin(), bytes->end());
}

// --- By name ---

int FMResultSet::intForColumn(const std::string& n) {
    return intForColumnIndex(columnIndexForName(n));
}
long FMResultSet::longForColumn(const std::string& n) {
    return longForColumnIndex(columnIndexForName(n));
}
int64_t FMResultSet::longLongIntForColumn(const std::string& n) {
    return longLongIntForColumnIndex(columnIndexForName(n));
}
bool FMResultSet::boolForColumn(const std::string& n) {
    return boolForColumnIndex(columnIndexForName(n));
}
double FMResultSet::doubleForColumn(const std::string& n) {
    return doubleForColumnIndex(columnIndexForName(n));
}
std::optional<std::string> FMResultSet::stringForColumn(const std::string& n) {
    return stringForColumnIndex(columnIndexForName(n));
}
std::optional<hvn::Date> FMResultSet::dateForColumn(const std::string& n) {
    return dateForColumnIndex(columnIndexForName(n));
}
std::optional<hvn::Data> FMResultSet::dataForColumn(const std::string& n) {
    return dataForColumnIndex(columnIndexForName(n));
}
std::optional<std::span<const uint8_t>> FMResultSet::dataNoCopyForColumn(const std::string& n) {
    return dataNoCopyForColumnIndex(columnIndexForName(n));
}
const char* FMResultSet::UTF8StringForColumnName(const std::string& n) {
    return UTF8StringForColumnIndex(columnIndexForName(n));
}
hvn::Value FMResultSet::objectForColumnName(const std::string& n) {
    return objectForColumnIndex(columnIndexForName(n));
}
bool FMResultSet::columnIsNull(const std::string& n) {
    return columnIndexIsNull(columnIndexForName(n));
}
