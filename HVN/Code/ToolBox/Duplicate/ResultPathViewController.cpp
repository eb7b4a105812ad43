#include "HVN/Code/ToolBox/Duplicate/ResultPathViewController.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Log.h"

namespace {

constexpr const char* kNeverRemindToolTipText = "Reveal in Cleanup Assistant";

// A setting that is absent counts as on: the safer choice for both keys read here (ask
// first; move to the trash).
bool settingOn(const char* key) {
    hvn::Value v = HVNCommonFunction::getSettingValueByKey(key);
    return v.isNull() || v.asBool();
}

// The modification time in nanoseconds; unreadable dates sort last.
int64_t modificationTime(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::string lastComponent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<size_t> integerOf(const hvn::Value* v) {
    if (!v) return std::nullopt;
    if (v->isNumber()) {
        double d = v->isReal() ? v->asReal() : static_cast<double>(v->asInteger());
        if (d < 0) return std::nullopt;
        return static_cast<size_t>(d);
    }
    if (v->isString()) {
        const std::string& s = v->asString();
        char* end = nullptr;
        double d = std::strtod(s.c_str(), &end);
        if (s.empty() || *end != '\0' || d < 0) return std::nullopt;
        return static_cast<size_t>(d);
    }
    return std::nullopt;
}

}  // namespace

ResultPathViewController::ResultPathViewController(HVNScreenView* view,
                                                   std::shared_ptr<HVNDuplicateRemoval> removal)
    : HVNBaseVC(view),
      removal_(removal ? std::move(removal) : std::make_shared<HVNDuplicateRemoval>()),
      queue_(std::make_unique<hvn::OperationQueue>()) {
    queue_->setMaxConcurrentOperationCount(1);
    auto& center = hvn::NotificationCenter::defaultCenter();
    removeObserver_ =
        center.addObserver(kRemoveSubPathNotName, [this](const hvn::Notification&) { removeSelected(); });
    rowObserver_ = center.addObserver(kTableRowActionNotName,
                                      [this](const hvn::Notification& n) { rowAction(n.userInfo); });
    setText(kNeverRemindToolTip, kNeverRemindToolTipText);
}

ResultPathViewController::~ResultPathViewController() = default;

void ResultPathViewController::showGroup(const std::string& key, const std::vector<std::string>& paths) {
    groupKey = key;
    std::vector<std::pair<int64_t, std::string>> dated;
    dated.reserve(paths.size());
    for (const auto& p : paths) dated.emplace_back(modificationTime(p), p);
    std::stable_sort(dated.begin(), dated.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    list.clear();
    for (auto& [t, p] : dated) list.push_back(std::move(p));
    selectAllButFirst();
    showRows();
}

void ResultPathViewController::clear() {
    groupKey.clear();
    list.clear();
    checkSelectedDic.clear();
    showRows();
}

void ResultPathViewController::selectAllButFirst() {
    checkSelectedDic.clear();
    for (size_t i = 1; i < list.size(); ++i) checkSelectedDic[rowKey(i)] = hvn::Value("1");
}

void ResultPathViewController::showRows() const {
    std::vector<HVNListRow> rows;
    rows.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        HVNListRow row;
        row.cells = {lastComponent(list[i]), list[i]};
        row.checkState = isRowChecked(i) ? 1 : 0;
        row.icon = list[i];
        rows.push_back(std::move(row));
    }
    reloadList(kPathList, rows);
}

bool ResultPathViewController::isRowChecked(size_t row) const {
    return checkSelectedDic.count(rowKey(row)) > 0;
}

void ResultPathViewController::setRowChecked(size_t row, bool checked) {
    if (row >= list.size() || removing_) return;
    if (checked) {
        checkSelectedDic[rowKey(row)] = hvn::Value("1");
    } else {
        checkSelectedDic.erase(rowKey(row));
    }
    showRows();
}

void ResultPathViewController::deleteRow(size_t row) {
    if (row >= list.size() || removing_) return;
    confirmThenRemove({list[row]}, true);
}

void ResultPathViewController::revealRow(size_t row) {
    if (row >= list.size()) return;
    if (reveal) {
        reveal(list[row]);
    } else {
        setText(kRevealedPath, list[row]);
    }
}

void ResultPathViewController::rowAction(const hvn::Value& userInfo) {
    if (!userInfo.isDictionary()) return;
    const hvn::Value* type = userInfo.find("type");
    if (!type || !type->isString()) return;
    std::optional<size_t> row = integerOf(userInfo.find("row"));
    if (!row && rowHeight > 0) {
        if (auto y = integerOf(userInfo.find("oy")))
            row = static_cast<size_t>(static_cast<double>(*y) / rowHeight);
    }
    if (!row) return;
    if (type->asString() == "check") {
        const hvn::Value* state = userInfo.find("state");
        bool on = state && ((state->isString() && state->asString() == "1") ||
                            (state->isNumber() && state->asInteger() == 1));
        setRowChecked(*row, on);
    } else if (type->asString() == "delete") {
        deleteRow(*row);
    } else if (type->asString() == "goto") {
        revealRow(*row);
    }
}

void ResultPathViewController::removeSelected() {
    if (removing_ || list.empty()) return;
    std::vector<std::string> paths;
    for (size_t i = 0; i < list.size(); ++i) {
        if (isRowChecked(i)) paths.push_back(list[i]);
    }
    if (paths.empty()) {
        showSelectionNeededSheet("You must select at least one item to continue the remove.");
        return;
    }
    confirmThenRemove(std::move(paths), false);
}

void ResultPathViewController::confirmThenRemove(std::vector<std::string> paths, bool single) {
    if (!settingOn("Duplicate Notification")) {
        startRemoval(std::move(paths), single);
        return;
    }
    HVNAlert alert;
    alert.style = HVNAlert::Style::Sheet;
    alert.messageText = "Are you sure you want to delete the itme?";
    alert.informativeText = "Please note that the deleted items can not be restored.";
    alert.buttons = {"OK", "Cancel"};
    alert.choices = {"Remove to trash", "Delete permanently"};
    alert.suppressionTitle = "Never remind";
    const size_t shown = settingOn("Delete Dupfiles Is Safety") ? 0 : 1;
    alert.selectedChoice = shown;
    const std::string key = groupKey;
    removing_ = true;  // no second removal while the sheet is up
    showAlert(alert, [this, paths = std::move(paths), single, shown, key](HVNAlertAnswer a) mutable {
        removing_ = false;
        // The radio buttons and the box are settings of their own, written as they are
        // chosen, whatever the button.
        if (a.choice != shown)
            HVNCommonFunction::changeSettingValue(hvn::Value(a.choice == 0), "Delete Dupfiles Is Safety");
        if (a.suppressed) HVNCommonFunction::changeSettingValue(hvn::Value(false), "Duplicate Notification");
        if (a.button != 0 || key != groupKey) return;
        startRemoval(std::move(paths), single);
    });
}

void ResultPathViewController::startRemoval(std::vector<std::string> paths, bool single) {
    const bool toTrash = settingOn("Delete Dupfiles Is Safety");
    std::vector<std::string> kept;
    for (const auto& p : list) {
        if (std::find(paths.begin(), paths.end(), p) == paths.end()) kept.push_back(p);
    }
    removing_ = true;
    auto removal = removal_;
    const std::string key = groupKey;
    queue_->addOperation(
        [this, removal, paths = std::move(paths), kept = std::move(kept), toTrash, key, single] {
            std::vector<HVNDuplicateOutcome> outcomes;
            try {
                // The copies that stay must still hold the contents; the user's own choice to
                // remove every copy (nothing kept) is theirs.
                const bool keepsCopy = kept.empty() || removal->anyIntact(kept);
                for (const auto& p : paths) {
                    if (!keepsCopy) {
                        outcomes.push_back(HVNDuplicateRemoval::leftInPlace(
                            p, "no copy that stays is still the one that was listed"));
                    } else {
                        outcomes.push_back(toTrash ? removal->moveToTrash(p) : removal->removeForever(p));
                    }
                }
            } catch (...) {
                hvn::Log::write("duplicate removal ended early");
            }
            onMainLoop([this, key, outcomes = std::move(outcomes), single]() mutable {
                finishRemoval(key, std::move(outcomes), single);
            });
        });
}

void ResultPathViewController::finishRemoval(const std::string& key,
                                             std::vector<HVNDuplicateOutcome> outcomes, bool single) {
    removing_ = false;
    if (key == groupKey) {
        for (const auto& o : outcomes) {
            if (o.gone()) list.erase(std::remove(list.begin(), list.end(), o.path), list.end());
        }
        if (list.size() < 2) list.clear();
        if (single) {
            selectAllButFirst();
        } else {
            checkSelectedDic.clear();
        }
        showRows();
    }
    lastRemoval = std::move(outcomes);
    ++finishedRemovals;
    hvn::NotificationCenter::defaultCenter().post(kSubTableViewDelete);
}
