// The cookies white list: the cookie domains that are never offered for removal and never
// removed, kept as a property-list array of domain strings in "ignore.plist" of the user's
// Library folder (the default of the same name in the resources stands for it until the
// list is first changed).
//
// The same class is the settings window's white-list page (two lists side by side: the
// cookie domains found in the browsers, and the kept domains, with a search field above
// each and two move buttons), the cookie scan's gatherer (getCookies) and the clean's
// cookie remover (cleanCookies). In every role it leaves the kept domains alone.
//
// Domains are normalised (one leading "." removed) and compared exactly, case-sensitively,
// unless a comment says otherwise.
//
// Threads: each instance is used by one caller on one thread (the settings window on the
// main thread, the cookie scan on its operation's thread, the clean on the clean thread).
// The lists are rebuilt after every clean, on "CLEAN_FINISH_NOTFICATION" (on the thread that
// posts it).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/FMDB/HVNCookieDBManager.h"
#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"
#include "HVN/Code/Clearer/HVNCookieBrowser.h"
#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "HVN/Code/Public/HVNBaseVC.h"
#include "Platform/NotificationCenter.h"

class HVNWhiteListVC : public HVNBaseVC {
public:
    // The page's elements (HVNScreenView): the two lists with their search fields and move
    // buttons.
    static constexpr const char* kRemovalList = "removalList";
    static constexpr const char* kWhiteList = "whiteList";
    static constexpr const char* kRemovalSearchField = "removalSearchField";
    static constexpr const char* kWhiteSearchField = "whiteSearchField";
    static constexpr const char* kAddButton = "addButton";
    static constexpr const char* kCancelButton = "cancelButton";
    static constexpr const char* kExplanationLabel = "explanationLabel";
    static constexpr const char* kWhiteListTitleLabel = "whiteListTitleLabel";

    // The explanation shown above the lists, and the white list's title.
    static constexpr const char* kExplanation =
        "Cookies will be removed if this item is ticked and scanned. You can keep cookies in the following "
        "Cookies white list. ";
    static constexpr const char* kWhiteListTitle = "Cookies white list:";

    // Builds the lists at once (reads the white list and every browser's cookies, after
    // waiting for the application search) and shows them with the page's texts. view may be
    // null (the scan, the clean). Each list row is one domain.
    explicit HVNWhiteListVC(HVNScreenView* view = nullptr);
    ~HVNWhiteListVC() override;
    HVNWhiteListVC(const HVNWhiteListVC&) = delete;
    HVNWhiteListVC& operator=(const HVNWhiteListVC&) = delete;

    // The white list file: ~/Library/ignore.plist.
    static std::string whiteListPath();

    // (Re)reads the white list into keepCookiesRecord; while the user has no file of their
    // own, the default of the resources is the list. An unreadable file gives an empty
    // list (nothing kept).
    void getCookiesKeepList();
    // Writes the list to the white list file atomically and shows it. False when it could
    // not be written (the list shown stays the one on disk).
    bool writeKeepCookies(const std::vector<std::string>& domains);

    // Gather one browser's cookies, leaving out the white-listed domains.
    void getSafariCookie();
    void getChromeCookie();
    void getFireFoxCookie();

    // One ticked result node per gathered cookie (Safari domains, then Chrome and Firefox
    // records): name = the domain, filePath = the browser's cookie location.
    HVNNodeList getCookies();

    // Removes the cookies of the ticked nodes whose name is not white-listed, each from the
    // node's own browser; the unticked nodes' domains and the white-listed ones are spared
    // also where a removal would reach them as sub-domains. Returns the nodes handled
    // (removed from `cookie`); failures (a store that stayed locked or was refused) get the
    // node, the store and the reason, and those nodes are not handled.
    struct CleanFailure {
        HVNScaneOuputObjectPtr node;
        std::string storePath;
        std::string reason;
    };
    HVNNodeList cleanCookies(const HVNNodeList& nodes, std::vector<CleanFailure>* failures = nullptr);

    // The move buttons: "add" moves the given domains of the removal list to the white
    // list, "cancel" moves the given white-list domains back; the file is rewritten at once.
    void addCookies(const std::vector<std::string>& selected);
    void cancelCookies(const std::vector<std::string>& selected);
    // A selection in one list enables only that list's move button.
    void removalListSelectionChanged(size_t selectedCount);
    void whiteListSelectionChanged(size_t selectedCount);
    // The search fields: the entries containing the text, ignoring case, in ascending
    // order; an empty text shows the whole list. Also the completions offered.
    void searchRemovalList(const std::string& text);
    void searchWhiteList(const std::string& text);
    static std::vector<std::string> filtered(const std::vector<std::string>& list, const std::string& text);

    // Enables or disables both lists, both search fields and the move controls together.
    void disabledCookie(bool disabled);

    static std::string deleteFirstDot(const std::string& domain);

    // Rebuilds everything (as at creation).
    void buildLists();

    // --- State ---
    std::vector<std::string> keepCookiesRecord;
    std::vector<std::string> safariCookies;
    std::vector<HVNCookiesData> chromeCookies;
    std::vector<HVNCookiesData> fireFoxCookies;
    struct CookiesData {
        std::optional<std::vector<std::string>> safari;
        std::optional<std::vector<HVNCookiesData>> chrome;
        std::optional<std::vector<HVNCookiesData>> firefox;
    } cookiesData;
    std::vector<std::string> allCookies;
    std::vector<std::string> allKeywords;         // shown in the removal list
    std::vector<std::string> allCookiesKeywords;  // shown in the white list
    HVNNodeList cookie;
    std::string safarifilePath, chromefilePath, firefoxfilePath;
    std::unique_ptr<HVNCookieDBManager> chromeCookieDB;
    std::unique_ptr<HVNCookieDBManager> firefoxCookieDB;

private:
    bool isKept(const std::string& domain) const;
    void addToAllCookies(const std::string& domain);
    void showLists();
    std::string removalSearch_, whiteSearch_;
    hvn::ObservationToken cleanFinishObserver_;
};
