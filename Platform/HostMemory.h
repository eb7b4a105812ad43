// The host's virtual-memory statistics: how physical memory divides into free, active,
// inactive and wired pages, as the memory page shows them. On Linux the figures come from
// /proc/meminfo, read below the system root (a test root gives its own proc/meminfo):
//   free     = MemFree
//   active   = Active(anon) + Active(file)      (the recently used LRU lists)
//   inactive = Inactive(anon) + Inactive(file)  (the lists reclaimed first)
//   wired    = Unevictable + SUnreclaim + KernelStack + PageTables + Percpu
// (Mlocked is part of Unevictable and is not added again). A kernel without the (anon) and
// (file) split gives its plain Active and Inactive lines instead; a missing wired line counts
// as 0. Every function may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace hvn::HostMemory {

struct Statistics {
    uint64_t pageSize = 0;  // bytes per page
    uint64_t freeCount = 0;
    uint64_t activeCount = 0;
    uint64_t inactiveCount = 0;
    uint64_t wireCount = 0;

    uint64_t freeBytes() const { return freeCount * pageSize; }
    uint64_t activeBytes() const { return activeCount * pageSize; }
    uint64_t inactiveBytes() const { return inactiveCount * pageSize; }
    uint64_t wiredBytes() const { return wireCount * pageSize; }
};

// The system's virtual-memory page size (sysconf), 4096 when it cannot be asked.
uint64_t pageSize();

// The figures of a /proc/meminfo text, in pages of `pageSize` bytes (a partial page is
// dropped). Lines that are not "Name: <KiB> kB" are skipped. Fails (nullopt, with error
// when given) when the text has no usable MemFree, Active or Inactive figure, or when
// pageSize is 0.
std::optional<Statistics> parseMeminfo(const std::string& text, uint64_t pageSize,
                                       std::string* error = nullptr);

// The path read by statistics(): proc/meminfo below the system root.
std::string meminfoPath();

// The current figures; nullopt with error when meminfoPath() cannot be read or parsed.
std::optional<Statistics> statistics(std::string* error = nullptr);

}  // namespace hvn::HostMemory
