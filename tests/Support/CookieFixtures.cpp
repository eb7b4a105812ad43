#include "CookieFixtures.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Platform/BinaryCookies.h"
#include "Platform/HTTPCookieStorage.h"

namespace hvn::test {

namespace {

void exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string message = err ? err : "?";
        sqlite3_free(err);
        throw std::runtime_error("sqlite: " + message + " in " + sql);
    }
}

sqlite3* create(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot create " + path);
    return db;
}

std::string sqlText(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

}  // namespace

void writeSafariJar(const std::string& path, const std::vector<std::string>& domains) {
    std::vector<HTTPCookie> cookies;
    for (const auto& d : domains) {
        HTTPCookie c;
        c.domain = d;
        c.name = "id";
        c.path = "/";
        c.value = "v-" + d;
        c.expiresDate = 900000000;
        c.creationDate = 700000000;
        cookies.push_back(c);
    }
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << BinaryCookies::encode(cookies);
}

std::vector<std::string> safariJarDomains(const std::string& path) {
    std::vector<std::string> out;
    for (const auto& c : HTTPCookieStorage(path).cookies()) out.push_back(c.domain);
    return out;
}

void writeChromeStore(const std::string& path, const std::vector<std::string>& hosts) {
    sqlite3* db = create(path);
    exec(db,
         "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);"
         "INSERT INTO meta VALUES('version','24'),('last_compatible_version','24');"
         "CREATE TABLE cookies(creation_utc INTEGER NOT NULL, host_key TEXT NOT NULL, top_frame_site_key TEXT "
         "NOT NULL, name TEXT NOT NULL, value TEXT NOT NULL, encrypted_value BLOB NOT NULL, path TEXT NOT NULL, "
         "expires_utc INTEGER NOT NULL, is_secure INTEGER NOT NULL, is_httponly INTEGER NOT NULL, "
         "last_access_utc INTEGER NOT NULL, has_expires INTEGER NOT NULL, is_persistent INTEGER NOT NULL, "
         "priority INTEGER NOT NULL, samesite INTEGER NOT NULL, source_scheme INTEGER NOT NULL, source_port "
         "INTEGER NOT NULL, last_update_utc INTEGER NOT NULL, source_type INTEGER NOT NULL, "
         "has_cross_site_ancestor INTEGER NOT NULL);"
         "CREATE UNIQUE INDEX cookies_unique_index ON cookies(host_key, top_frame_site_key, name, path);");
    int i = 0;
    for (const auto& h : hosts) {
        exec(db, "INSERT INTO cookies VALUES(" + std::to_string(13300000000000000LL + i) + "," + sqlText(h) +
                     ",'','c" + std::to_string(i) + "','x',X'',"
                     "'/',13400000000000000,1,1,13300000000000000,1,1,1,0,2,443,13300000000000000,0,0);");
        ++i;
    }
    sqlite3_close(db);
}

void writeFirefoxStore(const std::string& path, const std::vector<std::string>& hosts, bool withBaseDomain) {
    sqlite3* db = create(path);
    if (withBaseDomain) {
        exec(db,
             "PRAGMA user_version = 10;"
             "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, baseDomain TEXT, originAttributes TEXT NOT NULL "
             "DEFAULT '', name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER, "
             "creationTime INTEGER, isSecure INTEGER, isHttpOnly INTEGER, inBrowserElement INTEGER DEFAULT 0, "
             "sameSite INTEGER DEFAULT 0, rawSameSite INTEGER DEFAULT 0);");
    } else {
        exec(db,
             "PRAGMA user_version = 16;"
             "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL DEFAULT '', name "
             "TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER, creationTime INTEGER, "
             "isSecure INTEGER, isHttpOnly INTEGER, inBrowserElement INTEGER DEFAULT 0, sameSite INTEGER DEFAULT "
             "0, schemeMap INTEGER DEFAULT 0, isPartitionedAttributeSet INTEGER DEFAULT 0);");
    }
    int i = 0;
    for (const auto& h : hosts) {
        std::string base = !h.empty() && h[0] == '.' ? h.substr(1) : h;
        std::string name = "'c" + std::to_string(i++) + "'";
        if (withBaseDomain) {
            exec(db, "INSERT INTO moz_cookies (baseDomain, name, value, host, path, expiry) VALUES(" + sqlText(base) +
                         "," + name + ",'x'," + sqlText(h) + ",'/',2000000000);");
        } else {
            exec(db, "INSERT INTO moz_cookies (name, value, host, path, expiry) VALUES(" + name + ",'x'," +
                         sqlText(h) + ",'/',2000000000000);");
        }
    }
    sqlite3_close(db);
}

std::vector<std::string> storeHosts(const std::string& path) {
    std::vector<std::string> out;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return out;
    }
    for (const char* sql : {"select host_key from cookies", "select host from moz_cookies"}) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) continue;
        while (sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char* t = sqlite3_column_text(st, 0);
            out.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace hvn::test
