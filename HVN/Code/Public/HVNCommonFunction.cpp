#include "HVN/Code/Public/HVNCommonFunction.h"

#include <cstdio>

std::string HVNCommonFunction::getSizeDesc(int64_t n) {
    // Decimal units in single precision, as the care screens always showed them.
    char buf[64];
    if (n <= 0) return "0 KB";
    if (n <= 1000000) {
        std::snprintf(buf, sizeof buf, "%.1f KB", static_cast<double>(static_cast<float>(n) / 1000.0f));
    } else if (n <= 1000000000) {
        std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(static_cast<float>(n) / 1000000.0f));
    } else {
        std::snprintf(buf, sizeof buf, "%.2f GB", static_cast<double>(static_cast<float>(n) / 1000000000.0f));
    }
    return buf;
}
