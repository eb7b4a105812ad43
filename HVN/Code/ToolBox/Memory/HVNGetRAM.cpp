#include "HVN/Code/ToolBox/Memory/HVNGetRAM.h"

#include <cstdio>

#include "Platform/Log.h"

hvn::Dictionary HVNGetRAM::getMemoryInfo() {
    std::string error;
    auto statistics = hvn::HostMemory::statistics(&error);
    if (!statistics) {
        hvn::Log::writef("memory statistics unavailable: %s", error.c_str());
        return {};
    }
    return memoryInfo(*statistics);
}

hvn::Dictionary HVNGetRAM::memoryInfo(const hvn::HostMemory::Statistics& s) {
    const double freeBytes = static_cast<double>(s.freeBytes());
    const double wiredBytes = static_cast<double>(s.wiredBytes());
    const double activeBytes = static_cast<double>(s.activeBytes());
    const double inactiveBytes = static_cast<double>(s.inactiveBytes());
    const double total = freeBytes + wiredBytes + activeBytes + inactiveBytes;
    hvn::Dictionary info;
    info[label(kFreeFormat, freeBytes)] = hvn::Value(freeBytes);
    info[label(kWiredFormat, wiredBytes)] = hvn::Value(wiredBytes);
    info[label(kActiveFormat, activeBytes)] = hvn::Value(activeBytes);
    info[label(kInactiveFormat, inactiveBytes)] = hvn::Value(inactiveBytes);
    info[label(kTotalFormat, total)] = hvn::Value(total);
    return info;
}

std::string HVNGetRAM::convertMemorySizeInfo(double bytes) {
    // Narrowed first, so that the limits compare as the page always compared them
    // (1,073,741,825 bytes is exactly 2^30 in single precision and reads in MB).
    const float value = static_cast<float>(bytes);
    char buf[64];
    if (value > 1073741824.0f) {
        std::snprintf(buf, sizeof buf, "%.2f GB", static_cast<double>(value / 1073741824.0f));
    } else if (value > 1048576.0f) {
        std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(value / 1048576.0f));
    } else if (value > 0.0f) {
        std::snprintf(buf, sizeof buf, "%.1f KB", static_cast<double>(value / 1024.0f));
    } else {
        return "0 KB";
    }
    return buf;
}

std::optional<std::pair<std::string, double>> HVNGetRAM::entryBeginningWith(const hvn::Dictionary& info,
                                                                            const std::string& prefix,
                                                                            size_t length) {
    const std::string head = prefix.substr(0, length);
    for (const auto& [key, value] : info) {
        if (key.compare(0, head.size(), head) == 0 && key.size() >= head.size()) {
            return std::make_pair(key, value.asReal());
        }
    }
    return std::nullopt;
}

std::string HVNGetRAM::label(const char* format, double bytes) {
    std::string text = format;
    const size_t at = text.find("%@");
    if (at != std::string::npos) text.replace(at, 2, convertMemorySizeInfo(bytes));
    return text;
}
