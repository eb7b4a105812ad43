#include "Clearer/CleanManagerTestSupport.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "HVN/Code/Clearer/HVNCleanManager.h"
#include "HVN/Code/Public/ReomveFile.h"
#include "Platform/RunLoop.h"
#include "Platform/Workspace.h"

namespace hvn::test {

FakeScanOperation::FakeScanOperation(HVNScanResultDelegate* t, int32_t m, HVNNodeList r, double delay)
    : target(t), module(m), result(std::move(r)), delaySeconds(delay) {}

void FakeScanOperation::main() {
    started_.store(true);
    using namespace std::chrono_literals;
    while (startGate && startGate->load() == 0 && !isCancelled()) std::this_thread::sleep_for(1ms);
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(delaySeconds);
    while (std::chrono::steady_clock::now() < until && !isCancelled()) std::this_thread::sleep_for(1ms);
    while (runUntilCancelled && !isCancelled()) std::this_thread::sleep_for(1ms);
    if (isCancelled() || !target) return;
    target->finishScan(result, module);
}

NotificationCounter::NotificationCounter(const std::string& name) {
    token_ = hvn::NotificationCenter::defaultCenter().addObserver(name, [this](const hvn::Notification& n) {
        if (!hvn::RunLoop::main().isMainThread()) offMain_.fetch_add(1);
        if (auto texts = std::any_cast<std::vector<std::string>>(&n.object)) {
            std::lock_guard<std::mutex> lock(mutex_);
            lastTexts_ = *texts;
        }
        count_.fetch_add(1);
    });
}

bool NotificationCounter::waitFor(int n) {
    return hvn::RunLoop::main().runUntil([&] { return count_.load() >= n; }, 10);
}

std::vector<std::string> NotificationCounter::lastTexts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastTexts_;
}

HVNScaneOuputObjectPtr makeNode(const std::string& dirPath, const std::string& name, int64_t fileSize,
                                int8_t isCheck, HVNNodeList children) {
    auto n = HVNScaneOuputObject::create();
    n->setDirPath(dirPath);
    n->setName(name);
    n->fileSize = fileSize;
    n->isCheck = isCheck;
    if (!children.empty()) n->setSubObjects(std::move(children));
    return n;
}

HVNNodeList makeNodes(const std::vector<std::string>& names) {
    HVNNodeList out;
    for (const auto& n : names) out.push_back(makeNode("/nonexistent", n, 1, 1));
    return out;
}

HVNCleanServices FakeRemoval::services() {
    HVNCleanServices s;
    s.removeFile = [this](const std::string& path, const std::optional<hvn::FileIdentity>& foundIn,
                          const hvn::RemovalGate& gate) {
        if (realRemoval) {
            hvn::RemovalResult real = ReomveFile::removeItem(path, foundIn, &gate);
            if (real.removed()) removed.push_back(path);
            return real;
        }
        hvn::RemovalResult r;
        if (refusing.count(path)) {
            r.status = hvn::RemovalStatus::Refused;
            r.error = "Refusing to remove " + path + ": test refusal";
            return r;
        }
        if (failing.count(path)) {
            r.error = "cannot remove " + path;
            return r;
        }
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
        if (ec) {
            r.error = ec.message();
            return r;
        }
        removed.push_back(path);
        if (afterRemove) afterRemove(path);
        r.status = hvn::RemovalStatus::Removed;
        return r;
    };
    s.removeSystemFile = [this](const std::vector<hvn::RemovalBatch::Request>& batch, bool rewrite,
                                std::map<std::string, std::string>* notRemoved) {
        std::vector<std::string> paths;
        for (const auto& r : batch) {
            paths.push_back(r.path);
            if (notRemoved && privilegedLeft.count(r.path)) (*notRemoved)[r.path] = "left by the privileged route";
        }
        batches.push_back(paths);
        rewrites.push_back(rewrite);
        return batchResult;
    };
    s.stopClearSystemFile = [this] { ++stopCalls; };
    s.isShredderFile = [this] { return shred; };
    s.replaceItem = [this](const std::string& target, const std::string& with) {
        hvn::RemovalResult r;
        if (failing.count(target) || ::rename(with.c_str(), target.c_str()) != 0) {
            r.error = "Could not remove " + target + ": test failure";
            return r;
        }
        replaced.emplace_back(target, with);
        r.status = hvn::RemovalStatus::Removed;
        return r;
    };
    s.startThinning = [this](const std::string& executable, const std::string& arch, std::string* reason) {
        if (thinRefusing.count(executable)) {
            if (reason) *reason = "Refusing to thin " + executable + ": test refusal";
            return false;
        }
        thinned.emplace_back(executable, arch);
        return true;
    };
    s.lipoWithPrivileges = [this](const std::vector<std::string>& executables) {
        privilegedThins.push_back(executables);
        return true;
    };
    s.removeBreakLoginItems = [this](const HVNNodeList& nodes) {
        std::map<std::string, std::string> left;
        for (const auto& n : nodes) {
            if (loginFailing.count(n->name())) {
                left[n->name()] = "test failure";
            } else {
                loginRemoved.push_back(n->name());
            }
        }
        return left;
    };
    s.diskCheckHasIssue = [this] { return diskIssue; };
    s.repairDiskPermission = [this] {
        ++repairs;
        if (repairResult) diskIssue = false;
        return repairResult;
    };
    s.stopDiskPermissionsTool = [this] { ++diskStops; };
    return s;
}

std::string makeRuleBundle(const std::string& folder, const std::vector<RuleRow>& rows) {
    std::string bundle = folder + "/Test.app";
    std::filesystem::create_directories(bundle + "/Contents/Resources");
    std::string dbPath = bundle + "/Contents/Resources/CleanPath.db";
    sqlite3* db = nullptr;
    if (sqlite3_open(dbPath.c_str(), &db) != SQLITE_OK) return {};
    const char* schema =
        "CREATE TABLE HVNCLean (auto_id INTEGER PRIMARY KEY AUTOINCREMENT, catalog TEXT, category TEXT, "
        "path TEXT, keyvalue TEXT, keyword TEXT, isselected INTEGER, path_encrypt BLOB, keyvalue_encrypt "
        "BLOB, "
        "keyword_encrypt BLOB);";
    bool ok = sqlite3_exec(db, schema, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt* st = nullptr;
    ok = ok &&
         sqlite3_prepare_v2(db,
                            "INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) "
                            "VALUES (?, 'test', ?, ?, ?, 1)",
                            -1, &st, nullptr) == SQLITE_OK;
    for (const auto& r : rows) {
        if (!ok) break;
        sqlite3_bind_text(st, 1, r.catalog.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, r.path.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, r.keyValue.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 4, r.keyWord.c_str(), -1, SQLITE_TRANSIENT);
        ok = sqlite3_step(st) == SQLITE_DONE;
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    if (!ok) return {};
    setenv("HALVORN_BUNDLE", bundle.c_str(), 1);
    return bundle;
}

void CleanManagerTestBase::SetUp() {
    hvn::RunLoop::main().reset();
    hvn::RunLoop::main().setClock(&clock);
    const char* auth = getenv("HALVORN_AUTH");
    hadAuth_ = auth != nullptr;
    if (auth) oldAuth_ = auth;
    setenv("HALVORN_AUTH", "deny", 1);
}

void CleanManagerTestBase::TearDown() {
    manager.reset();
    hvn::Workspace::setRunningApplicationsForTesting(std::nullopt);
    hvn::RunLoop::main().setClock(nullptr);
    hvn::RunLoop::main().reset();
    if (hadAuth_) {
        setenv("HALVORN_AUTH", oldAuth_.c_str(), 1);
    } else {
        unsetenv("HALVORN_AUTH");
    }
}

HVNCleanManager& CleanManagerTestBase::makeManager() {
    manager = std::make_unique<HVNCleanManager>(removal.services());
    return *manager;
}

std::string CleanManagerTestBase::homeFile(const std::string& relativePath, size_t size) {
    return roots.writeFile(roots.home() + "/" + relativePath, std::string(size, 'x'));
}

}  // namespace hvn::test
