// The usage statistics of a launch: the install report (HttpLoginService) and the
// active-user report (HttpActiveUserSever), and what both share: the setting that turns
// them off, the two server addresses of the main bundle's Info.plist and the header field
// every request carries.
//
// Info.plist keys: "HVNStatisticsServer", the base address of the statistics server
// (http or https; a trailing "/" is dropped), and "HVNDateServer", the address of any web
// page whose response's "Date" field gives the current date. Either one empty or absent
// means that the reports needing it are not sent (a log line says why).
#pragma once

#include <string>

#include "Platform/HTTPRequest.h"

inline constexpr const char* kSendUsageStatisticsSetting = "Send Usage Statistics";

class HVNUsageStatistics {
public:
    HVNUsageStatistics() = delete;

    // The setting "Send Usage Statistics": on unless stored as a false value (an absent key
    // counts as on, as its default is).
    static bool isEnabled();
    // "HVNStatisticsServer" without trailing "/"; empty when absent or not a text.
    static std::string statisticsServer();
    // "HVNDateServer"; empty when absent or not a text.
    static std::string dateServer();
    // "Accept-Language" = localNationCode lower-cased; no field when the code is absent, empty
    // or holds anything but printable ASCII (logged), as it could not stand in a header.
    static hvn::HTTPHeaderFields requestHeaderFields();
    // The options of every statistics request: the header fields above, small bounds.
    static hvn::HTTPRequestOptions requestOptions();
    // True when a report named `report` may be sent: the setting is on and the statistics
    // server (and, with needsDateServer, the date server) is configured. Otherwise logs why
    // and returns false.
    static bool canSend(const std::string& report, bool needsDateServer);

    // Launch step: starts the install report, then the active-user report, and returns at
    // once; outcomes are only logged. Main thread.
    static void sendLaunchReports();
    // True while a report started by sendLaunchReports has not ended (a request running or
    // an answer still queued on the main run loop). Main thread.
    static bool reportsInFlight();
    // Runs the main run loop until no report is in flight or timeoutSeconds have passed;
    // returns true when none is left. Reports still running afterwards go on. Main thread.
    static bool waitForReports(double timeoutSeconds);
};
