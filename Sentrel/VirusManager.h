// The library's entry point: decides for one path whether it is a folder, an unknown file
// or a file carrying a known signature, and searches the browsers' cookies for domains of
// the bad-cookie table. Keeps no state between calls but the search's progress counters;
// checkVirus may run on several threads at once with the same (read-only) list.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Sentrel/HVNBadCookieObj.h"
#include "Sentrel/HVNVirusCodeObj.h"
#include "Sentrel/SentrelExport.h"

class VirusSignatureIndex;

class SENTREL_EXPORT VirusManager {
public:
    // Not used by the program: the list is passed with each call.
    std::vector<HVNVirusCodeObjPtr> virusCodes;

    // nullopt when nothing exists at the path; "DIR" for a folder (links followed); the
    // name of the first signature in list order that matches; "" otherwise. See
    // VirusManager.cpp for the matching rule.
    //
    // The signatures are prepared (an index over start offsets and leading bytes) once and
    // reused while the calls pass a list holding the same signature objects in the same
    // order; any other list, or the same one with an entry added, removed or replaced, is
    // prepared anew. The objects themselves are not looked at again: a signature is changed
    // by putting a new object in its place. Only the bytes that
    // some signature covers are read, never the file's last byte, and nothing of a file
    // shorter than the first signature in list order.
    std::optional<std::string> checkVirus(const std::string& path, const std::vector<HVNVirusCodeObjPtr>& virusCode);
    // The same for the entry `name` of the folder open at folderFd (links followed): what
    // checkVirus answers for that folder's path joined with the name.
    std::optional<std::string> checkVirusAt(int folderFd, const std::string& name,
                                            const std::vector<HVNVirusCodeObjPtr>& virusCode);

    // For a scan of many files: prepares the signatures of the list once (their bytes and
    // names are copied; later changes of the list do not matter), and checkPreparedAt then
    // answers as checkVirusAt with that list, without looking at any list again. Prepare
    // before the checks start; the checks may run on several threads at once.
    void prepareVirusCodes(const std::vector<HVNVirusCodeObjPtr>& virusCode);
    std::optional<std::string> checkPreparedAt(int folderFd, const std::string& name);
    // The same for an entry that the folder's listing gave as a regular file: it is opened
    // without following a link (one that is a link by now is checked as above) and read
    // without looking at its metadata first. An entry that turned into anything else than a
    // regular file or a link by then answers "".
    std::optional<std::string> checkPreparedFileAt(int folderFd, const std::string& name);

    // Writes the text to the log.
    static void showLogWithStr(const std::string& text);

    // The hits of Safari, Firefox and Chrome, in that order. The three application paths
    // are accepted and not used.
    std::vector<HVNBadCookieObjPtr> searchBadCookiesWithSafariPath(const std::string& safariPath,
                                                                   const std::string& fireFoxPath,
                                                                   const std::string& chromeFilePath);

private:
    // The preparation of the last list passed, and the one of prepareVirusCodes, shared by
    // the threads checking against them. A copy of a manager starts without either.
    struct IndexCache {
        IndexCache() = default;
        IndexCache(const IndexCache&) {}
        IndexCache& operator=(const IndexCache&) { return *this; }
        std::mutex mutex;
        std::shared_ptr<const VirusSignatureIndex> last;
        std::shared_ptr<const VirusSignatureIndex> prepared;
    };
    // Internal to the library, like the index itself.
    __attribute__((visibility("hidden"))) std::shared_ptr<const VirusSignatureIndex> indexFor(
        const std::vector<HVNVirusCodeObjPtr>& virusCode);
    __attribute__((visibility("hidden"))) std::shared_ptr<const VirusSignatureIndex> preparedIndex();
    __attribute__((visibility("hidden"))) static std::optional<std::string> checkAt(int folderFd, const char* path,
                                                                                   const VirusSignatureIndex* index);

    IndexCache indexCache_;
};
