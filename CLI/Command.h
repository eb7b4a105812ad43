// The halvorn command's subcommands register themselves here; main() dispatches on the
// first argument. Each subcommand parses the rest of the arguments itself and returns the
// process exit code (0 success, 1 failure, 2 bad usage).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace cli {

using Args = std::vector<std::string>;

struct Command {
    std::string name;
    std::string summary;  // one line for `halvorn --help`
    std::function<int(const Args&)> run;
};

// Adds a command; used through a static CommandRegistration in each command's file.
void registerCommand(Command command);
const std::vector<Command>& commands();

struct CommandRegistration {
    explicit CommandRegistration(Command c) { registerCommand(std::move(c)); }
};

// True when args holds "--help" or "-h".
bool wantsHelp(const Args& args);

}  // namespace cli
