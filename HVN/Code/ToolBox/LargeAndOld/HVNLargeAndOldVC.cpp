#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeAndOldVC.h"

#include <algorithm>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Log.h"
#include "Platform/Roots.h"
#include "Platform/RunLoop.h"
#include "Platform/UserDefaults.h"

namespace {

constexpr const char* kScanTitle = "Scan";
constexpr const char* kStopTitle = "Stop";
constexpr const char* kRemoveTitle = "Remove";
constexpr const char* kDoneTitle = "Done";

// A setting that is absent counts as YES: the safer choice for both keys read here (ask
// first; move to the trash).
bool settingOn(const char* key) {
    hvn::Value v = HVNCommonFunction::getSettingValueByKey(key);
    return v.isNull() || v.asBool();
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

HVNLargeAndOldVC::HVNLargeAndOldVC(HVNScreenView* view, HVNScreenView* resultView,
                                   HVNScreenView* noProblemView)
    : HVNBaseVC(view),
      scanner(std::make_unique<HVNLargeAndOldFileScanner>()),
      resultView_(resultView),
      noProblemView_(noProblemView) {
    scanner->delegate = this;
    loadPaths();
    setText(kScanButton, kScanTitle);
    if (!showPaths.empty()) setEnabled(kScanButton, true);
    showFolders();
    updateRemoveButton();

    auto& center = hvn::NotificationCenter::defaultCenter();
    pathObserver_ =
        center.addObserver(kUpdateLargeAndOldFilePathNotification, [this](const hvn::Notification& n) {
            const auto* update = std::any_cast<HVNLargeAndOldPathUpdate>(&n.object);
            if (!update || curState != 1) return;
            bool mine = false;
            for (const auto& [folder, path] : *update) {
                if (std::find(showPaths.begin(), showPaths.end(), folder) == showPaths.end()) continue;
                folder->scanPath = path;
                mine = true;
            }
            if (mine) showFolders();
        });
    backObserver_ = center.addObserver(kBackToMainWindowNotification, [this](const hvn::Notification& n) {
        const auto* page = std::any_cast<HVNLargeResultVC*>(&n.object);
        if (!page || !curShowVC || *page != curShowVC.get()) return;
        // The result page is still inside its back action: it goes afterwards.
        after(0, run_, [this] { reset(); });
    });
}

HVNLargeAndOldVC::~HVNLargeAndOldVC() {
    alive_.reset();
    scanner.reset();
}

void HVNLargeAndOldVC::after(double seconds, uint64_t run, std::function<void()> fn) {
    std::weak_ptr<int> alive = alive_;
    auto task = [this, alive, run, fn = std::move(fn)] {
        if (!alive.lock() || run != run_) return;
        fn();
    };
    if (seconds <= 0) {
        hvn::RunLoop::main().performOnMainThread(std::move(task));
    } else {
        hvn::RunLoop::main().performAfter(seconds, std::move(task));
    }
}

// --- Folder list ---

HVNScaneOuputObjectPtr HVNLargeAndOldVC::folderEntry(const std::string& path) {
    auto entry = HVNScaneOuputObject::create();
    entry->setFilePath(path);
    if (path == "/") {
        entry->setName(HVNCommonFunction::systemUserName());
    } else {
        size_t slash = path.rfind('/');
        entry->setName(slash == std::string::npos ? path : path.substr(slash + 1));
    }
    entry->icon = path;
    entry->isDir = true;
    return entry;
}

void HVNLargeAndOldVC::loadPaths() {
    showPaths.clear();
    selectPaths.clear();
    hvn::Value stored = hvn::UserDefaults::standardUserDefaults().objectForKey(kLargeAndOldPathsKey);
    if (stored.isArray()) {
        for (const auto& v : stored.asArray()) {
            if (v.isString() && !v.asString().empty()) showPaths.push_back(folderEntry(v.asString()));
        }
        return;
    }
    if (!stored.isNull())
        hvn::Log::writef("%s is not a list of folders; the home folder is listed", kLargeAndOldPathsKey);
    // The user's own folder, named with the login name.
    auto home = folderEntry(hvn::Roots::home());
    std::string user = HVNCommonFunction::systemUserName();
    if (!user.empty()) home->setName(user);
    showPaths.push_back(std::move(home));
}

bool HVNLargeAndOldVC::savePaths() {
    hvn::Array paths;
    for (const auto& f : showPaths) paths.emplace_back(f->filePath());
    std::string error;
    bool ok = hvn::UserDefaults::standardUserDefaults().setObject(hvn::Value(std::move(paths)),
                                                                  kLargeAndOldPathsKey, &error);
    if (!ok) hvn::Log::writef("cannot store the folder list: %s", error.c_str());
    return ok;
}

void HVNLargeAndOldVC::addFolders() {
    HVNOpenPanelRequest request;
    request.prompt = "Add";
    request.directory = hvn::Roots::home() + "/Desktop";
    request.canChooseFiles = false;
    request.canChooseDirectories = true;
    request.allowsMultipleSelection = true;
    showOpenPanel(request, [this](std::vector<std::string> chosen) {
        if (!chosen.empty()) addChosenFolders(chosen);
    });
}

void HVNLargeAndOldVC::addChosenFolders(const std::vector<std::string>& paths) {
    bool refused = false;
    for (const auto& p : paths) {
        std::string path = withoutTrailingSlashes(p);
        if (path.empty()) continue;
        bool listed = std::any_of(showPaths.begin(), showPaths.end(), [&](const HVNScaneOuputObjectPtr& f) {
            return path.find(f->filePath()) != std::string::npos;
        });
        if (listed) {
            refused = true;
            continue;
        }
        showPaths.push_back(folderEntry(path));
    }
    if (refused) {
        HVNAlert alert;
        alert.messageText = "The selected item has already existed.";
        alert.buttons = {"OK"};
        showAlert(alert, [](HVNAlertAnswer) {});
        return;
    }
    if (!showPaths.empty()) setEnabled(kScanButton, true);
    showFolders();
    savePaths();
}

void HVNLargeAndOldVC::clickFolderRow(std::optional<size_t> index) {
    const size_t row = index.value_or(showPaths.size());
    const bool onRow = row < showPaths.size();
    switch (curState) {
        case 0:
            for (auto& f : showPaths) f->isSelected = false;
            selectPaths.clear();
            if (onRow) {
                showPaths[row]->isSelected = true;
                selectPaths.push_back(showPaths[row]);
            }
            showFolders();
            updateRemoveButton();
            break;
        case 2:
            if (onRow && showPaths[row]->isCheck) showDetailView(showPaths[row]);
            break;
        default:
            break;
    }
}

void HVNLargeAndOldVC::setFolderSelected(size_t index, bool selected) {
    if (curState != 0 || index >= showPaths.size()) return;
    const auto& folder = showPaths[index];
    folder->isSelected = selected;
    selectPaths.erase(std::remove(selectPaths.begin(), selectPaths.end(), folder), selectPaths.end());
    if (selected) selectPaths.push_back(folder);
    showFolders();
    updateRemoveButton();
}

void HVNLargeAndOldVC::removeSelectedFolders() {
    // The list is the run's order of work: it changes only while no run uses it.
    if (curState != 0 || selectPaths.empty()) return;
    for (const auto& f : selectPaths)
        showPaths.erase(std::remove(showPaths.begin(), showPaths.end(), f), showPaths.end());
    for (auto& f : showPaths) f->isSelected = false;
    selectPaths.clear();
    showFolders();
    updateRemoveButton();
    savePaths();
}

void HVNLargeAndOldVC::showFolders() {
    std::vector<HVNListRow> rows;
    rows.reserve(showPaths.size());
    for (const auto& f : showPaths) {
        HVNListRow row;
        row.cells = {f->name(), f->filePath(), f->scanPath.value_or(std::string()), f->animi ? "busy" : ""};
        row.checkState = f->isSelected ? 1 : 0;
        row.icon = f->icon;
        rows.push_back(std::move(row));
    }
    reloadList(kFolderList, rows);
}

void HVNLargeAndOldVC::updateRemoveButton() {
    setEnabled(kRemoveButton, curState == 0 && !selectPaths.empty());
}

// --- Run ---

void HVNLargeAndOldVC::scanButtonClicked() {
    switch (curState) {
        case 0:
            onScan();
            break;
        case 1:
            onStop();
            break;
        default:
            if (noProblemVC) {
                reset();
            } else {
                onRemove();
            }
            break;
    }
}

void HVNLargeAndOldVC::onScan() {
    if (showPaths.empty()) {
        showSelectionNeededSheet("You must select at least one item to continue the scan.");
        return;
    }
    savePaths();
    if (curState != 0) return;
    const uint64_t run = ++run_;
    stopRequested_ = false;
    curIndex = 0;
    curState = 1;
    setText(kScanButton, kStopTitle);
    dropResultPages();
    HVNScaneOuputObjectPtr first = showPaths.front();
    first->animi = true;
    showFolders();
    updateRemoveButton();
    after(0, run, [this, first] { startScan(first); });
}

void HVNLargeAndOldVC::startScan(const HVNScaneOuputObjectPtr& folder) {
    // A stop that came before this folder's turn leaves it unsearched.
    if (curState != 1 || stopRequested_ || !folder) return;
    scanner->cancel.store(false);
    scanner->startScanObj(folder, HVNLargeAndOldFileScanner::kDefaultLimitSize);
}

void HVNLargeAndOldVC::resetProgressSpeed() {}

void HVNLargeAndOldVC::didEndScanObj(const HVNScaneOuputObjectPtr& folder) {
    after(0.5, run_, [this] {
        if (scanner->cancel.load() || curState != 1 || curIndex >= showPaths.size()) return;
        HVNScaneOuputObjectPtr row = showPaths[curIndex];
        row->scanPath = std::string(kComplete);
        row->animi = false;
        row->scanDone = true;
        row->isCheck = 1;
        ++curIndex;
        if (curIndex < showPaths.size()) {
            HVNScaneOuputObjectPtr next = showPaths[curIndex];
            next->animi = true;
            showFolders();
            after(0, run_, [this, next] { startScan(next); });
            return;
        }
        curState = 2;
        showFolders();
        after(0.1, run_, [this] { showDetailView(nullptr); });
    });
}

void HVNLargeAndOldVC::onStop() {
    if (curState != 1) return;
    stopRequested_ = true;
    scanner->cancel.store(true);
    scanner->cancelScan();
}

void HVNLargeAndOldVC::cancelScan(const HVNScaneOuputObjectPtr& folder) {
    if (curState != 1) return;
    curIndex = 0;
    curState = 2;
    setText(kScanButton, kRemoveTitle);
    // A stop between two folders may find the next one's indicator already on.
    for (auto& f : showPaths) f->animi = false;
    if (folder) {
        folder->scanPath = std::string(kComplete);
        folder->scanDone = true;
        folder->isCheck = 1;
    }
    showFolders();
    after(0.1, run_, [this] { showDetailView(nullptr); });
}

void HVNLargeAndOldVC::dropResultPages() {
    if (curShowVC) curShowVC->removeView();
    curShowVC.reset();
    if (noProblemVC) noProblemVC->removeView();
    noProblemVC.reset();
}

void HVNLargeAndOldVC::showDetailView(const HVNScaneOuputObjectPtr& folder) {
    dropResultPages();
    setText(kScanButton, kRemoveTitle);
    if (!folder && scanner->scanOutObjs.empty()) {
        noProblemVC = std::make_unique<HVNLargeNoProblemVC>(noProblemView_);
        if (view()) noProblemVC->showMeFromParentView(*view());
        setText(kScanButton, kDoneTitle);
        return;
    }
    HVNNodeList entries;
    if (folder) {
        auto it = scanner->outdataInfo.find(folder);
        if (it != scanner->outdataInfo.end()) entries = it->second;
    } else {
        entries = scanner->scanOutObjs;
    }
    curShowVC = std::make_unique<HVNLargeResultVC>(resultView_);
    curShowVC->setNodes(entries);
    if (view()) curShowVC->showMeFromParentView(*view());
}

void HVNLargeAndOldVC::onRemove() {
    if (curState != 2 || !curShowVC || removalPending_) return;
    if (curShowVC->selectedNodes.empty()) {
        showSelectionNeededSheet("You must select at least one item to remove.");
        return;
    }
    if (settingOn("Show Clean Notification")) {
        confirmRemoval();
    } else {
        scheduleRemoval();
    }
}

void HVNLargeAndOldVC::confirmRemoval() {
    HVNAlert alert;
    alert.style = HVNAlert::Style::Sheet;
    alert.messageText = "Are you sure you want to delete the item?";
    alert.informativeText = "Please note that the deleted items can not be restored.";
    alert.buttons = {"OK", "Cancel"};
    alert.suppressionTitle = "Never remind";
    alert.choices = {"Remove to trash", "Delete permanently"};
    const size_t shown = settingOn("Delete Is Safety") ? 0 : 1;
    alert.selectedChoice = shown;
    const uint64_t run = run_;
    std::weak_ptr<int> alive = alive_;
    showAlert(alert, [this, alive, run, shown](HVNAlertAnswer a) {
        if (!alive.lock()) return;
        // The radio buttons and the box are settings of their own, stored whatever the
        // button: the choice is written as it is made.
        if (a.choice != shown)
            HVNCommonFunction::changeSettingValue(hvn::Value(a.choice == 0), "Delete Is Safety");
        if (a.suppressed) HVNCommonFunction::changeSettingValue(hvn::Value(false), "Show Clean Notification");
        if (a.button != 0 || run != run_) return;
        scheduleRemoval();
    });
}

void HVNLargeAndOldVC::scheduleRemoval() {
    if (removalPending_) return;
    removalPending_ = true;
    after(1.0, run_, [this] { runRemoval(); });
}

void HVNLargeAndOldVC::runRemoval() {
    removalPending_ = false;
    if (!curShowVC) return;
    lastRemoval = settingOn("Delete Is Safety") ? curShowVC->fixSelectItemsToTrash()
                                                : curShowVC->fixSelectItemsForever();
    HVNNodeList gone;
    for (const auto& o : lastRemoval) {
        if (o.gone()) gone.push_back(o.entry);
    }
    // Only what went leaves the scanner's lists, so that each folder's count is of the files
    // still there.
    scanner->cleanupObjs(gone);
    for (auto& f : showPaths) {
        auto it = scanner->outdataInfo.find(f);
        size_t n = it == scanner->outdataInfo.end() ? 0 : it->second.size();
        f->scanPath = hvn::format("%ld items", static_cast<long>(n));
    }
    showFolders();
}

void HVNLargeAndOldVC::reset() {
    ++run_;
    removalPending_ = false;
    dropResultPages();
    for (auto& f : showPaths) {
        f->isSelected = false;
        f->scanPath.reset();
        f->animi = false;
        f->scanDone = false;
        f->isCheck = 0;
    }
    selectPaths.clear();
    setText(kScanButton, kScanTitle);
    curState = 0;
    scanner->clearResults();
    showFolders();
    updateRemoveButton();
}
