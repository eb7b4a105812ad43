// Fuzzes the Mach-O header reader: parseHeader on the bytes (whole, and as the start of a
// longer and of a shorter file), whose accepted slices must lie inside the file, be aligned
// and be distinct; and, for an accepted header, the thinning of its first slice from the
// bytes written to a file of a temporary folder (made once per process, removed at exit),
// whose output must be exactly that slice.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "Platform/MachO.h"

namespace MachO = hvn::MachO;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

std::string gFolder;

void removeFolder() {
    ::unlink((gFolder + "/in").c_str());
    ::unlink((gFolder + "/out").c_str());
    ::rmdir(gFolder.c_str());
}

const std::string& folder() {
    if (gFolder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/halvorn-fuzz-macho.XXXXXX";
        check(::mkdtemp(pattern.data()) != nullptr);
        gFolder = pattern;
        std::atexit(removeFolder);
    }
    return gFolder;
}

void checkHeader(const MachO::Header& h, uint64_t fileSize) {
    check(!h.slices.empty());
    check(h.fileSize == fileSize);
    if (!h.isFat()) {
        check(h.slices.size() == 1 && h.slices[0].offset == 0 && h.slices[0].size == fileSize);
        return;
    }
    check(h.slices.size() <= MachO::kMaxSlices);
    for (size_t i = 0; i < h.slices.size(); ++i) {
        const MachO::Slice& s = h.slices[i];
        check(s.align <= MachO::kMaxAlign);
        check(s.offset % (uint64_t{1} << s.align) == 0);
        check(s.offset <= fileSize && s.size <= fileSize - s.offset);
        check(!MachO::nameOf(s).empty());
        for (size_t j = 0; j < i; ++j) {
            const MachO::Slice& t = h.slices[j];
            check(!(t.cputype == s.cputype &&
                    ((t.cpusubtype ^ s.cpusubtype) & static_cast<int32_t>(~MachO::kSubtypeMask)) == 0));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    auto header = MachO::parseHeader(data, size, size, &error);
    check(header.has_value() || !error.empty());
    if (header) checkHeader(*header, size);
    // The same bytes as the start of a much longer file, and of a file they do not fill.
    if (auto longer = MachO::parseHeader(data, size, uint64_t{1} << 40))
        checkHeader(*longer, uint64_t{1} << 40);
    if (size > 0) {
        if (auto shorter = MachO::parseHeader(data, size, size / 2)) checkHeader(*shorter, size / 2);
    }
    if (!header || size > (1 << 16)) return 0;

    const std::string in = folder() + "/in";
    const std::string out = folder() + "/out";
    {
        std::ofstream f(in, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const MachO::Slice first = header->slices[0];
    const std::string name = MachO::nameOf(first);
    ::unlink(out.c_str());
    if (MachO::thin(in, name, out, &error)) {
        auto chosen = MachO::sliceNamed(*header, name);
        check(chosen.has_value());
        std::ifstream f(out, std::ios::binary);
        const std::string written((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        check(written == std::string(reinterpret_cast<const char*>(data) + chosen->offset, chosen->size));
    } else {
        // Only an unknown CPU type has no name to thin by.
        struct stat st {};
        check(name.rfind("unknown(", 0) == 0);
        check(::lstat(out.c_str(), &st) != 0);
    }
    return 0;
}
