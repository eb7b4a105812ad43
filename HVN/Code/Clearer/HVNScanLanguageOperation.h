// The language file scan (module 8): the localisation folders (extension "lproj") inside
// the installed applications for languages the user does not use, grouped by language
// (one top node per "country" value of the language table), then by application (one child
// per bundle, whose removePaths are the folders found in it).
//
// The language table maps a language code ("en") to a dictionary with "language" (the
// display name, "English") and "country" (a country code that also names the flag image,
// "us"). Its keys are tried in the order of hvn::Dictionary, which is the byte order of the
// codes ("af", "am", ..., "zh", "zh_CN"); the first key that matches a folder decides.
//
// A folder name H (without ".lproj") matches the entry K with display name L when H equals
// L; else, for H shorter than 3 characters, when H equals K; else when the piece of H
// before the first "_" (or, without "_", before the first "-") equals K. Case-sensitive.
// Folders of no language ("Unknown") are walked into; matching folders never are. Kept, so
// never reported: English, and every language named by the settings value "Language" (a
// record's "localCode" equal to the display name ignoring case, or containing the code).
// Only real folders count: an entry named "x.lproj" that is a symbolic link is passed over.
//
// Sizes: each folder adds 1.1 x its size, truncated to whole bytes. A folder's size is the
// sum of the logical lengths of everything below it that is not a folder; symbolic links are
// never followed (a link counts its own length) and every folder is entered once (device
// and inode), so no link or mount loop can keep the walk going.
//
// Threads: runs on a scanner queue thread; "PathUpdate" (object: the path) is posted for
// each application and each folder sized, and finishScan(results, 8) is delivered on that
// thread. A cancelled scan reports nothing. Any exception is caught in main() and logged as
// "Exception: <text>"; the delegate then hears nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "HVN/Code/Public/ScanAndDeleteApp/HVNAppItem.h"
#include "Platform/OperationQueue.h"
#include "Platform/Value.h"

class HVNScanLanguageOperation : public hvn::Operation {
public:
    static constexpr int32_t kModule = 8;
    // What the search functions return when nothing matches.
    static constexpr size_t kNotFound = static_cast<size_t>(-1);

    HVNScanLanguageOperation(hvn::Dictionary languageInfos, HVNScanResultDelegate* delegate);

    hvn::Dictionary languageInfos;              // the language table
    HVNScanResultDelegate* delegate = nullptr;  // not owned; may be null
    // "Unknown" at the start of each scan, then the display name of the user's first
    // non-English preferred language when the table knows it. For display only.
    std::string localCountry = "Unknown";

    // The applications to scan instead of the shared application search's (tests). Without
    // it the scan waits for HVNSearchApplications::shareHVNSearchApplications() and takes
    // allApplications().
    void setApplications(HVNAppItemList applications) { applications_ = std::move(applications); }

    // Scans unless cancelled; exceptions are caught and logged.
    void main() override;
    // The scan: logs "start language", reports finishScan(results, 8) and logs "end language".
    void scanLanguage();

    // False for a kept language (display name "English", or one the settings value
    // "Language" names), true otherwise.
    static bool isLanguageCanRemove(const std::string& name, const std::string& key);
    // The index of the first node whose countryName equals country, or kNotFound.
    static size_t searchObjectInArray(const std::string& country, const HVNNodeList& array);
    // The index of the first node whose name equals name, or kNotFound.
    static size_t searchObjectInArrayForName(const std::string& name, const HVNNodeList& array);
    // The bytes below folder (see the file comment); posts "PathUpdate" for each folder it
    // lists. On cancellation, the sum so far. 0 for a folder that cannot be listed or a path
    // that is not a folder.
    int64_t directorySize(const std::string& folder);

    // The language of a localisation folder name (without ".lproj"): the matching table
    // key, or nullopt for "Unknown".
    std::optional<std::string> languageKeyForFolderName(const std::string& folderName) const;
    // Sets localCountry from the preferred languages (hvn::Locale::preferredLanguages()).
    void determineLocalCountry();

private:
    std::optional<HVNAppItemList> applications_;
};
