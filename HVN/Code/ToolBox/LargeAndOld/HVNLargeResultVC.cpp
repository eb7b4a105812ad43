#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeResultVC.h"

#include <algorithm>
#include <mutex>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeAndOldFileScanner.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/Process.h"

namespace {

std::string folderOfPath(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void openFolderOf(const std::string& path) {
    std::string error;
    if (hvn::Process::startDetached("xdg-open", {folderOfPath(path)}, &error) < 0) {
        hvn::Log::writef("cannot show %s in the file viewer: %s", path.c_str(), error.c_str());
    }
}

struct FileViewer {
    std::mutex mutex;
    HVNLargeResultVC::FileAction reveal = openFolderOf;
    HVNLargeResultVC::FileAction showInfo = openFolderOf;
};

FileViewer& fileViewer() {
    static FileViewer v;
    return v;
}

std::vector<HVNScaneOuputObjectPtr> makeGroups(const std::vector<std::string>& titles) {
    std::vector<HVNScaneOuputObjectPtr> groups;
    for (const auto& t : titles) {
        auto g = HVNScaneOuputObject::create();
        g->setIsGroup(true);
        g->hasExpanded = true;
        g->setName(t);
        g->setSubObjects(HVNNodeList{});
        groups.push_back(std::move(g));
    }
    return groups;
}

}  // namespace

HVNLargeResultVC::HVNLargeResultVC(HVNScreenView* view)
    : HVNBaseVC(view),
      sizeGroups(makeGroups(HVNLargeFileGroups::sizeGroupTitles())),
      typeGroups(makeGroups(HVNLargeFileGroups::typeGroupTitles())) {
    setText(kSizeButton, limitSize);
    setText(kTimeButton, limitDate);
    setState(kOrderMenu, currentOrder);
}

HVNLargeResultVC::~HVNLargeResultVC() = default;

void HVNLargeResultVC::setNodes(const HVNNodeList& entries) {
    allNodes.clear();
    for (const auto& e : entries) {
        if (e) allNodes.push_back(e);
    }
    selectedNodes.clear();
    for (const auto& e : allNodes) e->isCheck = 0;
    filterFiles();
}

void HVNLargeResultVC::setGroupValues(const HVNNodeList& entries) {
    for (auto* groups : {&sizeGroups, &typeGroups}) {
        for (auto& g : *groups) {
            g->setSubObjects(HVNNodeList{});
            g->fileSize = 0;
        }
    }
    HVNNodeList rows = HVNLargeFileGroups::group(entries, currentOrder);
    if (currentOrder == HVNLargeFileGroups::ByName) {
        nodes = std::move(rows);
        return;
    }
    // The groups are the page's own nodes, refilled: a view may hold on to them.
    HVNNodeList& groups = currentOrder == HVNLargeFileGroups::ByType ? typeGroups : sizeGroups;
    nodes.clear();
    for (const auto& r : rows) {
        for (auto& g : groups) {
            if (g->name() != r->name()) continue;
            g->setSubObjects(r->subObjects);
            g->fileSize = r->fileSize;
            nodes.push_back(g);
        }
    }
}

void HVNLargeResultVC::filterFiles() {
    const int64_t bytes = HVNLargeFileGroups::bytesOfSizeKey(limitSize).value_or(0);
    const int64_t seconds = HVNLargeFileGroups::secondsOfAgeKey(limitDate).value_or(0);
    const hvn::Date t = now();
    HVNNodeList passing;
    for (const auto& e : allNodes) {
        if (HVNLargeFileGroups::passes(*e, bytes, seconds, t)) {
            passing.push_back(e);
        } else if (e->isCheck) {
            e->isCheck = 0;
            selectedNodes.erase(std::remove(selectedNodes.begin(), selectedNodes.end(), e),
                                selectedNodes.end());
        }
    }
    setGroupValues(passing);
    // Entries that pass but fall in no group (not above the lowest bound) are not on show
    // either, and are no more ticked than those the filters hide.
    for (const auto& e : passing) {
        if (currentOrder != HVNLargeFileGroups::BySize || HVNLargeFileGroups::sizeGroupIndex(e->fileSize))
            continue;
        e->isCheck = 0;
        selectedNodes.erase(std::remove(selectedNodes.begin(), selectedNodes.end(), e), selectedNodes.end());
    }
    for (auto& n : nodes) n->hasExpanded = true;
    const bool nothing = nodes.empty();
    setHidden(kNothingFoundView, !nothing);
    if (nothing) setText(kNothingFoundLabel, curLimit == kCurtimeLimit ? kChangeTimeText : kChangeSizeText);
    showRows();
    refreshSummary();
}

void HVNLargeResultVC::onSlider(double position, double minimum, double maximum) {
    auto key = HVNLargeFileGroups::sizeKeyForSlider(position, minimum, maximum);
    if (!key) return;
    curLimit = kCursizeLimit;
    limitSize = *key;
    setText(kSizeButton, limitSize);
    filterFiles();
}

void HVNLargeResultVC::onTimeFilter(double position, double minimum, double maximum) {
    auto key = HVNLargeFileGroups::ageKeyForSlider(position, minimum, maximum);
    if (!key) return;
    curLimit = kCurtimeLimit;
    limitDate = *key;
    setText(kTimeButton, limitDate);
    filterFiles();
}

void HVNLargeResultVC::onSortType(int index) {
    if (index < HVNLargeFileGroups::ByType || index > HVNLargeFileGroups::ByName) return;
    currentOrder = index;
    setState(kOrderMenu, currentOrder);
    filterFiles();
}

bool HVNLargeResultVC::isSelected(const HVNScaneOuputObjectPtr& e) const {
    return std::find(selectedNodes.begin(), selectedNodes.end(), e) != selectedNodes.end();
}

void HVNLargeResultVC::setEntryChecked(const HVNScaneOuputObjectPtr& node, bool checked) {
    if (!node) return;
    HVNNodeList members;
    if (node->isGroupFlag()) {
        members = node->children();
    } else if (std::find(allNodes.begin(), allNodes.end(), node) != allNodes.end()) {
        members.push_back(node);
    }
    for (const auto& e : members) {
        e->isCheck = checked ? 1 : 0;
        if (checked && !isSelected(e)) selectedNodes.push_back(e);
        if (!checked)
            selectedNodes.erase(std::remove(selectedNodes.begin(), selectedNodes.end(), e),
                                selectedNodes.end());
    }
    showRows();
    refreshSummary();
}

void HVNLargeResultVC::setRowChecked(size_t index, bool checked) {
    if (index < shownRows_.size()) setEntryChecked(shownRows_[index], checked);
}

void HVNLargeResultVC::setAllCheckBoxStatus(int state) {
    for (const auto& n : nodes) setEntryChecked(n, state != 0);
}

std::string HVNLargeResultVC::summaryText() const {
    int64_t size = 0;
    for (const auto& e : selectedNodes) size += e->fileSize;
    return hvn::format("select %ld items :%s", static_cast<long>(selectedNodes.size()),
                       HVNCommonFunction::getSizeDesc(size).c_str());
}

void HVNLargeResultVC::refreshSummary() {
    setText(kSummaryLabel, summaryText());
}

void HVNLargeResultVC::showRows() {
    shownRows_.clear();
    std::vector<HVNListRow> rows;
    const hvn::Date t = now();
    auto entryRow = [&](const HVNScaneOuputObjectPtr& e, int level) {
        HVNListRow row;
        row.cells = {e->name(), HVNCommonFunction::getSizeDesc(e->fileSize),
                     HVNLargeAndOldFileScanner::fileModifyDateDescription(*e, t), e->filePath()};
        row.checkState = e->isCheck ? 1 : 0;
        row.level = level;
        row.icon = e->icon;
        rows.push_back(std::move(row));
        shownRows_.push_back(e);
    };
    for (const auto& n : nodes) {
        if (!n->isGroupFlag()) {
            entryRow(n, 0);
            continue;
        }
        size_t ticked = 0;
        for (const auto& c : n->children()) ticked += c->isCheck ? 1 : 0;
        n->isCheck = ticked == 0 ? 0 : (ticked == n->children().size() ? 1 : -1);
        HVNListRow row;
        row.cells = {n->name(), HVNCommonFunction::getSizeDesc(n->fileSize), "", ""};
        row.checkState = static_cast<int>(n->isCheck);
        row.isGroup = true;
        rows.push_back(std::move(row));
        shownRows_.push_back(n);
        for (const auto& c : n->children()) entryRow(c, 1);
    }
    reloadList(kResultList, rows);
}

std::vector<HVNLargeFileOutcome> HVNLargeResultVC::removeSelected(bool toTrash) {
    std::vector<HVNLargeFileOutcome> outcomes;
    const HVNNodeList ticked = selectedNodes;
    for (const auto& e : ticked) {
        outcomes.push_back(toTrash ? HVNLargeFileRemoval::moveToTrash(e)
                                   : HVNLargeFileRemoval::removeForever(e));
    }
    for (const auto& o : outcomes) {
        if (!o.gone()) continue;
        allNodes.erase(std::remove(allNodes.begin(), allNodes.end(), o.entry), allNodes.end());
        selectedNodes.erase(std::remove(selectedNodes.begin(), selectedNodes.end(), o.entry),
                            selectedNodes.end());
    }
    refreshSummary();
    filterFiles();
    return outcomes;
}

std::vector<HVNLargeFileOutcome> HVNLargeResultVC::fixSelectItemsToTrash() {
    return removeSelected(true);
}

std::vector<HVNLargeFileOutcome> HVNLargeResultVC::fixSelectItemsForever() {
    return removeSelected(false);
}

void HVNLargeResultVC::setFileViewerActions(FileAction reveal, FileAction showInfo) {
    auto& v = fileViewer();
    std::lock_guard<std::mutex> lock(v.mutex);
    v.reveal = reveal ? std::move(reveal) : FileAction(openFolderOf);
    v.showInfo = showInfo ? std::move(showInfo) : FileAction(openFolderOf);
}

void HVNLargeResultVC::clickFinderView(const HVNScaneOuputObjectPtr& entry) {
    if (!entry || entry->filePath().empty()) return;
    FileAction action;
    {
        auto& v = fileViewer();
        std::lock_guard<std::mutex> lock(v.mutex);
        action = v.reveal;
    }
    action(entry->filePath());
}

void HVNLargeResultVC::clickPreview(const HVNScaneOuputObjectPtr& entry) {
    if (!entry || entry->filePath().empty()) return;
    FileAction action;
    {
        auto& v = fileViewer();
        std::lock_guard<std::mutex> lock(v.mutex);
        action = v.showInfo;
    }
    action(entry->filePath());
}

void HVNLargeResultVC::back() {
    removeView();
    hvn::NotificationCenter::defaultCenter().post(kBackToMainWindowNotification, this);
}
