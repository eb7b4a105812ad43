// A prepared statement, owned by the statement cache of its connection and/or by the one
// cursor stepping it (shared ownership: the handle is finalized when the last owner lets go
// or close() is called). Used on the connection's thread only.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#define FM_EXPORT __attribute__((visibility("default")))

class FM_EXPORT FMStatement {
public:
    FMStatement(sqlite3_stmt* statement, std::string query);
    ~FMStatement();
    FMStatement(const FMStatement&) = delete;
    FMStatement& operator=(const FMStatement&) = delete;

    // The SQLite handle; null once closed.
    sqlite3_stmt* statement() const { return statement_; }
    const std::string& query() const { return query_; }

    // Finalizes the handle and clears it. Harmless when already closed.
    void close();
    // Resets the handle (bindings are kept). Harmless when closed.
    void reset();

    // "<FMStatement: 0x…> N hit(s) for query SQL".
    std::string description() const;

    // Number of executions through the cache.
    int64_t useCount = 0;
    // Set while an open cursor steps this statement; a cached statement in use is not handed
    // to a second cursor (the connection prepares a fresh one instead).
    bool inUse = false;

private:
    sqlite3_stmt* statement_;
    std::string query_;
};
