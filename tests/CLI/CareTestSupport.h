// Shared pieces of the end-to-end tests of `halvorn care`: running the built command over
// the test's roots, listings of both roots to compare before and after a clean, and readers
// of its JSON report.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "Platform/Bundle.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"
#include "Support/TestRoots.h"

namespace caretest {

namespace fs = std::filesystem;
using nlohmann::json;

struct CareRun {
    int rc = -1;
    std::string out;
    std::string err;
};

// One file or folder of a listing: everything a change would show.
struct Item {
    mode_t mode = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
    std::string content;  // regular files
    std::string target;   // symbolic links
    bool operator==(const Item&) const = default;
    bool isDir() const { return S_ISDIR(mode); }
};
using Listing = std::map<std::string, Item>;

inline Listing listTree(const std::string& top) {
    Listing l;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(top, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const std::string p = it->path().string();
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0) continue;
        Item i;
        i.mode = st.st_mode;
        i.size = S_ISDIR(st.st_mode) ? 0 : st.st_size;
        i.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        if (S_ISREG(st.st_mode)) i.content = hvn::readWholeFile(p).value_or("<unreadable>");
        if (S_ISLNK(st.st_mode)) i.target = fs::read_symlink(p, ec).string();
        l[p] = std::move(i);
    }
    return l;
}

// Paths that differ between two listings (added, removed or changed), for messages.
inline std::vector<std::string> differences(const Listing& a, const Listing& b) {
    std::vector<std::string> d;
    for (const auto& [p, i] : a) {
        auto it = b.find(p);
        if (it == b.end()) {
            d.push_back("gone: " + p);
        } else if (!(it->second == i)) {
            d.push_back("changed: " + p);
        }
    }
    for (const auto& [p, i] : b) {
        if (!a.count(p)) d.push_back("new: " + p);
    }
    return d;
}

inline bool isAtOrBelow(const std::string& path, const std::string& top) {
    return path == top ||
           (path.size() > top.size() && path.compare(0, top.size(), top) == 0 && path[top.size()] == '/');
}

// A reported leaf: a top node without children, or a child of a group.
struct Leaf {
    std::string name;
    int64_t size;
    int check;
    bool operator==(const Leaf&) const = default;
};
using Leaves = std::map<std::string, Leaf>;  // by filePath

inline void PrintTo(const Leaf& l, std::ostream* os) {
    *os << "{" << l.name << ", " << l.size << ", " << l.check << "}";
}

// Decodes standard base64 with padding; "<bad base64>" for anything else.
inline std::string fromBase64(const std::string& text) {
    static const std::string table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.size() % 4 != 0) return "<bad base64>";
    std::string out;
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t n = 0;
        int pad = 0;
        for (size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            size_t v = table.find(c);
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                ++pad;
                v = 0;
            } else if (v == std::string::npos || pad > 0) {
                return "<bad base64>";
            }
            n = (n << 6) | static_cast<uint32_t>(v);
        }
        out += static_cast<char>(n >> 16);
        if (pad < 2) out += static_cast<char>((n >> 8) & 0xFF);
        if (pad < 1) out += static_cast<char>(n & 0xFF);
    }
    return out;
}

// The exact text of a node's key: from its "<key>Bytes" when there is one.
inline std::string exact(const json& node, const std::string& key) {
    if (node.contains(key + "Bytes")) return fromBase64(node[key + "Bytes"]);
    return node[key];
}

class CareTestBase : public hvn::test::RootsTest {
protected:
    std::string h(const std::string& rel) const { return roots.home() + "/" + rel; }
    std::string r(const std::string& rel) const { return roots.root() + "/" + rel; }
    std::string file(const std::string& path, size_t bytes) const {
        return roots.writeFile(path, std::string(bytes, 'x'));
    }

    // Runs `halvorn care ARGS` with the test's roots, the given standard input and extra
    // environment assignments ("NAME=value ..."). The privileged route is refused.
    CareRun care(const std::string& args, const std::string& input = "", const std::string& env = "") {
        const std::string in = roots.base() + "/care-stdin";
        const std::string err = roots.base() + "/care-stderr";
        roots.writeFile(in, input);
        CareRun run;
        run.rc =
            hvn::test::runCommand("cd / && env -u XDG_DATA_HOME HALVORN_LOG=quiet HALVORN_AUTH=deny " + env +
                                      " " + hvn::test::cliPath() + " care " + args + " <" + in + " 2>" + err,
                                  &run.out);
        run.err = hvn::readWholeFile(err).value_or("");
        return run;
    }
    json careJson(const std::string& args = "") {
        CareRun run = care("--json " + args);
        EXPECT_EQ(run.rc, 0) << run.err;
        json doc = json::parse(run.out, nullptr, false);
        EXPECT_TRUE(doc.is_object()) << run.out;
        return doc;
    }
    int settings(const std::string& args) {
        std::string out;
        int rc = hvn::test::runCommand(
            "HALVORN_LOG=quiet " + hvn::test::cliPath() + " settings " + args + " 2>&1", &out);
        EXPECT_EQ(rc, 0) << out;
        return rc;
    }
    std::string prefsPath() const {
        return h("Library/Preferences/" + hvn::Bundle::bundleIdentifier() + ".plist");
    }
    // Stores a top-level user-defaults key in the preferences file, as the care screen does.
    void storeChoice(const std::string& key, bool value) {
        hvn::Value prefs = hvn::PropertyList::readFile(prefsPath()).value_or(hvn::Value(hvn::Dictionary{}));
        prefs.dictionary()[key] = value;
        ASSERT_TRUE(hvn::PropertyList::writeFile(prefsPath(), prefs));
    }
    Listing listing() const {
        Listing l = listTree(roots.home());
        for (auto& e : listTree(roots.root())) l.insert(std::move(e));
        return l;
    }

    // --- Reading the report ---
    static std::vector<std::string> categoryNames(const json& doc) {
        std::vector<std::string> names;
        for (const auto& c : doc["categories"]) names.push_back(c["name"]);
        return names;
    }
    static std::vector<int> moduleIds(const json& doc, const std::string& category) {
        std::vector<int> ids;
        for (const auto& c : doc["categories"]) {
            if (c["name"] != category) continue;
            for (const auto& m : c["modules"]) ids.push_back(m["id"]);
        }
        return ids;
    }
    static const json* module(const json& doc, int id) {
        for (const auto& c : doc["categories"]) {
            for (const auto& m : c["modules"]) {
                if (m["id"] == id) return &m;
            }
        }
        return nullptr;
    }
    static Leaves leaves(const json& doc, int id) {
        Leaves l;
        const json* m = module(doc, id);
        if (!m) return l;
        for (const auto& n : (*m)["items"]) {
            if (n.contains("children")) {
                for (const auto& c : n["children"])
                    l[c["filePath"]] = {c["name"], c["fileSize"], c["isCheck"]};
            } else {
                l[n["filePath"]] = {n["name"], n["fileSize"], n["isCheck"]};
            }
        }
        return l;
    }
    static std::map<int, Leaves> allLeaves(const json& doc) {
        std::map<int, Leaves> all;
        for (const auto& c : doc["categories"]) {
            for (const auto& m : c["modules"]) all[m["id"]] = leaves(doc, m["id"]);
        }
        return all;
    }
    static int64_t tickedLeafCount(const json& doc) {
        int64_t n = 0;
        for (const auto& [id, l] : allLeaves(doc)) {
            for (const auto& [p, leaf] : l) n += leaf.check != 0;
        }
        return n;
    }
};

}  // namespace caretest
