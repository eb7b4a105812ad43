#include "HVN/Code/Public/HVNUsageStatistics.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/HttpActiveUserSever.h"
#include "HVN/Code/Public/HttpLoginService.h"
#include "Platform/Bundle.h"
#include "Platform/Log.h"
#include "Platform/RunLoop.h"

namespace {

std::string infoText(const char* key) {
    hvn::Value v = hvn::Bundle::objectForInfoDictionaryKey(key);
    return v.isString() ? v.asString() : std::string();
}

// The reports started at launch; touched on the main thread only.
struct LaunchReports {
    std::vector<std::shared_ptr<HttpLoginService>> install;
    std::vector<std::shared_ptr<HttpActiveUserSever>> active;
};

LaunchReports& launchReports() {
    static LaunchReports* reports = new LaunchReports;  // outlives every late answer
    return *reports;
}

}  // namespace

bool HVNUsageStatistics::isEnabled() {
    hvn::Value v = HVNCommonFunction::getSettingValueByKey(kSendUsageStatisticsSetting);
    return v.isNull() || v.asBool();
}

std::string HVNUsageStatistics::statisticsServer() {
    std::string base = infoText("HVNStatisticsServer");
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base;
}

std::string HVNUsageStatistics::dateServer() {
    return infoText("HVNDateServer");
}

hvn::HTTPHeaderFields HVNUsageStatistics::requestHeaderFields() {
    auto code = HVNCommonFunction::localNationCode();
    if (!code || code->empty()) return {};
    std::string value;
    for (char c : *code) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7e) {
            hvn::Log::write("The locale code is not plain text; the requests go without Accept-Language");
            return {};
        }
        value += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return {{"Accept-Language", value}};
}

hvn::HTTPRequestOptions HVNUsageStatistics::requestOptions() {
    hvn::HTTPRequestOptions options;
    options.headerFields = requestHeaderFields();
    options.maxResponseBytes = 64 * 1024;
    options.connectTimeoutSeconds = 10;
    options.totalTimeoutSeconds = 20;
    return options;
}

bool HVNUsageStatistics::canSend(const std::string& report, bool needsDateServer) {
    if (!isEnabled()) {
        hvn::Log::writef("Usage statistics are turned off (\"%s\"); the %s is not sent",
                         kSendUsageStatisticsSetting, report.c_str());
        return false;
    }
    if (statisticsServer().empty()) {
        hvn::Log::writef(
            "No statistics server is configured (HVNStatisticsServer in Info.plist); the %s is not sent",
            report.c_str());
        return false;
    }
    if (needsDateServer && dateServer().empty()) {
        hvn::Log::writef("No date server is configured (HVNDateServer in Info.plist); the %s is not sent",
                         report.c_str());
        return false;
    }
    return true;
}

void HVNUsageStatistics::sendLaunchReports() {
    auto& reports = launchReports();
    auto install = HttpLoginService::create();
    reports.install.push_back(install);
    install->sendInstallEvent();
    auto active = HttpActiveUserSever::create();
    reports.active.push_back(active);
    active->sendActiveUserEvent();
}

bool HVNUsageStatistics::reportsInFlight() {
    auto& reports = launchReports();
    std::erase_if(reports.install, [](const auto& r) { return r->isFinished(); });
    std::erase_if(reports.active, [](const auto& r) { return r->isFinished(); });
    return !reports.install.empty() || !reports.active.empty();
}

bool HVNUsageStatistics::waitForReports(double timeoutSeconds) {
    if (!reportsInFlight()) return true;
    return hvn::RunLoop::main().runUntil([] { return !reportsInFlight(); }, timeoutSeconds);
}
