// The result node every scanner fills: one entry of a module's result list (a file,
// folder or item, or a group of such), also used as the category row of the one-click
// care summary and as the row of some tools. Nodes are shared (NodePtr); a child holds a
// non-owning reference to its parent. A node has no lock: the producer finishes a list
// before handing it over, and afterwards one thread at a time changes it (the tick state
// excepted, see HVNTickState).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/RemovalGate.h"
#include "Platform/Value.h"

// The tick state of a node (1 ticked, 0 not, -1 mixed). The screens write it on the main
// thread while a clean thread may read it between nodes, so it is atomic; it copies and
// converts like the small integer it holds.
class HVNTickState {
public:
    HVNTickState(int8_t v = 0) : v_(v) {}  // NOLINT: converts like the integer it holds
    HVNTickState(const HVNTickState& other) : v_(other.load()) {}
    HVNTickState& operator=(const HVNTickState& other) {
        v_.store(other.load(), std::memory_order_relaxed);
        return *this;
    }
    HVNTickState& operator=(int8_t v) {
        v_.store(v, std::memory_order_relaxed);
        return *this;
    }
    operator int8_t() const { return load(); }  // NOLINT
    int8_t load() const { return v_.load(std::memory_order_relaxed); }

private:
    std::atomic<int8_t> v_;
};

class HVNScaneOuputObject;
using HVNScaneOuputObjectPtr = std::shared_ptr<HVNScaneOuputObject>;
using HVNNodeList = std::vector<HVNScaneOuputObjectPtr>;

inline constexpr const char* kEnterSearchDetailNotification = "ENTER_SEARCH_DETAIL_NOTIFICATION";

class HVNScaneOuputObject : public std::enable_shared_from_this<HVNScaneOuputObject> {
public:
    HVNScaneOuputObject();
    ~HVNScaneOuputObject();
    HVNScaneOuputObject(const HVNScaneOuputObject&) = delete;
    HVNScaneOuputObject& operator=(const HVNScaneOuputObject&) = delete;

    static HVNScaneOuputObjectPtr create() { return std::make_shared<HVNScaneOuputObject>(); }

    // --- Stored fields (declaration order of the record) ---
    // The children; null means "none". A copy shares the same list.
    std::shared_ptr<HVNNodeList> subObjects;
    HVNTickState isCheck = 0;  // 1 ticked, 0 not, -1 mixed; any non-zero value counts as ticked
    int64_t fileSize = 0;
    std::string allSize;
    std::string icon;  // the path the icon comes from
    bool isDir = false;
    std::optional<std::vector<std::string>> removePaths;
    uint64_t hashValue;
    std::optional<int64_t> categoryFlag;
    bool hasParent = false;
    bool hasExpanded = false;
    bool isOddNumber = false;
    bool isSelected = false;
    bool isDisableSelected = false;
    std::string categoryArrowShow;
    std::weak_ptr<HVNScaneOuputObject> parentNode;
    std::string countryName;
    std::optional<std::string> prePath;
    int32_t moulde = 0;
    int64_t childCount = 0;
    bool hasIssue = false;
    bool isLogin = false;
    bool enabled = true;
    bool isCategoryItem = false;
    std::optional<hvn::Date> accessDate;
    std::optional<std::string> scanPath;
    bool animi = false;
    bool scanDone = false;
    std::string virusName;
    std::optional<std::string> firstNameword;
    std::string cookieDomain;
    int64_t issueCount = 0;
    // The folder the item was found in (device and inode), when the scanner knows it: the
    // removal refuses the item when its folder is another one by then.
    std::optional<hvn::FileIdentity> foundIn;

    // --- Derived getters and their setters ---
    // The stored name; when none, the last component of the stored filePath (empty when
    // that is none too).
    std::string name() const;
    void setName(std::optional<std::string> n) { name_ = std::move(n); }
    // The stored folder; when none, the folder part of the stored filePath.
    std::string dirPath() const;
    void setDirPath(std::optional<std::string> d) { dirPath_ = std::move(d); }
    // The stored path when set and not empty; otherwise dirPath() + "/" + name().
    std::string filePath() const;
    void setFilePath(std::optional<std::string> p) { filePath_ = std::move(p); }
    // YES when the flag is set; otherwise sets it and answers YES when there are children.
    bool isGroup();
    bool isGroupFlag() const { return isGroup_; }
    void setIsGroup(bool g) { isGroup_ = g; }
    // The shown size text (issue counts for modules 18, 19, 21, 22; else the size text).
    std::string fileSizeDesc() const;
    const std::string& storedFileSizeDesc() const { return fileSizeDesc_; }
    void setFileSizeDesc(std::string d) { fileSizeDesc_ = std::move(d); }

    // --- Children ---
    // Creates an empty list when there is none.
    size_t countOfChildren();
    void insertObject(HVNScaneOuputObjectPtr child, size_t inChildrenAtIndex);
    void removeObjectFromChildrenAtIndex(size_t index);
    void removeObjectFromChildren(const HVNScaneOuputObjectPtr& child);
    void replaceObjectInChildrenAtIndex(size_t index, HVNScaneOuputObjectPtr withObject);
    HVNScaneOuputObjectPtr objectInChildrenAtIndex(size_t index) const;
    // Replaces the list and links each direct child to this node.
    void setSubObjects(std::shared_ptr<HVNNodeList> list);
    void setSubObjects(HVNNodeList list) { setSubObjects(std::make_shared<HVNNodeList>(std::move(list))); }
    // Convenience: the children, or an empty list.
    const HVNNodeList& children() const;

    // --- Identity ---
    uint64_t hash() const { return hashValue; }
    bool isEqual(const HVNScaneOuputObject& other) const { return hashValue == other.hashValue; }

    // --- Copy and archiving ---
    // A new node with the same name, dirPath, isCheck, fileSize, icon, isDir, removePaths,
    // subObjects (shared), hashValue, filePath, fileSizeDesc (the computed text), isGroup,
    // hasParent, parentNode, virusName, cookieDomain and foundIn; all else as a new node.
    HVNScaneOuputObjectPtr copy() const;
    // A plist dictionary with exactly the keys "name", "dirPath", "isCheck", "fileSize",
    // "icon", "isDir", "removePaths", "subObjects", "filePath", "fileSizeDesc", "hasParent"
    // (name and dirPath as their getters give them; absent removePaths, subObjects and filePath
    // are left out).
    hvn::Value archive() const;
    // A new node (new hashValue) with the keys present in the dictionary set; null when the
    // value is not a dictionary.
    static HVNScaneOuputObjectPtr unarchive(const hvn::Value& archived);
    // Key-value setting of the archived keys; a null value for "isCheck" stores 0, and for
    // "fileSize" or "isGroup" stores 0 in fileSize.
    void setValueForKey(const hvn::Value& value, const std::string& key);

    // Text of a count: "%ld %@" with "issue" for n <= 1, "issues" above.
    static std::string issueText(int64_t n);

private:
    std::optional<std::string> name_ = std::string();
    std::optional<std::string> dirPath_ = std::string();
    std::optional<std::string> filePath_ = std::string();
    std::string fileSizeDesc_;
    bool isGroup_ = false;
};
