#include "CLI/Interaction.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>

namespace cli {

namespace {

std::atomic<bool> gInterrupted{false};

void onInterrupt(int) {
    gInterrupted.store(true);
}

}  // namespace

void catchInterrupts() {
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool interrupted() {
    return gInterrupted.load();
}

bool askYes(const std::string& question) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    std::string answer;
    return std::getline(std::cin, answer) && (answer == "y" || answer == "Y" || answer == "yes");
}

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char buf[PATH_MAX];
    if (!::getcwd(buf, sizeof buf)) return path;
    std::string cwd = buf;
    std::string rel = path;
    while (rel.rfind("./", 0) == 0) rel.erase(0, 2);
    if (rel == "." || rel.empty()) return cwd;
    return (cwd == "/" ? "" : cwd) + "/" + rel;
}

}  // namespace cli
