#include "HVN/Code/Clearer/FMDB/FMDatabase.h"

#include <cstdio>
#include <cstdlib>

#include "HVN/Code/Clearer/FMDB/FMBusyRetry.h"
#include "HVN/Code/Clearer/FMDB/FMResultSet.h"
#include "Platform/Log.h"

FMDatabase::FMDatabase(std::optional<std::string> path) : FMDatabase(std::move(path), false) {}

FMDatabase::FMDatabase(std::optional<std::string> path, bool libraryInstance)
    : libraryInstance_(libraryInstance), databasePath_(std::move(path)) {}

std::unique_ptr<FMDatabase> FMDatabase::databaseWithPath(std::optional<std::string> path) {
    return std::make_unique<FMDatabase>(std::move(path));
}

FMDatabase::~FMDatabase() {
    close();
}

std::string FMDatabase::description() const {
    return "<FMDatabase: " + (databasePath_ ? *databasePath_ : std::string(":memory:")) + ">";
}

void FMDatabase::libraryLog(const std::string& line) const {
    if (libraryInstance_) hvn::Log::write(line);
}

void FMDatabase::assertion(const std::string& text) const {
    if (!crashOnErrors) return;
    std::fprintf(stderr, "Assertion failure: %s\n", text.c_str());
    std::fflush(stderr);
    std::abort();
}

void FMDatabase::setLayerError(int code, std::string message) {
    layerErrorCode_ = code;
    layerErrorMessage_ = std::move(message);
}

// --- Connection ---

bool FMDatabase::open() {
    return openWithFlags(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

bool FMDatabase::openWithFlags(int flags) {
    if (db_) return true;
    clearLayerError();
    std::string path = databasePath_ ? *databasePath_ : std::string(":memory:");
    sqlite3* handle = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &handle, flags, nullptr);
    if (rc != SQLITE_OK) {
        libraryLog(hvn::format("error opening!: %d", rc));
        setLayerError(rc, handle ? sqlite3_errmsg(handle) : sqlite3_errstr(rc));
        sqlite3_close(handle);
        return false;
    }
    db_ = handle;
    return true;
}

bool FMDatabase::close() {
    clearCachedStatements();
    closeOpenResultSets();
    if (!db_) return true;
    FMBusyRetry retry(busyRetryTimeout);
    bool finalizedLeaked = false;
    for (;;) {
        int rc = sqlite3_close(db_);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            if (!retry.again()) {
                libraryLog(hvn::format("%s:%d", __func__, __LINE__));
                libraryLog("Database busy, unable to close");
                return false;
            }
            if (!finalizedLeaked) {
                finalizedLeaked = true;
                while (sqlite3_stmt* leaked = sqlite3_next_stmt(db_, nullptr)) {
                    libraryLog("Closing leaked statement");
                    sqlite3_finalize(leaked);
                }
            }
            continue;
        }
        if (rc != SQLITE_OK) libraryLog(hvn::format("error closing!: %d", rc));
        break;
    }
    db_ = nullptr;
    inTransaction_ = false;
    return true;
}

bool FMDatabase::goodConnection() {
    if (!db_) return false;
    auto rs = executeQuery("select name from sqlite_master where type='table'");
    if (!rs) return false;
    rs->close();
    return true;
}

bool FMDatabase::checkOpen() {
    if (db_) return true;
    std::string text = "The FMDatabase " + description() + " is not open.";
    setLayerError(SQLITE_MISUSE, text);
    libraryLog(text);
    assertion(text);
    return false;
}

void FMDatabase::complainAboutInUse() {
    std::string text = "The FMDatabase " + description() + " is currently in use.";
    setLayerError(SQLITE_MISUSE, text);
    libraryLog(text);
    assertion(text);
}

void FMDatabase::logBusy(const char* operation, int line) {
    libraryLog(hvn::format("%s:%d Database busy (%s)", operation, line,
                           databasePath_ ? databasePath_->c_str() : ":memory:"));
    libraryLog("Database busy");
}

// --- Statement cache ---

void FMDatabase::setShouldCacheStatements(bool value) {
    shouldCacheStatements_ = value;
    // Dropping the cache releases the statements; a cursor still stepping one keeps it alive.
    if (!value) cachedStatements_.clear();
}

std::shared_ptr<FMStatement> FMDatabase::cachedStatementFor(const std::string& sql) {
    if (!shouldCacheStatements_) return nullptr;
    auto it = cachedStatements_.find(sql);
    if (it == cachedStatements_.end() || !it->second->statement() || it->second->inUse) return nullptr;
    return it->second;
}

void FMDatabase::clearCachedStatements() {
    for (auto& [sql, statement] : cachedStatements_) statement->close();
    cachedStatements_.clear();
}

void FMDatabase::closeOpenResultSets() {
    // Each cursor removes itself from the set when it closes.
    while (!openResultSets_.empty()) (*openResultSets_.begin())->close();
}

void FMDatabase::resultSetDidClose(FMResultSet* resultSet) {
    openResultSets_.erase(resultSet);
}

// --- Preparing and binding ---

sqlite3_stmt* FMDatabase::prepare(const std::string& sql, const char* operation) {
    FMBusyRetry retry(busyRetryTimeout);
    sqlite3_stmt* statement = nullptr;
    int rc;
    for (;;) {
        rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            sqlite3_finalize(statement);
            statement = nullptr;
            if (retry.again()) continue;
            logBusy(operation, __LINE__);
            return nullptr;
        }
        break;
    }
    if (rc != SQLITE_OK) {
        if (logsErrors) {
            std::string error =
                hvn::format("DB Error: %d \"%s\"", lastErrorCode(), lastErrorMessage().c_str());
            libraryLog(error);
            libraryLog("DB Query: " + sql);
            assertion(error);
        }
        sqlite3_finalize(statement);
        return nullptr;
    }
    if (!statement) {
        // Only white space or comments: nothing to run.
        setLayerError(SQLITE_MISUSE, "not an SQL statement");
        return nullptr;
    }
    return statement;
}

bool FMDatabase::bindArguments(sqlite3_stmt* statement, const std::vector<hvn::Value>& args,
                               const char* operation, const std::string& sql) {
    int count = sqlite3_bind_parameter_count(statement);
    if (count < 0) {
        if (std::string(operation) == "executeQuery") {
            libraryLog("Error: the bind count is not correct for the # of variables (executeQuery)");
        } else {
            libraryLog("Error: the bind count is not correct for the # of variables (" + sql +
                       ") (executeUpdate)");
        }
        setLayerError(SQLITE_RANGE, "the bind count is not correct for the # of variables");
        return false;
    }
    if (args.size() < static_cast<size_t>(count)) {
        setLayerError(SQLITE_RANGE, hvn::format("the statement has %d parameters but %zu values were given",
                                                count, args.size()));
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (traceExecution) libraryLog("obj: " + args[static_cast<size_t>(i)].description());
        bindObject(args[static_cast<size_t>(i)], i + 1, statement);
    }
    return true;
}

void FMDatabase::bindObject(const hvn::Value& object, int column, sqlite3_stmt* statement) {
    // Every value is copied by SQLite (SQLITE_TRANSIENT): the caller's values may be gone
    // before a cursor steps.
    switch (object.type()) {
        case hvn::Value::Type::Null:
            sqlite3_bind_null(statement, column);
            break;
        case hvn::Value::Type::Data: {
            const hvn::Data& bytes = object.asData();
            // An empty block is a zero-length BLOB, not NULL (a null pointer would bind NULL).
            if (bytes.empty()) {
                sqlite3_bind_zeroblob(statement, column, 0);
            } else {
                sqlite3_bind_blob64(statement, column, bytes.data(), static_cast<sqlite3_uint64>(bytes.size()),
                                    SQLITE_TRANSIENT);
            }
            break;
        }
        case hvn::Value::Type::Date:
            sqlite3_bind_double(statement, column, object.asDate().secondsSince1970);
            break;
        case hvn::Value::Type::Bool:
            sqlite3_bind_int(statement, column, object.asBool() ? 1 : 0);
            break;
        case hvn::Value::Type::Integer:
            sqlite3_bind_int64(statement, column, object.asInteger());
            break;
        case hvn::Value::Type::Real:
            sqlite3_bind_double(statement, column, object.asReal());
            break;
        default: {
            std::string text = object.description();
            sqlite3_bind_text(statement, column, text.c_str(), static_cast<int>(text.size()),
                              SQLITE_TRANSIENT);
            break;
        }
    }
}

// --- Queries and updates ---

bool FMDatabase::readyStatement(const std::string& sql, const std::vector<hvn::Value>& args, const char* operation,
                                std::shared_ptr<FMStatement>& statement, sqlite3_stmt*& handle) {
    inUse_ = true;
    if (traceExecution) libraryLog(description() + " " + operation + ": " + sql);
    statement = cachedStatementFor(sql);
    handle = nullptr;
    if (statement) {
        handle = statement->statement();
        statement->reset();
    } else {
        handle = prepare(sql, operation);
        if (!handle) {
            inUse_ = false;
            return false;
        }
    }
    if (!bindArguments(handle, args, operation, sql)) {
        if (!statement) sqlite3_finalize(handle);
        statement.reset();
        handle = nullptr;
        inUse_ = false;
        return false;
    }
    return true;
}

int FMDatabase::stepUnderBusyRetry(sqlite3_stmt* handle, const char* operation, const char* resetTag,
                                   bool& gaveUp) {
    FMBusyRetry retry(busyRetryTimeout);
    gaveUp = false;
    for (;;) {
        int rc = sqlite3_step(handle);
        if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) return rc;
        if (rc == SQLITE_LOCKED) {
            int resetRc = sqlite3_reset(handle);
            if (resetRc != SQLITE_LOCKED) {
                libraryLog(hvn::format("Unexpected result from sqlite3_reset (%d) %s", resetRc, resetTag));
            }
        }
        if (retry.again()) continue;
        logBusy(operation, __LINE__);
        gaveUp = true;
        return rc;
    }
}

std::unique_ptr<FMResultSet> FMDatabase::executeQuery(const std::string& sql,
                                                      const std::vector<hvn::Value>& args) {
    clearLayerError();
    if (!checkOpen()) return nullptr;
    if (inUse_) {
        complainAboutInUse();
        return nullptr;
    }
    std::shared_ptr<FMStatement> statement;
    sqlite3_stmt* handle = nullptr;
    if (!readyStatement(sql, args, "executeQuery", statement, handle)) return nullptr;
    if (!statement) {
        statement = std::make_shared<FMStatement>(handle, sql);
        if (shouldCacheStatements_ && !cachedStatements_.count(sql)) cachedStatements_[sql] = statement;
    }
    auto resultSet = std::unique_ptr<FMResultSet>(new FMResultSet(statement, this, sql));
    openResultSets_.insert(resultSet.get());
    statement->useCount += 1;
    statement->inUse = true;
    inUse_ = false;
    return resultSet;
}

bool FMDatabase::executeUpdate(const std::string& sql, const std::vector<hvn::Value>& args) {
    return update(sql, nullptr, args);
}

bool FMDatabase::update(const std::string& sql, FMError* error, const std::vector<hvn::Value>& args) {
    auto fail = [&] {
        if (error) *error = FMError{lastErrorMessage(), lastErrorCode()};
        return false;
    };
    clearLayerError();
    if (!checkOpen()) return fail();
    if (inUse_) {
        complainAboutInUse();
        return fail();
    }
    std::shared_ptr<FMStatement> statement;
    sqlite3_stmt* handle = nullptr;
    if (!readyStatement(sql, args, "executeUpdate", statement, handle)) return fail();

    bool gaveUp = false;
    int rc = stepUnderBusyRetry(handle, "executeUpdate", "eu", gaveUp);
    if (rc == SQLITE_ROW) {
        assertion("rc!=SQLITE_ROW");
    } else if (rc != SQLITE_DONE && !gaveUp) {
        const char* message = sqlite3_errmsg(db_);
        if (rc == SQLITE_ERROR) {
            libraryLog(hvn::format("Error calling sqlite3_step (%d: %s) SQLITE_ERROR", rc, message));
        } else if (rc == SQLITE_MISUSE) {
            libraryLog(hvn::format("Error calling sqlite3_step (%d: %s) SQLITE_MISUSE", rc, message));
        } else {
            libraryLog(hvn::format("Unknown error calling sqlite3_step (%d: %s) eu", rc, message));
        }
        libraryLog("DB Query: " + sql);
    }

    int closeRc;
    if (shouldCacheStatements_ && (statement || !cachedStatements_.count(sql))) {
        if (!statement) {
            statement = std::make_shared<FMStatement>(handle, sql);
            cachedStatements_[sql] = statement;
        }
        statement->useCount += 1;
        closeRc = sqlite3_reset(handle);
    } else {
        closeRc = sqlite3_finalize(handle);
    }
    inUse_ = false;
    if (closeRc != SQLITE_OK || gaveUp) {
        if (gaveUp && closeRc == SQLITE_OK) setLayerError(SQLITE_BUSY, "database is locked");
        return fail();
    }
    return true;
}

std::unique_ptr<FMResultSet> FMDatabase::executeQueryWithFormat(const std::string& format,
                                                                const std::vector<hvn::Value>& args) {
    auto made = sqlForFormat(format, args);
    if (!made) {
        setLayerError(SQLITE_RANGE, "the format has more conversions than values");
        return nullptr;
    }
    return executeQuery(made->first, made->second);
}

bool FMDatabase::executeUpdateWithFormat(const std::string& format, const std::vector<hvn::Value>& args) {
    auto made = sqlForFormat(format, args);
    if (!made) {
        setLayerError(SQLITE_RANGE, "the format has more conversions than values");
        return false;
    }
    return executeUpdate(made->first, made->second);
}

std::optional<std::pair<std::string, std::vector<hvn::Value>>> FMDatabase::sqlForFormat(
    const std::string& format, const std::vector<hvn::Value>& args) {
    static const char* const kLong[] = {"lld", "llu", "hi", "hu", "ld", "lu", "qi", "qu"};
    std::string sql;
    std::vector<hvn::Value> values;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            sql += c;
            continue;
        }
        if (i + 1 >= format.size()) break;  // a lone trailing "%" is dropped
        std::string rest = format.substr(i + 1, 3);
        std::string conversion;
        for (const char* l : kLong) {
            if (rest.compare(0, std::char_traits<char>::length(l), l) == 0) {
                conversion = l;
                break;
            }
        }
        if (conversion.empty() && std::string("@csdDiuUfg").find(rest[0]) != std::string::npos) {
            conversion = rest.substr(0, 1);
        }
        if (conversion.empty()) {
            sql += rest[0];  // "%%" gives "%", any other character is copied alone
            i += 1;
            continue;
        }
        i += conversion.size();
        if (next >= args.size()) return std::nullopt;
        const hvn::Value& arg = args[next++];
        char kind = conversion.back();
        if (kind == 'c') {
            values.emplace_back(arg.isString() ? arg.asString().substr(0, 1)
                                               : std::string(1, static_cast<char>(arg.asInteger())));
        } else if (kind == 'f' || kind == 'g') {
            values.emplace_back(arg.asReal());
        } else if (kind == '@' || kind == 's') {
            values.push_back(arg);
        } else {
            values.emplace_back(static_cast<long long>(arg.asInteger()));
        }
        sql += '?';
    }
    return std::make_pair(std::move(sql), std::move(values));
}

// --- Errors and results ---

int FMDatabase::lastErrorCode() const {
    if (layerErrorCode_ != 0) return layerErrorCode_;
    return db_ ? sqlite3_errcode(db_) : 0;
}

std::string FMDatabase::lastErrorMessage() const {
    if (layerErrorCode_ != 0) return layerErrorMessage_;
    return db_ ? sqlite3_errmsg(db_) : std::string("not an error");
}

bool FMDatabase::hadError() const {
    int code = lastErrorCode();
    return code > SQLITE_OK && code < SQLITE_ROW;
}

int64_t FMDatabase::lastInsertRowId() {
    if (inUse_) {
        complainAboutInUse();
        return 0;
    }
    return db_ ? sqlite3_last_insert_rowid(db_) : 0;
}

int FMDatabase::changes() {
    if (inUse_) {
        complainAboutInUse();
        return 0;
    }
    return db_ ? sqlite3_changes(db_) : 0;
}

// --- Transactions ---

bool FMDatabase::beginTransaction() {
    bool ok = executeUpdate("BEGIN EXCLUSIVE TRANSACTION;");
    if (ok) inTransaction_ = true;
    return ok;
}

bool FMDatabase::beginDeferredTransaction() {
    bool ok = executeUpdate("BEGIN DEFERRED TRANSACTION;");
    if (ok) inTransaction_ = true;
    return ok;
}

bool FMDatabase::commit() {
    bool ok = executeUpdate("COMMIT TRANSACTION;");
    if (ok) inTransaction_ = false;
    return ok;
}

bool FMDatabase::rollback() {
    bool ok = executeUpdate("ROLLBACK TRANSACTION;");
    if (ok) inTransaction_ = false;
    return ok;
}

// --- Library ---

std::string FMDatabase::sqliteLibVersion() {
    return hvn::format("%s", sqlite3_libversion());
}

bool FMDatabase::isThreadSafe() {
    return sqlite3_threadsafe() != 0;
}

bool FMDatabase::setKey(const std::string&) {
    return false;
}

bool FMDatabase::rekey(const std::string&) {
    return false;
}
