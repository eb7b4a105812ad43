// The job description of a launchd property list (a launch agent or daemon): its label and
// the program it starts. Pure functions over bytes or one file; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Platform/Value.h"

namespace hvn {

struct LaunchdJob {
    // Property lists larger than this are refused, never read further.
    static constexpr size_t kMaxFileSize = 8 * 1024 * 1024;

    std::optional<std::string> label;    // "Label" when it is a string
    std::optional<std::string> program;  // "Program" when it is a string
    // "ProgramArguments" when it is an array; elements that are no strings read as "".
    std::optional<std::vector<std::string>> programArguments;

    // The program the job starts, as launchd chooses it: "Program" when it is a non-empty
    // string, else the first element of "ProgramArguments" when that is a non-empty string;
    // nullopt when neither names one.
    std::optional<std::string> executable() const;

    // Reads a job from XML or binary property-list bytes. nullopt when the bytes are no
    // property list or hold no dictionary at the top.
    static std::optional<LaunchdJob> parse(const std::string& bytes);

    enum class ReadStatus {
        Read,        // a job was read
        NotRegular,  // the path is a symbolic link, a folder or another special file: not a job file
        Missing,     // nothing at the path
        Unreadable,  // it could not be opened or read (errorText tells why), or is too large
        Corrupt,     // it is no property list, or no dictionary
    };
    // Reads the job file at path without following a final symbolic link and without
    // blocking on special files. job is filled when the status is Read.
    static ReadStatus readFile(const std::string& path, LaunchdJob* job, std::string* errorText = nullptr);

    // --- Switching a job off and on by its program path ---
    // A job is switched off by appending the path component "disable" to its program path,
    // so that the program can no longer be started (/usr/local/bin/tool becomes
    // /usr/local/bin/tool/disable), and on again by removing that last component. A program
    // path counts as switched off when its last component contains "disable".
    static bool isDisabledProgram(const std::string& programPath);

    // The property-list dictionary with the job switched off (disable) or on. The program
    // path is changed where it stands: the first element of "ProgramArguments" (the other
    // arguments unchanged) and "Program"; when both are given both change, since launchd
    // starts "Program" and the startup list reads the first argument. A path already in the
    // asked state is left as it is. Every other key is kept. changed (may be null) tells
    // whether anything changed. nullopt with errorText when plist is no dictionary, names no
    // program, or a program cannot be switched on (a path of the one component "disable").
    static std::optional<Value> switchedProgram(const Value& plist, bool disable, bool* changed = nullptr,
                                                std::string* errorText = nullptr);
};

}  // namespace hvn
