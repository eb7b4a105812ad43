#include "HVN/Code/ToolBox/Duplicate/ScannerResultViewController.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "HVN/Code/ToolBox/Duplicate/THFileUtility.h"
#include "Platform/Log.h"

namespace {

std::string lastComponent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The name of the file a path leads to, symbolic links resolved (the path's own name when it
// cannot be resolved).
std::string resolvedName(const std::string& path) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string name = lastComponent(real);
        std::free(real);
        return name;
    }
    return lastComponent(path);
}

char firstLetter(const hvn::Value& group) {
    const hvn::Value* name = group.isDictionary() ? group.find("name") : nullptr;
    if (!name || !name->isString() || name->asString().empty()) return '\0';
    return static_cast<char>(std::tolower(static_cast<unsigned char>(name->asString()[0])));
}

}  // namespace

ScannerResultViewController::ScannerResultViewController(HVNScreenView* view, HVNScreenView* pathView,
                                                         std::shared_ptr<HVNDuplicateRemoval> removal)
    : HVNBaseVC(view), pathVC(std::make_unique<ResultPathViewController>(pathView, std::move(removal))) {
    auto& center = hvn::NotificationCenter::defaultCenter();
    deleteObserver_ =
        center.addObserver(kSubTableViewDelete, [this](const hvn::Notification&) { subTableViewDelete(); });
    slideObserver_ =
        center.addObserver(kSlidedNotName, [this](const hvn::Notification&) { applySizeFilter(); });
    closeObserver_ = center.addObserver(kSubDonViewClose, [this](const hvn::Notification&) {
        if (pathVC) pathVC->removeView();
        removeView();
    });
    setText(kSortMenu, "Sort by size");
    setState(kSizeArrow, 1);
    setText(kSizeFilterLabel, filterTitles().front());
    if (view && pathView) view->addSubview(*pathView, std::nullopt, false);
}

ScannerResultViewController::~ScannerResultViewController() = default;

// --- Texts ---

std::string ScannerResultViewController::returnFileSize(uint64_t bytes) {
    double value = static_cast<double>(bytes) / 1000.0;
    if (value > 999) {
        value /= 1000.0;
        if (value > 999) return hvn::format("%0.2fG", value / 1000.0);
        return hvn::format("%0.1fMB", value);
    }
    return hvn::format("%0.0fKB", value);
}

std::string ScannerResultViewController::extensionOf(const std::string& name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

const std::vector<std::string>& ScannerResultViewController::filterTitles() {
    static const std::vector<std::string> titles = {"50KB", "100KB", "300KB", "500KB", "1MB",
                                                    "3MB",  "5MB",   "10MB",  "30MB",  "50MB"};
    return titles;
}

int ScannerResultViewController::filterStep(int value) {
    return std::clamp(value / 10, 0, 9);
}

uint64_t ScannerResultViewController::filterThreshold(int step) {
    const std::string& title = filterTitles()[static_cast<size_t>(std::clamp(step, 0, 9))];
    const uint64_t number = std::strtoull(title.c_str(), nullptr, 10);
    return title.find("MB") != std::string::npos ? number * 1000000 : number * 1000;
}

// --- Groups ---

std::vector<std::string> ScannerResultViewController::listOf(const std::string& key) const {
    std::vector<std::string> out;
    auto it = duplictionDic.find(key);
    if (it == duplictionDic.end() || !it->second.isDictionary()) return out;
    const hvn::Value* list = it->second.find("list");
    if (!list || !list->isArray()) return out;
    for (const auto& p : list->asArray()) {
        if (p.isString()) out.push_back(p.asString());
    }
    return out;
}

uint64_t ScannerResultViewController::sizeOf(const std::string& key) const {
    auto it = duplictionDic.find(key);
    if (it == duplictionDic.end() || !it->second.isDictionary()) return 0;
    const hvn::Value* size = it->second.find("size");
    return size && size->isNumber() ? static_cast<uint64_t>(size->asInteger()) : 0;
}

void ScannerResultViewController::setResults(const hvn::Dictionary& dic,
                                             const std::vector<std::string>& orderedKeys) {
    duplictionDic = dic;
    allKeys.clear();
    for (const auto& k : orderedKeys) {
        if (duplictionDic.count(k) && std::find(allKeys.begin(), allKeys.end(), k) == allKeys.end())
            allKeys.push_back(k);
    }
    keys = allKeys;
    showKeys();
}

void ScannerResultViewController::showKeys() {
    showRows();
    showNothing(keys.empty(), allKeys.empty());
    selectedIndex.reset();
    if (!keys.empty()) {
        selectGroup(0);
    } else {
        pathVC->clear();
    }
}

void ScannerResultViewController::showRows() const {
    std::vector<HVNListRow> rows;
    rows.reserve(keys.size());
    for (const auto& k : keys) {
        std::vector<std::string> list = listOf(k);
        const std::string name = list.empty() ? std::string() : lastComponent(list.front());
        HVNListRow row;
        row.cells = {name, extensionOf(name), returnFileSize(sizeOf(k)), std::to_string(list.size())};
        row.icon = list.empty() ? std::string() : list.front();
        rows.push_back(std::move(row));
    }
    reloadList(kGroupList, rows);
}

void ScannerResultViewController::showGroupDetails(size_t index) const {
    std::vector<std::string> list = listOf(keys[index]);
    const std::string first = list.empty() ? std::string() : list.front();
    setText(kDetailsLabel, hvn::format("%s\n%s\n%s\n", resolvedName(first).c_str(),
                                       returnFileSize(sizeOf(keys[index])).c_str(),
                                       hvn::format("Quantity: %ld", static_cast<long>(list.size())).c_str()));
    setText(kPreview, first);
}

void ScannerResultViewController::selectGroup(size_t index) {
    if (index >= keys.size()) return;
    selectedIndex = index;
    showGroupDetails(index);
    setState(kGroupList, static_cast<int>(index));
    pathVC->showGroup(keys[index], listOf(keys[index]));
}

void ScannerResultViewController::showNothing(bool nothing, bool noneLeft) const {
    if (noneLeft) setText(kNothingLabel, kNoClonedFiles);
    setHidden(kNothingView, !nothing);
}

// --- Sorting and filtering ---

void ScannerResultViewController::sortKeys() {
    if (sortKey == "name") {
        std::stable_sort(keys.begin(), keys.end(), [this](const std::string& a, const std::string& b) {
            return firstLetter(duplictionDic.at(a)) < firstLetter(duplictionDic.at(b));
        });
        return;
    }
    keys = THFileUtility::olderByTableColum({sortKey, largestFirst}, keys, duplictionDic);
}

void ScannerResultViewController::sortByTitle(const std::string& title) {
    size_t space = title.rfind(' ');
    std::string word = space == std::string::npos ? title : title.substr(space + 1);
    for (auto& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "quantity") word = "number";
    if (word != "size" && word != "number" && word != "name") return;
    sortKey = word;
    setText(kSortMenu, title);
    sortKeys();
    showRows();
    if (!keys.empty()) selectGroup(0);
}

void ScannerResultViewController::toggleSizeArrow() {
    largestFirst = !largestFirst;
    setState(kSizeArrow, largestFirst ? 1 : 0);
    sortKeys();
    showRows();
    if (!keys.empty()) selectGroup(0);
}

void ScannerResultViewController::setSliderValue(int value) {
    sliderValue = value;
    setText(kSizeFilterLabel, filterTitles()[static_cast<size_t>(filterStep(value))]);
}

void ScannerResultViewController::releaseSlider(int value) {
    setSliderValue(value);
    hvn::NotificationCenter::defaultCenter().post(kSlidedNotName);
}

void ScannerResultViewController::applySizeFilter() {
    const uint64_t threshold = filterThreshold(filterStep(sliderValue));
    keys.clear();
    for (const auto& k : allKeys) {
        if (sizeOf(k) >= threshold) keys.push_back(k);
    }
    showKeys();
}

void ScannerResultViewController::subTableViewDelete() {
    // The removed files leave every group they were listed in.
    for (const auto& o : pathVC->lastRemoval) {
        if (!o.gone()) continue;
        for (auto& [hash, group] : duplictionDic) {
            if (!group.isDictionary()) continue;
            auto it = group.dictionary().find("list");
            if (it == group.dictionary().end() || !it->second.isArray()) continue;
            auto& arr = it->second.array();
            arr.erase(std::remove(arr.begin(), arr.end(), hvn::Value(o.path)), arr.end());
        }
    }
    const std::string shown =
        selectedIndex && *selectedIndex < keys.size() ? keys[*selectedIndex] : std::string();
    auto drop = [this](std::vector<std::string>& v) {
        v.erase(
            std::remove_if(v.begin(), v.end(), [this](const std::string& k) { return listOf(k).size() < 2; }),
            v.end());
    };
    drop(allKeys);
    drop(keys);
    for (auto it = duplictionDic.begin(); it != duplictionDic.end();) {
        it = listOf(it->first).size() < 2 ? duplictionDic.erase(it) : std::next(it);
    }
    showRows();
    showNothing(keys.empty(), allKeys.empty());
    auto still = std::find(keys.begin(), keys.end(), shown);
    if (still != keys.end()) {
        // The group stays on show with the selection the removal left.
        selectedIndex = static_cast<size_t>(still - keys.begin());
        showGroupDetails(*selectedIndex);
        setState(kGroupList, static_cast<int>(*selectedIndex));
    } else if (!keys.empty()) {
        selectGroup(0);
    } else {
        selectedIndex.reset();
        pathVC->clear();
    }
    if (allKeys.empty()) hvn::NotificationCenter::defaultCenter().post(kShowDonView);
}
