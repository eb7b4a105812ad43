// The escaping of names and paths for terminal lines.
#include "CLI/TerminalText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

TEST(TerminalTextTest, EscapesWhatCouldBreakTheLineOrDriveTheTerminalAndKeepsPrintableUtf8) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"plain name.txt", "plain name.txt"},
        {"a\\b", "a\\\\b"},
        {"\\x41", "\\\\x41"},  // a name that looks like an escape stays told apart
        {"one\ntwo", "one\\ntwo"},
        {"a\tb\rc", "a\\tb\\rc"},
        {"red\x1b[31m", "red\\x1b[31m"},
        {"nul\0end"s, "nul\\x00end"},
        {"\x01\x1f\x7f", "\\x01\\x1f\\x7f"},
        // C1 controls as code points, byte by byte; U+00A0 is printable.
        {"\xc2\x85", "\\xc2\\x85"},
        {"\xc2\x80\xc2\x9b[0m", "\\xc2\\x80\\xc2\\x9b[0m"},
        {"\xc2\xa0", "\xc2\xa0"},
        // Printable UTF-8 of every length, up to the last code point.
        {"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80",
         "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80"},
        {"\xe0\xa0\x80\xf0\x90\x80\x80\xf4\x8f\xbf\xbf", "\xe0\xa0\x80\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"},
        // Bytes that are not UTF-8, each escaped.
        {"bad\xff", "bad\\xff"},
        {"\x80x\xbf", "\\x80x\\xbf"},
        {"\xc0\xaf", "\\xc0\\xaf"},                    // overlong "/"
        {"\xe0\x80\xaf", "\\xe0\\x80\\xaf"},           // overlong, 3 bytes
        {"\xf0\x80\x80\xaf", "\\xf0\\x80\\x80\\xaf"},  // overlong, 4 bytes
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // a surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // above U+10FFFF
        {"\xf5\x80\x80\x80", "\\xf5\\x80\\x80\\x80"},
        {"\xe6\x97", "\\xe6\\x97"},  // cut off at the end
        {"\xe6\x97"
         "A\xc3",
         "\\xe6\\x97"
         "A\\xc3"},
    };
    for (const auto& [in, expected] : cases) {
        const std::string out = cli::terminalText(in);
        EXPECT_EQ(out, expected) << testing::PrintToString(in);
        for (unsigned char c : out) EXPECT_FALSE(c < 0x20 || c == 0x7f) << testing::PrintToString(in);
    }
}

}  // namespace
