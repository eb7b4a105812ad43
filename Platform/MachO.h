// Mach-O executables: the header of a universal ("fat") file or of a thin one, the names of
// the CPU types, and the copy of one architecture's slice to another file (what `lipo
// -thin` does). Everything is read in-process with bounded reads (pread into fixed
// buffers, never a mapping), so a corrupt, truncated or shrinking file is an error text and
// never a crash or a large allocation.
//
// Threads: any; nothing keeps state between calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hvn::MachO {

inline constexpr uint32_t kFatMagic = 0xCAFEBABE;
inline constexpr uint32_t kFatCigam = 0xBEBAFECA;
inline constexpr uint32_t kFatMagic64 = 0xCAFEBABF;
inline constexpr uint32_t kFatCigam64 = 0xBFBAFECA;
inline constexpr uint32_t kMachMagic = 0xFEEDFACE;
inline constexpr uint32_t kMachCigam = 0xCEFAEDFE;
inline constexpr uint32_t kMachMagic64 = 0xFEEDFACF;
inline constexpr uint32_t kMachCigam64 = 0xCFFAEDFE;

// The capability bits of a subtype, ignored when subtypes are compared.
inline constexpr uint32_t kSubtypeMask = 0xFF000000;
// The largest alignment exponent a slice may have.
inline constexpr uint32_t kMaxAlign = 15;
// The most slices a universal header may list. A 0xCAFEBABE file with more is taken for a
// Java class file, whose version stands where the count would be (major versions >= 43).
inline constexpr uint32_t kMaxSlices = 42;

enum class Kind {
    Fat,    // universal, 32-bit fat_arch entries
    Fat64,  // universal, 64-bit fat_arch_64 entries
    Thin,   // a single Mach-O image (32- or 64-bit)
};

// One architecture of a file: `size` bytes at `offset`. For a thin file the one slice is
// the whole file (offset 0, align 0).
struct Slice {
    int32_t cputype = 0;
    int32_t cpusubtype = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint32_t align = 0;  // the exponent: slices start on 2^align boundaries
};

struct Header {
    Kind kind = Kind::Thin;
    // Universal: the header is stored byte-swapped (little-endian). Thin: the image is
    // big-endian (PowerPC).
    bool swapped = false;
    // Thin only: a 64-bit image.
    bool is64 = false;
    std::vector<Slice> slices;  // in header order; at least one
    uint64_t fileSize = 0;      // the length the header was checked against

    bool isFat() const { return kind != Kind::Thin; }
    // The CPU types of the slices, in order.
    std::vector<int32_t> cpuTypes() const;
};

// Parses the first bytes of a file of fileSize bytes (`length` of them are given: at least
// what the header needs, see kHeaderBytes). Checks: a known magic; a universal header with
// 1..kMaxSlices entries that fit into `length`; every slice with align <= 15, its offset a
// multiple of 2^align, not inside the universal header, and offset + size <= fileSize; no two
// slices of the same CPU type and masked subtype; a thin header that fits into the file.
// nullopt with errorText filled ("truncated fat header", "slice 1 (x86_64) extends beyond
// the end of the file", ...) otherwise.
std::optional<Header> parseHeader(const uint8_t* bytes, size_t length, uint64_t fileSize,
                                  std::string* errorText = nullptr);
// The most bytes parseHeader() needs: a universal header with kMaxSlices 64-bit entries.
inline constexpr size_t kHeaderBytes = 8 + kMaxSlices * 32;

// Reads and parses the header of an open file (its length from fstat). errorText as above.
std::optional<Header> readHeader(int fd, std::string* errorText = nullptr);
// Reads and parses the header of the regular file at path (a final symbolic link is
// followed). errorText begins with the path.
std::optional<Header> readHeader(const std::string& path, std::string* errorText = nullptr);

// --- Architecture names ---

struct Architecture {
    const char* name;
    int32_t cputype;
    // A subtype (masked) the name stands for; nullopt: the name stands for the whole CPU type.
    std::optional<int32_t> cpusubtype;
};

// The names known, in table order: i386, x86_64, x86_64h, ppc, ppc64, arm, arm64, arm64e,
// arm64_32.
const std::vector<Architecture>& architectures();
// The architecture a name stands for (exact, case-sensitive, as lipo's flags are); nullopt
// for an unknown name.
std::optional<Architecture> architectureNamed(const std::string& name);
// The CPU type of a name; nullopt for an unknown name.
std::optional<int32_t> cpuTypeNamed(const std::string& name);
// The name of a CPU type and subtype: a subtype-specific name when one matches (x86_64h,
// arm64e), else the CPU type's name, else "unknown(<cputype>,<cpusubtype>)" in decimal.
std::string nameOf(int32_t cputype, int32_t cpusubtype);
std::string nameOf(const Slice& slice);

// The slice that `-thin name` keeps: the slice whose own name is `name`, else (for a name
// of a whole CPU type family given with a more specific slice, such as x86_64 with an
// x86_64h slice) the first slice of that CPU type. nullopt when the name is unknown or no
// slice fits.
std::optional<Slice> sliceNamed(const Header& header, const std::string& name);

// Writes exactly the bytes of the slice of architecture `name` in `input` to `output`: a
// temporary file in the output's folder receives them, is flushed to disk, gets the input's
// permission bits (st_mode & 07777), owner and group (when this process may give them) and
// access and modification times, and is then renamed over the output. input and output may
// be the same path. A thin input of that architecture is copied whole. On any failure (an
// unreadable or malformed input, an architecture it does not hold, a folder that cannot be
// written, an input that shrank while it was read) the output is untouched, no temporary
// file is left, and errorText says why. A symbolic link at output is replaced, not followed.
bool thin(const std::string& input, const std::string& name, const std::string& output,
          std::string* errorText = nullptr);

}  // namespace hvn::MachO
