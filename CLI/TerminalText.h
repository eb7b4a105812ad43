// Names and paths from the file system made fit for one line of a terminal.
#pragma once

#include <string>
#include <string_view>

namespace cli {

// The text with everything that could break the line or drive the terminal escaped, so that
// one name is always one line and no byte of it is taken as a control: backslash as "\\",
// newline "\n", tab "\t", carriage return "\r"; the other control characters (0x00-0x1F,
// 0x7F, and the C1 code points U+0080-U+009F) and every byte that is not part of well-formed
// UTF-8 (see Utf8.h) as "\xHH" per byte, in lower-case hex (U+0085 is "\xc2\x85", a lone
// byte 0x85 is "\x85"), so that every "\xHH" stands for exactly the byte HH. Printable UTF-8
// stays as it is. The result is always well-formed UTF-8. Pure, any thread.
std::string terminalText(std::string_view text);

}  // namespace cli
