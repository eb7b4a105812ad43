// halvorn settings: reads and writes the user's settings dictionary.
#include <cstdio>

#include "CLI/Command.h"
#include "CLI/Json.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/UserDefaults.h"

namespace {

const char* kUsage =
    "usage: halvorn settings list\n"
    "       halvorn settings get KEY\n"
    "       halvorn settings set KEY VALUE\n"
    "\n"
    "Reads and changes the settings (the defaults are written first for a new user).\n"
    "\n"
    "  list             print every setting as JSON, keys sorted\n"
    "  get KEY          print the value of one setting as JSON (exit 1 when it is not set)\n"
    "  set KEY VALUE    store a setting; VALUE is JSON ('[\"Cookies\",\"Session\"]', true, 1,\n"
    "                   \"2024-05-01T12:00:00Z\" for a date, null to remove the key);\n"
    "                   a VALUE that is not JSON is stored as text\n";

const char* kListUsage =
    "usage: halvorn settings list\n"
    "\n"
    "Prints the settings dictionary as JSON with its keys sorted. Dates are ISO-8601 texts.\n";

const char* kGetUsage =
    "usage: halvorn settings get KEY\n"
    "\n"
    "Prints the value of the setting KEY as JSON; exits 1 when the key is not set.\n";

const char* kSetUsage =
    "usage: halvorn settings set KEY VALUE\n"
    "\n"
    "Stores VALUE under KEY. VALUE is read as JSON: '[\"Cookies\",\"Session\"]' is a list,\n"
    "true and false are booleans, 1 is a number, \"2024-05-01T12:00:00Z\" is a date and null\n"
    "removes the key. A VALUE that is not JSON (Every Day) is stored as text.\n";

// Property lists have no null: a null inside a list or dictionary could not be stored.
bool holdsNestedNull(const hvn::Value& v) {
    if (v.isArray()) {
        for (const auto& e : v.asArray()) {
            if (e.isNull() || holdsNestedNull(e)) return true;
        }
    } else if (v.isDictionary()) {
        for (const auto& [k, e] : v.asDictionary()) {
            if (e.isNull() || holdsNestedNull(e)) return true;
        }
    }
    return false;
}

bool isHelp(const std::string& a) {
    return a == "--help" || a == "-h";
}

int usageError(const char* usage, const char* message) {
    std::fprintf(stderr, "halvorn settings: %s\n\n%s", message, usage);
    return 2;
}

hvn::Value storedSettings() {
    hvn::Value settings = hvn::UserDefaults::standardUserDefaults().objectForKey("Setting");
    return settings.isDictionary() ? settings : hvn::Value(hvn::Dictionary{});
}

int runSettings(const cli::Args& args) {
    if (args.empty()) return usageError(kUsage, "missing subcommand");
    const std::string& sub = args[0];
    if (isHelp(sub)) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    if (sub == "list") {
        if (args.size() > 1 && isHelp(args[1])) {
            std::fputs(kListUsage, stdout);
            return 0;
        }
        if (args.size() != 1) return usageError(kListUsage, "list takes no arguments");
        HVNCommonFunction::initialSettingInfo();
        std::printf("%s\n", cli::json::dump(storedSettings()).c_str());
        return 0;
    }

    if (sub == "get") {
        if (args.size() > 1 && isHelp(args[1])) {
            std::fputs(kGetUsage, stdout);
            return 0;
        }
        if (args.size() != 2) return usageError(kGetUsage, "get takes one KEY");
        HVNCommonFunction::initialSettingInfo();
        hvn::Value value = HVNCommonFunction::getSettingValueByKey(args[1]);
        if (value.isNull()) {
            std::fprintf(stderr, "halvorn settings: no setting '%s'\n", args[1].c_str());
            return 1;
        }
        std::printf("%s\n", cli::json::dump(value).c_str());
        return 0;
    }

    if (sub == "set") {
        if (args.size() > 1 && isHelp(args[1])) {
            std::fputs(kSetUsage, stdout);
            return 0;
        }
        if (args.size() != 3) return usageError(kSetUsage, "set takes KEY and VALUE");
        const std::string& key = args[1];
        if (key.empty()) return usageError(kSetUsage, "KEY must not be empty");
        hvn::Value value = cli::json::parse(args[2]).value_or(hvn::Value(args[2]));
        if (holdsNestedNull(value))
            return usageError(kSetUsage, "null can only stand alone, to remove a key");
        HVNCommonFunction::initialSettingInfo();
        std::string error;
        if (!HVNCommonFunction::changeSettingValue(value, key, &error)) {
            std::fprintf(stderr, "halvorn settings: '%s' was not stored: %s\n", key.c_str(), error.c_str());
            return 1;
        }
        return 0;
    }

    return usageError(kUsage, ("unknown subcommand '" + sub + "'").c_str());
}

const cli::CommandRegistration registration{
    cli::Command{"settings", "read and change the settings (list, get KEY, set KEY VALUE)", runSettings}};

}  // namespace
