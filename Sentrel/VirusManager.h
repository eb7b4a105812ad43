// The library's entry point: decides for one path whether it is a folder, an unknown file
// or a file carrying a known signature, and searches the browsers' cookies for domains of
// the bad-cookie table. Keeps no state between calls but the search's progress counters;
// checkVirus may run on several threads at once with the same (read-only) list.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Sentrel/HVNBadCookieObj.h"
#include "Sentrel/HVNVirusCodeObj.h"
#include "Sentrel/SentrelExport.h"

class SENTREL_EXPORT VirusManager {
public:
    // Not used by the program: the list is passed with each call.
    std::vector<HVNVirusCodeObjPtr> virusCodes;

    // nullopt when nothing exists at the path; "DIR" for a folder (links followed); the
    // name of the first signature in list order that matches; "" otherwise. See
    // VirusManager.cpp for the matching rule.
    std::optional<std::string> checkVirus(const std::string& path, const std::vector<HVNVirusCodeObjPtr>& virusCode);

    // Writes the text to the log.
    static void showLogWithStr(const std::string& text);

    // The hits of Safari, Firefox and Chrome, in that order. The three application paths
    // are accepted and not used.
    std::vector<HVNBadCookieObjPtr> searchBadCookiesWithSafariPath(const std::string& safariPath,
                                                                   const std::string& fireFoxPath,
                                                                   const std::string& chromeFilePath);
};
