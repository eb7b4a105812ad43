// The bad-cookie table of "Cookies.db": the look-up of one domain, and the maintenance that
// turns its readable source (domain and information as texts) into the shipped form (both
// as encrypted fields) and back.
#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"

#include "HVN/Code/Clearer/FMDB/FMResultSet.h"
#include "HVN/Code/Clearer/FMDB/HVNCookieSampleQuery.h"
#include "HVN/Code/Public/EncryptManager.h"
#include "Platform/Log.h"

namespace {

struct BadCookieRow {
    int64_t id = 0;
    hvn::Value domain;
    hvn::Value information;
};

std::vector<BadCookieRow> readRows(FMDatabase& db) {
    std::vector<BadCookieRow> rows;
    if (auto rs = db.executeQuery("select auto_id, domain, information from HVN_BAD_COOKIES")) {
        while (rs->next()) {
            auto row = rs->resultDict();
            if (!row) continue;
            rows.push_back({(*row)["auto_id"].asInteger(), (*row)["domain"], (*row)["information"]});
        }
        rs->close();
    }
    return rows;
}

// A text column becomes its encrypted block; a block stays as it is.
std::optional<hvn::Value> encrypted(const hvn::Value& v) {
    if (v.isData()) return v;
    if (!v.isString()) return std::nullopt;
    auto block = EncryptManager::encryptString(v.asString());
    if (!block) return std::nullopt;
    return hvn::Value(*block);
}

std::optional<hvn::Value> decrypted(const hvn::Value& v) {
    if (v.isString()) return v;
    if (!v.isData()) return std::nullopt;
    auto text = EncryptManager::decryptData(v.asData());
    if (!text) return std::nullopt;
    return hvn::Value(*text);
}

bool rewriteRows(FMDatabase& db, const std::function<std::optional<hvn::Value>(const hvn::Value&)>& change,
                 const char* what) {
    auto rows = readRows(db);
    bool ok = db.beginTransaction();
    for (const auto& row : rows) {
        auto domain = change(row.domain);
        auto information = change(row.information);
        if (!domain || !information) {
            hvn::Log::writef("%s: row %lld cannot be converted", what, static_cast<long long>(row.id));
            ok = false;
            continue;
        }
        ok = db.executeUpdate("update HVN_BAD_COOKIES set domain = ?, information = ? where auto_id = ?",
                              {*domain, *information, hvn::Value(row.id)}) &&
             ok;
    }
    if (ok) return db.commit();
    db.rollback();
    return false;
}

}  // namespace

HVNBadCookieObjPtr HVNPathDBManager::getBadCookieBySample(const std::string& sample) {
    auto row = badCookieRowBySample(*cookiesDb_, sample);
    return row ? HVNBadCookieObj::initWithDic(*row) : nullptr;
}

bool HVNPathDBManager::encryptBadCookies() {
    if (!openDatabase(*cookiesDb_)) return false;
    bool ok = rewriteRows(*cookiesDb_, encrypted, "encrypt");
    // Every block must decrypt to a well-formed domain: no leading dot, no blank.
    if (ok) ok = checkBadCookies().value_or(1) == 0;
    cookiesDb_->close();
    return ok;
}

bool HVNPathDBManager::decryptBadCookies() {
    if (!openDatabase(*cookiesDb_)) return false;
    bool ok = rewriteRows(*cookiesDb_, decrypted, "decrypt");
    cookiesDb_->close();
    return ok;
}

std::optional<size_t> HVNPathDBManager::checkBadCookies() {
    bool wasOpen = cookiesDb_->isOpen();
    if (!openDatabase(*cookiesDb_)) return std::nullopt;
    size_t problems = 0;
    for (const auto& row : readRows(*cookiesDb_)) {
        auto domain = row.domain.isData() ? EncryptManager::decryptData(row.domain.asData()) : std::nullopt;
        auto information =
            row.information.isData() ? EncryptManager::decryptData(row.information.asData()) : std::nullopt;
        if (!domain || domain->empty() || (*domain)[0] == '.' ||
            domain->find_first_of(" \t\n") != std::string::npos) {
            hvn::Log::writef("bad cookie row %lld: the domain is not an encrypted, normalised domain",
                             static_cast<long long>(row.id));
            ++problems;
        }
        if (!information) {
            hvn::Log::writef("bad cookie row %lld: the information is not an encrypted text",
                             static_cast<long long>(row.id));
            ++problems;
        }
    }
    if (!wasOpen) cookiesDb_->close();
    return problems;
}
