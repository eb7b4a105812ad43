// The memory statistics of the memory page: how much physical memory is free, wired, active
// and inactive, each as an amount of bytes and as a label that already holds the amount as
// text ("Free: 1.25 GB"). Class methods only; callable from any thread (the page reads them
// on the main thread).
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "Platform/HostMemory.h"
#include "Platform/Value.h"

class HVNGetRAM {
public:
    HVNGetRAM() = delete;

    // The label formats of the five entries; "%@" stands for the amount text.
    static constexpr const char* kFreeFormat = "Free: %@";
    static constexpr const char* kWiredFormat = "Wired: %@";
    static constexpr const char* kActiveFormat = "Active: %@";
    static constexpr const char* kInactiveFormat = "Inactive: %@";
    static constexpr const char* kTotalFormat = "Total: %@";

    // Five entries, label -> bytes (a double): free, wired, active and inactive pages times
    // the page size, and their sum under "Total: ...". Empty when the host's figures cannot
    // be read (logged).
    static hvn::Dictionary getMemoryInfo();
    // The same entries for figures already read.
    static hvn::Dictionary memoryInfo(const hvn::HostMemory::Statistics& statistics);

    // The amount text in units of 1024, from the value narrowed to single precision:
    // above 2^30 "%.2f GB", above 2^20 "%.1f MB", above 0 "%.1f KB", otherwise "0 KB"
    // (negative and not-a-number amounts included).
    static std::string convertMemorySizeInfo(double bytes);

    // The first entry (in key order) whose label begins with the first `length` characters
    // of `prefix` (all of it when length is npos); nullopt when none does.
    static std::optional<std::pair<std::string, double>> entryBeginningWith(
        const hvn::Dictionary& info, const std::string& prefix, size_t length = std::string::npos);

    // A label format with its "%@" replaced by the amount text of bytes.
    static std::string label(const char* format, double bytes);
};
