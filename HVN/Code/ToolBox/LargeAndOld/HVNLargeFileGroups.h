// The tables of the large-and-old-files tool and the pure rules built on them: the size
// and age filter choices, the seven size groups, the four type groups, the grouping of the
// result entries in the three orders and the filter test. Shared by the result page and
// the command line. Pure functions over their arguments; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "HVN/Code/Clearer/HVNScaneOuputObject.h"
#include "Platform/Value.h"

class HVNLargeFileGroups {
public:
    HVNLargeFileGroups() = delete;

    // The size choices ("50M" ... "10G") with their bytes, decimal units, in slider order.
    static const std::vector<std::pair<std::string, int64_t>>& sizeDic();
    // The age choices ("any time" ... "two years ago") with their seconds, in slider order.
    static const std::vector<std::pair<std::string, int64_t>>& timeDic();
    // The bytes of a size key / the seconds of an age key; nullopt for an unknown key.
    static std::optional<int64_t> bytesOfSizeKey(const std::string& key);
    static std::optional<int64_t> secondsOfAgeKey(const std::string& key);

    // The slider mapping: eight steps over [minimum, maximum], step = (maximum - minimum) / 7,
    // index = the integer part of position / step. The key at that index, or nullopt when
    // the index is not one of the eight (or the range is empty).
    static std::optional<std::string> sizeKeyForSlider(double position, double minimum, double maximum);
    static std::optional<std::string> ageKeyForSlider(double position, double minimum, double maximum);

    // The size group titles, largest first (">5G", "3G to 5G", ..., "50 to 100M").
    static const std::vector<std::string>& sizeGroupTitles();
    // The index in sizeGroupTitles of the group of a size: above 5G the first; a size equal
    // to a bound between two groups goes to the lower of the two; nullopt for sizes not
    // above 50,000,000.
    static std::optional<size_t> sizeGroupIndex(int64_t bytes);

    // The type group titles in their order: "Archivers", "Documents", "Movies", "Others".
    static const std::vector<std::string>& typeGroupTitles();
    // The index in typeGroupTitles of a file name's group: the first group one of whose
    // endings the whole name ends with (case-sensitive), else Others.
    static size_t typeGroupIndex(const std::string& name);

    // The orders of the result list.
    enum Order { ByType = 0, BySize = 1, ByName = 2 };

    // The top-level rows of entries in an order. By type and by size: one group node per
    // non-empty group (isGroup and hasExpanded set, title in name, members in subObjects,
    // each member's parentNode the group); by type members keep their order, by size they
    // are sorted by fileSize, largest first (ties keep their order), and entries not above
    // 50,000,000 are in no group. By name: the entries themselves, sorted by firstNameword
    // (ties keep their order), with no parent. The groups are new nodes; the entries are
    // shared.
    static HVNNodeList group(const HVNNodeList& entries, int order);

    // Whether an entry passes the filters: its fileSize is at least minimumBytes and at
    // least minimumAgeSeconds have passed from its accessDate to now. An entry without a
    // date passes only a zero age.
    static bool passes(const HVNScaneOuputObject& entry, int64_t minimumBytes, int64_t minimumAgeSeconds,
                       hvn::Date now);
};
