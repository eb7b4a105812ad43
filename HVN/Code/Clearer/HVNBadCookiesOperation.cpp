#include "HVN/Code/Clearer/HVNBadCookiesOperation.h"

#include <exception>
#include <map>

#include "HVN/Code/Clearer/HVNCookieBrowser.h"
#include "HVN/Code/Public/EncryptManager.h"
#include "Platform/Log.h"
#include "Sentrel/VirusManager.h"

void HVNBadCookiesOperation::main() {
    try {
        if (!isCancelled()) searchBadCookies();
    } catch (const std::exception& e) {
        hvn::Log::writef("HVNBadCookiesOperation: scan abandoned: %s", e.what());
    } catch (...) {
        hvn::Log::write("HVNBadCookiesOperation: scan abandoned");
    }
}

void HVNBadCookiesOperation::searchBadCookies() {
    const auto apps = HVNCookieBrowsers::applicationPaths();
    const std::string& safari = apps.safari;
    const std::string& chrome = apps.chrome;
    const std::string& firefox = apps.firefox;

    VirusManager manager;
    auto hits = manager.searchBadCookiesWithSafariPath(safari, firefox, chrome);

    const std::map<HVNCookieBrowser, std::string> icons = {
        {HVNCookieBrowser::Safari, safari}, {HVNCookieBrowser::Firefox, firefox}, {HVNCookieBrowser::Chrome, chrome}};
    std::map<HVNCookieBrowser, HVNNodeList> perBrowser;
    for (const auto& hit : hits) {
        if (!hit) continue;
        auto browser = HVNCookieBrowsers::fromName(hit->broswerName);
        if (!browser) continue;
        std::string domain = EncryptManager::decryptData(hit->domain).value_or(std::string());
        std::string information = EncryptManager::decryptData(hit->information).value_or(std::string());
        auto node = HVNScaneOuputObject::create();
        node->setName(domain + " [" + information + "]");
        // An undecryptable domain leaves the node without one: removing it removes nothing.
        node->cookieDomain = domain;
        node->fileSize = 0;
        node->isCheck = 1;
        node->moulde = 22;
        node->setFilePath(HVNCookieBrowsers::location(*browser));
        node->icon = icons.at(*browser);
        perBrowser[*browser].push_back(std::move(node));
    }

    HVNNodeList groups;
    for (auto browser : {HVNCookieBrowser::Safari, HVNCookieBrowser::Firefox, HVNCookieBrowser::Chrome}) {
        auto it = perBrowser.find(browser);
        if (it == perBrowser.end() || it->second.empty()) continue;
        auto group = HVNScaneOuputObject::create();
        group->setName(std::string(HVNCookieBrowsers::name(browser)));
        group->setSubObjects(std::move(it->second));
        group->setIsGroup(true);
        group->isCheck = 1;
        group->moulde = 22;
        group->fileSize = 0;
        group->icon = icons.at(browser);
        groups.push_back(std::move(group));
    }
    if (delegate) delegate->finishScan(std::move(groups), 22);
}
