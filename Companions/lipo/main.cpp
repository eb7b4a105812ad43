// lipo: the bundle's tool for universal (fat) Mach-O files, used where the system has no
// /usr/bin/lipo. It lists the architectures of a file and writes the slice of one
// architecture to another file (Platform/MachO.h does the work). Exit status 0 on success,
// 1 with a message on standard error for any failure.
#include <cstdio>
#include <string>
#include <vector>

#include "Platform/MachO.h"

namespace {

const char* kUsage =
    "usage: lipo INPUT -thin ARCH -output OUTPUT\n"
    "       lipo -archs INPUT\n"
    "       lipo -info INPUT...\n"
    "\n"
    "  -thin ARCH      write only the ARCH slice of INPUT (or INPUT whole when it is a thin\n"
    "                  file of ARCH) to OUTPUT, keeping INPUT's mode bits and times; OUTPUT\n"
    "                  may be INPUT itself and is replaced only when the copy is complete\n"
    "  -output OUTPUT  the file -thin writes\n"
    "  -archs          print the architecture names of INPUT on one line\n"
    "  -info           describe each INPUT as a fat file and its architectures, or a thin one\n"
    "  -help           show this text\n"
    "\n"
    "Architecture names: i386 x86_64 x86_64h ppc ppc64 arm arm64 arm64e arm64_32.\n";

int failWith(const std::string& message) {
    std::fprintf(stderr, "lipo: %s\n", message.c_str());
    return 1;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "lipo: %s\n%s", message.c_str(), kUsage);
    return 1;
}

std::string archNames(const hvn::MachO::Header& header) {
    std::string line;
    for (const auto& slice : header.slices) {
        if (!line.empty()) line += ' ';
        line += hvn::MachO::nameOf(slice);
    }
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    enum class Operation { None, Thin, Archs, Info };
    Operation operation = Operation::None;
    std::string arch, output;
    bool haveOutput = false;
    std::vector<std::string> inputs;

    auto setOperation = [&](Operation op) {
        if (operation != Operation::None && operation != op) return false;
        operation = op;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-help" || a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "-thin" || a == "-output") {
            if (i + 1 >= argc) return usageError("missing argument to " + a);
            if (a == "-thin") {
                if (!setOperation(Operation::Thin) || !arch.empty())
                    return usageError("only one operation may be given");
                arch = argv[++i];
                if (arch.empty()) return usageError("empty architecture name");
            } else {
                if (haveOutput) return usageError("-output given twice");
                output = argv[++i];
                haveOutput = true;
            }
        } else if (a == "-archs" || a == "-info") {
            if (!setOperation(a == "-archs" ? Operation::Archs : Operation::Info)) {
                return usageError("only one operation may be given");
            }
        } else if (!a.empty() && a[0] == '-') {
            return usageError("unknown option " + a);
        } else {
            inputs.push_back(a);
        }
    }

    switch (operation) {
        case Operation::None:
            return usageError("no operation given");
        case Operation::Thin: {
            if (inputs.size() != 1) return usageError("-thin takes exactly one input file");
            if (!haveOutput || output.empty()) return usageError("-thin needs -output");
            if (!hvn::MachO::architectureNamed(arch)) return failWith("unknown architecture name: " + arch);
            std::string error;
            if (!hvn::MachO::thin(inputs[0], arch, output, &error)) return failWith(error);
            return 0;
        }
        case Operation::Archs: {
            if (inputs.size() != 1) return usageError("-archs takes exactly one input file");
            if (haveOutput) return usageError("-output is only for -thin");
            std::string error;
            auto header = hvn::MachO::readHeader(inputs[0], &error);
            if (!header) return failWith(error);
            std::printf("%s\n", archNames(*header).c_str());
            return 0;
        }
        case Operation::Info: {
            if (inputs.empty()) return usageError("-info needs at least one input file");
            if (haveOutput) return usageError("-output is only for -thin");
            int status = 0;
            for (const std::string& input : inputs) {
                std::string error;
                auto header = hvn::MachO::readHeader(input, &error);
                if (!header) {
                    status = failWith(error);
                    continue;
                }
                if (header->isFat()) {
                    std::printf("Architectures in the fat file: %s are: %s\n", input.c_str(),
                                archNames(*header).c_str());
                } else {
                    std::printf("Non-fat file: %s is architecture: %s\n", input.c_str(),
                                archNames(*header).c_str());
                }
            }
            return status;
        }
    }
    return 1;
}
