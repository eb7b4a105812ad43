#include "Platform/MachO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace hvn::MachO {

namespace {

constexpr size_t kFatHeaderSize = 8;
constexpr size_t kFatArchSize = 20;
constexpr size_t kFatArch64Size = 32;
constexpr size_t kThinHeaderSize = 28;
constexpr size_t kThinHeader64Size = 32;
constexpr size_t kCopyBufferSize = 1 << 20;

std::string systemText(int error) {
    return std::system_category().message(error);
}

bool fail(std::string* errorText, const std::string& text) {
    if (errorText) *errorText = text;
    return false;
}

uint32_t load32(const uint8_t* p, bool bigEndian) {
    if (bigEndian) {
        return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
    }
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | uint32_t{p[0]};
}

uint64_t load64(const uint8_t* p, bool bigEndian) {
    uint64_t hi = load32(bigEndian ? p : p + 4, bigEndian);
    uint64_t lo = load32(bigEndian ? p + 4 : p, bigEndian);
    return hi << 32 | lo;
}

int32_t maskedSubtype(int32_t subtype) {
    return static_cast<int32_t>(static_cast<uint32_t>(subtype) & ~kSubtypeMask);
}

std::optional<Header> parseFat(const uint8_t* bytes, size_t length, uint64_t fileSize, bool is64,
                               bool bigEndian, std::string* errorText) {
    const uint32_t count = load32(bytes + 4, bigEndian);
    const uint32_t magic = load32(bytes, true);
    if (count == 0) {
        fail(errorText, "universal header lists no architectures");
        return std::nullopt;
    }
    if (count > kMaxSlices) {
        fail(errorText,
             magic == kFatMagic
                 ? "not a Mach-O file (a Java class file, or a corrupt universal header)"
                 : "universal header lists too many architectures (" + std::to_string(count) + ")");
        return std::nullopt;
    }
    const size_t entrySize = is64 ? kFatArch64Size : kFatArchSize;
    const size_t headerEnd = kFatHeaderSize + count * entrySize;
    if (length < headerEnd || fileSize < headerEnd) {
        fail(errorText, "truncated fat header");
        return std::nullopt;
    }

    Header header;
    header.kind = is64 ? Kind::Fat64 : Kind::Fat;
    header.swapped = !bigEndian;
    header.fileSize = fileSize;
    header.slices.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = bytes + kFatHeaderSize + i * entrySize;
        Slice s;
        s.cputype = static_cast<int32_t>(load32(e, bigEndian));
        s.cpusubtype = static_cast<int32_t>(load32(e + 4, bigEndian));
        if (is64) {
            s.offset = load64(e + 8, bigEndian);
            s.size = load64(e + 16, bigEndian);
            s.align = load32(e + 24, bigEndian);
        } else {
            s.offset = load32(e + 8, bigEndian);
            s.size = load32(e + 12, bigEndian);
            s.align = load32(e + 16, bigEndian);
        }
        const std::string which = "slice " + std::to_string(i) + " (" + nameOf(s) + ")";
        if (s.align > kMaxAlign) {
            fail(errorText, which + " has an alignment of 2^" + std::to_string(s.align) + ", above 2^15");
            return std::nullopt;
        }
        if (s.offset % (uint64_t{1} << s.align) != 0) {
            fail(errorText, which + " is not aligned to 2^" + std::to_string(s.align));
            return std::nullopt;
        }
        if (s.offset < headerEnd) {
            fail(errorText, which + " overlaps the universal header");
            return std::nullopt;
        }
        if (s.offset > fileSize || s.size > fileSize - s.offset) {
            fail(errorText, which + " extends beyond the end of the file");
            return std::nullopt;
        }
        for (const Slice& earlier : header.slices) {
            if (earlier.cputype == s.cputype &&
                maskedSubtype(earlier.cpusubtype) == maskedSubtype(s.cpusubtype)) {
                fail(errorText, "universal header lists the architecture " + nameOf(s) + " twice");
                return std::nullopt;
            }
        }
        header.slices.push_back(s);
    }
    return header;
}

// Reads up to `length` bytes at `offset`, retrying short reads; the count read, or -1.
ssize_t readFully(int fd, uint8_t* buffer, size_t length, uint64_t offset) {
    size_t done = 0;
    while (done < length) {
        ssize_t r = ::pread(fd, buffer + done, length - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        done += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

bool writeFully(int fd, const uint8_t* buffer, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t w = ::write(fd, buffer + done, length - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(w);
    }
    return true;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Closes and reports the close's own error (a delayed write error shows up here).
    int close() {
        int rc = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string nameIn(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<int32_t> Header::cpuTypes() const {
    std::vector<int32_t> types;
    types.reserve(slices.size());
    for (const Slice& s : slices) types.push_back(s.cputype);
    return types;
}

std::optional<Header> parseHeader(const uint8_t* bytes, size_t length, uint64_t fileSize,
                                  std::string* errorText) {
    if (length > fileSize) length = static_cast<size_t>(fileSize);
    if (bytes == nullptr || length < 4) {
        fail(errorText, "not a Mach-O file (too short)");
        return std::nullopt;
    }
    const uint32_t magic = load32(bytes, true);
    if (magic == kFatMagic || magic == kFatCigam || magic == kFatMagic64 || magic == kFatCigam64) {
        if (length < kFatHeaderSize) {
            fail(errorText, "truncated fat header");
            return std::nullopt;
        }
        const bool is64 = magic == kFatMagic64 || magic == kFatCigam64;
        const bool bigEndian = magic == kFatMagic || magic == kFatMagic64;
        return parseFat(bytes, length, fileSize, is64, bigEndian, errorText);
    }

    // A thin image is in its CPU's own byte order: read the magic little-endian first.
    const uint32_t little = load32(bytes, false);
    bool bigEndian;
    bool is64;
    if (little == kMachMagic || little == kMachMagic64) {
        bigEndian = false;
        is64 = little == kMachMagic64;
    } else if (little == kMachCigam || little == kMachCigam64) {
        bigEndian = true;
        is64 = little == kMachCigam64;
    } else {
        fail(errorText, "not a Mach-O file");
        return std::nullopt;
    }
    if (length < (is64 ? kThinHeader64Size : kThinHeaderSize)) {
        fail(errorText, "truncated Mach-O header");
        return std::nullopt;
    }
    Header header;
    header.kind = Kind::Thin;
    header.swapped = bigEndian;
    header.is64 = is64;
    header.fileSize = fileSize;
    Slice s;
    s.cputype = static_cast<int32_t>(load32(bytes + 4, bigEndian));
    s.cpusubtype = static_cast<int32_t>(load32(bytes + 8, bigEndian));
    s.offset = 0;
    s.size = fileSize;
    s.align = 0;
    header.slices.push_back(s);
    return header;
}

std::optional<Header> readHeader(int fd, std::string* errorText) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        fail(errorText, systemText(errno));
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        fail(errorText, "not a regular file");
        return std::nullopt;
    }
    std::array<uint8_t, kHeaderBytes> buffer{};
    const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
    const size_t wanted = fileSize < kHeaderBytes ? static_cast<size_t>(fileSize) : kHeaderBytes;
    ssize_t got = readFully(fd, buffer.data(), wanted, 0);
    if (got < 0) {
        fail(errorText, systemText(errno));
        return std::nullopt;
    }
    return parseHeader(buffer.data(), static_cast<size_t>(got), fileSize, errorText);
}

std::optional<Header> readHeader(const std::string& path, std::string* errorText) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        fail(errorText, path + ": " + systemText(errno));
        return std::nullopt;
    }
    std::string why;
    auto header = readHeader(fd.get(), &why);
    if (!header) fail(errorText, path + ": " + why);
    return header;
}

// --- Architecture names ---

const std::vector<Architecture>& architectures() {
    static const std::vector<Architecture> table = {
        {"i386", 7, std::nullopt},
        {"x86_64", 0x01000007, std::nullopt},
        {"x86_64h", 0x01000007, 8},
        {"ppc", 18, std::nullopt},
        {"ppc64", 0x01000012, std::nullopt},
        {"arm", 12, std::nullopt},
        {"arm64", 0x0100000C, std::nullopt},
        {"arm64e", 0x0100000C, 2},
        {"arm64_32", 0x0200000C, std::nullopt},
    };
    return table;
}

std::optional<Architecture> architectureNamed(const std::string& name) {
    for (const Architecture& a : architectures()) {
        if (name == a.name) return a;
    }
    return std::nullopt;
}

std::optional<int32_t> cpuTypeNamed(const std::string& name) {
    auto a = architectureNamed(name);
    if (!a) return std::nullopt;
    return a->cputype;
}

std::string nameOf(int32_t cputype, int32_t cpusubtype) {
    const Architecture* family = nullptr;
    for (const Architecture& a : architectures()) {
        if (a.cputype != cputype) continue;
        if (a.cpusubtype) {
            if (*a.cpusubtype == maskedSubtype(cpusubtype)) return a.name;
        } else if (!family) {
            family = &a;
        }
    }
    if (family) return family->name;
    return "unknown(" + std::to_string(cputype) + "," + std::to_string(cpusubtype) + ")";
}

std::string nameOf(const Slice& slice) {
    return nameOf(slice.cputype, slice.cpusubtype);
}

std::optional<Slice> sliceNamed(const Header& header, const std::string& name) {
    auto arch = architectureNamed(name);
    if (!arch) return std::nullopt;
    for (const Slice& s : header.slices) {
        if (nameOf(s) == name) return s;
    }
    if (arch->cpusubtype) return std::nullopt;
    for (const Slice& s : header.slices) {
        if (s.cputype == arch->cputype) return s;
    }
    return std::nullopt;
}

// --- Thinning ---

bool thin(const std::string& input, const std::string& name, const std::string& output,
          std::string* errorText) {
    if (!architectureNamed(name)) return fail(errorText, "unknown architecture name: " + name);
    if (output.empty()) return fail(errorText, "no output file given");

    FileDescriptor in(::open(input.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (in.get() < 0) return fail(errorText, input + ": " + systemText(errno));
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) return fail(errorText, input + ": " + systemText(errno));
    std::string why;
    auto header = readHeader(in.get(), &why);
    if (!header) return fail(errorText, input + ": " + why);
    auto slice = sliceNamed(*header, name);
    if (!slice) return fail(errorText, input + " does not contain the architecture " + name);

    const std::string folder = folderOf(output);
    std::string base = nameIn(output);
    if (base.size() > 200) base.resize(200);
    std::string temporary = folder + "/." + base + ".lipo.XXXXXX";
    FileDescriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (out.get() < 0) return fail(errorText, "cannot create a file in " + folder + ": " + systemText(errno));

    auto abandon = [&](const std::string& text) {
        out.reset();
        ::unlink(temporary.c_str());
        return fail(errorText, text);
    };

    std::vector<uint8_t> buffer(slice->size < kCopyBufferSize ? static_cast<size_t>(slice->size)
                                                              : kCopyBufferSize);
    uint64_t done = 0;
    while (done < slice->size) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(buffer.size(), slice->size - done));
        ssize_t got = readFully(in.get(), buffer.data(), chunk, slice->offset + done);
        if (got < 0) return abandon(input + ": " + systemText(errno));
        if (static_cast<size_t>(got) < chunk)
            return abandon(input + ": the file became shorter while it was read");
        if (!writeFully(out.get(), buffer.data(), chunk))
            return abandon(temporary + ": " + systemText(errno));
        done += chunk;
    }

    // The owner first: a change of owner clears the set-user-ID and set-group-ID bits.
    if (::fchown(out.get(), st.st_uid, st.st_gid) != 0) {
        // Only root may give a file away; a user's own copy stays the user's.
    }
    if (::fchmod(out.get(), st.st_mode & 07777) != 0) return abandon(temporary + ": " + systemText(errno));
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out.get(), times) != 0) return abandon(temporary + ": " + systemText(errno));
    if (::fsync(out.get()) != 0) return abandon(temporary + ": " + systemText(errno));
    if (out.close() != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        return fail(errorText, temporary + ": " + systemText(error));
    }
    if (::rename(temporary.c_str(), output.c_str()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        return fail(errorText, "cannot replace " + output + ": " + systemText(error));
    }
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) (void)::fsync(dir.get());
    return true;
}

}  // namespace hvn::MachO
