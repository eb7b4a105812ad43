// The uninstaller page: the applications, widgets, Internet plug-ins and preference panes of
// the shared application search in five tabs, narrowed by a search text, a size slider and a
// last-used slider and sorted by name, size or last use; for the item the user selects, the
// files found for it (HVNDeleteSelectedApp::deleteFiles), each of which the user may leave
// out; and the uninstall: confirmation, quitting the application when it runs, removal.
//
// The page's elements (HVNScreenView):
// - the tab buttons kAllTab ... kPreferencesTab with the titles "All(%lu)", ...; the tab on
//   show is the state of kTabBar (currentButtonTag);
// - kAppList, one row per item on show (ContentArray): cells {name, size text, version,
//   last used "YYYY-MM-DD" or ""}, icon = the item's; the selected row is the state of
//   kAppList (-1 for none);
// - kFileList, one row per file of the selected item (delItemArray): cells {name, size
//   text, path}, a tick box that is on while the file is to be removed;
// - kSearchField, kSizeSlider / kSizeSliderTitle, kDateSlider / kDateSliderTitle (the
//   sliders' state is their position, reset to 0), kSortMenu (state = the sort order);
// - kUninstallButton (disabled while a removal runs), kNothingFoundView (shown when the
//   list on show is empty), kStatusLabel (what the last uninstall left in place),
//   kListScroller (the "scroll" notification's position, as progress).
//
// Finding an item's files and removing them run on background threads; their results reach
// the page on the main run loop. Threads: the main thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "HVN/Code/Public/HVNBaseVC.h"
#include "HVN/Code/Public/ScanAndDeleteApp/HVNAppItem.h"
#include "HVN/Code/ToolBox/Uninstall/HVNUninstallFilters.h"
#include "HVN/Code/ToolBox/Uninstall/HVNUninstallRemoval.h"
#include "Platform/NotificationCenter.h"
#include "Platform/Value.h"

class HVNSearchApplications;

// "removePath" (userInfo {"path": path}): toggles whether the file is removed.
inline constexpr const char* kRemovePathNotification = "removePath";
// "scroll" (userInfo {"p": position}): scrolls the list.
inline constexpr const char* kScrollNotification = "scroll";

class HVNUninstallVC : public HVNBaseVC {
public:
    static constexpr const char* kTabBar = "tabBar";
    static constexpr const char* kAllTab = "allTab";
    static constexpr const char* kApplicationsTab = "applicationsTab";
    static constexpr const char* kWidgetsTab = "widgetsTab";
    static constexpr const char* kPluginsTab = "pluginsTab";
    static constexpr const char* kPreferencesTab = "preferencesTab";
    static constexpr const char* kAppList = "appList";
    static constexpr const char* kFileList = "fileList";
    static constexpr const char* kSearchField = "searchField";
    static constexpr const char* kSizeSlider = "sizeSlider";
    static constexpr const char* kSizeSliderTitle = "sizeSliderTitle";
    static constexpr const char* kDateSlider = "dateSlider";
    static constexpr const char* kDateSliderTitle = "dateSliderTitle";
    static constexpr const char* kSortMenu = "sortMenu";
    static constexpr const char* kUninstallButton = "uninstallButton";
    static constexpr const char* kNothingFoundView = "nothingFoundView";
    static constexpr const char* kStatusLabel = "statusLabel";
    static constexpr const char* kListScroller = "listScroller";

    static constexpr const char* kUninstallTitle = "Uninstall";
    static constexpr const char* kNothingSelectedText =
        "You must select at least one item to continue the uninstall.";
    static constexpr const char* kSelectOneText = "Please select one option at least.";
    static constexpr const char* kWarningTitle = "Warning";
    static constexpr const char* kRunningText =
        "The application %@ is currently open, Are you sure you want to close it, and then uninstall it?";
    static constexpr const char* kConfirmText =
        "Are you sure you want to uninstall %@? You can't recover it.";

    enum Tab { AllTab = 0, ApplicationsTab = 1, WidgetsTab = 2, PluginsTab = 3, PreferencesTab = 4 };

    // search: the application search to read (null: the shared one). The lists are built by
    // loadView(). view may be null.
    explicit HVNUninstallVC(HVNScreenView* view = nullptr, HVNSearchApplications* search = nullptr);
    ~HVNUninstallVC() override;  // waits for its background work
    HVNUninstallVC(const HVNUninstallVC&) = delete;
    HVNUninstallVC& operator=(const HVNUninstallVC&) = delete;

    // The page loads: builds the lists (initArrays) once the search has ended (at once when
    // it has, else later on the main loop) and shows the All tab.
    void loadView();
    bool loaded() const { return loaded_; }
    // Builds the five lists from the search: applications = allApp by name; plugins,
    // widgets, preferences; all = the four together by name. Shows the tab titles.
    void initArrays();

    // The user's actions.
    void selectTab(int tag);
    void searchTextChanged(const std::string& text);
    void sizeSliderChanged(double megabytes);
    void dateSliderChanged(double position);
    void sortChanged(int order);
    // Selects the item at index of ContentArray (out of range: clears the selection) and
    // finds its files; filesReady() is true once they are shown.
    void selectItem(size_t index);
    bool filesReady() const { return filesReady_; }
    // Toggles whether path is removed (the "removePath" notification does the same).
    void toggleFile(const std::string& path);
    // The "Uninstall" button: the alerts, then deleteApp.
    void uninstall();
    // Removes what delFilesArray holds (on a background thread); removalFinished() turns
    // true when its result is shown. Ignored while a removal runs.
    void deleteApp();
    bool removing() const { return removing_; }
    bool removalFinished() const { return removalFinished_; }
    // Whether every file handed to the last removal is gone (false for an empty list).
    bool lastResult() const { return lastResult_; }
    // The outcomes of the last removal, one per file.
    const std::vector<HVNUninstallOutcome>& lastOutcomes() const { return lastOutcomes_; }

    // The tab titles, "All(%lu)" ... "Preferences(%lu)".
    std::vector<std::string> tabTitles() const;
    // The list of a tab (out of range: none).
    const HVNAppItemList& tabList(int tag) const;

    // Ends a running application by process id; true when it is gone. The default sends
    // SIGKILL and waits (briefly) for the process to end. Replaceable (tests).
    using Terminator = std::function<bool(int pid)>;
    static Terminator setTerminator(Terminator terminator);

    // --- State ---
    HVNAppItemList all, applications, widgets, plugins, preferences;
    HVNAppItemList ContentArray;
    int currentButtonTag = AllTab;
    HVNAppItemPtr selectedItem;
    std::vector<std::string> delFilesArray;  // paths to remove for the selected item
    HVNAppItemList delItemArray;             // every file found for it, for display
    double SizeSliderValue = 0;
    double DateSliderValue = 0;
    int sortOrder = HVNUninstallFilters::ByName;
    std::string searchText;

    // The clock of the date filter (tests).
    std::function<hvn::Date()> now = [] { return hvn::Date::now(); };

private:
    HVNAppItemList& tabListRef(int tag);
    void applyFilters();
    void clearSelection();
    void showTabTitles();
    void showContent();
    void showFiles();
    void filesFound(uint64_t generation, HVNAppItemPtr item, std::vector<HVNUninstallListing> listings,
                    HVNAppItemList display);
    void terminateThenRemove();
    void removalDone(HVNAppItemPtr item, std::vector<HVNUninstallOutcome> outcomes);
    void background(std::function<void()> work);

    HVNSearchApplications* search_;
    bool loaded_ = false;
    bool filesReady_ = false;
    bool removing_ = false;
    bool removalFinished_ = false;
    bool lastResult_ = false;
    uint64_t generation_ = 0;
    std::vector<HVNUninstallListing> listings_;  // what the user was shown of each file
    std::vector<HVNUninstallOutcome> lastOutcomes_;
    hvn::ObservationToken removePathToken_;
    hvn::ObservationToken scrollToken_;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> ended;
    };
    std::mutex threadsMutex_;
    std::vector<Worker> threads_;
};
