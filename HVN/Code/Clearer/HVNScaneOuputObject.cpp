#include "HVN/Code/Clearer/HVNScaneOuputObject.h"

#include <mutex>
#include <random>
#include <unordered_set>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/NotificationCenter.h"

namespace {

// Every live node observes "ENTER_SEARCH_DETAIL_NOTIFICATION". Rather than one observer
// per node (millions for a large scan), live nodes sit in one registry and a single
// observer visits them.
struct LiveNodes {
    std::mutex mutex;
    std::unordered_set<HVNScaneOuputObject*> nodes;
    LiveNodes() {
        hvn::NotificationCenter::defaultCenter().addObserver(kEnterSearchDetailNotification,
                                                             [this](const hvn::Notification&) {
                                                                 std::lock_guard<std::mutex> lock(mutex);
                                                                 for (auto* n : nodes) {
                                                                     if (!n->isCategoryItem && n->isSelected) {
                                                                         n->isSelected = false;
                                                                     }
                                                                 }
                                                             });
    }
};

LiveNodes& liveNodes() {
    static LiveNodes* live = new LiveNodes;  // never released: nodes may outlive statics
    return *live;
}

// The hash of a fresh globally unique identifier.
uint64_t freshHash() {
    thread_local std::mt19937_64 gen{std::random_device{}() ^
                                     (static_cast<uint64_t>(std::random_device{}()) << 32)};
    return gen();
}

std::string lastComponent(const std::string& p) {
    std::string s = p;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    auto i = s.rfind('/');
    return i == std::string::npos ? s : s.substr(i + 1);
}

std::string folderPart(const std::string& p) {
    std::string s = p;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    auto i = s.rfind('/');
    if (i == std::string::npos) return "";
    if (i == 0) return "/";
    return s.substr(0, i);
}

const HVNNodeList kNoChildren;

}  // namespace

HVNScaneOuputObject::HVNScaneOuputObject() : hashValue(freshHash()) {
    auto& live = liveNodes();
    std::lock_guard<std::mutex> lock(live.mutex);
    live.nodes.insert(this);
}

HVNScaneOuputObject::~HVNScaneOuputObject() {
    auto& live = liveNodes();
    std::lock_guard<std::mutex> lock(live.mutex);
    live.nodes.erase(this);
}

std::string HVNScaneOuputObject::name() const {
    if (name_) return *name_;
    return filePath_ ? lastComponent(*filePath_) : std::string();
}

std::string HVNScaneOuputObject::dirPath() const {
    if (dirPath_) return *dirPath_;
    return filePath_ ? folderPart(*filePath_) : std::string();
}

std::string HVNScaneOuputObject::filePath() const {
    if (filePath_ && !filePath_->empty()) return *filePath_;
    return dirPath() + "/" + name();
}

bool HVNScaneOuputObject::isGroup() {
    if (isGroup_) return true;
    if (subObjects && !subObjects->empty()) {
        isGroup_ = true;
        return true;
    }
    return false;
}

std::string HVNScaneOuputObject::issueText(int64_t n) {
    return std::to_string(n) + " " + (n <= 1 ? "issue" : "issues");
}

std::string HVNScaneOuputObject::fileSizeDesc() const {
    if (moulde == 22 && !isCategoryItem) {
        bool group = isGroup_ || (subObjects && !subObjects->empty());
        if (!group) return "1 issue";
        return issueText(static_cast<int64_t>(subObjects ? subObjects->size() : 0));
    }
    if (fileSize == 0 && childCount == 0) return "";
    if (moulde == 19 && hasIssue) return issueText(issueCount);
    if ((moulde == 21 && isCategoryItem) || moulde == 18 || (fileSize <= 1 && childCount > 0 && moulde != 19)) {
        return issueText(childCount);
    }
    return HVNCommonFunction::getSizeDesc(fileSize);
}

size_t HVNScaneOuputObject::countOfChildren() {
    if (!subObjects) {
        subObjects = std::make_shared<HVNNodeList>();
        return 0;
    }
    return subObjects->size();
}

void HVNScaneOuputObject::insertObject(HVNScaneOuputObjectPtr child, size_t index) {
    if (!child) return;
    if (!subObjects) subObjects = std::make_shared<HVNNodeList>();
    child->hasParent = true;
    child->parentNode = weak_from_this();
    if (index > subObjects->size()) index = subObjects->size();
    subObjects->insert(subObjects->begin() + static_cast<ptrdiff_t>(index), std::move(child));
}

void HVNScaneOuputObject::removeObjectFromChildrenAtIndex(size_t index) {
    if (!subObjects || subObjects->empty() || index >= subObjects->size()) return;
    subObjects->erase(subObjects->begin() + static_cast<ptrdiff_t>(index));
}

void HVNScaneOuputObject::removeObjectFromChildren(const HVNScaneOuputObjectPtr& child) {
    if (!subObjects || subObjects->empty() || !child) return;
    for (auto it = subObjects->begin(); it != subObjects->end();) {
        if ((*it)->hashValue == child->hashValue) {
            it = subObjects->erase(it);
        } else {
            ++it;
        }
    }
}

void HVNScaneOuputObject::replaceObjectInChildrenAtIndex(size_t index, HVNScaneOuputObjectPtr withObject) {
    if (!subObjects || subObjects->empty() || index >= subObjects->size() || !withObject) return;
    (*subObjects)[index] = std::move(withObject);
}

HVNScaneOuputObjectPtr HVNScaneOuputObject::objectInChildrenAtIndex(size_t index) const {
    if (!subObjects || index >= subObjects->size()) return nullptr;
    return (*subObjects)[index];
}

void HVNScaneOuputObject::setSubObjects(std::shared_ptr<HVNNodeList> list) {
    subObjects = std::move(list);
    if (!subObjects) return;
    auto self = weak_from_this();
    for (auto& c : *subObjects) {
        if (!c) continue;
        c->hasParent = true;
        c->parentNode = self;
    }
}

const HVNNodeList& HVNScaneOuputObject::children() const { return subObjects ? *subObjects : kNoChildren; }

HVNScaneOuputObjectPtr HVNScaneOuputObject::copy() const {
    auto c = create();
    c->name_ = name_;
    c->dirPath_ = dirPath_;
    c->isCheck = isCheck;
    c->fileSize = fileSize;
    c->icon = icon;
    c->isDir = isDir;
    c->removePaths = removePaths;
    c->foundIn = foundIn;
    c->subObjects = subObjects;
    c->hashValue = hashValue;
    c->filePath_ = filePath_;
    c->fileSizeDesc_ = fileSizeDesc();
    c->isGroup_ = isGroup_;
    c->hasParent = hasParent;
    c->parentNode = parentNode;
    c->virusName = virusName;
    c->cookieDomain = cookieDomain;
    return c;
}

hvn::Value HVNScaneOuputObject::archive() const {
    hvn::Dictionary d;
    // Through the getters, so a name or folder derived from the path survives the round trip.
    d["name"] = name();
    d["dirPath"] = dirPath();
    d["isCheck"] = static_cast<int>(isCheck);
    d["fileSize"] = static_cast<long long>(fileSize);
    d["icon"] = icon;
    d["isDir"] = isDir;
    if (removePaths) {
        hvn::Array a;
        for (const auto& p : *removePaths) a.emplace_back(p);
        d["removePaths"] = std::move(a);
    }
    if (subObjects) {
        hvn::Array a;
        for (const auto& c : *subObjects) {
            if (c) a.push_back(c->archive());
        }
        d["subObjects"] = std::move(a);
    }
    if (filePath_) d["filePath"] = *filePath_;
    d["fileSizeDesc"] = fileSizeDesc_;
    d["hasParent"] = hasParent;
    return hvn::Value(std::move(d));
}

void HVNScaneOuputObject::setValueForKey(const hvn::Value& v, const std::string& key) {
    if (key == "isCheck") {
        isCheck = v.isNull() ? 0 : static_cast<int8_t>(v.asInteger());
    } else if (key == "fileSize") {
        fileSize = v.isNull() ? 0 : v.asInteger();
    } else if (key == "isGroup") {
        if (v.isNull()) {
            fileSize = 0;  // the setter of a nil scalar lands on fileSize, as it always did
        } else {
            isGroup_ = v.asBool();
        }
    } else if (key == "name") {
        name_ = v.isNull() ? std::nullopt : std::optional<std::string>(v.asString());
    } else if (key == "dirPath") {
        dirPath_ = v.isNull() ? std::nullopt : std::optional<std::string>(v.asString());
    } else if (key == "filePath") {
        filePath_ = v.isNull() ? std::nullopt : std::optional<std::string>(v.asString());
    } else if (key == "icon") {
        icon = v.asString();
    } else if (key == "isDir") {
        isDir = v.asBool();
    } else if (key == "fileSizeDesc") {
        fileSizeDesc_ = v.asString();
    } else if (key == "hasParent") {
        hasParent = v.asBool();
    } else if (key == "removePaths") {
        if (v.isNull()) {
            removePaths.reset();
        } else {
            std::vector<std::string> paths;
            for (const auto& e : v.asArray()) paths.push_back(e.asString());
            removePaths = std::move(paths);
        }
    } else if (key == "subObjects") {
        if (v.isNull()) {
            subObjects.reset();
        } else {
            auto list = std::make_shared<HVNNodeList>();
            for (const auto& e : v.asArray()) {
                if (auto c = unarchive(e)) list->push_back(std::move(c));
            }
            // Through the setter, so the restored children point back at this node.
            setSubObjects(std::move(list));
        }
    }
}

HVNScaneOuputObjectPtr HVNScaneOuputObject::unarchive(const hvn::Value& archived) {
    if (!archived.isDictionary()) return nullptr;
    auto n = create();
    static const char* keys[] = {"name",        "dirPath",  "isCheck",      "fileSize",
                                 "icon",        "isDir",    "removePaths",  "subObjects",
                                 "filePath",    "fileSizeDesc", "hasParent"};
    for (const char* k : keys) {
        if (const hvn::Value* v = archived.find(k)) n->setValueForKey(*v, k);
    }
    return n;
}
