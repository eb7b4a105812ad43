// One SQLite connection: open/close, queries and updates with "?" arguments bound from
// hvn::Value, a busy retry (see FMBusyRetry.h), a per-connection cache of prepared
// statements keyed by SQL text and an "in use" guard against re-entrant use.
//
// One implementation serves two instances. The program's instance (FMDatabase) writes no
// log lines of its own; only the assertion texts exist in it (crashOnErrors). Sentrel's
// instance (VirusDatabase, a subclass made with libraryInstance = true) writes its
// diagnostic lines through hvn::Log.
//
// Failures are return values: a null cursor or false, with the details in lastErrorCode()
// and lastErrorMessage(). Nothing throws. A connection and its cursors belong to one
// thread at a time; there is no locking.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/FMDB/FMStatement.h"
#include "Platform/Value.h"

class FMResultSet;

// The error of update(): domain = SQLite's error message, code = the SQLite result code.
struct FMError {
    std::string domain;
    int code = 0;
};

class FM_EXPORT FMDatabase {
public:
    // A connection for path, not opened (the file is not touched). nullopt stands for the
    // in-memory database ":memory:".
    explicit FMDatabase(std::optional<std::string> path);
    static std::unique_ptr<FMDatabase> databaseWithPath(std::optional<std::string> path);
    // Closes the connection (and every cursor still open on it).
    virtual ~FMDatabase();
    FMDatabase(const FMDatabase&) = delete;
    FMDatabase& operator=(const FMDatabase&) = delete;

    // --- Connection ---
    // True when open afterwards; does nothing when already open. The default open creates
    // a missing file; openWithFlags takes SQLite's open flags (SQLITE_OPEN_READWRITE alone
    // never creates one).
    bool open();
    bool openWithFlags(int flags);
    // Closes cached statements and open cursors, then the handle. True also when it was not
    // open; false only when the database stays busy past the retry limit (still open then).
    bool close();
    bool isOpen() const { return db_ != nullptr; }
    // True when open and the table list can be read.
    bool goodConnection();

    // --- Statements ---
    // Runs a query; parameter i (from 1) takes args[i-1] (extra values are ignored; fewer
    // values than parameters fail with SQLITE_RANGE). Returns an open cursor whose first row
    // is not stepped yet, or null on failure.
    std::unique_ptr<FMResultSet> executeQuery(const std::string& sql,
                                              const std::vector<hvn::Value>& args = {});
    // Runs a statement that returns no rows. True when it succeeded.
    bool executeUpdate(const std::string& sql, const std::vector<hvn::Value>& args = {});
    // executeUpdate that also fills *error (when given) on failure.
    bool update(const std::string& sql, FMError* error, const std::vector<hvn::Value>& args = {});
    // printf-like formats: each recognised conversion (%@ %c %s %d %D %i %u %U %hi %hu %ld %lu
    // %lld %llu %qi %qu %f %g) becomes "?" bound to the next value of args ("%c" as a
    // one-character text, integer conversions as integers, "%f"/"%g" as reals, "%@"/"%s" as
    // given); "%%" is one percent sign; any other character after "%" is copied alone.
    // Fails (SQLITE_RANGE) when args has fewer values than conversions.
    std::unique_ptr<FMResultSet> executeQueryWithFormat(const std::string& format,
                                                        const std::vector<hvn::Value>& args);
    bool executeUpdateWithFormat(const std::string& format, const std::vector<hvn::Value>& args);
    // The SQL and the values that a format gives (see above); nullopt when args is short.
    static std::optional<std::pair<std::string, std::vector<hvn::Value>>> sqlForFormat(
        const std::string& format, const std::vector<hvn::Value>& args);

    // --- Errors and results ---
    // True when lastErrorCode() is between 1 and 99 (SQLITE_ROW and SQLITE_DONE are none).
    bool hadError() const;
    int lastErrorCode() const;
    std::string lastErrorMessage() const;
    // The library's values; 0 while the connection is in use.
    int64_t lastInsertRowId();
    int changes();

    // --- Transactions ---
    bool beginTransaction();          // "BEGIN EXCLUSIVE TRANSACTION;"
    bool beginDeferredTransaction();  // "BEGIN DEFERRED TRANSACTION;"
    bool commit();                    // "COMMIT TRANSACTION;"
    bool rollback();                  // "ROLLBACK TRANSACTION;"
    bool inTransaction() const { return inTransaction_; }

    // The in-use guard: inUse() is true while an operation runs or a transaction is open.
    bool inUse() const { return inUse_ || inTransaction_; }
    void setInUse(bool value) { inUse_ = value; }

    // --- Statement cache ---
    bool shouldCacheStatements() const { return shouldCacheStatements_; }
    // On: creates the cache. Off: drops it; each statement is finalized when its last user
    // (the cache or an open cursor) lets go of it.
    void setShouldCacheStatements(bool value);
    size_t cachedStatementCount() const { return cachedStatements_.size(); }
    size_t openResultSetCount() const { return openResultSets_.size(); }

    // --- Library ---
    static std::string sqliteLibVersion();
    static bool isThreadSafe();
    // No encrypted-database support: always false.
    bool setKey(const std::string& key);
    bool rekey(const std::string& key);

    // The SQLite handle (null when closed) and the path (nullopt: in memory).
    sqlite3* db() const { return db_; }
    const std::optional<std::string>& databasePath() const { return databasePath_; }
    // "<FMDatabase: PATH>" (used in the messages).
    std::string description() const;

    // --- Switches ---
    bool logsErrors = false;       // report failed preparations
    bool crashOnErrors = false;    // turn reported errors and misuse into assertion failures
    bool traceExecution = false;   // log each statement and bound value (library instance)
    bool checkedOut = false;       // carried for a pool; unused
    int32_t busyRetryTimeout = 0;  // extra attempts after BUSY/LOCKED; 0 = about two seconds

    // Called by a cursor when it closes.
    void resultSetDidClose(FMResultSet* resultSet);

protected:
    // libraryInstance selects Sentrel's log lines.
    FMDatabase(std::optional<std::string> path, bool libraryInstance);

private:
    friend class FMResultSet;

    bool libraryInstance_;
    std::optional<std::string> databasePath_;
    sqlite3* db_ = nullptr;
    bool inUse_ = false;
    bool inTransaction_ = false;
    bool shouldCacheStatements_ = false;
    std::map<std::string, std::shared_ptr<FMStatement>> cachedStatements_;
    std::set<FMResultSet*> openResultSets_;
    // An error of the layer itself (not open, too few arguments, failed open); cleared when
    // the next operation starts. Takes precedence over the handle's error.
    int layerErrorCode_ = 0;
    std::string layerErrorMessage_;

    void libraryLog(const std::string& line) const;
    void assertion(const std::string& text) const;
    void clearLayerError() { layerErrorCode_ = 0, layerErrorMessage_.clear(); }
    void setLayerError(int code, std::string message);
    bool checkOpen();
    void complainAboutInUse();
    void logBusy(const char* operation, int line);
    // Prepares sql under the busy retry; null on failure (reported).
    sqlite3_stmt* prepare(const std::string& sql, const char* operation);
    // Looks up the cache (null when off, absent or in use by a cursor).
    std::shared_ptr<FMStatement> cachedStatementFor(const std::string& sql);
    // Binds the statement's parameters from args; false when args is short.
    bool bindArguments(sqlite3_stmt* statement, const std::vector<hvn::Value>& args, const char* operation,
                       const std::string& sql);
    void bindObject(const hvn::Value& object, int column, sqlite3_stmt* statement);
    // Steps 1 to 5 of running sql: sets inUse, takes the cached statement or prepares one,
    // binds args. On failure clears inUse and returns false (the error is reported).
    bool readyStatement(const std::string& sql, const std::vector<hvn::Value>& args, const char* operation,
                        std::shared_ptr<FMStatement>& statement, sqlite3_stmt*& handle);
    // Steps the statement under the busy retry rule (resetting after LOCKED, the reset's
    // unexpected answer logged with resetTag); gaveUp is set when the bound was reached.
    int stepUnderBusyRetry(sqlite3_stmt* handle, const char* operation, const char* resetTag, bool& gaveUp);
    void clearCachedStatements();
    void closeOpenResultSets();
};
