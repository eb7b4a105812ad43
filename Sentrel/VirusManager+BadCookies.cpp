// The bad-cookie search: every cookie domain of Safari, Firefox and Chrome looked up in the
// bad-cookie table.
#include <atomic>
#include <chrono>

#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Sentrel/VirusManager.h"
#include "Sentrel/VirusPathDBManager.h"

namespace {

// Process-wide counters, never reset: domains looked at, the progress counter (0 to 32)
// and hits. Only one search runs at a time; atomics keep a second one harmless.
std::atomic<int32_t> totoalCookie{0};
std::atomic<int32_t> scanCount{0};
std::atomic<int32_t> cookiesCount{0};

}  // namespace

std::vector<HVNBadCookieObjPtr> VirusManager::searchBadCookiesWithSafariPath(const std::string&, const std::string&,
                                                                             const std::string&) {
    const auto start = std::chrono::steady_clock::now();
    VirusPathDBManager manager;
    std::vector<HVNBadCookieObjPtr> hits;
    struct Browser {
        const char* name;
        const char* logFormat;
        std::vector<std::string> domains;
    };
    Browser browsers[] = {
        {"Safari", "发现 Safari Bad cookies:%s", manager.getSafariCookie()},
        {"Firefox", "发现 Firefox Bad cookies:%s", manager.getFireFoxCookie()},
        {"Chrome", "发现 Chrome Bad cookies:%s", manager.getChromeCookie()},
    };
    for (const auto& browser : browsers) {
        for (const auto& domain : browser.domains) {
            totoalCookie.fetch_add(1);
            if (scanCount.load() < 32) {
                scanCount.fetch_add(1);
            } else {
                hvn::NotificationCenter::defaultCenter().post("PathUpdate", std::string(domain));
                scanCount.store(0);
            }
            if (auto hit = manager.getBadCookieBySample(domain)) {
                cookiesCount.fetch_add(1);
                hit->broswerName = browser.name;
                hvn::Log::writef(browser.logFormat, domain.c_str());
                hits.push_back(std::move(hit));
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    hvn::Log::writef("发现Bad cookies:%d个  总共用时:%lf  总共扫描cookie数:%d", cookiesCount.load(), seconds,
                     totoalCookie.load());
    return hits;
}
