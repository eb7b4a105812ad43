// Fuzzes the reading and cleaning of the browsers' cookie databases. The first byte picks
// the browser (even: Chrome, odd: Firefox); the rest is written as that browser's store
// ("Cookies" of a Chromium profile or "cookies.sqlite" of a Firefox profile) in a temporary
// home made once per process and removed at exit. The program's and the library's managers
// then read it and delete one domain from it. Nothing may crash; the program's reader gives
// only non-empty texts, and a store refused as no cookie database keeps its bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/FMDB/HVNCookieDBManager.h"

namespace fs = std::filesystem;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

class LibraryManager : public HVNCookieDBManager {
public:
    LibraryManager() : HVNCookieDBManager(true) {}
};

std::string makeHome() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/halvorn-fuzz-cookies.XXXXXX";
    check(::mkdtemp(pattern.data()) != nullptr);
    const std::string home = fs::canonical(pattern).string() + "/home";
    fs::create_directories(home + "/.config/chromium/Default");
    fs::create_directories(home + "/.mozilla/firefox/p.default");
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("HALVORN_LOG", "quiet", 1);
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        ::unsetenv(name);
    }
    static std::string base = pattern;
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(base, ec);
    });
    return home;
}

const std::string& home() {
    static const std::string dir = makeHome();
    return dir;
}

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void removeStore(const std::string& path) {
    std::error_code ec;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) fs::remove(path + suffix, ec);
}

void run(HVNCookieDBManager& manager, const std::string& type, const std::string& store, bool library) {
    manager.busyRetryTimeout = 2;
    manager.connectDatabase(type);
    check(manager.storePaths() == std::vector<std::string>{store});
    auto records = manager.getData(type);
    check(records.has_value());
    for (const auto& record : *records) {
        check(record.storePath == store);
        if (!library) check(record.baseDomain.isString() && !record.baseDomain.asString().empty());
    }
    const std::string before = bytesOf(store);
    std::vector<HVNCookieDBManager::StoreFailure> failures;
    bool cleaned = manager.deleteCookie("x.com", type, &failures);
    check(cleaned == failures.empty());
    for (const auto& failure : failures) {
        check(failure.storePath == store);
        if (failure.reason.rfind("not a cookie database", 0) == 0) check(bytesOf(store) == before);
    }
    (void)manager.getDataBySQL("select count(*) from sqlite_master");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool chrome = (data[0] & 1) == 0;
    const std::string chromeStore = home() + "/.config/chromium/Default/Cookies";
    const std::string firefoxStore = home() + "/.mozilla/firefox/p.default/cookies.sqlite";
    removeStore(chromeStore);
    removeStore(firefoxStore);
    const std::string store = chrome ? chromeStore : firefoxStore;
    const std::string type = chrome ? "chrome" : "firefox";
    for (bool library : {false, true}) {
        removeStore(store);
        {
            std::ofstream out(store, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
        }
        std::unique_ptr<HVNCookieDBManager> manager =
            library ? std::unique_ptr<HVNCookieDBManager>(new LibraryManager) : std::make_unique<HVNCookieDBManager>();
        run(*manager, type, store, library);
    }
    return 0;
}
