#include "HVN/Code/ToolBox/LargeAndOld/HVNLargeFileGroups.h"

#include <algorithm>
#include <cmath>

namespace {

using Table = std::vector<std::pair<std::string, int64_t>>;

std::optional<int64_t> lookup(const Table& table, const std::string& key) {
    for (const auto& [k, v] : table) {
        if (k == key) return v;
    }
    return std::nullopt;
}

std::optional<std::string> keyForSlider(const Table& table, double position, double minimum, double maximum) {
    double step = (maximum - minimum) / 7;
    if (!(step > 0) || !std::isfinite(position)) return std::nullopt;
    double index = std::floor(position / step);
    if (index < 0 || index >= static_cast<double>(table.size())) return std::nullopt;
    return table[static_cast<size_t>(index)].first;
}

bool endsWith(const std::string& text, const std::string& ending) {
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

// The lower bounds of the size groups, largest first; a group's upper bound is the lower
// bound of the group before it.
constexpr int64_t kGroupLowerBounds[] = {5000000000LL, 3000000000LL, 1000000000LL, 500000000LL,
                                         300000000LL,  100000000LL,  50000000LL};

}  // namespace

const std::vector<std::pair<std::string, int64_t>>& HVNLargeFileGroups::sizeDic() {
    static const Table table = {{"50M", 50000000LL},   {"100M", 100000000LL}, {"300M", 300000000LL},
                                {"500M", 500000000LL}, {"1G", 1000000000LL},  {"3G", 3000000000LL},
                                {"5G", 5000000000LL},  {"10G", 10000000000LL}};
    return table;
}

const std::vector<std::pair<std::string, int64_t>>& HVNLargeFileGroups::timeDic() {
    static const Table table = {{"any time", 0},
                                {"a week ago", 604800},
                                {"two weeks ago", 1209600},
                                {"a month ago", 2592000},
                                {"three months ago", 7776000},
                                {"half a year ago", 15811200},
                                {"one year ago", 31536000},
                                {"two years ago", 63072000}};
    return table;
}

std::optional<int64_t> HVNLargeFileGroups::bytesOfSizeKey(const std::string& key) {
    return lookup(sizeDic(), key);
}

std::optional<int64_t> HVNLargeFileGroups::secondsOfAgeKey(const std::string& key) {
    return lookup(timeDic(), key);
}

std::optional<std::string> HVNLargeFileGroups::sizeKeyForSlider(double position, double minimum,
                                                                double maximum) {
    return keyForSlider(sizeDic(), position, minimum, maximum);
}

std::optional<std::string> HVNLargeFileGroups::ageKeyForSlider(double position, double minimum,
                                                               double maximum) {
    return keyForSlider(timeDic(), position, minimum, maximum);
}

const std::vector<std::string>& HVNLargeFileGroups::sizeGroupTitles() {
    static const std::vector<std::string> titles = {">5G",         "3G to 5G",    "1G to 3G",  "500 to 1G",
                                                    "300 to 500M", "100 to 300M", "50 to 100M"};
    return titles;
}

std::optional<size_t> HVNLargeFileGroups::sizeGroupIndex(int64_t bytes) {
    for (size_t i = 0; i < std::size(kGroupLowerBounds); ++i) {
        if (bytes > kGroupLowerBounds[i]) return i;
    }
    return std::nullopt;
}

const std::vector<std::string>& HVNLargeFileGroups::typeGroupTitles() {
    static const std::vector<std::string> titles = {"Archivers", "Documents", "Movies", "Others"};
    return titles;
}

size_t HVNLargeFileGroups::typeGroupIndex(const std::string& name) {
    static const std::vector<std::vector<std::string>> endings = {
        {"zip", "rar",  "7z",  "lha",    "lhz",  "zipx",  "sit", "sitx",  "hqx", "bin", "macbin", "as",
         "gz",  "gzip", "tgz", "tar-gz", "bz2",  "bzip2", "bz",  "tbz2",  "tbz", "xz",  "txz",    "tar",
         "iso", "cdi",  "nrg", "mdf",    "gtar", "z",     "taz", "tar-z", "rpm", "deb"},
        {"pdf", "doc", "docx", "xls", "xlsx", "xmind", "pages", "rtf", "equb", "numbers", "key", "ppt"},
        {"ts", "3gp", "mov", "mp4", "avi", "mpeg", "mpg", "ps", "vro", "ogm", "mkv", "asf", "wmv", "flv",
         "rm", "rmvb"},
    };
    for (size_t g = 0; g < endings.size(); ++g) {
        for (const auto& e : endings[g]) {
            if (endsWith(name, e)) return g;
        }
    }
    return endings.size();
}

HVNNodeList HVNLargeFileGroups::group(const HVNNodeList& entries, int order) {
    if (order == ByName) {
        HVNNodeList rows;
        for (const auto& e : entries) {
            if (!e) continue;
            e->hasParent = false;
            e->parentNode.reset();
            rows.push_back(e);
        }
        std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
            return a->firstNameword.value_or(std::string()) < b->firstNameword.value_or(std::string());
        });
        return rows;
    }
    const bool bySize = order == BySize;
    const auto& titles = bySize ? sizeGroupTitles() : typeGroupTitles();
    std::vector<HVNNodeList> members(titles.size());
    for (const auto& e : entries) {
        if (!e) continue;
        if (bySize) {
            if (auto i = sizeGroupIndex(e->fileSize)) members[*i].push_back(e);
        } else {
            members[typeGroupIndex(e->name())].push_back(e);
        }
    }
    HVNNodeList rows;
    for (size_t i = 0; i < titles.size(); ++i) {
        if (members[i].empty()) continue;
        if (bySize) {
            std::stable_sort(members[i].begin(), members[i].end(),
                             [](const auto& a, const auto& b) { return a->fileSize > b->fileSize; });
        }
        auto g = HVNScaneOuputObject::create();
        g->setIsGroup(true);
        g->hasExpanded = true;
        g->setName(titles[i]);
        for (const auto& m : members[i]) g->fileSize += m->fileSize;
        g->setSubObjects(std::move(members[i]));
        rows.push_back(std::move(g));
    }
    return rows;
}

bool HVNLargeFileGroups::passes(const HVNScaneOuputObject& entry, int64_t minimumBytes,
                                int64_t minimumAgeSeconds, hvn::Date now) {
    if (entry.fileSize < minimumBytes) return false;
    if (minimumAgeSeconds <= 0) return true;
    if (!entry.accessDate) return false;
    return now.secondsSince1970 - entry.accessDate->secondsSince1970 >=
           static_cast<double>(minimumAgeSeconds);
}
