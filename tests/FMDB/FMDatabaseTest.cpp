#include "HVN/Code/Clearer/FMDB/FMDatabase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/FMDB/FMDatabaseAdditions.h"
#include "HVN/Code/Clearer/FMDB/FMResultSet.h"
#include "Platform/Log.h"
#include "Sentrel/VirusDatabase.h"
#include "Sentrel/VirusDatabaseAdditions.h"
#include "Support/LogLines.h"
#include "Support/TestRoots.h"

namespace {

using hvn::Value;

using hvn::test::LogLines;

class FMDatabaseTest : public hvn::test::RootsTest {
protected:
    std::string path() const { return roots.base() + "/test.db"; }

    std::unique_ptr<FMDatabase> openDb() {
        auto db = FMDatabase::databaseWithPath(path());
        EXPECT_TRUE(db->open());
        return db;
    }
};

TEST_F(FMDatabaseTest, OpenAndCloseAreIdempotentAndOpenFailureIsReported) {
    auto db = FMDatabase::databaseWithPath(path());
    EXPECT_TRUE(db->close());  // not open yet
    EXPECT_TRUE(db->open());
    sqlite3* handle = db->db();
    EXPECT_TRUE(db->open());
    EXPECT_EQ(handle, db->db());  // not reopened
    EXPECT_TRUE(db->goodConnection());
    EXPECT_TRUE(db->close());
    EXPECT_TRUE(db->close());
    EXPECT_FALSE(db->goodConnection());

    FMDatabase missing(roots.base() + "/no/such/folder/x.db");
    EXPECT_FALSE(missing.open());
    EXPECT_EQ(missing.lastErrorCode(), SQLITE_CANTOPEN);
    EXPECT_TRUE(missing.hadError());

    // Read-write without create never makes a file.
    FMDatabase noCreate(roots.base() + "/absent.db");
    EXPECT_FALSE(noCreate.openWithFlags(SQLITE_OPEN_READWRITE));
    EXPECT_FALSE(std::filesystem::exists(roots.base() + "/absent.db"));

    FMDatabase memory(std::nullopt);
    ASSERT_TRUE(memory.open());
    EXPECT_EQ(FMDatabaseAdditions::intForQuery(memory, "select 6 * 7"), 42);
}

TEST_F(FMDatabaseTest, ArgumentsBindFirstParametersAndShortArgumentListsFail) {
    auto db = openDb();
    auto rs = db->executeQuery("select ?, ?", {Value(1), Value("two"), Value(3.0)});
    ASSERT_TRUE(rs);
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->intForColumnIndex(0), 1);
    EXPECT_EQ(rs->stringForColumnIndex(1), "two");
    EXPECT_EQ(rs->columnCount(), 2);
    rs->close();

    EXPECT_EQ(db->executeQuery("select ?, ?", {Value(1)}), nullptr);
    EXPECT_EQ(db->lastErrorCode(), SQLITE_RANGE);
    ASSERT_TRUE(db->executeUpdate("create table t (a)"));
    EXPECT_FALSE(db->executeUpdate("insert into t values (?)", {}));
    EXPECT_TRUE(db->hadError());
    EXPECT_EQ(FMDatabaseAdditions::intForQuery(*db, "select count(*) from t"), 0);
}

TEST_F(FMDatabaseTest, ValuesBindByKind) {
    auto db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table v (x)"));
    hvn::Data bytes{0, 1, 2, 255};
    std::vector<Value> values = {Value(),
                                 Value(true),
                                 Value(false),
                                 Value(7),
                                 Value(1LL << 40),
                                 Value(2.5),
                                 Value("text"),
                                 Value(bytes),
                                 Value(hvn::Date{1000.5}),
                                 Value(hvn::Array{Value(1), Value(2)}),
                                 Value(hvn::Data{})};  // an empty block is a BLOB, not NULL
    for (const auto& v : values) ASSERT_TRUE(db->executeUpdate("insert into v values (?)", {v}));

    auto rs = db->executeQuery("select typeof(x) as T, x from v order by rowid");
    ASSERT_TRUE(rs);
    std::vector<std::string> types;
    std::vector<Value> read;
    while (rs->next()) {
        types.push_back(*rs->stringForColumn("t"));
        read.push_back(rs->objectForColumnName("X"));
    }
    EXPECT_EQ(types, (std::vector<std::string>{"null", "integer", "integer", "integer", "integer", "real",
                                               "text", "blob", "real", "text", "blob"}));
    EXPECT_TRUE(read[0].isNull());
    EXPECT_EQ(read[1], Value(1));
    EXPECT_EQ(read[2], Value(0));
    EXPECT_EQ(read[4], Value(1LL << 40));
    EXPECT_EQ(read[5], Value(2.5));
    EXPECT_EQ(read[6], Value("text"));
    EXPECT_EQ(read[7], Value(bytes));
    EXPECT_EQ(read[8], Value(1000.5));
    EXPECT_EQ(read[9], Value("(1, 2)"));
    EXPECT_EQ(read[10], Value(hvn::Data{}));
    EXPECT_EQ(db->openResultSetCount(), 0u);  // read to the end: closed
}

TEST_F(FMDatabaseTest, BoundValuesOutliveTheCallerUntilTheCursorSteps) {
    auto db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table b (k blob, n text)"));
    ASSERT_TRUE(db->executeUpdate("insert into b values (?, 'hit')", {Value(hvn::Data(64, 7))}));
    std::unique_ptr<FMResultSet> rs;
    {
        std::vector<Value> args{Value(hvn::Data(64, 7))};
        rs = db->executeQuery("select n from b where k = ?", args);
    }
    std::vector<Value> overwrite(100, Value(hvn::Data(64, 9)));  // reuse the freed memory
    ASSERT_TRUE(rs);
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->stringForColumnIndex(0), "hit");
}

TEST_F(FMDatabaseTest, RowDictionaryHasLowerCasedKeysAndNullMarkers) {
    auto db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table r (Path text, Keyword_Encrypt blob, Empty text)"));
    ASSERT_TRUE(db->executeUpdate("insert into r values ('p', x'0102', null)"));
    auto rs = db->executeQuery("select * from r");
    ASSERT_TRUE(rs && rs->next());
    auto row = rs->resultDict();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->size(), 3u);
    EXPECT_EQ(row->at("path"), Value("p"));
    EXPECT_EQ(row->at("keyword_encrypt"), Value(hvn::Data{1, 2}));
    EXPECT_TRUE(row->at("empty").isNull());
    EXPECT_EQ(rs->stringForColumn("EMPTY"), std::nullopt);
    EXPECT_EQ(rs->dataForColumn("empty"), std::nullopt);
    EXPECT_EQ(rs->dateForColumn("empty"), std::nullopt);
    EXPECT_TRUE(rs->columnIsNull("Empty"));
    EXPECT_EQ(rs->UTF8StringForColumnName("empty"), nullptr);
    EXPECT_EQ(rs->columnIndexForName("KEYWORD_encrypt"), 1);
    EXPECT_EQ(rs->columnIndexForName("nothing"), -1);
    EXPECT_EQ(rs->stringForColumnIndex(-1), std::nullopt);
    EXPECT_EQ(rs->intForColumn("nothing"), 0);
    EXPECT_EQ(rs->stringForColumnIndex(1), "\x01\x02");
    EXPECT_FALSE(rs->boolForColumn("path"));
    auto noCopy = rs->dataNoCopyForColumn("keyword_encrypt");
    ASSERT_TRUE(noCopy);
    EXPECT_EQ(noCopy->size(), 2u);
    EXPECT_FALSE(rs->next());
    EXPECT_FALSE(rs->resultDict());  // closed: no row
    rs->close();                     // harmless
    EXPECT_EQ(db->openResultSetCount(), 0u);

    // Two columns with the same lower-cased name: the later one wins.
    auto dup = db->executeQuery("select 1 as A, 2 as a");
    ASSERT_TRUE(dup && dup->next());
    EXPECT_EQ(dup->resultDict()->at("a"), Value(2));
}

TEST_F(FMDatabaseTest, ConstraintViolationIsAFailureWithAnError) {
    auto db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table u (k integer primary key, v text not null)"));
    ASSERT_TRUE(db->executeUpdate("insert into u values (1, 'a')"));
    EXPECT_EQ(db->lastInsertRowId(), 1);
    EXPECT_EQ(db->changes(), 1);
    EXPECT_FALSE(db->executeUpdate("insert into u values (1, 'b')"));
    EXPECT_TRUE(db->hadError());
    EXPECT_EQ(db->lastErrorCode() & 0xff, SQLITE_CONSTRAINT);

    FMError error;
    EXPECT_FALSE(db->update("insert into u values (2, ?)", &error, {Value()}));
    EXPECT_EQ(error.code & 0xff, SQLITE_CONSTRAINT);
    EXPECT_NE(error.domain.find("NOT NULL"), std::string::npos);

    EXPECT_FALSE(db->update("insert into nowhere values (1)", &error));
    EXPECT_EQ(error.code, SQLITE_ERROR);
    EXPECT_NE(error.domain.find("nowhere"), std::string::npos);

    // Cached statements report the same way.
    db->setShouldCacheStatements(true);
    EXPECT_FALSE(db->executeUpdate("insert into u values (?, 'c')", {Value(1)}));
    EXPECT_TRUE(db->executeUpdate("insert into u values (?, 'c')", {Value(3)}));
    EXPECT_EQ(FMDatabaseAdditions::intForQuery(*db, "select count(*) from u"), 2);
}

TEST_F(FMDatabaseTest, InUseGuardRefusesASecondOperationAndLeavesTheFirstAlone) {
    auto db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table n (x)"));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(db->executeUpdate("insert into n values (?)", {Value(i)}));
    auto first = db->executeQuery("select x from n order by x");
    ASSERT_TRUE(first && first->next());

    db->setInUse(true);
    EXPECT_TRUE(db->inUse());
    EXPECT_EQ(db->executeQuery("select 1"), nullptr);
    EXPECT_FALSE(db->executeUpdate("insert into n values (9)"));
    EXPECT_EQ(db->changes(), 0);
    db->setInUse(false);

    std::vector<int> seen{first->intForColumnIndex(0)};
    while (first->next()) seen.push_back(first->intForColumnIndex(0));
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(FMDatabaseAdditions::intForQuery(*db, "select count(*) from n"), 3);
}

TEST_F(FMDatabaseTest, StatementCacheReusesStatementsButNeverSharesOneBetweenOpenCursors) {
    auto db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table c (x)"));
    ASSERT_TRUE(db->executeUpdate("insert into c values (1), (2)"));
    db->setShouldCacheStatements(true);
    const std::string sql = "select x from c order by x";

    auto a = db->executeQuery(sql);
    ASSERT_TRUE(a && a->next());
    FMStatement* cached = a->statement();
    // A second cursor while the first still steps gets a statement of its own.
    auto b = db->executeQuery(sql);
    ASSERT_TRUE(b && b->next());
    EXPECT_NE(b->statement(), cached);
    EXPECT_EQ(a->intForColumnIndex(0), 1);
    EXPECT_EQ(b->intForColumnIndex(0), 1);
    ASSERT_TRUE(a->next());
    EXPECT_EQ(a->intForColumnIndex(0), 2);
    EXPECT_EQ(b->intForColumnIndex(0), 1);
    a->close();
    b->close();

    auto c = db->executeQuery(sql);
    ASSERT_TRUE(c && c->next());
    EXPECT_EQ(c->statement(), cached);
    EXPECT_EQ(c->statement()->useCount, 2);
    EXPECT_EQ(c->intForColumnIndex(0), 1);  // restarted from the first row
    EXPECT_NE(c->statement()->description().find("2 hit(s) for query " + sql), std::string::npos);

    // Dropping the cache keeps the statement alive for the open cursor.
    db->setShouldCacheStatements(false);
    EXPECT_EQ(db->cachedStatementCount(), 0u);
    ASSERT_TRUE(c->next());
    EXPECT_EQ(c->intForColumnIndex(0), 2);
}

TEST_F(FMDatabaseTest, ClosingTheConnectionClosesItsCursors) {
    auto db = openDb();
    db->setShouldCacheStatements(true);
    auto rs = db->executeQuery("select 1 union all select 2");
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(db->openResultSetCount(), 1u);
    EXPECT_TRUE(db->close());
    EXPECT_EQ(rs->parentDB(), nullptr);
    EXPECT_FALSE(rs->next());
    EXPECT_EQ(db->executeQuery("select 1"), nullptr);  // not open
    EXPECT_EQ(db->lastErrorCode(), SQLITE_MISUSE);
    db.reset();
    rs.reset();  // destroying the cursor after its connection is harmless
}

TEST_F(FMDatabaseTest, TransactionsCommitAndRollBack) {
    auto db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table t (x)"));
    ASSERT_TRUE(db->beginTransaction());
    EXPECT_TRUE(db->inTransaction());
    EXPECT_TRUE(db->inUse());
    ASSERT_TRUE(db->executeUpdate("insert into t values (1)"));
    ASSERT_TRUE(db->rollback());
    EXPECT_FALSE(db->inTransaction());
    ASSERT_TRUE(db->beginDeferredTransaction());
    ASSERT_TRUE(db->executeUpdate("insert into t values (2)"));
    ASSERT_TRUE(db->commit());
    EXPECT_EQ(FMDatabaseAdditions::intForQuery(*db, "select sum(x) from t"), 2);
    EXPECT_FALSE(db->commit());  // no transaction open
}

TEST_F(FMDatabaseTest, FormatStringsTurnConversionsIntoParameters) {
    auto made = FMDatabase::sqlForFormat(
        "a %d %lld %s %@ %c %f %% %x %hu%",
        {Value(1), Value(2), Value("s"), Value(hvn::Data{1}), Value(65), Value(1.5), Value(7)});
    ASSERT_TRUE(made);
    EXPECT_EQ(made->first, "a ? ? ? ? ? ? % x ?");
    EXPECT_EQ(made->second, (std::vector<Value>{Value(1), Value(2), Value("s"), Value(hvn::Data{1}),
                                                Value("A"), Value(1.5), Value(7)}));
    EXPECT_FALSE(FMDatabase::sqlForFormat("%d %d", {Value(1)}));

    auto db = openDb();
    ASSERT_TRUE(db->executeUpdateWithFormat("create table f (a, b)", {}));
    ASSERT_TRUE(db->executeUpdateWithFormat("insert into f values (%d, %@)", {Value(5), Value("it's")}));
    auto rs = db->executeQueryWithFormat("select b from f where a = %ld", {Value(5)});
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(rs->stringForColumnIndex(0), "it's");
    EXPECT_EQ(db->executeQueryWithFormat("select %d", {}), nullptr);
    EXPECT_EQ(db->lastErrorCode(), SQLITE_RANGE);
}

TEST_F(FMDatabaseTest, AdditionsAnswerFromTheFirstRowAndTheSchema) {
    auto db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table \"Odd \"\"Name\" (Col_A text, b blob)"));
    ASSERT_TRUE(db->executeUpdate("insert into \"Odd \"\"Name\" values ('x', x'01')"));
    using namespace FMDatabaseAdditions;
    EXPECT_TRUE(tableExists(*db, "ODD \"NAME"));
    EXPECT_FALSE(tableExists(*db, "other"));
    EXPECT_TRUE(columnExists(*db, "Odd \"Name", "col_a"));
    EXPECT_FALSE(columnExists(*db, "Odd \"Name", "c"));
    EXPECT_EQ(stringForQuery(*db, "select col_a from \"Odd \"\"Name\""), "x");
    EXPECT_EQ(stringForQuery(*db, "select col_a from \"Odd \"\"Name\" where 0"), std::nullopt);
    EXPECT_EQ(dataForQuery(*db, "select b from \"Odd \"\"Name\""), (hvn::Data{1}));
    EXPECT_EQ(longForQuery(*db, "select ? + 1", {Value(41)}), 42);
    EXPECT_TRUE(boolForQuery(*db, "select 2"));
    EXPECT_DOUBLE_EQ(doubleForQuery(*db, "select 0.5"), 0.5);
    EXPECT_EQ(dateForQuery(*db, "select 10.0")->secondsSince1970, 10.0);
    auto schema = getSchema(*db);
    ASSERT_TRUE(schema && schema->next());
    EXPECT_EQ(schema->stringForColumn("name"), "Odd \"Name");
    schema->close();
    FMError error;
    EXPECT_TRUE(validateSQL(*db, "select 1", &error));
    EXPECT_FALSE(validateSQL(*db, "selec 1", &error));
    EXPECT_EQ(error.code, SQLITE_ERROR);
    EXPECT_EQ(db->openResultSetCount(), 0u);
    EXPECT_FALSE(db->setKey("k"));
    EXPECT_FALSE(db->rekey("k"));
    EXPECT_FALSE(FMDatabase::sqliteLibVersion().empty());
}

// A second connection holds an exclusive lock: every operation gives up in bounded time.
TEST_F(FMDatabaseTest, BusyDatabaseGivesUpInsteadOfWaitingForever) {
    auto setup = openDb();
    ASSERT_TRUE(setup->executeUpdate("create table t (x)"));
    ASSERT_TRUE(setup->executeUpdate("insert into t values (1)"));
    ASSERT_TRUE(setup->close());

    // Statements prepared before the lock meet it when they step; new ones when they prepare.
    VirusDatabase waiting(path());
    ASSERT_TRUE(waiting.open());
    waiting.setShouldCacheStatements(true);
    auto warm = waiting.executeQuery("select x from t");
    ASSERT_TRUE(warm);
    while (warm->next()) {
    }
    ASSERT_TRUE(waiting.executeUpdate("insert into t values (?)", {Value(2)}));

    FMDatabase holder(path());
    ASSERT_TRUE(holder.open());
    ASSERT_TRUE(holder.beginTransaction());  // BEGIN EXCLUSIVE
    ASSERT_TRUE(holder.executeUpdate("insert into t values (9)"));

    LogLines log;
    auto start = std::chrono::steady_clock::now();
    auto rs = waiting.executeQuery("select x from t");
    ASSERT_TRUE(rs);
    EXPECT_FALSE(rs->next());
    EXPECT_TRUE(waiting.hadError());
    EXPECT_FALSE(waiting.executeUpdate("insert into t values (?)", {Value(3)}));
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 30.0);  // bounded, not forever
    EXPECT_TRUE(waiting.hadError());
    EXPECT_EQ(waiting.lastErrorCode(), SQLITE_BUSY);
    EXPECT_TRUE(log.contains("next:"));
    EXPECT_TRUE(log.contains("executeUpdate:"));
    EXPECT_TRUE(log.contains("Database busy (" + path() + ")"));
    EXPECT_TRUE(log.hasLine("Database busy"));

    // An explicit limit counts attempts; preparing meets the lock too.
    FMDatabase limited(path());
    ASSERT_TRUE(limited.open());
    limited.busyRetryTimeout = 3;
    EXPECT_EQ(limited.executeQuery("select count(*) from t"), nullptr);
    EXPECT_EQ(limited.lastErrorCode(), SQLITE_BUSY);
    EXPECT_FALSE(limited.executeUpdate("insert into t values (4)"));
    EXPECT_EQ(limited.lastErrorCode(), SQLITE_BUSY);

    ASSERT_TRUE(holder.commit());
    // Once the lock is gone the same connections work again.
    EXPECT_TRUE(waiting.executeUpdate("insert into t values (?)", {Value(3)}));
    EXPECT_EQ(FMDatabaseAdditions::intForQuery(limited, "select count(*) from t"), 4);
}

TEST_F(FMDatabaseTest, OnlyTheLibraryInstanceWritesLogLines) {
    auto misuse = [](FMDatabase& db) {
        db.executeQuery("select 1");  // not open
        ASSERT_TRUE(db.open());
        auto rs = db.executeQuery("select 1 as one");
        ASSERT_TRUE(rs && rs->next());
        rs->intForColumn("two");  // missing column
        rs->close();
        rs.reset();
        db.setInUse(true);
        db.executeQuery("select 1");
        db.setInUse(false);
        db.executeUpdate("insert into nowhere values (1)");
        db.executeUpdate("create table k (x unique)");
        db.executeUpdate("insert into k values (1)");
        db.executeUpdate("insert into k values (1)");
    };
    {
        LogLines log;
        FMDatabase program(path());
        misuse(program);
        program.logsErrors = true;
        program.executeQuery("selec nothing");
        EXPECT_TRUE(log.lines().empty());
    }
    LogLines log;
    VirusDatabase library(path() + "2");
    misuse(library);
    EXPECT_TRUE(VirusDatabaseAdditions::tableExists(library, "K"));
    EXPECT_TRUE(log.contains("The FMDatabase <FMDatabase: " + path() + "2> is not open."));
    EXPECT_TRUE(log.contains("Warning: I could not find the column named 'two'."));
    EXPECT_TRUE(log.contains("is currently in use."));
    EXPECT_FALSE(log.contains("DB Error"));  // logsErrors is off
    EXPECT_TRUE(log.contains("Unknown error calling sqlite3_step (19: UNIQUE constraint failed: k.x) eu"));
    EXPECT_TRUE(log.contains("DB Query: insert into k values (1)"));

    log.clear();
    library.logsErrors = true;
    library.traceExecution = true;
    EXPECT_EQ(library.executeQuery("selec nothing"), nullptr);
    EXPECT_TRUE(log.contains("DB Error: 1 \"near \"selec\": syntax error\""));
    EXPECT_TRUE(log.contains("DB Query: selec nothing"));
    library.executeQuery("select ?", {Value("v")});
    EXPECT_TRUE(log.contains(" executeQuery: select ?"));
    EXPECT_TRUE(log.contains("obj: v"));

    // Run-time errors while stepping, a row read after the end, a statement left unfinalized.
    library.traceExecution = false;
    log.clear();
    EXPECT_FALSE(library.executeUpdate("insert into k select abs(-9223372036854775807 - 1)"));
    EXPECT_TRUE(log.contains("Error calling sqlite3_step (1: integer overflow) SQLITE_ERROR"));
    auto overflow = library.executeQuery("select abs(-9223372036854775807 - 1)");
    ASSERT_TRUE(overflow);
    EXPECT_FALSE(overflow->next());
    EXPECT_TRUE(log.contains("Error calling sqlite3_step (1: integer overflow) rs"));
    auto unstepped = library.executeQuery("select 1");
    ASSERT_TRUE(unstepped);
    EXPECT_FALSE(unstepped->resultDict());  // no row stepped yet
    EXPECT_TRUE(log.contains("Warning: There seem to be no columns in this set."));
    unstepped.reset();
    sqlite3_stmt* leaked = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(library.db(), "select 1", -1, &leaked, nullptr), SQLITE_OK);
    EXPECT_TRUE(library.close());
    EXPECT_TRUE(log.contains("Closing leaked statement"));
    EXPECT_FALSE(library.isOpen());

    VirusDatabase unopenable(roots.base() + "/no/such/dir/x.db");
    EXPECT_FALSE(unopenable.open());
    EXPECT_TRUE(log.contains("error opening!: 14"));
}

// No fixture here: the threadsafe death-test child runs the test again from its start and
// dies without cleaning up, so it must not create temporary folders.
TEST(FMDatabaseDeathTest, CrashOnErrorsTurnsMisuseIntoAssertions) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    FMDatabase db(std::nullopt);  // in memory
    db.crashOnErrors = true;
    EXPECT_DEATH(db.executeQuery("select 1"), "is not open\\.");
    ASSERT_TRUE(db.open());
    db.setInUse(true);
    EXPECT_DEATH(db.executeUpdate("select 1"), "is currently in use\\.");
    db.setInUse(false);
    EXPECT_DEATH(db.executeUpdate("select 1"), "rc!=SQLITE_ROW");
}

}  // namespace
