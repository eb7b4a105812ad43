#include "HVN/Code/ToolBox/Uninstall/HVNUninstallVC.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/HVNDeleteSelectedApp.h"
#include "HVN/Code/Public/HVNSearchApplications.h"
#include "Platform/Log.h"
#include "Platform/RunLoop.h"
#include "Platform/UniformType.h"
#include "Platform/Workspace.h"

namespace {

std::mutex& terminatorMutex() {
    static std::mutex m;
    return m;
}

bool killAndWait(int pid) {
    if (pid <= 0) return false;
    if (::kill(pid, SIGKILL) != 0 && errno != ESRCH) return false;
    // The process is gone once kill(pid, 0) fails with ESRCH; a zombie of another parent
    // counts as ended too (it runs no more and holds no file open).
    for (int i = 0; i < 100; ++i) {
        if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
        std::string stat;
        if (FILE* f = std::fopen(hvn::format("/proc/%d/stat", pid).c_str(), "r")) {
            char buf[256] = {};
            size_t n = std::fread(buf, 1, sizeof buf - 1, f);
            std::fclose(f);
            stat.assign(buf, n);
            size_t close = stat.rfind(')');
            if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z') return true;
        }
        ::usleep(20000);
    }
    return false;
}

HVNUninstallVC::Terminator& terminator() {
    static HVNUninstallVC::Terminator t = killAndWait;
    return t;
}

std::string replaceObject(std::string text, const std::string& value) {
    size_t at = text.find("%@");
    if (at != std::string::npos) text.replace(at, 2, value);
    return text;
}

std::string dayText(const std::optional<hvn::Date>& date) {
    if (!date) return "";
    time_t t = static_cast<time_t>(date->secondsSince1970);
    struct tm tm {};
    if (!::localtime_r(&t, &tm)) return "";
    char buf[32];
    if (std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm) == 0) return "";
    return buf;
}

HVNAppItemList sortedByName(HVNAppItemList list) {
    HVNUninstallFilters::sort(list, HVNUninstallFilters::ByName);
    return list;
}

bool holds(const HVNAppItemList& list, const HVNAppItemPtr& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

HVNUninstallVC::Terminator HVNUninstallVC::setTerminator(Terminator t) {
    std::lock_guard<std::mutex> lock(terminatorMutex());
    Terminator previous = terminator();
    terminator() = t ? std::move(t) : Terminator(killAndWait);
    return previous;
}

HVNUninstallVC::HVNUninstallVC(HVNScreenView* view, HVNSearchApplications* search)
    : HVNBaseVC(view), search_(search ? search : &HVNSearchApplications::shareHVNSearchApplications()) {
    moulde = 5;
    auto onMain = [this](std::function<void()> fn) {
        if (hvn::RunLoop::main().isMainThread()) {
            fn();
        } else {
            onMainLoop(std::move(fn));
        }
    };
    auto& center = hvn::NotificationCenter::defaultCenter();
    removePathToken_ =
        center.addObserver(kRemovePathNotification, [this, onMain](const hvn::Notification& n) {
            if (!n.userInfo.isDictionary()) return;
            auto it = n.userInfo.asDictionary().find("path");
            if (it == n.userInfo.asDictionary().end() || !it->second.isString()) return;
            std::string path = it->second.asString();
            onMain([this, path] { toggleFile(path); });
        });
    scrollToken_ = center.addObserver(kScrollNotification, [this, onMain](const hvn::Notification& n) {
        if (!n.userInfo.isDictionary()) return;
        auto it = n.userInfo.asDictionary().find("p");
        if (it == n.userInfo.asDictionary().end() || !it->second.isNumber()) return;
        double p = it->second.asReal();
        onMain([this, p] { setProgress(kListScroller, p); });
    });
}

HVNUninstallVC::~HVNUninstallVC() {
    removePathToken_ = hvn::ObservationToken();
    scrollToken_ = hvn::ObservationToken();
    std::vector<Worker> threads;
    {
        std::lock_guard<std::mutex> lock(threadsMutex_);
        threads.swap(threads_);
    }
    for (auto& t : threads) {
        if (t.thread.joinable()) t.thread.join();
    }
}

void HVNUninstallVC::background(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    // Ended threads are joined as new ones start, so that the list stays short.
    for (auto it = threads_.begin(); it != threads_.end();) {
        if (it->ended->load()) {
            it->thread.join();
            it = threads_.erase(it);
        } else {
            ++it;
        }
    }
    auto ended = std::make_shared<std::atomic<bool>>(false);
    try {
        threads_.push_back({std::thread([work, ended] {
                                try {
                                    work();
                                } catch (...) {
                                    hvn::Log::write("HVNUninstallVC: background work failed");
                                }
                                ended->store(true);
                            }),
                            ended});
    } catch (const std::system_error&) {
        hvn::Log::write("HVNUninstallVC: could not start a thread; working here");
        work();
    }
}

void HVNUninstallVC::loadView() {
    setText(kUninstallButton, kUninstallTitle);
    if (search_->done() && search_->otherTypeDone()) {
        initArrays();
        return;
    }
    HVNSearchApplications* search = search_;
    background([this, search] {
        search->waitFinish();
        search->waitOtherTypeFinish();
        onMainLoop([this] { initArrays(); });
    });
}

void HVNUninstallVC::initArrays() {
    applications = sortedByName(search_->allApp());
    plugins = search_->plugIn();
    widgets = search_->widgets();
    preferences = search_->preferences();
    HVNAppItemList everything = plugins;
    everything.insert(everything.end(), widgets.begin(), widgets.end());
    everything.insert(everything.end(), preferences.begin(), preferences.end());
    everything.insert(everything.end(), applications.begin(), applications.end());
    all = sortedByName(std::move(everything));
    loaded_ = true;
    showTabTitles();
    selectTab(AllTab);
}

HVNAppItemList& HVNUninstallVC::tabListRef(int tag) {
    switch (tag) {
        case ApplicationsTab:
            return applications;
        case WidgetsTab:
            return widgets;
        case PluginsTab:
            return plugins;
        case PreferencesTab:
            return preferences;
        default:
            return all;
    }
}

const HVNAppItemList& HVNUninstallVC::tabList(int tag) const {
    static const HVNAppItemList none;
    switch (tag) {
        case AllTab:
            return all;
        case ApplicationsTab:
            return applications;
        case WidgetsTab:
            return widgets;
        case PluginsTab:
            return plugins;
        case PreferencesTab:
            return preferences;
        default:
            return none;
    }
}

std::vector<std::string> HVNUninstallVC::tabTitles() const {
    return {hvn::format("All(%lu)", static_cast<unsigned long>(all.size())),
            hvn::format("Applications(%lu)", static_cast<unsigned long>(applications.size())),
            hvn::format("Widgets(%lu)", static_cast<unsigned long>(widgets.size())),
            hvn::format("Plugins(%lu)", static_cast<unsigned long>(plugins.size())),
            hvn::format("Preferences(%lu)", static_cast<unsigned long>(preferences.size()))};
}

void HVNUninstallVC::showTabTitles() {
    std::vector<std::string> titles = tabTitles();
    const char* tabs[] = {kAllTab, kApplicationsTab, kWidgetsTab, kPluginsTab, kPreferencesTab};
    for (size_t i = 0; i < 5; ++i) setText(tabs[i], titles[i]);
}

void HVNUninstallVC::selectTab(int tag) {
    if (tag < AllTab || tag > PreferencesTab) return;
    currentButtonTag = tag;
    setState(kTabBar, tag);
    ContentArray = tabListRef(tag);
    clearSelection();
    searchText.clear();
    setText(kSearchField, "");
    SizeSliderValue = 0;
    DateSliderValue = 0;
    setState(kSizeSlider, 0);
    setText(kSizeSliderTitle, HVNUninstallFilters::sizeTitle(0));
    setState(kDateSlider, 0);
    setText(kDateSliderTitle, HVNUninstallFilters::dateFilter(0).title);
    sortOrder = HVNUninstallFilters::ByName;
    setState(kSortMenu, sortOrder);
    showContent();
}

void HVNUninstallVC::searchTextChanged(const std::string& text) {
    searchText = text;
    ContentArray = HVNUninstallFilters::search(tabListRef(currentButtonTag), text);
    if (selectedItem && !holds(ContentArray, selectedItem)) clearSelection();
    showContent();
}

void HVNUninstallVC::applyFilters() {
    const double threshold = HVNUninstallFilters::dateFilter(DateSliderValue).thresholdDays;
    const hvn::Date today = now();
    HVNAppItemList shown;
    for (const auto& item : tabListRef(currentButtonTag)) {
        if (!item) continue;
        if (!HVNUninstallFilters::passesSize(*item, SizeSliderValue)) continue;
        if (!HVNUninstallFilters::passesDate(*item, threshold, today)) continue;
        shown.push_back(item);
    }
    HVNUninstallFilters::sort(shown, sortOrder);
    ContentArray = std::move(shown);
    searchText.clear();
    setText(kSearchField, "");
    if (selectedItem && !holds(ContentArray, selectedItem)) clearSelection();
    showContent();
}

void HVNUninstallVC::sizeSliderChanged(double megabytes) {
    SizeSliderValue = megabytes > 0 ? megabytes : 0;
    setText(kSizeSliderTitle, HVNUninstallFilters::sizeTitle(SizeSliderValue));
    applyFilters();
}

void HVNUninstallVC::dateSliderChanged(double position) {
    DateSliderValue = position > 0 ? position : 0;
    setText(kDateSliderTitle, HVNUninstallFilters::dateFilter(DateSliderValue).title);
    applyFilters();
}

void HVNUninstallVC::sortChanged(int order) {
    if (order < HVNUninstallFilters::ByName || order > HVNUninstallFilters::ByLastUsed) return;
    sortOrder = order;
    setState(kSortMenu, order);
    HVNUninstallFilters::sort(ContentArray, order);
    showContent();
}

void HVNUninstallVC::showContent() {
    std::vector<HVNListRow> rows;
    int selectedRow = -1;
    for (size_t i = 0; i < ContentArray.size(); ++i) {
        const HVNAppItem& item = *ContentArray[i];
        HVNListRow row;
        row.cells = {item.name, HVNCommonFunction::getSizeDesc(item.appSizeIntValue()), item.version,
                     dayText(item.lastUseDate)};
        row.icon = item.image;
        rows.push_back(std::move(row));
        if (ContentArray[i] == selectedItem) selectedRow = static_cast<int>(i);
    }
    reloadList(kAppList, rows);
    setState(kAppList, selectedRow);
    setHidden(kNothingFoundView, !ContentArray.empty());
}

void HVNUninstallVC::clearSelection() {
    ++generation_;  // files still being found for the previous item are dropped
    if (selectedItem) selectedItem->isSelected = false;
    selectedItem.reset();
    delFilesArray.clear();
    delItemArray.clear();
    listings_.clear();
    filesReady_ = false;
    showFiles();
    setState(kAppList, -1);
}

void HVNUninstallVC::selectItem(size_t index) {
    if (removing_) return;
    clearSelection();
    if (index >= ContentArray.size()) return;
    selectedItem = ContentArray[index];
    selectedItem->isSelected = true;
    setState(kAppList, static_cast<int>(index));
    const uint64_t generation = generation_;
    HVNAppItemPtr item = selectedItem;
    HVNAppItem snapshot = *item;
    background([this, generation, item, snapshot] {
        std::vector<std::string> paths = HVNDeleteSelectedApp::deleteFiles(snapshot);
        std::vector<HVNUninstallListing> listings = HVNUninstallRemoval::list(paths);
        HVNAppItemList display = HVNDeleteSelectedApp::FileAttribute(paths, snapshot);
        onMainLoop(
            [this, generation, item, listings = std::move(listings), display = std::move(display)]() mutable {
                filesFound(generation, item, std::move(listings), std::move(display));
            });
    });
}

void HVNUninstallVC::filesFound(uint64_t generation, HVNAppItemPtr item,
                                std::vector<HVNUninstallListing> listings, HVNAppItemList display) {
    if (generation != generation_ || item != selectedItem) return;
    listings_ = std::move(listings);
    delItemArray = std::move(display);
    delFilesArray.clear();
    for (const auto& l : listings_) delFilesArray.push_back(l.path);
    filesReady_ = true;
    showFiles();
}

void HVNUninstallVC::showFiles() {
    std::vector<HVNListRow> rows;
    for (const auto& file : delItemArray) {
        HVNListRow row;
        row.cells = {file->name, HVNCommonFunction::getSizeDesc(file->appSizeIntValue()), file->path};
        row.checkState =
            std::find(delFilesArray.begin(), delFilesArray.end(), file->path) != delFilesArray.end() ? 1 : 0;
        row.icon = file->image;
        rows.push_back(std::move(row));
    }
    reloadList(kFileList, rows);
}

void HVNUninstallVC::toggleFile(const std::string& path) {
    if (removing_) return;
    auto it = std::find(delFilesArray.begin(), delFilesArray.end(), path);
    if (it != delFilesArray.end()) {
        delFilesArray.erase(it);
    } else {
        // Only a file that was found for the item may come back in.
        bool found = false;
        for (const auto& l : listings_) found = found || l.path == path;
        if (!found) return;
        delFilesArray.push_back(path);
    }
    showFiles();
}

void HVNUninstallVC::uninstall() {
    if (removing_) return;
    if (delFilesArray.empty() || !selectedItem) {
        showSelectionNeededSheet(kNothingSelectedText);
        return;
    }
    HVNAppItemPtr item = selectedItem;
    bool removesBundle = std::any_of(delFilesArray.begin(), delFilesArray.end(), [](const std::string& p) {
        return hvn::UniformType::pathExtension(p) == "app";
    });
    bool running = false;
    if (removesBundle && !item->bundleID.empty()) {
        const std::string own = HVNDeleteSelectedApp::realRootPath(item->path);
        for (const auto& app : hvn::Workspace::runningApplications()) {
            if (app.bundleIdentifier == item->bundleID &&
                HVNDeleteSelectedApp::realRootPath(app.bundlePath) == own) {
                running = true;
                break;
            }
        }
    }
    HVNAlert alert;
    alert.messageText = kWarningTitle;
    alert.buttons = {"OK", "Cancel"};
    alert.informativeText = replaceObject(running ? kRunningText : kConfirmText, item->name);
    showAlert(alert, [this, running, item](HVNAlertAnswer answer) {
        if (answer.button != 0 || item != selectedItem) return;
        if (running) {
            terminateThenRemove();
        } else {
            deleteApp();
        }
    });
}

void HVNUninstallVC::terminateThenRemove() {
    if (!selectedItem) return;
    std::vector<int> pids;
    for (const auto& app : hvn::Workspace::runningApplications()) {
        if (app.bundleIdentifier == selectedItem->bundleID) pids.push_back(app.pid);
    }
    Terminator end;
    {
        std::lock_guard<std::mutex> lock(terminatorMutex());
        end = terminator();
    }
    for (int pid : pids) {
        if (!end(pid)) {
            hvn::Log::writef("HVNUninstallVC: could not end process %d; %s is not removed", pid,
                             selectedItem->path.c_str());
            setText(kStatusLabel,
                    hvn::format("%s could not be closed; nothing was removed.", selectedItem->name.c_str()));
            return;
        }
    }
    deleteApp();
}

void HVNUninstallVC::deleteApp() {
    if (removing_ || !selectedItem) return;
    std::vector<HVNUninstallListing> chosen;
    for (const auto& path : delFilesArray) {
        for (const auto& l : listings_) {
            if (l.path == path) {
                chosen.push_back(l);
                break;
            }
        }
    }
    removing_ = true;
    removalFinished_ = false;
    setEnabled(kUninstallButton, false);
    setText(kStatusLabel, "");
    HVNAppItemPtr item = selectedItem;
    background([this, item, chosen = std::move(chosen)] {
        std::vector<HVNUninstallOutcome> outcomes = HVNUninstallRemoval::remove(chosen, false);
        onMainLoop([this, item, outcomes = std::move(outcomes)]() mutable {
            removalDone(item, std::move(outcomes));
        });
    });
}

void HVNUninstallVC::removalDone(HVNAppItemPtr item, std::vector<HVNUninstallOutcome> outcomes) {
    removing_ = false;
    setEnabled(kUninstallButton, true);
    lastOutcomes_ = std::move(outcomes);
    lastResult_ = !lastOutcomes_.empty();
    size_t left = 0;
    bool ownGone = false;
    const std::string own = HVNDeleteSelectedApp::realRootPath(item->path);
    for (const auto& o : lastOutcomes_) {
        if (!o.gone()) {
            lastResult_ = false;
            ++left;
            continue;
        }
        if (o.path == own) ownGone = true;
        delFilesArray.erase(std::remove(delFilesArray.begin(), delFilesArray.end(), o.path),
                            delFilesArray.end());
        delItemArray.erase(std::remove_if(delItemArray.begin(), delItemArray.end(),
                                          [&](const HVNAppItemPtr& f) { return f->path == o.path; }),
                           delItemArray.end());
        listings_.erase(std::remove_if(listings_.begin(), listings_.end(),
                                       [&](const HVNUninstallListing& l) { return l.path == o.path; }),
                        listings_.end());
    }
    if (ownGone) {
        for (HVNAppItemList* list : {&ContentArray, &all, &applications, &widgets, &plugins, &preferences})
            list->erase(std::remove(list->begin(), list->end(), item), list->end());
        showTabTitles();
    }
    if (lastResult_ && item == selectedItem) clearSelection();
    if (left > 0) {
        const HVNUninstallOutcome* first = nullptr;
        for (const auto& o : lastOutcomes_) {
            if (!o.gone()) {
                first = &o;
                break;
            }
        }
        setText(kStatusLabel, left == 1
                                  ? hvn::format("%s was left in place: %s",
                                                hvn::UniformType::lastPathComponent(first->path).c_str(),
                                                first->reason.c_str())
                                  : hvn::format("%zu items were left in place.", left));
    }
    showFiles();
    showContent();
    removalFinished_ = true;
}
