// Signature lists and files for the tests of the signature matching.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Sentrel/HVNVirusCodeObj.h"

namespace sigtest {

inline hvn::Data bytesOf(const std::string& s) {
    return hvn::Data(s.begin(), s.end());
}

// A signature; `bytes` defaults to the real length.
inline HVNVirusCodeObjPtr sig(const std::string& name, const std::string& code, int64_t start, int64_t bytes = -1) {
    auto s = std::make_shared<HVNVirusCodeObj>();
    s->virus_name = name;
    s->virus_code = bytesOf(code);
    s->start_index = start;
    s->bytes = bytes < 0 ? static_cast<int64_t>(code.size()) : bytes;
    return s;
}

// The EICAR test string, made from its hexadecimal form so that no readable copy of it
// stands in the sources.
inline std::string eicar() {
    const char* hex =
        "58354F2150254041505B345C505A58353428505E2937434329377D2445494341522D5354414E444152442D414E54"
        "4956495255532D544553542D46494C452124482B482A";
    std::string out;
    for (const char* p = hex; p[0] && p[1]; p += 2) out.push_back(static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16)));
    return out;
}

// Writes `contents` to path (created or truncated).
inline void writeBytes(const std::string& path, const std::string& contents) {
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    size_t done = 0;
    while (done < contents.size()) {
        ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

// `size` filler bytes with `what` placed at `offset`.
inline std::string withAt(size_t size, size_t offset, const std::string& what, char filler = '.') {
    std::string s(size, filler);
    s.replace(offset, what.size(), what);
    return s.substr(0, std::max(size, offset + what.size()));
}

}  // namespace sigtest
