// Desktop-entry key files (.desktop, the XDG autostart entries among them): groups of
// "Key=Value" lines, "Key[locale]=Value" for translations, "#" comments and blank lines.
// A file read and written again keeps every line it had, byte for byte, except the lines
// of the keys that were set or removed.
//
// Values are stored as written; value() undoes the escapes \s \n \t \r \\ (an unknown
// escape stays as it is) and setValue() applies them. The Exec helpers split a command line
// by the freedesktop.org quoting rules for Exec lines.
//
// Pure data and functions; no state is shared between objects, so any thread may use its
// own objects.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hvn {

class DesktopEntry {
public:
    static constexpr const char* kMainGroup = "Desktop Entry";
    // Limits of what is read: a longer file or line is refused, never read further.
    static constexpr size_t kMaxFileSize = 1024 * 1024;
    static constexpr size_t kMaxLineLength = 64 * 1024;

    // An empty file with no group (serialize() gives "").
    DesktopEntry() = default;

    // Parses key-file bytes. nullopt, with errorText ("line N: reason") when given, when the
    // bytes hold a NUL byte, a line longer than kMaxLineLength, a line that is neither a
    // comment, a blank line, a group header nor a key=value pair, a key before the first
    // group, or when the first group is not "Desktop Entry". "\r\n" line ends are accepted.
    static std::optional<DesktopEntry> parse(std::string_view bytes, std::string* errorText = nullptr);
    // Reads and parses a regular file of at most kMaxFileSize bytes; a final symbolic link is
    // followed. nullopt with errorText ("<path>: reason") when it is missing, no regular
    // file, too large, unreadable or does not parse.
    static std::optional<DesktopEntry> readFile(const std::string& path, std::string* errorText = nullptr);

    // The group names in file order (a name given twice is listed once).
    std::vector<std::string> groups() const;
    bool hasGroup(const std::string& group) const;
    // The keys of a group in file order, locale keys included ("Name[de]").
    std::vector<std::string> keys(const std::string& group) const;

    // The value of key (exact, e.g. "Name" or "Name[de]") in group, unescaped; the last line
    // wins when a key is given twice. nullopt when absent.
    std::optional<std::string> value(const std::string& group, const std::string& key) const;
    // The value as written, escapes kept.
    std::optional<std::string> rawValue(const std::string& group, const std::string& key) const;
    // The translation of key for a locale "lang_COUNTRY.ENCODING@MODIFIER" (every part but
    // lang optional): Key[lang_COUNTRY@MODIFIER], Key[lang_COUNTRY], Key[lang@MODIFIER],
    // Key[lang], then Key, the first that exists.
    std::optional<std::string> localeValue(const std::string& group, const std::string& key,
                                           const std::string& locale) const;
    // "true" / "false" (and the old "1" / "0"); nullopt when absent or anything else.
    std::optional<bool> booleanValue(const std::string& group, const std::string& key) const;

    // Sets key in group to value (escaped): the key's last line is rewritten in place; a new
    // key goes after the group's last key; a missing group is appended at the end. False,
    // changing nothing, when the group or key is not valid (a key is letters, digits and
    // "-", with an optional "[locale]"; a group has no "[", "]" or control characters).
    bool setValue(const std::string& group, const std::string& key, const std::string& value);
    void setBoolean(const std::string& group, const std::string& key, bool value) {
        setValue(group, key, value ? "true" : "false");
    }
    // Removes every line of key in group; true when there was one.
    bool removeKey(const std::string& group, const std::string& key);

    // The file's text: every line followed by "\n".
    std::string serialize() const;

    // The escapes of values, as setValue and value apply them. escapeValue writes a leading
    // or trailing space as "\s" (a reader drops spaces around the value).
    static std::string escapeValue(std::string_view value);
    static std::string unescapeValue(std::string_view raw);

private:
    enum class LineKind { Other, Group, Entry };
    struct Line {
        LineKind kind = LineKind::Other;
        std::string text;   // the line as written (a "\r" before the line end kept)
        std::string group;  // the group it belongs to (the name itself for a header)
        std::string key;    // for an entry
        std::string raw;    // for an entry: the value as written, spaces around it dropped
    };

    const Line* findEntry(const std::string& group, const std::string& key) const;

    std::vector<Line> lines_;
};

// The Exec key of a desktop entry, after value() has undone the general escapes.
namespace DesktopExec {

// Splits a command line into its arguments: words separated by spaces or tabs; a word may
// hold double-quoted parts, in which \" \` \$ \\ stand for the character (any other
// backslash stays as it is). Outside quotes the field codes %f %F %u %U %i %c %k (and the
// deprecated %d %D %n %N %v %m) are dropped, a word made of field codes only disappears,
// and "%%" is "%". nullopt with errorText when a quote is not closed.
std::optional<std::vector<std::string>> split(std::string_view exec, std::string* errorText = nullptr);

// The program of split arguments: the first one after a leading "env" (with its options
// beginning with "-") and the VAR=value words that follow it, or that start the line
// without "env". nullopt when nothing is left.
std::optional<std::string> program(const std::vector<std::string>& arguments);

// split() then program(); nullopt when either finds nothing.
std::optional<std::string> programOf(std::string_view exec);

// One argument quoted for an Exec line: returned as it is when it needs no quotes, else in
// double quotes with " ` $ \ escaped; "%" is written "%%" either way. Join the results with
// spaces, then escape the whole line with DesktopEntry::escapeValue.
std::string quoteArgument(std::string_view argument);

}  // namespace DesktopExec

}  // namespace hvn
