#include "Platform/Locale.h"

#include <unicode/locdspnm.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "Platform/Roots.h"
#include "Platform/UserDefaults.h"

namespace hvn::Locale {

namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Accepts BCP 47 tags ("zh-Hans") and POSIX-style identifiers ("pt_BR").
icu::Locale toIcuLocale(const std::string& identifier) {
    std::string tag = identifier;
    std::replace(tag.begin(), tag.end(), '_', '-');
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale loc = icu::Locale::forLanguageTag(tag, status);
    if (U_SUCCESS(status) && !loc.isBogus() && loc.getLanguage()[0] != '\0') return loc;
    return icu::Locale::createCanonical(identifier.c_str());
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep)) out.push_back(trim(part));
    return out;
}

void appendUnique(std::vector<std::string>& list, const std::string& code) {
    if (code.empty()) return;
    if (std::find(list.begin(), list.end(), code) == list.end()) list.push_back(code);
}

// The value of KEY=value in a shell-style or key-file text, quotes removed; nullopt when absent.
std::optional<std::string> assignedValue(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string line;
    std::optional<std::string> found;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.rfind("export ", 0) == 0) t = trim(t.substr(7));
        if (t.size() <= key.size() || t.compare(0, key.size(), key) != 0) continue;
        std::string rest = trim(t.substr(key.size()));
        if (rest.empty() || rest[0] != '=') continue;
        std::string v = trim(rest.substr(1));
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
            v = v.substr(1, v.size() - 2);
        }
        found = v;  // the last assignment wins, as in a shell
    }
    return found;
}

std::optional<std::string> readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string firstLayout(const std::string& list) {
    auto parts = split(list, ',');
    return parts.empty() ? std::string() : parts.front();
}

}  // namespace

std::optional<std::string> displayName(const std::string& identifier, const std::string& displayLocale) {
    if (identifier.empty()) return std::nullopt;
    icu::Locale loc = toIcuLocale(identifier);
    if (loc.isBogus() || loc.getLanguage()[0] == '\0') return std::nullopt;
    UDisplayContext contexts[] = {UDISPCTX_NO_SUBSTITUTE};
    std::unique_ptr<icu::LocaleDisplayNames> names(
        icu::LocaleDisplayNames::createInstance(toIcuLocale(displayLocale), contexts, 1));
    if (!names) return std::nullopt;
    // Without substitution ICU answers a bogus text when it lacks the language's name,
    // rather than echoing the code.
    icu::UnicodeString language;
    names->languageDisplayName(loc.getLanguage(), language);
    if (language.isBogus() || language.isEmpty()) return std::nullopt;
    icu::UnicodeString out;
    names->localeDisplayName(loc, out);
    if (out.isBogus() || out.isEmpty()) out = language;
    std::string utf8;
    out.toUTF8String(utf8);
    return utf8;
}

std::string upperFirst(const std::string& text) {
    if (text.empty()) return text;
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(text);
    if (u.isEmpty()) return text;
    int32_t firstLength = U16_LENGTH(u.char32At(0));
    icu::UnicodeString first(u, 0, firstLength);
    icu::UnicodeString rest(u, firstLength);
    first.toUpper(icu::Locale::getRoot());
    std::string out;
    first.append(rest).toUTF8String(out);
    return out;
}

std::string languageCodeFromPosixLocale(const std::string& posixLocale) {
    std::string s = trim(posixLocale);
    std::string modifier;
    if (auto at = s.find('@'); at != std::string::npos) {
        modifier = lower(s.substr(at + 1));
        s = s.substr(0, at);
    }
    if (auto dot = s.find('.'); dot != std::string::npos) s = s.substr(0, dot);
    if (s.empty() || s == "C" || s == "POSIX") return {};
    std::replace(s.begin(), s.end(), '-', '_');
    auto parts = split(s, '_');
    if (parts.empty()) return {};
    std::string language = lower(parts[0]);
    if (language.size() < 2 || language.size() > 3 ||
        !std::all_of(language.begin(), language.end(), [](char c) { return c >= 'a' && c <= 'z'; })) {
        return {};
    }
    std::string script, region;
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string& p = parts[i];
        if (p.size() == 4 && std::isalpha(static_cast<unsigned char>(p[0]))) {
            script = static_cast<char>(std::toupper(static_cast<unsigned char>(p[0]))) + lower(p.substr(1));
        } else if (!p.empty() && region.empty()) {
            region = p;
            for (auto& c : region) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    if (modifier == "latin") script = "Latn";
    if (modifier == "cyrillic") script = "Cyrl";

    if (language == "zh") {
        if (script == "Hans" || script == "Hant") return "zh-" + script;
        if (region == "TW" || region == "MO") return "zh-Hant";
        if (region == "HK") return "zh-HK";
        return "zh-Hans";
    }
    if (!script.empty()) return language + "-" + script;
    static const char* regional[] = {"en-GB", "en-AU",  "en-CA", "en-IN", "fr-CA",
                                     "es-MX", "es-419", "pt-BR", "pt-PT"};
    std::string withRegion = language + "-" + region;
    for (const char* r : regional) {
        if (withRegion == r) return withRegion;
    }
    return language;
}

std::vector<std::string> languagesFromEnvironment() {
    std::vector<std::string> out;
    if (const char* list = std::getenv("LANGUAGE"); list && *list) {
        for (const auto& item : split(list, ':')) appendUnique(out, languageCodeFromPosixLocale(item));
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (!v || !*v) continue;
        appendUnique(out, languageCodeFromPosixLocale(v));
        break;
    }
    return out;
}

std::vector<std::string> preferredLanguages() {
    Value stored = UserDefaults::standardUserDefaults().objectForKey("AppleLanguages");
    std::vector<std::string> out;
    if (stored.isArray()) {
        for (const auto& v : stored.asArray()) {
            if (v.isString() && !v.asString().empty()) out.push_back(v.asString());
        }
    } else if (stored.isString() && !stored.asString().empty()) {
        out.push_back(stored.asString());
    }
    if (!out.empty()) return out;
    return languagesFromEnvironment();
}

std::vector<std::string> languagesOfXkbLayout(const std::string& layout) {
    // Layout names of xkeyboard-config and the languages written with them.
    static const std::map<std::string, std::vector<std::string>> table = {
        {"us", {"en"}},
        {"gb", {"en"}},
        {"au", {"en"}},
        {"ie", {"en", "ga"}},
        {"de", {"de"}},
        {"at", {"de"}},
        {"ch", {"de", "fr", "it"}},
        {"fr", {"fr"}},
        {"be", {"nl", "fr", "de"}},
        {"ca", {"fr", "en"}},
        {"es", {"es"}},
        {"latam", {"es"}},
        {"it", {"it"}},
        {"pt", {"pt"}},
        {"br", {"pt-BR"}},
        {"nl", {"nl"}},
        {"se", {"sv"}},
        {"dk", {"da"}},
        {"no", {"nb"}},
        {"fi", {"fi"}},
        {"is", {"is"}},
        {"ee", {"et"}},
        {"lv", {"lv"}},
        {"lt", {"lt"}},
        {"pl", {"pl"}},
        {"cz", {"cs"}},
        {"sk", {"sk"}},
        {"hu", {"hu"}},
        {"ro", {"ro"}},
        {"si", {"sl"}},
        {"hr", {"hr"}},
        {"rs", {"sr"}},
        {"ba", {"bs"}},
        {"me", {"sr"}},
        {"mk", {"mk"}},
        {"bg", {"bg"}},
        {"al", {"sq"}},
        {"gr", {"el"}},
        {"tr", {"tr"}},
        {"ru", {"ru"}},
        {"ua", {"uk"}},
        {"by", {"be"}},
        {"kz", {"kk"}},
        {"ge", {"ka"}},
        {"am", {"hy"}},
        {"az", {"az"}},
        {"il", {"he"}},
        {"ara", {"ar"}},
        {"ir", {"fa"}},
        {"pk", {"ur"}},
        {"af", {"ps", "fa"}},
        {"in", {"hi"}},
        {"bd", {"bn"}},
        {"lk", {"si"}},
        {"np", {"ne"}},
        {"th", {"th"}},
        {"vn", {"vi"}},
        {"la", {"lo"}},
        {"kh", {"km"}},
        {"mm", {"my"}},
        {"cn", {"zh-Hans"}},
        {"tw", {"zh-Hant"}},
        {"jp", {"ja"}},
        {"kr", {"ko"}},
        {"mn", {"mn"}},
        {"id", {"id"}},
        {"my", {"ms"}},
        {"ph", {"fil"}},
        {"mt", {"mt"}},
        {"ke", {"sw"}},
        {"tz", {"sw"}},
        {"za", {"en", "af"}},
    };
    // "de(nodeadkeys)" and similar variants name the layout before the parenthesis.
    std::string name = lower(trim(layout.substr(0, layout.find('('))));
    auto it = table.find(name);
    return it == table.end() ? std::vector<std::string>() : it->second;
}

std::vector<std::string> keyboardInputLanguages() {
    std::string layout;
    if (const char* env = std::getenv("XKB_DEFAULT_LAYOUT"); env && *env) layout = firstLayout(env);
    if (layout.empty()) {
        if (auto text = readText(Roots::homePath(".config/kxkbrc"))) {
            if (auto v = assignedValue(*text, "LayoutList")) layout = firstLayout(*v);
        }
    }
    if (layout.empty()) {
        if (auto text = readText(Roots::systemPath("/etc/default/keyboard"))) {
            if (auto v = assignedValue(*text, "XKBLAYOUT")) layout = firstLayout(*v);
        }
    }
    if (layout.empty()) return {};
    return languagesOfXkbLayout(layout);
}

}  // namespace hvn::Locale
