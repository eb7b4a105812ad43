// The halvorn command: a thin front over the engine. Subcommands live in their own files.
#include <cstdio>
#include <string>

#include "CLI/Command.h"
#include "Platform/RunLoop.h"

namespace cli {

namespace {
std::vector<Command>& registry() {
    static std::vector<Command> r;
    return r;
}
}  // namespace

void registerCommand(Command command) { registry().push_back(std::move(command)); }
const std::vector<Command>& commands() { return registry(); }

bool wantsHelp(const Args& args) {
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") return true;
    }
    return false;
}

}  // namespace cli

static void printUsage(FILE* out) {
    std::fprintf(out, "usage: halvorn COMMAND [ARGS...]\n\nCommands:\n");
    for (const auto& c : cli::commands()) std::fprintf(out, "  %-10s %s\n", c.name.c_str(), c.summary.c_str());
    std::fprintf(out, "\nRun 'halvorn COMMAND --help' for the options of a command.\n");
}

int main(int argc, char** argv) {
    hvn::RunLoop::main().bindToCurrentThread();
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(stdout);
        return 0;
    }
    cli::Args args(argv + 2, argv + argc);
    for (const auto& c : cli::commands()) {
        if (c.name == name) return c.run(args);
    }
    std::fprintf(stderr, "halvorn: unknown command '%s'\n", name.c_str());
    printUsage(stderr);
    return 2;
}
