// Small Mach-O files for tests: thin images, universal (fat) files made of slices in the
// 32- or 64-bit layout and either byte order, and fake application bundles holding one as
// their executable.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hvn::test {

inline constexpr int32_t kCpuI386 = 7;
inline constexpr int32_t kCpuX86_64 = 0x01000007;
inline constexpr int32_t kCpuPpc = 18;
inline constexpr int32_t kCpuPpc64 = 0x01000012;
inline constexpr int32_t kCpuArm = 12;
inline constexpr int32_t kCpuArm64 = 0x0100000C;
inline constexpr int32_t kCpuArm64_32 = 0x0200000C;

// A thin image of `length` bytes (at least the header's 28 or 32): a Mach-O header of the
// CPU type and subtype in little-endian order (big-endian when bigEndian), then filler bytes
// that depend on the CPU type and position, so that two slices never hold the same bytes.
std::string thinMachO(int32_t cputype, int32_t cpusubtype = 3, size_t length = 256, bool is64 = true,
                      bool bigEndian = false);

struct FatSlice {
    int32_t cputype = 0;
    int32_t cpusubtype = 3;
    std::string bytes;
    uint32_t align = 12;
};

// A universal file: the fat header (fat_arch entries, or fat_arch_64 with fat64) in
// big-endian order (little-endian with swapped), then each slice at the next multiple of
// 2^align after the one before, the gaps filled with zeros.
std::string fatMachO(const std::vector<FatSlice>& slices, bool fat64 = false, bool swapped = false);
// A universal file of thin images (thinMachO(cputype, 3, sliceLength)) of these CPU types.
std::string fatOf(const std::vector<int32_t>& cputypes, size_t sliceLength = 256, bool fat64 = false);
// The bytes of the thin image fatOf() puts in for this CPU type.
inline std::string sliceOf(int32_t cputype, size_t sliceLength = 256) {
    return thinMachO(cputype, 3, sliceLength);
}

// A universal header by hand: magic and count, then raw 32-bit big-endian words.
std::string rawWords(const std::vector<uint32_t>& words);

// Writes bytes to path (creating its folders) and sets the mode; returns path.
std::string writeBinary(const std::string& path, const std::string& bytes, mode_t mode = 0755);

// A fake application bundle <folder>/<name>: Contents/Info.plist naming the executable
// (CFBundleExecutable = executableName, and CFBundleIconFile when iconFile is given, which is
// then created in Contents/Resources), and Contents/MacOS/<executableName> holding the
// bytes. Returns the bundle's path.
std::string makeAppBundle(const std::string& folder, const std::string& name,
                          const std::string& executableBytes, const std::string& executableName = "App",
                          const std::string& iconFile = "");
// The executable path of a bundle made by makeAppBundle.
inline std::string bundleExecutable(const std::string& bundle, const std::string& executableName = "App") {
    return bundle + "/Contents/MacOS/" + executableName;
}

// The contents of a file ("" when unreadable) and whether a path exists (a link counts).
std::string fileBytes(const std::string& path);
bool pathExists(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> folderNames(const std::string& folder);

}  // namespace hvn::test
