// The rule databases: "CleanPath.db" (tables HVNCLean and HVN_SYS_OPT), "Virus.db" and
// "Cookies.db" in the bundle's resources. Turns the rows of one rule catalog into scan
// requests, and offers the maintenance operations that turn a plain rule database into its
// shipped, encrypted form and back.
//
// Every read opens the connection, reads everything and closes it again. The connections
// are opened read-write without creating a missing file (a write-protected file is opened
// read-only by SQLite). A database that cannot be opened gives empty results, and the
// maintenance operations then stop without a message (they return false). A manager is used
// by one thread at a time; managers are made freely.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/FMDB/FMDatabase.h"
#include "HVN/Code/Clearer/FMDB/HVNCookieDBManager.h"
#include "HVN/Code/Clearer/FMDB/HVNPathData.h"
#include "HVN/Code/Clearer/FMDB/HVNSystemOpt.h"
#include "HVN/Code/Clearer/HVNScanInputObject.h"
#include "Platform/Value.h"
#include "Sentrel/HVNBadCookieObj.h"
#include "Sentrel/HVNVirusCodeObj.h"

class HVNScaneOuputObject;

// The catalog whose rule paths are relative to the home folder (they begin with "/" and the
// caller puts the home folder in front).
inline constexpr const char* kBroswerChaheCatalog = "Broswer Chahe";

class HVNPathDBManager {
public:
    // The three connections on the bundle's Resources/CleanPath.db, Virus.db, Cookies.db
    // (created, not opened).
    HVNPathDBManager();
    // Explicit files; an empty path stands for the bundle's file of that name.
    explicit HVNPathDBManager(std::string cleanPathDb, std::string virusDb = {}, std::string cookiesDb = {});
    ~HVNPathDBManager();
    HVNPathDBManager(const HVNPathDBManager&) = delete;
    HVNPathDBManager& operator=(const HVNPathDBManager&) = delete;

    FMDatabase& db() { return *db_; }
    FMDatabase& virusDb() { return *virusDb_; }
    FMDatabase& cookiesDb() { return *cookiesDb_; }

    // --- Rule queries ---
    // The scan requests of every row whose catalog contains category (SQL LIKE: ASCII
    // letters ignore case; "%" and "_" in category are wild cards), in the order of the
    // query. See parseData for the path handling. Empty when the database cannot be read.
    std::vector<HVNScanInputObjectPtr> getCleanPath(const std::string& category);
    // The browser rules of every matching row: new HVNPathData carrying path, keyWord,
    // keyValue and isSelected (see parseBrowserData).
    std::vector<std::shared_ptr<HVNPathData>> getBrowserCleanPath(const std::string& category);
    // The row dictionaries (lower-case keys) of a statement on db, with "?" arguments.
    std::vector<hvn::Dictionary> getDataBySQL(const std::string& sql,
                                              const std::vector<hvn::Value>& args = {});
    // Every row of HVNCLean / HVN_SYS_OPT.
    std::vector<std::shared_ptr<HVNPathData>> getAllPathData();
    std::vector<std::shared_ptr<HVNSystemOpt>> getSysOptData();

    // --- Rows to requests ---
    // One request per row, in order: the row's path (decrypted when needed) trimmed of blanks
    // and tabs; a path beginning with "~" has every "~" replaced by the home folder; any
    // other absolute path is put under the system root, except in the catalog
    // "Broswer Chahe" (home-relative paths); relative paths stay as they are (the rows of
    // "Broken Login Items" and "Broken Preferences"). key = the row's key word unless it is
    // absent, empty or the text "NULL"; isCheck YES; recursion NO. An undecryptable path
    // gives an empty path.
    static std::vector<HVNScanInputObjectPtr> parseData(const std::vector<hvn::Dictionary>& rows);
    // The same path handling; a new HVNPathData with that path, keyWord (unless absent,
    // empty or "NULL"), isSelected YES and keyValue copied from the row.
    static std::vector<std::shared_ptr<HVNPathData>> parseBrowserData(
        const std::vector<hvn::Dictionary>& rows);
    // The path handling of one row path (catalog decides the "Broswer Chahe" exception).
    static std::string resolveRulePath(const std::optional<std::string>& path, const std::string& catalog);

    // --- Maintenance (log lines in Chinese, as the tools that prepare the database expect) ---
    // Writes the encrypted columns from the plain ones (plain columns stay). False when db
    // cannot be opened or an update fails.
    bool encryptDB();
    // Fills the plain columns from the encrypted ones (empty text for an absent block) and
    // nulls the encrypted columns.
    bool decryptDB();
    // Compares each decrypted block with the plain value read through the lazy reader and
    // logs every difference (absent and empty texts count as equal; a block that cannot be
    // decrypted is a difference). Read-only. The number of differences, or nullopt when db
    // cannot be opened.
    std::optional<size_t> checkDataValidation();
    // Empties the plain columns of both tables.
    bool cleanReadedFiledForPathTable();

    // --- Maintenance of the bad-cookie table (on cookiesDb) ---
    // Turns every text domain and information into its encrypted field, then checks the
    // table; false (rolled back) when a row cannot be converted or the check fails.
    bool encryptBadCookies();
    // Turns every encrypted field back into its text.
    bool decryptBadCookies();
    // The number of rows whose domain is not an encrypted, normalised domain (no leading
    // dot, no blank) or whose information is not an encrypted text (each logged); nullopt
    // when cookiesDb cannot be opened.
    std::optional<size_t> checkBadCookies();

    // --- Signatures and bad cookies ---
    // Every signature, "SELECT * FROM HVN_VIRUS_CODE order by bytes", one object per row in
    // query order; empty when virusDb cannot be opened.
    std::vector<HVNVirusCodeObjPtr> getAllVirusCodeObj();
    // The bad-cookie row whose encrypted domain equals the encrypted sample, or null.
    HVNBadCookieObjPtr getBadCookieBySample(const std::string& sample);

    // --- Cookie stores ---
    static std::string deleteFirstDot(const std::string& domain);
    // The distinct normalised domains of one browser's cookies, in store order.
    std::vector<std::string> getSafariCookie();
    std::vector<std::string> getChromeCookie();
    std::vector<std::string> getFireFoxCookie();
    // Remove that browser's cookies of the nodes' cookieDomain (see the .cpp for the rule).
    // What could not be cleaned (a store that stayed locked, a store the removal gate
    // refuses) is added to notRemoved as store path -> reason; false when something could
    // not be cleaned.
    struct CookieCleanFailure {
        std::string domain;
        std::string storePath;
        std::string reason;
    };
    // spared: domains whose cookies stay even where a removal reaches them as sub-domains
    // (the white list).
    bool cleanSafariCookies(const std::vector<std::shared_ptr<HVNScaneOuputObject>>& nodes,
                            std::vector<CookieCleanFailure>* failures = nullptr,
                            const std::vector<std::string>& spared = {});
    bool cleanChromeCookies(const std::vector<std::shared_ptr<HVNScaneOuputObject>>& nodes,
                            std::vector<CookieCleanFailure>* failures = nullptr,
                            const std::vector<std::string>& spared = {});
    bool cleanFireFoxCookies(const std::vector<std::shared_ptr<HVNScaneOuputObject>>& nodes,
                             std::vector<CookieCleanFailure>* failures = nullptr,
                             const std::vector<std::string>& spared = {});
    // The managers made by the last getChromeCookie / getFireFoxCookie.
    std::unique_ptr<HVNCookieDBManager> chromeCookieDB;
    std::unique_ptr<HVNCookieDBManager> firefoxCookieDB;

private:
    std::unique_ptr<FMDatabase> db_;
    std::unique_ptr<FMDatabase> virusDb_;
    std::unique_ptr<FMDatabase> cookiesDb_;

    // Opens a connection without creating its file.
    static bool openDatabase(FMDatabase& database);
    std::vector<hvn::Dictionary> rowsForCatalog(const std::string& category);
};
