// Fuzzes the reading of a trash's names: percentDecode on the input itself, and
// dropStaleDirectorySizes on the input written as the "directorysizes" file of a small trash
// in a temporary folder (made once per process, removed at exit). After the rewrite, the
// file must hold exactly the lines that name an item with a .trashinfo, in their order.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Platform/Trash.h"

namespace fs = std::filesystem;
namespace Trash = hvn::Trash;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// The items that have a record; "sub" is a folder in info/ that is no record, so that a name
// cut short at a NUL byte ("sub%00") would find something.
const std::set<std::string> kRecorded = {"one", "two words", "%", "caf\xc3\xa9"};

std::string makeTrash() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/halvorn-fuzz-trash.XXXXXX";
    check(::mkdtemp(pattern.data()) != nullptr);
    const std::string trash = pattern + "/Trash";
    fs::create_directories(trash + "/info/sub");
    fs::create_directories(trash + "/files");
    for (const auto& name : kRecorded) {
        std::ofstream(trash + "/info/" + name + ".trashinfo") << "[Trash Info]\nPath=/x\n";
        fs::create_directories(trash + "/files/" + name);
    }
    static std::string base = pattern;
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(base, ec);
    });
    return trash;
}

const std::string& trashDir() {
    static const std::string dir = makeTrash();
    return dir;
}

size_t count(const std::string& text, char c) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

// "size mtime percent-encoded-name", the name being all that follows the second space.
bool namesARecord(const std::string& line) {
    size_t a = line.find(' ');
    if (a == std::string::npos) return false;
    size_t b = line.find(' ', a + 1);
    if (b == std::string::npos) return false;
    auto name = Trash::percentDecode(line.substr(b + 1));
    return name && kRecorded.count(*name) == 1;
}

void checkPercentDecode(const std::string& text) {
    auto decoded = Trash::percentDecode(text);
    if (!decoded) {
        check(count(text, '%') > 0);
        return;
    }
    // Each escape is three bytes that become one.
    check(decoded->size() == text.size() - 2 * count(text, '%'));
    if (count(text, '%') == 0) check(*decoded == text);
}

void checkDirectorySizes(const std::string& text) {
    const std::string& trash = trashDir();
    const std::string cache = trash + "/directorysizes";
    int fd = ::open(cache.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    check(fd >= 0);
    check(::fchmod(fd, 0600) == 0);
    check(::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()));
    check(::close(fd) == 0);

    std::string error;
    check(Trash::dropStaleDirectorySizes(trash, &error));

    std::string expected;
    bool allKept = true;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (namesARecord(line)) {
            expected += line + "\n";
        } else {
            allKept = false;
        }
    }
    // A cache with nothing to drop is left exactly as it is.
    if (allKept) expected = text;

    std::ifstream in(cache, std::ios::binary);
    std::stringstream after;
    after << in.rdbuf();
    check(after.str() == expected);

    struct ::stat st;
    check(::lstat(cache.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07777) == 0600);
    // No temporary file is left beside it.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(trash)) ++entries;
    check(entries == 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    checkPercentDecode(text);
    checkDirectorySizes(text);
    return 0;
}
