#include "Platform/Host.h"

#include <sys/utsname.h>

#include <cctype>
#include <fstream>
#include <iterator>

namespace hvn::Host {

namespace {

std::string readTrimmed(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The device-tree model ends in a NUL; DMI values end in a newline.
    while (!s.empty() && (s.back() == '\0' || std::isspace(static_cast<unsigned char>(s.back()))))
        s.pop_back();
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    return s.substr(i);
}

}  // namespace

std::string hardwareModel() {
    std::string model = readTrimmed("/sys/devices/virtual/dmi/id/product_name");
    if (model.empty()) model = readTrimmed("/proc/device-tree/model");
    return model;
}

std::string machine() {
    utsname u{};
    if (uname(&u) != 0) return {};
    return u.machine;
}

Version parseRelease(const std::string& release) {
    int parts[3] = {0, 0, 0};
    size_t i = 0;
    for (int k = 0; k < 3; ++k) {
        if (i >= release.size() || !std::isdigit(static_cast<unsigned char>(release[i]))) break;
        long n = 0;
        while (i < release.size() && std::isdigit(static_cast<unsigned char>(release[i]))) {
            if (n < 1000000) n = n * 10 + (release[i] - '0');
            ++i;
        }
        parts[k] = static_cast<int>(n);
        if (i >= release.size() || release[i] != '.') break;
        ++i;
    }
    return Version{parts[0], parts[1], parts[2]};
}

Version systemVersion() {
    utsname u{};
    if (uname(&u) != 0) return {};
    return parseRelease(u.release);
}

}  // namespace hvn::Host
