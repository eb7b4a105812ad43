#include "Platform/Roots.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace hvn::Roots {

std::string normalize(const std::string& path) {
    if (path.empty()) return path;
    bool absolute = path[0] == '/';
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string part = path.substr(i, j - i);
        if (part.empty() || part == ".") {
        } else if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(part);
            }
        } else {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out = absolute ? "/" : "";
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k) out += "/";
        out += parts[k];
    }
    if (out.empty()) out = ".";
    return out;
}

std::string home() {
    const char* h = std::getenv("HOME");
    std::string s;
    if (h && *h) {
        s = h;
    } else if (passwd* pw = getpwuid(getuid())) {
        s = pw->pw_dir;
    } else {
        s = "/";
    }
    return normalize(s);
}

std::string system() {
    const char* r = std::getenv("HALVORN_ROOT");
    if (!r || !*r) return "/";
    return normalize(r);
}

std::string systemPath(const std::string& absolutePath) {
    std::string root = system();
    if (root == "/") return absolutePath;
    if (absolutePath.compare(0, root.size(), root) == 0 &&
        (absolutePath.size() == root.size() || absolutePath[root.size()] == '/')) {
        return absolutePath;
    }
    if (absolutePath.empty() || absolutePath[0] != '/') return root + "/" + absolutePath;
    return root + absolutePath;
}

std::string homePath(const std::string& relativePath) {
    std::string h = home();
    if (relativePath.empty()) return h;
    if (relativePath[0] == '/') return (h == "/" ? "" : h) + relativePath;
    return (h == "/" ? "" : h) + "/" + relativePath;
}

std::string resolveRulePath(const std::string& path) {
    if (path.empty()) return path;
    if (path[0] == '~') return homePath(path.substr(1));
    if (path[0] == '/') return systemPath(path);
    return path;
}

std::string locateStoredPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string h = home();
    if (h != "/" && path.compare(0, h.size(), h) == 0 && (path.size() == h.size() || path[h.size()] == '/')) {
        return path;
    }
    return systemPath(path);
}

bool isProtectedPath(const std::string& path) {
    if (path.empty()) return true;
    std::string p = normalize(path);
    if (p == "/" || p == ".") return true;
    auto protects = [&](const std::string& root) {
        std::string r = normalize(root);
        if (p == r) return true;
        std::string parent = p.substr(0, p.rfind('/'));
        if (parent.empty()) parent = "/";
        return parent == r;
    };
    return protects("/") || protects(system()) || protects(home());
}

}  // namespace hvn::Roots
