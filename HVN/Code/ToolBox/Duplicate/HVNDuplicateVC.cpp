#include "HVN/Code/ToolBox/Duplicate/HVNDuplicateVC.h"

#include <algorithm>

#include "HVN/Code/ToolBox/Duplicate/DuplicationPathSetting.h"
#include "HVN/Code/ToolBox/Duplicate/THFileUtility.h"
#include "Platform/Log.h"
#include "Platform/Roots.h"

namespace {

constexpr const char* kScanTitle = "Scan";
constexpr const char* kStopTitle = "Stop";
constexpr const char* kRemoveTitle = "Remove";
constexpr const char* kDoneTitle = "Done";

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool isOrUnder(const std::string& path, const std::string& prefix) {
    return path.compare(0, prefix.size(), prefix) == 0;
}

std::string pathOf(const hvn::Value& entry) {
    const hvn::Value* p = entry.isDictionary() ? entry.find("path") : nullptr;
    return p && p->isString() ? p->asString() : std::string();
}

}  // namespace

HVNDuplicateVC::HVNDuplicateVC(HVNScreenView* view, HVNScreenView* resultView, HVNScreenView* pathView)
    : HVNBaseVC(view),
      resultView_(resultView),
      pathView_(pathView),
      queue_(std::make_shared<hvn::OperationQueue>()) {
    moulde = 4;
    queue_->setMaxConcurrentOperationCount(1);
    filePathArray = DuplicationPathSetting::loadFilePathArray();
    rowPaths.assign(filePathArray.size(), std::string());
    setText(kAddButtonToolTip, "Add an item to the path list");
    setText(kRemoveButtonToolTip, "Delete the selected item");
    setButton(kScanTitle);
    setEnabled(kAddButton, true);
    setEnabled(kRemoveButton, false);
    setHidden(kNothingFoundView, true);
    showFolders();

    auto& center = hvn::NotificationCenter::defaultCenter();
    hiddenObserver_ = center.addObserver(kScanViewHiddenUI, [this](const hvn::Notification& n) {
        const hvn::Value* show = n.userInfo.isDictionary() ? n.userInfo.find("show") : nullptr;
        if (!show || !show->isString()) return;
        const bool hide = show->asString() == "n";
        setHidden(kPathList, hide);
        setHidden(kAddButton, hide);
        setHidden(kRemoveButton, hide);
    });
    doneObserver_ = center.addObserver(kShowDonView, [this](const hvn::Notification&) {
        if (state != State::Results) return;
        state = State::Done;
        setButton(kDoneTitle);
    });
}

HVNDuplicateVC::~HVNDuplicateVC() {
    alive_.reset();
    groupObserver_ = hvn::ObservationToken();
    progressObserver_ = hvn::ObservationToken();
    // The engine stops and waits; what it queued then reaches no observer.
    engine.reset();
    queue_->waitUntilAllOperationsAreFinished();
    if (timer_) hvn::RunLoop::main().cancel(*timer_);
}

void HVNDuplicateVC::setButton(const char* title) const {
    setText(kScanButton, title);
}

// --- Folder list ---

void HVNDuplicateVC::showFolders() const {
    std::vector<HVNListRow> rows;
    rows.reserve(filePathArray.size());
    const bool searching = state == State::Searching;
    for (size_t i = 0; i < filePathArray.size(); ++i) {
        std::string status;
        if (searching || state == State::Results || state == State::Done) {
            status = i < scanningRow ? std::string(kComplete) : (i < rowPaths.size() ? rowPaths[i] : "");
        }
        HVNListRow row;
        row.cells = {pathOf(filePathArray[i]), status, searching && i == scanningRow ? "busy" : ""};
        row.checkState = selectedRow == i ? 1 : 0;
        row.icon = pathOf(filePathArray[i]);
        rows.push_back(std::move(row));
    }
    reloadList(kPathList, rows);
}

void HVNDuplicateVC::saveFolders() const {
    std::string error;
    if (!DuplicationPathSetting::saveFilePathArray(filePathArray, &error))
        hvn::Log::writef("cannot store the duplicate finder's folders: %s", error.c_str());
}

void HVNDuplicateVC::addFolders() {
    if (state == State::Searching) return;
    HVNOpenPanelRequest request;
    request.prompt = "Add";
    request.directory = hvn::Roots::home();
    request.canChooseFiles = false;
    request.canChooseDirectories = true;
    request.allowsMultipleSelection = true;
    showOpenPanel(request, [this](std::vector<std::string> chosen) {
        if (!chosen.empty()) addChosenFolders(chosen);
    });
}

bool HVNDuplicateVC::ignoredFolder(const std::string& path) {
    if (path == "/" || path == hvn::Roots::system()) return true;
    for (const char* system : {"/System", "/Volumes"}) {
        if (isOrUnder(path, system)) return true;
        // The same folders below the system root this program works on.
        if (hvn::Roots::system() != "/" && isOrUnder(path, hvn::Roots::systemPath(system))) return true;
    }
    return false;
}

void HVNDuplicateVC::addChosenFolders(const std::vector<std::string>& paths) {
    if (state == State::Searching) return;
    bool existed = false;
    for (const auto& p : paths) {
        const std::string path = withoutTrailingSlashes(p);
        if (path.empty() || path[0] != '/' || ignoredFolder(path)) continue;
        if (THFileUtility::judgeTheSelectedFilePathWithCurrentFilePathArray(filePathArray, path)) {
            existed = true;
            continue;
        }
        filePathArray.push_back(DuplicationPathSetting::entryForPath(path));
        rowPaths.emplace_back();
    }
    saveFolders();
    showFolders();
    if (existed) {
        HVNAlert alert;
        alert.messageText = kAlreadyExisted;
        alert.buttons = {"OK"};
        showAlert(alert, [](HVNAlertAnswer) {});
    }
}

void HVNDuplicateVC::selectRow(std::optional<size_t> row) {
    if (state == State::Searching) return;
    selectedRow = row && *row < filePathArray.size() ? row : std::nullopt;
    setEnabled(kRemoveButton, selectedRow.has_value());
    showFolders();
}

void HVNDuplicateVC::removeSelectedRow() {
    if (state == State::Searching || !selectedRow || *selectedRow >= filePathArray.size()) return;
    filePathArray.erase(filePathArray.begin() + static_cast<std::ptrdiff_t>(*selectedRow));
    rowPaths.erase(rowPaths.begin() + static_cast<std::ptrdiff_t>(*selectedRow));
    selectedRow.reset();
    setEnabled(kRemoveButton, false);
    saveFolders();
    showFolders();
}

// --- Run ---

void HVNDuplicateVC::scanButtonClicked() {
    switch (state) {
        case State::Idle:
            startScan();
            break;
        case State::Searching:
            stopScan();
            break;
        case State::Results:
            hvn::NotificationCenter::defaultCenter().post(kRemoveSubPathNotName);
            break;
        case State::Done:
            done();
            break;
    }
}

void HVNDuplicateVC::startScan() {
    if (state != State::Idle) return;
    if (filePathArray.empty()) {
        showSelectionNeededSheet("You must select at least one item to continue the scan.");
        return;
    }
    // A search stopped a moment ago may still be winding down.
    if (engine && engine->searching()) return;
    const uint64_t run = ++run_;
    scanResultDic.clear();
    removal->forgetAll();
    stoppedByUser = false;
    scanningRow = 0;
    scannedCount = 0;
    rowPaths.assign(filePathArray.size(), std::string());
    selectedRow.reset();
    setEnabled(kRemoveButton, false);

    groupObserver_ = hvn::ObservationToken();
    progressObserver_ = hvn::ObservationToken();
    engine.reset();
    // What the last engine still had queued reaches no observer now; it must be gone before
    // the new engine (which may get the old one's address) is observed.
    queue_->waitUntilAllOperationsAreFinished();
    engine = std::make_unique<THDuplicationHelper>();
    for (const auto& entry : filePathArray) {
        std::string p = pathOf(entry);
        if (!p.empty()) engine->searchPaths.push_back(p);
    }
    engine->extensionsPredicate = nullptr;
    engine->minFileSize = kMinFileSize;
    engine->maxFileSize = 0;
    engine->filterPackage = true;
    engine->notificationQueue = queue_;

    const THDuplicationHelper* me = engine.get();
    auto listings = removal;
    auto& center = hvn::NotificationCenter::defaultCenter();
    // These run on the notification queue: the listing is noted there, the rest on the main loop.
    groupObserver_ =
        center.addObserver(kTHDuplicationNotification, [this, me, run, listings](const hvn::Notification& n) {
            const auto* self = std::any_cast<const THDuplicationHelper*>(&n.object);
            if (!self || *self != me) return;
            if (n.userInfo.find(kTHDuplicationFinished)) {
                onMainLoop([this, run] { searchFinished(run); });
                return;
            }
            const hvn::Value* list = n.userInfo.find(kTHDuplicationFileList);
            if (!list || !list->isArray()) return;
            std::vector<std::string> paths;
            for (const auto& p : list->asArray()) {
                if (p.isString()) paths.push_back(p.asString());
            }
            listings->listGroup(paths);
            hvn::Value info = n.userInfo;
            onMainLoop([this, run, info] { receiveGroup(run, info); });
        });
    progressObserver_ =
        center.addObserver(kTHDuplicationProgressNotification, [this, me, run](const hvn::Notification& n) {
            const auto* self = std::any_cast<const THDuplicationHelper*>(&n.object);
            if (!self || *self != me) return;
            const hvn::Value* path = n.userInfo.isDictionary() ? n.userInfo.find("path") : nullptr;
            if (!path || !path->isString()) return;
            std::string p = path->asString();
            onMainLoop([this, run, p] {
                if (run != run_ || state != State::Searching) return;
                ++scannedCount;
                notePath(p);
                showFolders();
            });
        });

    state = State::Searching;
    setEnabled(kAddButton, false);
    setButton(kStopTitle);
    setHidden(kNothingFoundView, true);
    setProgress(kProgress, currentProgress());
    showFolders();
    engine->startSearch();
    scheduleTick(run);
}

void HVNDuplicateVC::scheduleTick(uint64_t run) {
    const double period = 0.9 / static_cast<double>(std::max<size_t>(filePathArray.size(), 1));
    std::weak_ptr<int> alive = alive_;
    timer_ = hvn::RunLoop::main().performAfter(period, [this, alive, run] {
        if (!alive.lock() || run != run_ || state != State::Searching) return;
        timer_.reset();
        tick();
        scheduleTick(run);
    });
}

void HVNDuplicateVC::tick() {
    // The walk posts no progress notifications: its counters are sampled here.
    if (engine) {
        scannedCount = std::max(scannedCount, engine->scannedFileCount());
        std::string current = engine->currentPath();
        if (!current.empty()) notePath(current);
    }
    if (scanningRow + 1 < filePathArray.size()) ++scanningRow;
    setText(kCountLabel, std::to_string(scannedCount));
    setProgress(kProgress, currentProgress());
    showFolders();
}

void HVNDuplicateVC::notePath(const std::string& path) {
    for (size_t i = 0; i < filePathArray.size() && i < rowPaths.size(); ++i) {
        if (THFileUtility::returnPreFilePath(path, hvn::Array{filePathArray[i]})) {
            rowPaths[i] = path;
            return;
        }
    }
}

double HVNDuplicateVC::currentProgress() const {
    if (filePathArray.empty()) return 1;
    return std::min(1.0, static_cast<double>(scanningRow + 1) / static_cast<double>(filePathArray.size()));
}

void HVNDuplicateVC::receiveGroup(uint64_t run, const hvn::Value& userInfo) {
    if (run != run_) return;
    const hvn::Value* hash = userInfo.find(kTHDuplicationFileHash);
    const hvn::Value* size = userInfo.find(kTHDuplicationFileSize);
    const hvn::Value* list = userInfo.find(kTHDuplicationFileList);
    if (!hash || !hash->isString() || !size || !list || !list->isArray() || list->asArray().empty()) return;
    const std::string last =
        list->asArray().back().isString() ? list->asArray().back().asString() : std::string();
    const size_t slash = last.rfind('/');
    // A later report of the same group replaces the earlier one.
    scanResultDic[hash->asString()] = hvn::Value(
        hvn::Dictionary{{"size", hvn::Value(size->asInteger())},
                        {"name", hvn::Value(slash == std::string::npos ? last : last.substr(slash + 1))},
                        {"list", *list}});
}

void HVNDuplicateVC::searchFinished(uint64_t run) {
    if (run != run_ || state != State::Searching) return;
    if (timer_) {
        hvn::RunLoop::main().cancel(*timer_);
        timer_.reset();
    }
    setEnabled(kAddButton, true);
    if (engine) scannedCount = std::max(scannedCount, engine->scannedFileCount());
    setText(kCountLabel, std::to_string(scannedCount));
    if (stoppedByUser) {
        state = State::Results;
        showResults();
        return;
    }
    const double delay = (1.0 - currentProgress()) * 0.7;
    scanningRow = filePathArray.size();  // every row "Complete"
    state = State::Results;
    setProgress(kProgress, 1);
    showFolders();
    std::weak_ptr<int> alive = alive_;
    hvn::RunLoop::main().performAfter(delay, [this, alive, run] {
        if (!alive.lock() || run != run_ || state != State::Results || resultVC) return;
        showResults();
    });
}

void HVNDuplicateVC::stopScan() {
    if (state != State::Searching || stoppedByUser) return;
    stoppedByUser = true;
    if (engine) engine->stopSearch();
    setButton(kScanTitle);
}

void HVNDuplicateVC::showResults() {
    showFolders();
    if (scanResultDic.empty()) {
        state = State::Done;
        setHidden(kNothingFoundView, false);
        setButton(kDoneTitle);
        return;
    }
    std::vector<std::string> keys;
    keys.reserve(scanResultDic.size());
    for (const auto& [hash, group] : scanResultDic) keys.push_back(hash);
    keys = THFileUtility::olderByTableColum({"size", true}, keys, scanResultDic);
    resultVC = std::make_unique<ScannerResultViewController>(resultView_, pathView_, removal);
    if (view() && resultView_) resultVC->showMeFromParentView(*view());
    resultVC->setResults(scanResultDic, keys);
    setButton(kRemoveTitle);
    hvn::NotificationCenter::defaultCenter().post(kScanViewHiddenUI, {},
                                                  hvn::Value(hvn::Dictionary{{"show", hvn::Value("n")}}));
}

void HVNDuplicateVC::done() {
    if (state == State::Searching) return;
    ++run_;
    if (resultVC) {
        hvn::NotificationCenter::defaultCenter().post(kSubDonViewClose);
        resultVC.reset();
        hvn::NotificationCenter::defaultCenter().post(kScanViewHiddenUI, {},
                                                      hvn::Value(hvn::Dictionary{{"show", hvn::Value("y")}}));
    }
    state = State::Idle;
    stoppedByUser = false;
    scanningRow = 0;
    rowPaths.assign(filePathArray.size(), std::string());
    setHidden(kNothingFoundView, true);
    setProgress(kProgress, 0);
    setButton(kScanTitle);
    setEnabled(kAddButton, true);
    showFolders();
}
