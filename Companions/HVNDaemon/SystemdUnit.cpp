#include "Companions/HVNDaemon/SystemdUnit.h"

#include <algorithm>

#include "Platform/Roots.h"

namespace hvndaemon {

namespace {

bool fail(std::string* errorText, const std::string& text) {
    if (errorText) *errorText = text;
    return false;
}

bool hasControl(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

}  // namespace

std::optional<std::string> unitWord(const std::string& word, bool forCommand) {
    if (hasControl(word)) return std::nullopt;
    std::string out = "\"";
    for (char c : word) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '%') {
            out += "%%";
        } else if (c == '$' && forCommand) {
            out += "$$";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::optional<std::string> systemdUnit(const hvn::Value& plist,
                                       const std::vector<std::string>& extraArguments,
                                       const std::vector<std::string>& environment, std::string* errorText) {
    if (!plist.isDictionary()) {
        fail(errorText, "the property list holds no dictionary");
        return std::nullopt;
    }
    std::vector<std::string> command;
    if (const hvn::Value* args = plist.find("ProgramArguments"); args && args->isArray()) {
        for (const hvn::Value& a : args->asArray()) {
            if (!a.isString()) {
                fail(errorText, "\"ProgramArguments\" holds something other than text");
                return std::nullopt;
            }
            command.push_back(a.asString());
        }
    }
    if (const hvn::Value* program = plist.find("Program");
        program && program->isString() && !program->asString().empty()) {
        // launchd starts "Program" with "ProgramArguments" as its argument vector, whose first
        // element is only the program's name then.
        if (command.empty()) {
            command.push_back(program->asString());
        } else {
            command.front() = program->asString();
        }
    }
    if (command.empty() || command.front().empty() || command.front()[0] != '/') {
        fail(errorText, "the property list names no absolute program path");
        return std::nullopt;
    }
    command.front() = hvn::Roots::systemPath(command.front());
    for (size_t i = 0; i < extraArguments.size(); ++i) {
        const std::string& a = extraArguments[i];
        const bool option = a.rfind("--", 0) == 0;
        if (option && std::find(command.begin() + 1, command.end(), a) != command.end()) {
            // An option already given keeps its own value.
            if (i + 1 < extraArguments.size() && extraArguments[i + 1].rfind("--", 0) != 0) ++i;
            continue;
        }
        command.push_back(a);
    }

    std::string exec;
    for (const auto& word : command) {
        auto quoted = unitWord(word);
        if (!quoted) {
            fail(errorText, "an argument of the program holds a control character");
            return std::nullopt;
        }
        exec += (exec.empty() ? "" : " ") + *quoted;
    }

    std::string label = "HVNDaemon";
    if (const hvn::Value* l = plist.find("Label"); l && l->isString() && !l->asString().empty()) {
        label = l->asString();
    }
    for (char& c : label) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    }
    std::string description;
    for (char c : label) description += c == '%' ? std::string("%%") : std::string(1, c);

    std::string restart = "no";
    if (const hvn::Value* keepAlive = plist.find("KeepAlive")) {
        if (keepAlive->isBool() && keepAlive->asBool()) restart = "always";
        if (keepAlive->isDictionary()) restart = "on-failure";
    }

    std::string unit =
        "[Unit]\nDescription=" + description + "\nAfter=local-fs.target\n\n[Service]\nType=simple\n";
    for (const auto& assignment : environment) {
        auto quoted = unitWord(assignment, false);
        if (!quoted) {
            fail(errorText, "an environment assignment holds a control character");
            return std::nullopt;
        }
        unit += "Environment=" + *quoted + "\n";
    }
    unit += "ExecStart=" + exec + "\nRestart=" + restart + "\n";
    if (restart != "no") unit += "RestartSec=1\n";
    unit += "\n[Install]\nWantedBy=multi-user.target\n";
    return unit;
}

}  // namespace hvndaemon
