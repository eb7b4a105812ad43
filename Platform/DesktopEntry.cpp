#include "Platform/DesktopEntry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace hvn {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool isKeyChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// "Key" or "Key[locale]"; the locale part may hold anything printable but brackets.
bool isValidKey(std::string_view key) {
    size_t i = 0;
    while (i < key.size() && isKeyChar(key[i])) ++i;
    if (i == 0) return false;
    if (i == key.size()) return true;
    if (key[i] != '[' || key.back() != ']' || key.size() - i < 3) return false;
    for (size_t j = i + 1; j + 1 < key.size(); ++j) {
        unsigned char c = static_cast<unsigned char>(key[j]);
        if (c < 0x20 || c == 0x7f || c == '[' || c == ']' || c == '=') return false;
    }
    return true;
}

bool isValidGroup(std::string_view group) {
    if (group.empty()) return false;
    for (unsigned char c : group) {
        if (c < 0x20 || c == 0x7f || c == '[' || c == ']') return false;
    }
    return true;
}

std::string lineError(size_t number, const char* reason) {
    return "line " + std::to_string(number) + ": " + reason;
}

}  // namespace

std::optional<DesktopEntry> DesktopEntry::parse(std::string_view bytes, std::string* errorText) {
    auto fail = [&](std::string reason) -> std::optional<DesktopEntry> {
        if (errorText) *errorText = std::move(reason);
        return std::nullopt;
    };
    if (bytes.find('\0') != std::string_view::npos) return fail("the file holds a NUL byte");

    DesktopEntry entry;
    std::string group;
    size_t number = 0;
    size_t pos = 0;
    while (pos < bytes.size()) {
        ++number;
        size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view text = bytes.substr(pos, end - pos);
        pos = end + 1;
        if (text.size() > kMaxLineLength) return fail(lineError(number, "the line is too long"));

        Line line;
        line.text = std::string(text);
        std::string_view content = text;
        if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
        std::string_view stripped = trim(content);

        if (stripped.empty() || stripped.front() == '#') {
            line.kind = LineKind::Other;
            line.group = group;
        } else if (stripped.front() == '[') {
            if (stripped.back() != ']') return fail(lineError(number, "a group header without \"]\""));
            std::string_view name = stripped.substr(1, stripped.size() - 2);
            if (!isValidGroup(name)) return fail(lineError(number, "a group name that is not valid"));
            if (group.empty() && name != kMainGroup) {
                return fail(lineError(number, "the first group is not [Desktop Entry]"));
            }
            group = std::string(name);
            line.kind = LineKind::Group;
            line.group = group;
        } else {
            size_t eq = stripped.find('=');
            if (eq == std::string_view::npos)
                return fail(lineError(number, "neither a key, a group nor a comment"));
            std::string_view key = trim(stripped.substr(0, eq));
            if (!isValidKey(key)) return fail(lineError(number, "a key that is not valid"));
            if (group.empty()) return fail(lineError(number, "a key before the first group"));
            line.kind = LineKind::Entry;
            line.group = group;
            line.key = std::string(key);
            line.raw = std::string(trim(stripped.substr(eq + 1)));
        }
        entry.lines_.push_back(std::move(line));
    }
    if (!entry.hasGroup(kMainGroup)) return fail("no [Desktop Entry] group");
    return entry;
}

std::optional<DesktopEntry> DesktopEntry::readFile(const std::string& path, std::string* errorText) {
    auto fail = [&](const std::string& reason) -> std::optional<DesktopEntry> {
        if (errorText) *errorText = path + ": " + reason;
        return std::nullopt;
    };
    // O_NONBLOCK: a FIFO put in place of an entry must not hang the reader.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return fail(std::strerror(errno));
    struct ::stat st {};
    if (::fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        return fail(std::strerror(e));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("not a regular file");
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
        ::close(fd);
        return fail("larger than " + std::to_string(kMaxFileSize) + " bytes");
    }
    std::string bytes;
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            ::close(fd);
            return fail(std::strerror(e));
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
        if (bytes.size() > kMaxFileSize) {
            ::close(fd);
            return fail("larger than " + std::to_string(kMaxFileSize) + " bytes");
        }
    }
    ::close(fd);
    std::string reason;
    auto entry = parse(bytes, &reason);
    if (!entry) return fail(reason);
    return entry;
}

std::vector<std::string> DesktopEntry::groups() const {
    std::vector<std::string> out;
    for (const auto& l : lines_) {
        if (l.kind == LineKind::Group && std::find(out.begin(), out.end(), l.group) == out.end()) {
            out.push_back(l.group);
        }
    }
    return out;
}

bool DesktopEntry::hasGroup(const std::string& group) const {
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const Line& l) { return l.kind == LineKind::Group && l.group == group; });
}

std::vector<std::string> DesktopEntry::keys(const std::string& group) const {
    std::vector<std::string> out;
    for (const auto& l : lines_) {
        if (l.kind == LineKind::Entry && l.group == group &&
            std::find(out.begin(), out.end(), l.key) == out.end()) {
            out.push_back(l.key);
        }
    }
    return out;
}

const DesktopEntry::Line* DesktopEntry::findEntry(const std::string& group, const std::string& key) const {
    for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) {
        if (it->kind == LineKind::Entry && it->group == group && it->key == key) return &*it;
    }
    return nullptr;
}

std::optional<std::string> DesktopEntry::rawValue(const std::string& group, const std::string& key) const {
    const Line* l = findEntry(group, key);
    if (!l) return std::nullopt;
    return l->raw;
}

std::optional<std::string> DesktopEntry::value(const std::string& group, const std::string& key) const {
    const Line* l = findEntry(group, key);
    if (!l) return std::nullopt;
    return unescapeValue(l->raw);
}

std::optional<std::string> DesktopEntry::localeValue(const std::string& group, const std::string& key,
                                                     const std::string& locale) const {
    std::string lang = locale, country, modifier;
    size_t at = lang.find('@');
    if (at != std::string::npos) {
        modifier = lang.substr(at + 1);
        lang.erase(at);
    }
    size_t dot = lang.find('.');
    if (dot != std::string::npos) lang.erase(dot);
    size_t underscore = lang.find('_');
    if (underscore != std::string::npos) {
        country = lang.substr(underscore + 1);
        lang.erase(underscore);
    }
    std::vector<std::string> tries;
    if (!lang.empty()) {
        if (!country.empty() && !modifier.empty()) tries.push_back(lang + "_" + country + "@" + modifier);
        if (!country.empty()) tries.push_back(lang + "_" + country);
        if (!modifier.empty()) tries.push_back(lang + "@" + modifier);
        tries.push_back(lang);
    }
    for (const auto& t : tries) {
        if (auto v = value(group, key + "[" + t + "]")) return v;
    }
    return value(group, key);
}

std::optional<bool> DesktopEntry::booleanValue(const std::string& group, const std::string& key) const {
    auto v = value(group, key);
    if (!v) return std::nullopt;
    if (*v == "true" || *v == "1") return true;
    if (*v == "false" || *v == "0") return false;
    return std::nullopt;
}

bool DesktopEntry::setValue(const std::string& group, const std::string& key, const std::string& value) {
    if (!isValidGroup(group) || !isValidKey(key)) return false;
    std::string raw = escapeValue(value);
    std::string text = key + "=" + raw;
    for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) {
        if (it->kind == LineKind::Entry && it->group == group && it->key == key) {
            it->raw = raw;
            it->text = text;
            return true;
        }
    }
    Line line;
    line.kind = LineKind::Entry;
    line.group = group;
    line.key = key;
    line.raw = raw;
    line.text = text;
    // After the group's last key (or its header), so that the blank lines and comments that
    // part it from the next group stay where they are.
    std::optional<size_t> after;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].group == group && lines_[i].kind != LineKind::Other) after = i;
    }
    if (after) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*after + 1), std::move(line));
        return true;
    }
    if (group != kMainGroup && lines_.empty()) {
        // The first group of a file must be [Desktop Entry].
        Line main;
        main.kind = LineKind::Group;
        main.group = kMainGroup;
        main.text = std::string("[") + kMainGroup + "]";
        lines_.push_back(std::move(main));
    }
    if (!lines_.empty()) {
        Line blank;
        blank.group = lines_.back().group;
        lines_.push_back(std::move(blank));
    }
    Line header;
    header.kind = LineKind::Group;
    header.group = group;
    header.text = "[" + group + "]";
    lines_.push_back(std::move(header));
    lines_.push_back(std::move(line));
    return true;
}

bool DesktopEntry::removeKey(const std::string& group, const std::string& key) {
    size_t before = lines_.size();
    lines_.erase(std::remove_if(lines_.begin(), lines_.end(),
                                [&](const Line& l) {
                                    return l.kind == LineKind::Entry && l.group == group && l.key == key;
                                }),
                 lines_.end());
    return lines_.size() != before;
}

std::string DesktopEntry::serialize() const {
    std::string out;
    for (const auto& l : lines_) {
        out += l.text;
        out += '\n';
    }
    return out;
}

std::string DesktopEntry::escapeValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case ' ':
                if (i == 0 || i + 1 == value.size()) {
                    out += "\\s";
                } else {
                    out += ' ';
                }
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string DesktopEntry::unescapeValue(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            out += raw[i];
            continue;
        }
        char next = raw[i + 1];
        switch (next) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                out += '\\';
                out += next;
        }
        ++i;
    }
    return out;
}

namespace DesktopExec {

namespace {

bool isFieldCode(char c) {
    return std::strchr("fFuUickdDnNvm", c) != nullptr && c != '\0';
}

// Characters an Exec line reserves: an argument holding one is written in quotes.
bool isReserved(char c) {
    return std::strchr(" \t\n\"'\\><~|&;$*?#()`", c) != nullptr && c != '\0';
}

}  // namespace

std::optional<std::vector<std::string>> split(std::string_view exec, std::string* errorText) {
    std::vector<std::string> args;
    std::string word;
    bool inWord = false;   // something of the current word has been seen
    bool hasText = false;  // the word holds a character or a quoted part (not field codes only)
    bool quoted = false;
    for (size_t i = 0; i < exec.size(); ++i) {
        char c = exec[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < exec.size() && std::strchr("\"`$\\", exec[i + 1])) {
                word += exec[++i];
            } else if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
                word += '%';
                ++i;
            } else {
                word += c;
            }
            continue;
        }
        if (isBlank(c) || c == '\n') {
            if (inWord && hasText) args.push_back(word);
            word.clear();
            inWord = hasText = false;
            continue;
        }
        inWord = true;
        if (c == '"') {
            quoted = true;
            hasText = true;
        } else if (c == '%' && i + 1 < exec.size()) {
            char code = exec[i + 1];
            ++i;
            if (code == '%') {
                word += '%';
                hasText = true;
            } else if (!isFieldCode(code)) {
                // An unknown field code: kept as written rather than guessed at.
                word += '%';
                word += code;
                hasText = true;
            }
        } else {
            word += c;
            hasText = true;
        }
    }
    if (quoted) {
        if (errorText) *errorText = "a quoted argument is not closed";
        return std::nullopt;
    }
    if (inWord && hasText) args.push_back(word);
    return args;
}

std::optional<std::string> program(const std::vector<std::string>& arguments) {
    auto isAssignment = [](const std::string& a) {
        size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0) return false;
        for (size_t i = 0; i < eq; ++i) {
            char c = a[i];
            bool ok = c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                      (i > 0 && c >= '0' && c <= '9');
            if (!ok) return false;
        }
        return true;
    };
    size_t i = 0;
    bool env = !arguments.empty() &&
               (arguments[0] == "env" || arguments[0] == "/usr/bin/env" || arguments[0] == "/bin/env");
    if (env) {
        ++i;
        while (i < arguments.size() && arguments[i].size() > 1 && arguments[i][0] == '-') {
            const std::string& option = arguments[i++];
            // The options of env that take the next word as their value.
            if ((option == "-u" || option == "-C" || option == "--unset" || option == "--chdir") &&
                i < arguments.size()) {
                ++i;
            }
            if (option == "--") break;
        }
    }
    while (i < arguments.size() && isAssignment(arguments[i])) ++i;
    if (i >= arguments.size() || arguments[i].empty()) return std::nullopt;
    return arguments[i];
}

std::optional<std::string> programOf(std::string_view exec) {
    auto args = split(exec);
    if (!args) return std::nullopt;
    return program(*args);
}

std::string quoteArgument(std::string_view argument) {
    bool needsQuotes = argument.empty() ||
                       std::any_of(argument.begin(), argument.end(), [](char c) { return isReserved(c); });
    std::string out;
    if (needsQuotes) out += '"';
    for (char c : argument) {
        if (c == '%') {
            out += "%%";
        } else if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    if (needsQuotes) out += '"';
    return out;
}

}  // namespace DesktopExec

}  // namespace hvn
