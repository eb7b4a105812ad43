// The systemd system service that runs the daemon, made from its launch-daemon property
// list: ExecStart from "ProgramArguments" (or "Program"), with the program looked up below
// the system root and the daemon's own arguments (--foreground --user UID [--home DIR])
// added; Restart from "KeepAlive" (true: always; a dictionary of conditions: on-failure;
// otherwise no); started with the system (WantedBy=multi-user.target).
//
// Threads: any; pure.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Platform/Value.h"

namespace hvndaemon {

// The unit text. extraArguments are appended to the command (those already in it are not
// repeated). environment holds "NAME=value" assignments for Environment= lines. nullopt with
// errorText when the list is no dictionary, names no program, or holds an argument a unit
// file cannot carry (a control character such as a newline).
std::optional<std::string> systemdUnit(const hvn::Value& plist,
                                       const std::vector<std::string>& extraArguments,
                                       const std::vector<std::string>& environment, std::string* errorText);

// One word of an ExecStart= line (or, with forCommand false, of an Environment= line): in
// double quotes, with backslash and double quote escaped and the specifier sign doubled
// ("%%"), and in a command the variable sign too ("$$"). nullopt for a word holding a
// control character.
std::optional<std::string> unitWord(const std::string& word, bool forCommand = true);

}  // namespace hvndaemon
