// Fixture /proc/meminfo texts for the memory tests, in the kernel's own layout, written
// below a test's system root.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Platform/HostMemory.h"
#include "Support/TestRoots.h"

namespace hvn::test {

// Figures in KiB; multiples of 64 so that they are whole pages on every page size.
struct Meminfo {
    uint64_t memFree = 1048576;  // 1 GiB
    uint64_t activeAnon = 524288, activeFile = 262144;
    uint64_t inactiveAnon = 131072, inactiveFile = 393216;
    uint64_t unevictable = 6400, sUnreclaim = 64000, kernelStack = 12800, pageTables = 25600, percpu = 1280;
    uint64_t mlocked = 6400;  // part of Unevictable

    uint64_t freeBytes() const { return memFree * 1024; }
    uint64_t activeBytes() const { return (activeAnon + activeFile) * 1024; }
    uint64_t inactiveBytes() const { return (inactiveAnon + inactiveFile) * 1024; }
    uint64_t wiredBytes() const {
        return (unevictable + sUnreclaim + kernelStack + pageTables + percpu) * 1024;
    }
    uint64_t totalBytes() const { return freeBytes() + activeBytes() + inactiveBytes() + wiredBytes(); }
};

inline std::string meminfoText(const Meminfo& m) {
    auto line = [](const char* name, uint64_t kib) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "%-16s%8llu kB\n", (std::string(name) + ":").c_str(),
                      static_cast<unsigned long long>(kib));
        return std::string(buf);
    };
    return line("MemTotal", 8388608) + line("MemFree", m.memFree) + line("MemAvailable", 4194304) +
           line("Buffers", 65536) + line("Cached", 2097152) + line("SwapCached", 0) +
           line("Active", m.activeAnon + m.activeFile) + line("Inactive", m.inactiveAnon + m.inactiveFile) +
           line("Active(anon)", m.activeAnon) + line("Inactive(anon)", m.inactiveAnon) +
           line("Active(file)", m.activeFile) + line("Inactive(file)", m.inactiveFile) +
           line("Unevictable", m.unevictable) + line("Mlocked", m.mlocked) + line("SwapTotal", 0) +
           line("Dirty", 128) + line("Shmem", 65536) + line("KReclaimable", 128000) + line("Slab", 192000) +
           line("SReclaimable", 128000) + line("SUnreclaim", m.sUnreclaim) +
           line("KernelStack", m.kernelStack) + line("PageTables", m.pageTables) + line("Percpu", m.percpu) +
           line("Committed_AS", 9000000) + "HugePages_Total:       0\nHugePages_Free:        0\n" +
           line("Hugepagesize", 2048) + line("DirectMap4k", 300000);
}

inline std::string writeMeminfo(const TempRoots& roots, const std::string& text) {
    return roots.writeFile(roots.root() + "/proc/meminfo", text);
}

inline std::string writeMeminfo(const TempRoots& roots, const Meminfo& m) {
    return writeMeminfo(roots, meminfoText(m));
}

}  // namespace hvn::test

namespace hvn::test {

// A bundle of the test's own whose ClearMemory is a shell script (the main bundle while
// TempRoots lives). Returns the script's path.
inline std::string standInClearMemory(const TempRoots& roots, const std::string& script) {
    const std::string bundle = roots.base() + "/Stand In.app";
    roots.makeDir(bundle + "/Contents/Resources");
    const std::string program =
        roots.writeFile(bundle + "/Contents/MacOS/ClearMemory", "#!/bin/sh\n" + script);
    ::chmod(program.c_str(), 0755);
    ::setenv("HALVORN_BUNDLE", bundle.c_str(), 1);
    return program;
}

}  // namespace hvn::test
