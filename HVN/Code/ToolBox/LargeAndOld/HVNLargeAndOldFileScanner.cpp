#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeAndOldFileScanner.h"

#include <sys/stat.h>

#include <unicode/unistr.h>
#include <algorithm>
#include <ctime>

#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeFileRemoval.h"
#include "Platform/Log.h"
#include "Platform/NotificationCenter.h"
#include "Platform/RunLoop.h"

namespace {

std::string upperFirstCharacter(const std::string& name) {
    if (name.empty()) return "";
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(name);
    if (text.isEmpty()) return "";
    icu::UnicodeString first(text.char32At(0));
    std::string out;
    first.toUpper().toUTF8String(out);
    return out;
}

std::optional<hvn::FileIdentity> folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::nullopt;
    std::string dir = slash == 0 ? "/" : path.substr(0, slash);
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return std::nullopt;
    return hvn::FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

int daysInMonth(int year, int month) {  // month 0-11, year since 1900
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int y = year + 1900;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return month == 1 && leap ? 29 : days[month];
}

// start plus whole months (the day clamped to the target month's length) and days, in
// local time.
time_t addCalendar(const struct tm& start, long months, long days) {
    struct tm t = start;
    long m = static_cast<long>(t.tm_mon) + months;
    long y = t.tm_year + (m >= 0 ? m / 12 : (m - 11) / 12);
    m = ((m % 12) + 12) % 12;
    t.tm_year = static_cast<int>(y);
    t.tm_mon = static_cast<int>(m);
    t.tm_mday = std::min(t.tm_mday, daysInMonth(t.tm_year, t.tm_mon));
    t.tm_mday += static_cast<int>(days);
    t.tm_isdst = -1;
    return mktime(&t);
}

}  // namespace

HVNLargeAndOldFileScanner::HVNLargeAndOldFileScanner() : live_(std::make_shared<std::atomic<uint64_t>>(0)) {}

HVNLargeAndOldFileScanner::~HVNLargeAndOldFileScanner() {
    if (query) query->stopQuery();
    query.reset();
}

void HVNLargeAndOldFileScanner::onMainLoop(uint64_t generation, std::function<void()> fn) {
    std::weak_ptr<std::atomic<uint64_t>> live = live_;
    hvn::RunLoop::main().performOnMainThread([live, generation, fn = std::move(fn)] {
        auto l = live.lock();
        if (!l || (generation != 0 && l->load() != generation)) return;
        fn();
    });
}

void HVNLargeAndOldFileScanner::startScanObj(const HVNScaneOuputObjectPtr& folder, int64_t limit) {
    limitSize = limit;
    scanSize.store(0);
    curScanobj = folder;
    onMainLoop(0, [this, folder] { queryFiles(folder); });
}

void HVNLargeAndOldFileScanner::queryFiles(const HVNScaneOuputObjectPtr& folder) {
    if (!folder) return;
    if (query) query->stopQuery();
    query.reset();
    const uint64_t generation = ++generation_;
    live_->store(generation);
    collected_ = false;
    curScanobj = folder;

    auto q = std::make_unique<hvn::MetadataQuery>();
    std::string error;
    if (!q->setPredicateFormat(hvn::format("kMDItemFSSize > %lld", static_cast<long long>(limitSize)),
                               &error)) {
        hvn::Log::writef("large and old files: bad query: %s", error.c_str());
        q->setPredicateFormat("FALSEPREDICATE");  // the folder ends with nothing rather than everything
    }
    q->setSearchScopes({folder->filePath()});
    q->setProgressHandler(
        [this, generation](size_t) { onMainLoop(generation, [this] { queryDidProgeress(); }); });
    q->setFinishHandler([this, generation](size_t) { onMainLoop(generation, [this] { queryDidFinish(); }); });
    query = std::move(q);
    if (!query->startQuery()) {
        hvn::Log::writef("large and old files: cannot search %s", folder->filePath().c_str());
        onMainLoop(generation, [this] { queryDidFinish(); });
    }
}

void HVNLargeAndOldFileScanner::queryDidProgeress() {
    if (!query || collected_) return;
    const size_t count = query->resultCount();
    if (count > 0) {
        if (auto last = query->resultAtIndex(count - 1)) {
            HVNLargeAndOldPathUpdate update{{curScanobj, last->path()}};
            hvn::NotificationCenter::defaultCenter().post(kUpdateLargeAndOldFilePathNotification, update);
        }
        int64_t sum = 0;
        for (size_t i = 0; i < count; ++i) {
            if (auto item = query->resultAtIndex(i))
                sum += item->valueForAttribute(hvn::kMDItemFSSize).asInteger();
        }
        scanSize.store(sum);
    }
    if (cancel.load()) {
        query->stopQuery();
        collectResults();
    }
}

void HVNLargeAndOldFileScanner::queryDidFinish() {
    if (!query || collected_) return;
    query->stopQuery();
    collectResults();
    HVNScaneOuputObjectPtr folder = curScanobj;
    if (delegate) delegate->resetProgressSpeed();
    onMainLoop(0, [this, folder] {
        if (delegate) delegate->didEndScanObj(folder);
    });
}

void HVNLargeAndOldFileScanner::cancelScan() {
    if (query) {
        // What was found before the stop is kept and shown, as a finished folder's would be.
        collectResults();
        query->stopQuery();
    }
    live_->store(++generation_);  // what the stopped query still had queued is dropped
    HVNScaneOuputObjectPtr folder = curScanobj;
    onMainLoop(0, [this, folder] {
        if (delegate) delegate->cancelScan(folder);
    });
}

void HVNLargeAndOldFileScanner::collectResults() {
    if (!query || collected_) return;
    collected_ = true;
    HVNNodeList list;
    for (const auto& item : query->results()) {
        if (auto entry = resultEntry(item)) list.push_back(std::move(entry));
    }
    // The query's order is its walk's; the folder's results are kept in path order.
    std::sort(list.begin(), list.end(), [](const HVNScaneOuputObjectPtr& a, const HVNScaneOuputObjectPtr& b) {
        return a->filePath() < b->filePath();
    });
    scanOutObjs.insert(scanOutObjs.end(), list.begin(), list.end());
    if (curScanobj) outdataInfo[curScanobj] = std::move(list);
}

void HVNLargeAndOldFileScanner::cleanupObjs(const HVNNodeList& entries) {
    auto drop = [&entries](HVNNodeList& list) {
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const HVNScaneOuputObjectPtr& e) {
                                      return std::find(entries.begin(), entries.end(), e) != entries.end();
                                  }),
                   list.end());
    };
    drop(scanOutObjs);
    for (auto& [folder, list] : outdataInfo) drop(list);
    HVNLargeFileRemoval::forget(entries);
}

void HVNLargeAndOldFileScanner::clearResults() {
    if (query) query->stopQuery();
    live_->store(++generation_);
    HVNLargeFileRemoval::forget(scanOutObjs);
    for (const auto& [folder, list] : outdataInfo) HVNLargeFileRemoval::forget(list);
    scanOutObjs.clear();
    outdataInfo.clear();
    curScanobj.reset();
    collected_ = true;
}

HVNScaneOuputObjectPtr HVNLargeAndOldFileScanner::resultEntry(const hvn::MetadataItem& item) {
    const std::string& path = item.path();
    if (path.empty()) return nullptr;
    const hvn::Value& bundle = item.valueForAttribute(hvn::kMDItemCFBundleIdentifier);
    if (bundle.isString() && bundle.asString().rfind("com.apple", 0) == 0) return nullptr;

    auto entry = HVNScaneOuputObject::create();
    const hvn::Value& name = item.valueForAttribute(hvn::kMDItemFSName);
    entry->setName(name.isString() ? name.asString() : std::string());
    entry->fileSize = item.valueForAttribute(hvn::kMDItemFSSize).asInteger();
    entry->setFilePath(path);
    entry->icon = path;
    entry->isDir = false;
    const hvn::Value& changed = item.valueForAttribute(hvn::kMDItemFSContentChangeDate);
    if (changed.isDate()) entry->accessDate = changed.asDate();
    entry->firstNameword = upperFirstCharacter(entry->name());
    entry->isCheck = 0;
    entry->foundIn = folderOf(path);
    HVNLargeFileRemoval::listEntry(*entry);
    return entry;
}

std::string HVNLargeAndOldFileScanner::fileModifyDateDescription(const HVNScaneOuputObject& entry) {
    return fileModifyDateDescription(entry, hvn::Date::now());
}

std::string HVNLargeAndOldFileScanner::fileModifyDateDescription(const HVNScaneOuputObject& entry,
                                                                 hvn::Date now) {
    if (!entry.accessDate) return "";
    const double from = entry.accessDate->secondsSince1970;
    if (now.secondsSince1970 - from < 1) return "";
    const time_t a = static_cast<time_t>(from);
    const time_t b = static_cast<time_t>(now.secondsSince1970);
    struct tm start {};
    if (!localtime_r(&a, &start)) return "";
    struct tm end {};
    if (!localtime_r(&b, &end)) return "";

    long months = (static_cast<long>(end.tm_year) - start.tm_year) * 12 + (end.tm_mon - start.tm_mon);
    while (months > 0 && addCalendar(start, months, 0) > b) --months;
    const time_t afterMonths = addCalendar(start, months, 0);
    long days = static_cast<long>((b - afterMonths) / 86400) + 1;
    while (days > 0 && addCalendar(start, months, days) > b) --days;
    const time_t afterDays = addCalendar(start, months, days);
    const long rest = static_cast<long>(b - afterDays);

    const long counts[] = {months / 12, months % 12,      days / 7, days % 7,
                           rest / 3600, rest % 3600 / 60, rest % 60};
    static const char* const formats[] = {"Opened more than %ld year ago",  "Opened more than %ld month ago",
                                          "Opened more than %ld week ago",  "Opened more than %ld day ago",
                                          "Opened more than %ld hour ago",  "Opened more than %ld minute ago",
                                          "Opened more than %ld second ago"};
    for (size_t i = 0; i < 7; ++i) {
        if (counts[i] > 0) return hvn::format(formats[i], counts[i]);
    }
    return "";
}
