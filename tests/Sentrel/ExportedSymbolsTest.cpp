// The library exports its classes and nothing else: its static layers and internal helpers
// (the signature index among them) stay hidden.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "Support/TestRoots.h"

namespace {

const char* const kExported[] = {"VirusManager::",        "HVNVirusCodeObj::",     "HVNBadCookieObj::",
                                 "VirusPathDBManager::",  "VirusCookieDBManager::", "VirusDatabase::",
                                 "VirusEncryptManager::"};

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// The class a demangled symbol belongs to, with "vtable for " and the like taken off.
std::string owner(std::string name) {
    for (const char* lead : {"vtable for ", "typeinfo for ", "typeinfo name for ", "VTT for ",
                             "non-virtual thunk to ", "virtual thunk to "}) {
        if (startsWith(name, lead)) name = name.substr(std::string(lead).size());
    }
    return name;
}

}  // namespace

TEST(ExportedSymbolsTest, OnlyTheLibraryClassesAreExported) {
    if (hvn::test::runCommand("command -v nm >/dev/null && command -v c++filt >/dev/null") != 0) {
        GTEST_SKIP() << "nm or c++filt is missing";
    }
    const std::string library = hvn::test::bundlePath() + "/Contents/Frameworks/libsentrel.so";
    std::string out;
    ASSERT_EQ(hvn::test::runCommand("nm -D --defined-only '" + library + "' | c++filt", &out), 0);
    std::istringstream lines(out);
    std::string line;
    std::vector<std::string> stray;
    size_t classSymbols = 0;
    bool sawIndexHelper = false;
    while (std::getline(lines, line)) {
        // "<address> <type> <name>"
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type;
        std::getline(fields, name);
        if (!name.empty() && name[0] == ' ') name.erase(0, 1);
        if (name.empty()) continue;
        if (name.find("VirusSignatureIndex") != std::string::npos) sawIndexHelper = true;
        const std::string o = owner(name);
        bool ours = false;
        for (const char* prefix : kExported) ours = ours || startsWith(o, prefix) || o == std::string(prefix, std::string(prefix).size() - 2);
        if (ours) {
            ++classSymbols;
            continue;
        }
        // Templates of the standard library instantiated for the exported classes (shared
        // pointers to them, say) have vague linkage and come along as weak symbols.
        const bool vague = type == "W" || type == "V" || type == "u";
        if (vague && (startsWith(o, "std::") || startsWith(o, "__gnu_cxx::"))) continue;
        stray.push_back(type + " " + name);
    }
    EXPECT_GT(classSymbols, 10u) << out;
    EXPECT_FALSE(sawIndexHelper) << "the signature index is internal";
    std::string shown;
    for (const auto& s : stray) shown += s + "\n";
    EXPECT_TRUE(stray.empty()) << "symbols outside the exported classes:\n" << shown;
}
