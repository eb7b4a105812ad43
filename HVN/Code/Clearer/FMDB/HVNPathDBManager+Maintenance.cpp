// The maintenance operations of the clean-path database, and the EncryptManager entry points
// that run them. They live here, in the engine library, because they need the manager; the
// field encryption itself stays in the database layer below.
#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"

#include <functional>

#include "HVN/Code/Public/EncryptManager.h"
#include "Platform/Log.h"

namespace {

// An absent text stays absent (NULL).
hvn::Value blockOf(const std::optional<std::string>& text) {
    if (!text) return hvn::Value();
    auto block = EncryptManager::encryptString(*text);
    return block ? hvn::Value(*block) : hvn::Value();
}

hvn::Value plainOf(const std::optional<hvn::Data>& block) {
    if (!block) return hvn::Value("");
    auto text = EncryptManager::decryptData(*block);
    return text ? hvn::Value(*text) : hvn::Value("");
}

// Compares one text with its block; logs and counts a difference.
void compare(const char* format, const std::optional<std::string>& plain,
             const std::optional<hvn::Data>& block, size_t& differences) {
    std::optional<std::string> decrypted = block ? EncryptManager::decryptData(*block) : std::nullopt;
    bool undecryptable = block && !decrypted;
    if (undecryptable || plain.value_or("") != decrypted.value_or("")) {
        hvn::Log::write(hvn::format(format, plain ? plain->c_str() : "(null)",
                                    decrypted ? decrypted->c_str() : "(null)"));
        ++differences;
    }
}

// Runs body (true when each of its statements succeeded) in one transaction: committed when
// all succeeded, rolled back otherwise.
bool inTransaction(FMDatabase& db, const std::function<bool()>& body) {
    bool ok = db.beginTransaction();
    ok = body() && ok;
    if (ok) return db.commit();
    db.rollback();
    return false;
}

}  // namespace

bool HVNPathDBManager::encryptDB() {
    hvn::Log::write("加密开始");
    auto rules = getAllPathData();
    if (!openDatabase(*db_)) return false;
    hvn::Log::write("加密【搜索路径】开始");
    bool ok = inTransaction(*db_, [&] {
        bool all = true;
        for (auto& rule : rules) {
            all = db_->executeUpdate(
                      "UPDATE HVNCLean set path_encrypt = ?  , keyvalue_encrypt = ? , keyword_encrypt = ? "
                      "where auto_id = ? ",
                      {blockOf(rule->path()), blockOf(rule->keyValue()), blockOf(rule->keyWord()),
                       hvn::Value(static_cast<long long>(rule->autoId))}) &&
                  all;
        }
        return all;
    });
    hvn::Log::write("加密【搜索路径】完成");

    auto options = getSysOptData();
    if (!openDatabase(*db_)) return false;
    hvn::Log::write("加密【系统优化】开始");
    bool optionsOk = inTransaction(*db_, [&] {
        bool all = true;
        for (auto& option : options) {
            all = db_->executeUpdate(
                      "UPDATE HVN_SYS_OPT set config_file_path_encrypt = ?  , item_name_cn_encrypt = ? , "
                      "item_name_en_encrypt = ? , item_key_encrypt = ? , item_value_encrypt = ?  where "
                      "auto_id = ? ",
                      {blockOf(option->config_file_path()), blockOf(option->item_name_cn()),
                       blockOf(option->item_name_en()), blockOf(option->item_key()),
                       blockOf(option->item_value()), hvn::Value(static_cast<long long>(option->auto_id))}) &&
                  all;
        }
        return all;
    });
    hvn::Log::write("加密【系统优化】完成");
    hvn::Log::write("加密完成");
    db_->close();
    return ok && optionsOk;
}

bool HVNPathDBManager::decryptDB() {
    hvn::Log::write("解密开始");
    auto rules = getAllPathData();
    if (!openDatabase(*db_)) return false;
    hvn::Log::write("解密【搜索路径】开始");
    bool ok = inTransaction(*db_, [&] {
        bool all = true;
        for (auto& rule : rules) {
            all = db_->executeUpdate(
                      "UPDATE HVNCLean set path = ? ,keyvalue = ? , keyword = ? where auto_id = ? ",
                      {plainOf(rule->pathEncrypt), plainOf(rule->keyValueEncrypt),
                       plainOf(rule->keyWordEncrypt), hvn::Value(static_cast<long long>(rule->autoId))}) &&
                  all;
        }
        return db_->executeUpdate(
                   "UPDATE HVNCLean set path_encrypt = null, keyvalue_encrypt = null , "
                   "keyword_encrypt = null ") &&
               all;
    });
    hvn::Log::write("解密【搜索路径】完成");

    auto options = getSysOptData();
    if (!openDatabase(*db_)) return false;
    hvn::Log::write("解密【系统优化】开始");
    bool optionsOk = inTransaction(*db_, [&] {
        bool all = true;
        for (auto& option : options) {
            all = db_->executeUpdate(
                      "UPDATE HVN_SYS_OPT set config_file_path = ?,item_name_cn = ?,"
                      "item_name_en = ?,item_key = ?,item_value = ? where auto_id = ? ",
                      {plainOf(option->config_file_path_encrypt), plainOf(option->item_name_cn_encrypt),
                       plainOf(option->item_name_en_encrypt), plainOf(option->item_key_encrypt),
                       plainOf(option->item_value_encrypt),
                       hvn::Value(static_cast<long long>(option->auto_id))}) &&
                  all;
        }
        return db_->executeUpdate(
                   "UPDATE HVN_SYS_OPT set config_file_path_encrypt = null, item_name_cn_encrypt = null , "
                   "item_name_en_encrypt = null  , item_key_encrypt = null  , item_value_encrypt = null ") &&
               all;
    });
    hvn::Log::write("解密【系统优化】完成");
    db_->close();
    hvn::Log::write("解密完成");
    return ok && optionsOk;
}

std::optional<size_t> HVNPathDBManager::checkDataValidation() {
    hvn::Log::write("数据验证开始");
    auto rules = getAllPathData();
    if (!openDatabase(*db_)) return std::nullopt;
    hvn::Log::write("数据验证【搜索路径】开始");
    size_t differences = 0;
    for (auto& rule : rules) {
        compare("Path is not same, Souce is %s, enctypted is %s", rule->path(), rule->pathEncrypt,
                differences);
        compare("keyvalue is not same, Souce is %s, enctypted is %s", rule->keyValue(), rule->keyValueEncrypt,
                differences);
        compare("keyWor is not same, Souce is %s, enctypted is %s", rule->keyWord(), rule->keyWordEncrypt,
                differences);
    }
    hvn::Log::write("数据验证【搜索路径】完成");

    auto options = getSysOptData();
    if (!openDatabase(*db_)) return std::nullopt;
    hvn::Log::write("数据验证【系统优化】开始");
    for (auto& option : options) {
        compare("config_file_path is not same, Souce is %s, enctypted is %s", option->config_file_path(),
                option->config_file_path_encrypt, differences);
        compare("item_name_cn is not same, Souce is %s, enctypted is %s", option->item_name_cn(),
                option->item_name_cn_encrypt, differences);
        compare("item_name_en is not same, Souce is %s, enctypted is %s", option->item_name_en(),
                option->item_name_en_encrypt, differences);
        compare("item_key is not same, Souce is %s, enctypted is %s", option->item_key(),
                option->item_key_encrypt, differences);
        compare("item_value is not same, Souce is %s, enctypted is %s", option->item_value(),
                option->item_value_encrypt, differences);
    }
    hvn::Log::write("数据验证【系统优化】完成");
    db_->close();
    hvn::Log::write("数据验证结束");
    return differences;
}

bool HVNPathDBManager::cleanReadedFiledForPathTable() {
    if (!openDatabase(*db_)) return false;
    bool ok = db_->executeUpdate("UPDATE HVNCLean set path = '', keyvalue = '' , keyword = ''");
    ok = db_->executeUpdate(
             "UPDATE HVN_SYS_OPT set config_file_path = '',item_name_cn = '',item_name_en = '',item_key = '',"
             "item_value = '' ") &&
         ok;
    db_->close();
    hvn::Log::write("可读字段清空完成");
    return ok;
}

// --- EncryptManager maintenance entry points ---

bool EncryptManager::encryptDB(const std::string& databasePath) {
    HVNPathDBManager manager(databasePath);
    if (!manager.encryptDB()) return false;
    auto differences = manager.checkDataValidation();
    // Clearing the readable columns of a database whose encrypted columns do not match
    // would lose the rule texts, so it only happens after a clean check.
    if (!differences || *differences != 0) return false;
    return manager.cleanReadedFiledForPathTable();
}

bool EncryptManager::decryptDB(const std::string& databasePath) {
    HVNPathDBManager manager(databasePath);
    return manager.decryptDB();
}
