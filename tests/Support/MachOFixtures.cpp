#include "Support/MachOFixtures.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "Platform/PropertyList.h"
#include "Platform/Value.h"

namespace hvn::test {

namespace fs = std::filesystem;

namespace {

void put32(std::string& out, uint32_t v, bool bigEndian) {
    for (int i = 0; i < 4; ++i) {
        int shift = bigEndian ? 24 - 8 * i : 8 * i;
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
    }
}

void put64(std::string& out, uint64_t v, bool bigEndian) {
    put32(out, static_cast<uint32_t>(bigEndian ? v >> 32 : v), bigEndian);
    put32(out, static_cast<uint32_t>(bigEndian ? v : v >> 32), bigEndian);
}

}  // namespace

std::string thinMachO(int32_t cputype, int32_t cpusubtype, size_t length, bool is64, bool bigEndian) {
    std::string out;
    put32(out, is64 ? 0xFEEDFACF : 0xFEEDFACE, bigEndian);
    put32(out, static_cast<uint32_t>(cputype), bigEndian);
    put32(out, static_cast<uint32_t>(cpusubtype), bigEndian);
    put32(out, 2, bigEndian);  // MH_EXECUTE
    put32(out, 0, bigEndian);
    put32(out, 0, bigEndian);
    put32(out, 0, bigEndian);
    if (is64) put32(out, 0, bigEndian);
    const uint32_t seed = static_cast<uint32_t>(cputype) * 2654435761u;
    for (size_t i = out.size(); i < length; ++i) out.push_back(static_cast<char>((seed >> (i % 24)) + i * 7));
    return out;
}

std::string fatMachO(const std::vector<FatSlice>& slices, bool fat64, bool swapped) {
    const bool be = !swapped;
    std::string header;
    put32(header, fat64 ? 0xCAFEBABF : 0xCAFEBABE, be);
    put32(header, static_cast<uint32_t>(slices.size()), be);
    uint64_t next = 8 + slices.size() * (fat64 ? 32 : 20);
    std::vector<uint64_t> offsets;
    for (const FatSlice& s : slices) {
        const uint64_t step = uint64_t{1} << s.align;
        next = (next + step - 1) / step * step;
        offsets.push_back(next);
        next += s.bytes.size();
    }
    for (size_t i = 0; i < slices.size(); ++i) {
        const FatSlice& s = slices[i];
        put32(header, static_cast<uint32_t>(s.cputype), be);
        put32(header, static_cast<uint32_t>(s.cpusubtype), be);
        if (fat64) {
            put64(header, offsets[i], be);
            put64(header, s.bytes.size(), be);
            put32(header, s.align, be);
            put32(header, 0, be);
        } else {
            put32(header, static_cast<uint32_t>(offsets[i]), be);
            put32(header, static_cast<uint32_t>(s.bytes.size()), be);
            put32(header, s.align, be);
        }
    }
    std::string out = header;
    for (size_t i = 0; i < slices.size(); ++i) {
        out.resize(offsets[i], '\0');
        out += slices[i].bytes;
    }
    return out;
}

std::string fatOf(const std::vector<int32_t>& cputypes, size_t sliceLength, bool fat64) {
    std::vector<FatSlice> slices;
    for (int32_t t : cputypes) slices.push_back({t, 3, thinMachO(t, 3, sliceLength), 12});
    return fatMachO(slices, fat64);
}

std::string rawWords(const std::vector<uint32_t>& words) {
    std::string out;
    for (uint32_t w : words) put32(out, w, true);
    return out;
}

std::string writeBinary(const std::string& path, const std::string& bytes, mode_t mode) {
    fs::create_directories(fs::path(path).parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + path);
    }
    ::chmod(path.c_str(), mode);
    return path;
}

std::string makeAppBundle(const std::string& folder, const std::string& name,
                          const std::string& executableBytes, const std::string& executableName,
                          const std::string& iconFile) {
    const std::string bundle = folder + "/" + name;
    hvn::Dictionary info;
    info["CFBundleExecutable"] = hvn::Value(executableName);
    info["CFBundleIdentifier"] = hvn::Value("com.example." + executableName);
    if (!iconFile.empty()) {
        info["CFBundleIconFile"] = hvn::Value(iconFile);
        writeBinary(bundle + "/Contents/Resources/" + iconFile, "icns", 0644);
    }
    fs::create_directories(bundle + "/Contents/MacOS");
    if (!hvn::PropertyList::writeFile(bundle + "/Contents/Info.plist", hvn::Value(info))) {
        throw std::runtime_error("cannot write the Info.plist of " + bundle);
    }
    writeBinary(bundleExecutable(bundle, executableName), executableBytes, 0755);
    return bundle;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> folderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace hvn::test
