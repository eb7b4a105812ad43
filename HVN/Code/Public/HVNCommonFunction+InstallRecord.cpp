// The install record of the usage statistics: Library/Calendars/CalendaStates.plist below
// the home folder, with "VersionApp" and "activeTime".
#include <ctime>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"
#include "Platform/Roots.h"

namespace {

constexpr const char* kVersionKey = "VersionApp";
constexpr const char* kActiveTimeKey = "activeTime";

// The record, or nullopt (logged) when it cannot be read as a dictionary.
std::optional<hvn::Value> readRecord() {
    auto record = hvn::PropertyList::readFile(HVNCommonFunction::getVersionFilePath());
    if (!record || !record->isDictionary()) {
        hvn::Log::write("Version File is not exist");
        return std::nullopt;
    }
    return record;
}

std::optional<std::string> recordText(const char* key) {
    auto record = readRecord();
    if (!record) return std::string();
    const hvn::Value& v = (*record)[key];
    if (v.isNull()) return std::nullopt;
    return v.isString() ? v.asString() : v.description();
}

void writeRecord(const hvn::Value& record) {
    std::string path = HVNCommonFunction::getVersionFilePath();
    // A failed write is not reported: the next report simply finds no record.
    hvn::PropertyList::writeFile(path, record, hvn::PlistFormat::XML, true);
    hvn::Log::writef("Save version file to %s", path.c_str());
}

std::vector<std::string> components(const std::string& text, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t i = text.find(sep, start);
        parts.push_back(text.substr(start, i == std::string::npos ? std::string::npos : i - start));
        if (i == std::string::npos) break;
        start = i + 1;
    }
    return parts;
}

// NSString intValue: leading blanks, an optional sign, digits; 0 when there are none.
int64_t intValue(const std::string& s) {
    return hvn::Value(s).asInteger();
}

}  // namespace

std::string HVNCommonFunction::getVersionFilePath() {
    return hvn::Roots::homePath("Library/Calendars/CalendaStates.plist");
}

std::optional<std::string> HVNCommonFunction::getVersionNoFromCalendarStates() {
    return recordText(kVersionKey);
}

std::optional<std::string> HVNCommonFunction::getActiveTimeFromCalendarStates() {
    return recordText(kActiveTimeKey);
}

void HVNCommonFunction::saveOrUpdateVersionFile() {
    hvn::Value record = readRecord().value_or(hvn::Value(hvn::Dictionary{{kActiveTimeKey, hvn::Value("")}}));
    record.dictionary()[kVersionKey] = getProjectVersion();
    writeRecord(record);
}

void HVNCommonFunction::saveOrUpdateActiveTime(const std::string& activeTime) {
    hvn::Value record = readRecord().value_or(hvn::Value(hvn::Dictionary{}));
    record.dictionary()[kActiveTimeKey] = activeTime;
    writeRecord(record);
}

int64_t HVNCommonFunction::getIntValueForVersionNoStr(const std::optional<std::string>& text) {
    if (!text || text->empty()) return 0;
    auto parts = components(*text, '.');
    if (parts.size() != 3) return 0;
    return intValue(parts[0]) * 100 + intValue(parts[1]) * 10 + intValue(parts[2]);
}

std::string HVNCommonFunction::getActiveTimeStrFromDate(hvn::Date date) {
    auto seconds = static_cast<time_t>(date.secondsSince1970);
    std::tm local{};
    if (!localtime_r(&seconds, &local)) return "";
    return hvn::format("%04d-%02d", local.tm_year + 1900, local.tm_mon + 1);
}

int64_t HVNCommonFunction::getIntFromActiveDateStr(const std::optional<std::string>& text) {
    if (!text || text->empty()) return 0;
    auto parts = components(*text, '-');
    if (parts.size() != 2) return 0;
    return intValue(parts[0]) * 100 + intValue(parts[1]);
}
