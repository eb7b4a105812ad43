// HVNRemove: the privileged removal helper of the bundle. The program runs it through the
// administrator authorization (one prompt for the whole batch) for what it could not remove
// with the user's rights. It reads the batch on standard input, removes each path through
// the same removal gate as the program, evaluated here as root for the user's roots, and
// writes one outcome per path on standard output (Platform/RemovalBatch.h).
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "Platform/Log.h"
#include "Platform/RemovalBatch.h"
#include "Platform/RemovalGate.h"

namespace {

const char* kUsage =
    "usage: HVNRemove --home DIR --root DIR [--rewrite]\n"
    "\n"
    "Removes the paths given on standard input (NUL-separated records: the identity of the\n"
    "folder each was found in, or \"-\", then the path) after the removal gate has admitted\n"
    "each for the home folder DIR and the system root DIR, and writes one NUL-separated\n"
    "outcome per path (removed, missing, failed or refused; the path; the reason).\n"
    "Run by Halvorn with administrator rights; it never follows a symbolic link, never\n"
    "enters another mount and never removes a root, its ancestors or what lies directly in it.\n"
    "\n"
    "  --home DIR    the user's home folder\n"
    "  --root DIR    the system root (/ on a real system)\n"
    "  --rewrite     overwrite files before removing them (shredding)\n";

// The home of the user who asked for the rights (pkexec and sudo say who), protected
// whatever --home says.
std::string invokingUserHome() {
    for (const char* var : {"PKEXEC_UID", "SUDO_UID"}) {
        const char* v = std::getenv(var);
        if (!v || !*v) continue;
        char* end = nullptr;
        long uid = std::strtol(v, &end, 10);
        if (*end != '\0' || uid < 0) continue;
        if (passwd* pw = getpwuid(static_cast<uid_t>(uid))) return pw->pw_dir;
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    std::string home, root;
    bool rewrite = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--rewrite") {
            rewrite = true;
        } else if ((a == "--home" || a == "--root") && i + 1 < argc) {
            (a == "--home" ? home : root) = argv[++i];
        } else {
            std::fprintf(stderr, "HVNRemove: unknown argument '%s'\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (home.empty() || root.empty() || home[0] != '/' || root[0] != '/') {
        std::fprintf(stderr, "HVNRemove: --home and --root must be absolute folders\n%s", kUsage);
        return 2;
    }
    // The roots of the user's session, so that every path is judged as the program judges it.
    setenv("HOME", home.c_str(), 1);
    setenv("HALVORN_ROOT", root.c_str(), 1);

    std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    auto requests = hvn::RemovalBatch::decodeRequests(input);
    if (!requests) {
        std::fprintf(stderr, "HVNRemove: the batch on standard input is malformed; nothing was removed\n");
        return 2;
    }
    std::vector<std::string> roots{root, home};
    std::string invoker = invokingUserHome();
    if (!invoker.empty()) roots.push_back(invoker);
    hvn::RemovalGate gate(roots);
    hvn::Log::writef("HVNRemove: %zu paths%s", requests->size(), rewrite ? ", overwriting" : "");
    std::string out = hvn::RemovalBatch::encodeOutcomes(hvn::RemovalBatch::removeAll(*requests, gate, rewrite));
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
